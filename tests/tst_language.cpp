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
#include <QPushButton>
#include <QtTest>

class LanguageTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void togglesTexts_data();
    void togglesTexts();
    void resetsTheFormState();
    void aboutWindowStaysEnglish();
    void chineseTextsHaveGlyphs();

private:
    static void switchLanguage(MyWidget &window)
    {
        TestEnv::control<QAction>(&window, "languageAction")->trigger();
    }
};

void LanguageTest::initTestCase()
{
    PortList::setSource([] {
        return QList<PortList::Port>{{QStringLiteral("COM1"), QStringLiteral("/dev/null"), {}}};
    });
}

void LanguageTest::cleanupTestCase()
{
    PortList::setSource({});
}

void LanguageTest::togglesTexts_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");

    QTest::newRow("address label") << "label_7" << "Address:" << "地址:";
    QTest::newRow("baud label") << "label" << "Baudrate:" << "波特率:";
    QTest::newRow("open button") << "pushButtonOpen" << "Open" << "打开";
    QTest::newRow("receive label") << "label_20" << "Receive" << "接收";
    QTest::newRow("updata label") << "label_19" << "Updata" << "更新";
    QTest::newRow("stop bits label") << "label_5" << "Stopbit:  " << "停止位:";
    QTest::newRow("communication button") << "pushButtonComm" << "Communication " << "通讯";
    QTest::newRow("zoom tele") << "pushButtonZTele" << "Zoom Tele" << "拉近";
    QTest::newRow("set serial number") << "pushButtonSetSN" << "Set SN" << "设置序列号";
    // Texts without a Chinese entry stay as they are.
    QTest::newRow("port label") << "label_2" << "Port：" << "Port：";
    QTest::newRow("data bits label") << "label_3" << "Databit: " << "Databit: ";
    QTest::newRow("get id") << "pushButtonGetID" << "Get ID" << "获取ID";
    QTest::newRow("enter iap") << "pushButtonEnterIAP" << "Enter IAP" << "Enter IAP";
}

void LanguageTest::togglesTexts()
{
    QFETCH(QString, control);
    QFETCH(QString, english);
    QFETCH(QString, chinese);

    TestEnv::ScratchDir scratch;
    MyWidget window;
    QWidget *widget = TestEnv::control<QWidget>(&window, control.toLatin1().constData());
    auto text = [widget] {
        if (auto *label = qobject_cast<QLabel *>(widget))
            return label->text();
        return qobject_cast<QPushButton *>(widget)->text();
    };

    QCOMPARE(text(), english);
    switchLanguage(window);
    QCOMPARE(text(), chinese);
    switchLanguage(window);
    QCOMPARE(text(), english);
    switchLanguage(window);
    QCOMPARE(text(), chinese);
    QCOMPARE(window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
}

void LanguageTest::resetsTheFormState()
{
    TestEnv::ScratchDir scratch;
    TestEnv::writeSettings({{QStringLiteral("section5/SN"), QStringLiteral("Q217MXTA0001")}});
    MyWidget window;

    auto *protocol = TestEnv::control<QComboBox>(&window, "comboBoxProtocol");
    auto *baud = TestEnv::control<QComboBox>(&window, "comboBoxBaudrate");
    auto *dataBits = TestEnv::control<QComboBox>(&window, "comboBoxDatabit");
    auto *stopBits = TestEnv::control<QComboBox>(&window, "comboBoxStopbit");
    auto *parity = TestEnv::control<QComboBox>(&window, "comboBoxParity");
    auto *send = TestEnv::control<QComboBox>(&window, "comboBoxSend");
    auto *serialNumber = TestEnv::control<QLineEdit>(&window, "lineEditSN");
    auto *address = TestEnv::control<QLineEdit>(&window, "lineEditAddress");
    auto *zoomPosition = TestEnv::control<QLineEdit>(&window, "lineEditZPos");
    QCOMPARE(serialNumber->text(), QStringLiteral("Q217MXTA0001"));

    protocol->setCurrentIndex(0);
    baud->setCurrentIndex(5);
    stopBits->setCurrentIndex(1);
    parity->setCurrentIndex(2);
    send->addItem(QStringLiteral("81 09 04 00 FF"));
    send->setCurrentIndex(3);
    address->setText(QStringLiteral("7"));
    zoomPosition->setText(QStringLiteral("1234"));

    switchLanguage(window);

    QCOMPARE(protocol->currentText(), QStringLiteral("Visca"));
    QCOMPARE(protocol->count(), 3);
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
    QCOMPARE(baud->count(), 6);
    QCOMPARE(dataBits->currentText(), QStringLiteral("5"));
    QCOMPARE(dataBits->count(), 4);
    QCOMPARE(stopBits->currentText(), QStringLiteral("1"));
    QCOMPARE(parity->currentText(), QStringLiteral("No"));
    QCOMPARE(send->count(), 3);
    QCOMPARE(send->currentText(), QStringLiteral("89 02 07 63 58 ff"));
    QCOMPARE(address->text(), QStringLiteral("1"));
    QCOMPARE(zoomPosition->text(), QStringLiteral("0"));
    QCOMPARE(TestEnv::control<QLineEdit>(&window, "lineEditPTSpeed")->text(), QStringLiteral("24"));
    QCOMPARE(serialNumber->text(), QString());
    QCOMPARE(scratch.storedText(QStringLiteral("section5/SN")), QString());

    switchLanguage(window);
    QCOMPARE(protocol->currentText(), QStringLiteral("Visca"));
    QCOMPARE(dataBits->currentText(), QStringLiteral("5"));
}

void LanguageTest::aboutWindowStaysEnglish()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    switchLanguage(window);
    TestEnv::control<QAction>(&window, "aboutAction")->trigger();

    QWidget *about = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String("aboutme") && top->isVisible())
            about = top;
    QVERIFY(about);
    QCOMPARE(about->windowTitle(), QStringLiteral("About"));
    QCOMPARE(TestEnv::control<QLabel>(about, "label")->text(), QStringLiteral("Quillon Desk"));
    about->close();
}

void LanguageTest::chineseTextsHaveGlyphs()
{
    // Without a font that covers Chinese the switched window would show
    // empty boxes; the set-up installs one.
    TestEnv::ScratchDir scratch;
    MyWidget window;
    QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
    const QFontMetrics port(TestEnv::control<QLabel>(&window, "label_2")->font());
    QVERIFY(port.inFontUcs4(0xFF1A)); // the full-width colon of "Port："
    switchLanguage(window);
    auto *address = TestEnv::control<QLabel>(&window, "label_7");
    const QFontMetrics metrics(address->font());
    for (QChar c : address->text())
        QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
}

QTEST_MAIN(LanguageTest)
#include "tst_language.moc"
