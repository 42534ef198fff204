#include "mywidget.h"

#include "aboutme.h"
#include "appsettings.h"
#include "isp/download.h"
#include "link/serialline.h"
#include "link/udplink.h"
#include "menuopener.h"
#include "messages.h"
#include "resourceinit.h"
#include "service/serialnumber.h"
#include "service/serviceframes.h"
#include "styles.h"
#include "tracepane.h"
#include "ui_mywidget.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QTranslator>

namespace {

const QString kWindowIcon = QStringLiteral(":/images/images/tool.png");

constexpr int kPortListVisibleItems = 5;
constexpr int kViscaPanTiltSpeedMax = 24;
constexpr int kZoomSpeedMax = 7;

} // namespace

MyWidget::MyWidget(QWidget *parent) : QWidget(parent), ui(new Ui_MyWidget)
{
    Quillon::initResources();

    logoModelGroup = new QButtonGroup;
    settings = AppSettings::open();

    ui->setupUi(this);
    fixedCombos = {{{ui->comboBoxStopbit, ui->comboBoxStopbit->count()},
                    {ui->comboBoxDatabit, ui->comboBoxDatabit->count()},
                    {ui->comboBoxParity, ui->comboBoxParity->count()},
                    {ui->comboBoxSend, ui->comboBoxSend->count()},
                    {ui->comboBoxBaudrate, ui->comboBoxBaudrate->count()},
                    {ui->comboBoxProtocol, ui->comboBoxProtocol->count()}}};

    translator = new QTranslator(this);

    // The form is laid out far larger than the window. The window opens on
    // the upgrade strip at its top and shows either that or the whole form,
    // each at a fixed size: the controls sit at fixed places, and a size in
    // between would cut panels in half.
    stripSize = size();
    QRect form;
    for (const QWidget *control : ui->frameBack->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        form |= control->geometry();
    formSize = QSize(form.right() + 1, form.bottom() + 1).expandedTo(stripSize);
    setFixedSize(stripSize);
    setWindowIcon(QIcon(kWindowIcon));

    ui->comboBoxCom->clear();
    ui->comboBoxCom->setMaxVisibleItems(kPortListVisibleItems);
#ifndef Q_OS_WIN
    // Outside Windows the ports are device files, and some never show in the
    // list (pseudo-terminals, /dev/serial/by-id links): the box takes a typed
    // path too.
    ui->comboBoxCom->setEditable(true);
    ui->comboBoxCom->setInsertPolicy(QComboBox::NoInsert);
    connect(ui->comboBoxCom, &QComboBox::editTextChanged, this, &MyWidget::onPortBoxEdited);
#endif
    connect(ui->comboBoxCom, &QComboBox::currentTextChanged, this, &MyWidget::showPortAsTip);
    connect(ui->lineEditPath, &QLineEdit::textChanged, this, &MyWidget::onHexPathEdited);

    ui->pushButtonComm->setStyleSheet(Styles::kCommUntested);
    ui->btn_cfg->setStyleSheet(Styles::kLinkDown);
    ui->pushButtonOpen->setStyleSheet(Styles::kLinkDown);

    serialLine = new SerialLine(this);
    udpLink = new UdpLink(this);
    connect(serialLine, &SerialLine::batchReady, this, &MyWidget::readComDataSlot);
    connect(serialLine, &SerialLine::lineLost, this, &MyWidget::onLineLost);
    answerExpiry = new QTimer(this);
    answerExpiry->setSingleShot(true);
    connect(answerExpiry, &QTimer::timeout, this, &MyWidget::answerExpired);
    TracePane::setUp(ui->textBrowserReceive);

    // Loading the stored texts runs the text-changed slots, which write the
    // same values back; the maximum lengths come later and may cut them.
    ui->lineEditSN->setText(AppSettings::read(*settings, AppSettings::kSerialNumberKey));
    ui->txt_ip->setText(AppSettings::read(*settings, AppSettings::kCameraAddressKey));
    ui->txt_port_tx->setText(AppSettings::read(*settings, AppSettings::kCameraPortKey));
    ui->lineEditLogo->setText(AppSettings::read(*settings, AppSettings::kLogoKey));

    fillPortList();

    languageIndex = 0;
    // The field takes the longer number, yet 12 characters are meant until a
    // length is chosen; the logo starts as the VN620's.
    snLength = SerialNumber::kShortLength;
    logoLength = ServiceFrames::kVn620LogoLength;

    ui->progressBar->setValue(0);
    ui->pushButtonUpdata->setEnabled(false);

    ui->lineEditSN->setMaxLength(SerialNumber::kLongLength);
    ui->lineEditLogo->setMaxLength(ServiceFrames::kVn620LogoLength);

    protocolIndex = 2;

    ui->horizontalSliderPTSpeed->setMinimum(1);
    ui->horizontalSliderPTSpeed->setMaximum(kViscaPanTiltSpeedMax);
    ui->horizontalSliderPTSpeed->setValue(kViscaPanTiltSpeedMax);
    ui->horizontalSliderZoomSpeed->setMinimum(1);
    ui->horizontalSliderZoomSpeed->setMaximum(kZoomSpeedMax);
    ui->horizontalSliderZoomSpeed->setValue(kZoomSpeedMax);

    // No camera command makes sense before a link is up.
    ui->widgetPT->setEnabled(false);
    ui->widgetPrest->setEnabled(false);
    ui->widgetZoom->setEnabled(false);
    ui->widgetSpecial->setEnabled(false);
    ui->widgetSW->setEnabled(false);
    ui->widgetSN->setEnabled(false);
    ui->pushButton->setEnabled(false);

    mainMenu = new QMenu(this);
    mainMenu->setObjectName(QStringLiteral("mainMenu"));
    languageAction = new QAction(QStringLiteral("中/English"), this);
    languageAction->setObjectName(QStringLiteral("languageAction"));
    aboutAction = new QAction(QStringLiteral("about"), this);
    aboutAction->setObjectName(QStringLiteral("aboutAction"));
    // The rest of the form is one key or one menu entry away; the key works
    // with the menu closed, as the action belongs to the window too.
    panelsAction = new QAction(tr("All panels"), this);
    panelsAction->setObjectName(QStringLiteral("panelsAction"));
    panelsAction->setCheckable(true);
    panelsAction->setShortcut(QKeySequence(Qt::Key_F2));
    addAction(panelsAction);
    connect(panelsAction, &QAction::toggled, this, &MyWidget::showAllPanels);
    mainMenu->addAction(panelsAction);
    mainMenu->addAction(languageAction);
    mainMenu->addAction(aboutAction);
    connect(languageAction, &QAction::triggered, this, &MyWidget::on_choiceLanguage);
    connect(aboutAction, &QAction::triggered, this, &MyWidget::on_aboutMe);
    addUpgradeOptions();

    aboutDialog = new aboutme;

    logoModelGroup->addButton(ui->radioButtonRM410, 0);
    logoModelGroup->addButton(ui->radioButtonVN620, 1);

    // The menu is reached from the heading: a right-click on it, or F1
    // anywhere in the window, which opens it below the heading.
    new MenuOpener(ui->label_10, [this](const QPoint &at) { popUpMainMenu(at); });
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] {
        popUpMainMenu(ui->label_10->mapToGlobal(ui->label_10->rect().bottomLeft()));
    });
}

MyWidget::~MyWidget()
{
    // A job still running stops before the line it holds goes away.
    if (job)
        job->abort();
    delete ui;
    delete aboutDialog;
    delete logoModelGroup;
    delete settings;
}

void MyWidget::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
}

void MyWidget::mouseMoveEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
}

void MyWidget::closeEvent(QCloseEvent *event)
{
    // Stopping an upgrade half way leaves the camera with half a program, in
    // its bootloader: the user decides. The run goes on while the question
    // is up, and may end meanwhile.
    if (job
        && QMessageBox::question(this, tr("Tip"), tr("Are you sure to close it?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // A run still in progress stops here: nothing more is sent and no box
    // comes up.
    if (job)
        job->abort();
    serialLine->close();
    event->accept();
}

void MyWidget::contextMenuEvent(QContextMenuEvent *event)
{
    Q_UNUSED(event)
}

void MyWidget::showAllPanels(bool all)
{
    setFixedSize(all ? formSize : stripSize);
    // Keys typed into a control that is no longer in sight would go astray.
    const QWidget *focused = focusWidget();
    if (!all && focused && !rect().contains(QRect(focused->mapTo(this, QPoint(0, 0)), focused->size())))
        ui->comboBoxCom->setFocus();
}

void MyWidget::popUpMainMenu(const QPoint &globalPos)
{
    mainMenu->popup(globalPos);
}

void MyWidget::on_aboutMe()
{
    aboutDialog->setAttribute(Qt::WA_ShowModal, true);
    aboutDialog->move(pos() + QPoint(167, 175));
    aboutDialog->show();
}

void MyWidget::on_btn_tx_clicked()
{
    // The button is on the form but has no function.
}

void MyWidget::on_lineEditSN_textChanged(QString arg1)
{
    keepSetting(AppSettings::kSerialNumberKey, arg1);
}

void MyWidget::on_txt_ip_textChanged(QString arg1)
{
    keepSetting(AppSettings::kCameraAddressKey, arg1);
}

void MyWidget::on_txt_port_tx_textChanged(QString arg1)
{
    keepSetting(AppSettings::kCameraPortKey, arg1);
}

void MyWidget::on_lineEditLogo_textChanged(QString arg1)
{
    keepSetting(AppSettings::kLogoKey, arg1);
}

void MyWidget::keepSetting(const char *key, const QString &value)
{
    if (AppSettings::store(key, value) || std::exchange(settingsFailureShown, true))
        return;
    // Told once, from the event loop: the first failure may come while the
    // window is still being built, or in the middle of typing.
    QTimer::singleShot(0, this, [this] {
        Messages::show(this, QMessageBox::Information, tr("Tip"), tr("The settings cannot be saved."),
                       tr("%1 cannot be written: what you type into the window is lost when it closes. Start "
                          "Quillon Desk from a folder you may write to.")
                           .arg(AppSettings::filePath()));
    });
}
