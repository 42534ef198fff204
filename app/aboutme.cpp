#include "aboutme.h"

#include "ui_aboutme.h"

namespace {
const QString kMakerWebAddress = QStringLiteral("www.quillon.example");
const QString kCloseButtonStyle = QStringLiteral(
    "QPushButton{border-image: url(:/images/images/close.png);}"
    "QPushButton:hover{border-image: url(:/images/images/close.png);}"
    "QPushButton:pressed{border-image: url(:/images/images/close.png);}");
} // namespace

aboutme::aboutme(QWidget *parent) : QWidget(parent), ui(new Ui_aboutme)
{
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    ui->pushButton->setStyleSheet(kCloseButtonStyle);
    ui->labelWWW->setOpenExternalLinks(true);
    ui->labelWWW->setText(QStringLiteral("<a href=\"http://") + kMakerWebAddress
                          + QStringLiteral("\">") + kMakerWebAddress);
}

aboutme::~aboutme()
{
    delete ui;
}

void aboutme::on_pushButton_clicked()
{
    close();
}
