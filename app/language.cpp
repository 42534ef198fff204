// The English/Chinese switch of the main window.

#include "mywidget.h"

#include "link/udplink.h"
#include "ui_mywidget.h"

#include <QAction>
#include <QCoreApplication>
#include <QTranslator>

namespace {

const QString kChineseTranslation =
    QStringLiteral(":/language/release/translations/main_widget_zh.qm");
const QString kEnglishTranslation =
    QStringLiteral(":/language/release/translations/main_widget_en.qm");

constexpr int kEnglish = 0;
constexpr int kChinese = 1;

constexpr int kProtocolVisca = 2;
constexpr int kBaud9600Index = 1;

} // namespace

void MyWidget::on_choiceLanguage()
{
    QString file;
    if (languageIndex == kEnglish) {
        languageIndex = kChinese;
        file = kChineseTranslation;
    } else if (languageIndex == kChinese) {
        languageIndex = kEnglish;
        file = kEnglishTranslation;
    } else {
        return;
    }

    // A file that cannot be loaded leaves the translator empty and the English
    // texts in place; the switch still toggles.
    (void)translator->load(file);
    QCoreApplication::removeTranslator(translator);
    QCoreApplication::installTranslator(translator);

    retranslateForm();

    ui->comboBoxProtocol->setCurrentIndex(kProtocolVisca);
    ui->comboBoxBaudrate->setCurrentIndex(kBaud9600Index);

    // The Open/Close label is what the port button goes by, so it is set from
    // the port's real state in the language just chosen.
    const bool open = serialOpen();
    if (languageIndex == kChinese)
        ui->pushButtonOpen->setText(open ? QStringLiteral("关闭") : QStringLiteral("打开"));
    else
        ui->pushButtonOpen->setText(open ? QStringLiteral("Close") : QStringLiteral("Open"));
    // The form resets the UDP button to "Connect"; its label follows the
    // link's state as well.
    ui->btn_cfg->setText(udpLink->isConnected() ? tr("Disconnect") : tr("Connect"));
    retranslateUpgradeOptions();
    panelsAction->setText(tr("All panels"));
}

void MyWidget::retranslateForm()
{
    // uic's retranslateUi renames combo items in place. Switching the language
    // must also bring every fixed combo box back to the form's items with its
    // first item selected (typed entries of the Send box are dropped), so the
    // boxes are rebuilt first; their change slots run as the items return.
    for (const FixedCombo &combo : fixedCombos) {
        combo.box->clear();
        for (int i = 0; i < combo.itemCount; ++i)
            combo.box->addItem(QString());
    }
    ui->retranslateUi(this);
}
