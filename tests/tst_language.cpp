// The English/Chinese switch: texts, the state it resets, and fonts that can
// show the Chinese texts at all.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using TestEnv::control;

namespace {

void switchLanguage(MyWidget &window)
{
    control<QAction>(&window, "languageAction")->trigger();
}

} // namespace

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void togglesTexts_data();
    void togglesTexts();
    void resetsTheFormState();
    void chineseTextsHaveGlyphs();
};

void LanguageTest::initTestCase()
{
    PortList::setSource([] { return QList<PortList::Port>{{"COM1", "/dev/null", {}}}; });
}

void LanguageTest::cleanupTestCase()
{
    PortList::setSource({});
}

void LanguageTest::togglesTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");

    QTest::newRow("address label") << "label_7" << "Address:" << "地址:";
    QTest::newRow("zoom tele") << "pushButtonZTele" << "Zoom Tele" << "拉近";
    // Set by the program, not by the form.
    QTest::newRow("open button") << "pushButtonOpen" << "Open" << "打开";
    // Source texts ending in blanks.
    QTest::newRow("stop bits label") << "label_5" << "Stopbit:  " << "停止位:";
    QTest::newRow("communication button") << "pushButtonComm" << "Communication " << "通讯";
    // Texts without a Chinese entry stay as they are.
    QTest::newRow("port label") << "label_2" << "Port：" << "Port：";
    QTest::newRow("enter iap") << "pushButtonEnterIAP" << "Enter IAP" << "Enter IAP";
}

void LanguageTest::togglesTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, english);
    QFETCH(QString, chinese);

    TestEnv::ScratchDir scratch;
    MyWidget window;
    QWidget *widget = control<QWidget>(&window, name.toLatin1().constData());
    auto text = [widget] { return widget->property("text").toString(); }; // label or button

    // English at start, then Chinese, English and Chinese again.
    for (const QString &expected : {english, chinese, english, chinese}) {
        QCOMPARE(text(), expected);
        switchLanguage(window);
    }
    QCOMPARE(window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
}

void LanguageTest::resetsTheFormState()
{
    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{QStringLiteral("section5/SN"), QStringLiteral("Q217MXTA0001")}});
    MyWidget window;
    auto box = [&](const char *name) { return control<QComboBox>(&window, name); };
    auto edit = [&](const char *name) { return control<QLineEdit>(&window, name); };
    // The selected item and the number of items.
    auto shown = [&](const char *name) {
        return QStringLiteral("%1/%2").arg(box(name)->currentText()).arg(box(name)->count());
    };
    QCOMPARE(edit("lineEditSN")->text(), QStringLiteral("Q217MXTA0001"));

    box("comboBoxProtocol")->setCurrentIndex(0);
    box("comboBoxBaudrate")->setCurrentIndex(5);
    box("comboBoxStopbit")->setCurrentIndex(1);
    box("comboBoxParity")->setCurrentIndex(2);
    box("comboBoxSend")->addItem(QStringLiteral("81 09 04 00 FF"));
    box("comboBoxSend")->setCurrentIndex(3);
    edit("lineEditAddress")->setText(QStringLiteral("7"));
    edit("lineEditZPos")->setText(QStringLiteral("1234"));

    switchLanguage(window);

    QCOMPARE(shown("comboBoxProtocol"), QStringLiteral("Visca/3"));
    QCOMPARE(shown("comboBoxBaudrate"), QStringLiteral("9600/6"));
    QCOMPARE(shown("comboBoxDatabit"), QStringLiteral("5/4"));
    QCOMPARE(shown("comboBoxStopbit"), QStringLiteral("1/2"));
    QCOMPARE(shown("comboBoxParity"), QStringLiteral("No/3"));
    QCOMPARE(shown("comboBoxSend"), QStringLiteral("89 02 07 63 58 ff/3"));
    QCOMPARE(edit("lineEditAddress")->text(), QStringLiteral("1"));
    QCOMPARE(edit("lineEditZPos")->text(), QStringLiteral("0"));
    QCOMPARE(edit("lineEditPTSpeed")->text(), QStringLiteral("24"));
    QCOMPARE(edit("lineEditSN")->text(), QString());
    QCOMPARE(scratch.storedText(QStringLiteral("section5/SN")), QString());

    switchLanguage(window);
    QCOMPARE(shown("comboBoxProtocol"), QStringLiteral("Visca/3"));
    QCOMPARE(shown("comboBoxDatabit"), QStringLiteral("5/4"));
}

// Without a font that covers Chinese the switched window would show empty
// boxes; the set-up installs one.
void LanguageTest::chineseTextsHaveGlyphs()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
    QVERIFY(QFontMetrics(control<QLabel>(&window, "label_2")->font()).inFontUcs4(0xFF1A)); // "："
    switchLanguage(window);
    auto *address = control<QLabel>(&window, "label_7");
    const QFontMetrics metrics(address->font());
    for (QChar c : address->text())
        QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
}

QTEST_MAIN(LanguageTest)
#include "tst_language.moc"
