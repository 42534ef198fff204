// The serial link seen from the window and from the device: the port list,
// Open/Close and what they do to the window, the line settings on the
// terminal, the port tooltip, and a pulled adapter. The device is the far
// end of a pseudo-terminal.

#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTextDocument>
#include <QToolTip>
#include <QtTest>

using TestEnv::control;

namespace {

// The controls that Open and Close switch on and off.
const char *const kGroups[] = {"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial",
                               "widgetSW", "pushButton"};

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void openAndCloseSwitchTheWindow();
    void openAndCloseInChinese();
    void openAndCloseWhileUdpIsUp();
    void failedOpenShowsTip();
    void portChoice_data();
    void portChoice();
    void baudRateReachesTheLine();
    void parityOnlyThroughItsBox();
    void portTooltipIsPlainDescription();
    void pulledAdapterClosesPort();
};

void SerialLinkTest::openAndCloseSwitchTheWindow()
{
    SerialWindow s;
    MyWidget &w = s.window();
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    auto *ports = control<QComboBox>(&w, "comboBoxCom");
    auto *refresh = control<QPushButton>(&w, "pushButton_2");
    control<QPushButton>(&w, "pushButtonComm")->setStyleSheet(QStringLiteral("background: green"));

    // The camera gets a second after the line comes up; the window keeps
    // handling events meanwhile.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    button->click();
    const qint64 openTook = clock.elapsed();
    QVERIFY2(openTook >= 1000 && openTook < 1500, qPrintable(QString::number(openTook)));
    QVERIFY2(ticks >= 15, "events are handled during the wait after opening");

    QCOMPARE(button->text(), QStringLiteral("Close"));
    QCOMPARE(button->styleSheet(), QStringLiteral("background-color:rgb(0,255,0)"));
    QVERIFY(!ports->isEnabled());
    QVERIFY(!refresh->isEnabled());
    for (const char *name : kGroups)
        QVERIFY2(control<QWidget>(&w, name)->isEnabled(), name);
    QVERIFY(!control<QWidget>(&w, "widgetSN")->isEnabled());
    QVERIFY(!control<QWidget>(&w, "pushButton_3")->isEnabled());

    // The device hears what the window writes through the open port.
    MyWidgetTestAccess::writeSerial(w, QByteArray::fromHex("81090447ff"));
    QVERIFY(s.device().waitForReceived(5, 1000));
    QCOMPARE(s.device().received().toHex(), QByteArray("81090447ff"));

    clock.restart();
    button->click();
    QVERIFY2(clock.elapsed() < 200, "closing does not wait");
    QCOMPARE(button->text(), QStringLiteral("Open"));
    QCOMPARE(button->styleSheet(), QStringLiteral("background-color:yellow"));
    QVERIFY(ports->isEnabled());
    QVERIFY(refresh->isEnabled());
    QVERIFY(!control<QWidget>(&w, "pushButtonUpdata")->isEnabled());
    for (const char *name : kGroups)
        QVERIFY2(!control<QWidget>(&w, name)->isEnabled(), name);
    QVERIFY(!control<QWidget>(&w, "widgetSN")->isEnabled());
    QVERIFY(!control<QWidget>(&w, "pushButton_3")->isEnabled());
    QCOMPARE(control<QPushButton>(&w, "pushButtonComm")->styleSheet(),
             QStringLiteral("background: gray"));
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
    QVERIFY(s.boxesSeen().isEmpty());
}

void SerialLinkTest::openAndCloseInChinese()
{
    SerialWindow s;
    MyWidget &w = s.window();
    QMetaObject::invokeMethod(&w, "on_choiceLanguage", Qt::DirectConnection);
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    QCOMPARE(button->text(), QStringLiteral("打开"));
    button->click();
    QCOMPARE(button->text(), QStringLiteral("关闭"));
    QVERIFY(MyWidgetTestAccess::serialOpen(w));
    button->click();
    QCOMPARE(button->text(), QStringLiteral("打开"));
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
}

void SerialLinkTest::openAndCloseWhileUdpIsUp()
{
    // The UDP link already set the groups; the serial port leaves them, the
    // port list and the refresh button alone, and opens without the wait.
    SerialWindow s;
    MyWidget &w = s.window();
    MyWidgetTestAccess::setUdpConnected(w, true);
    control<QWidget>(&w, "widgetPT")->setEnabled(true);
    control<QPushButton>(&w, "pushButtonComm")->setStyleSheet(QStringLiteral("background: green"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(s.open());
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    QCOMPARE(button->text(), QStringLiteral("Close"));
    QCOMPARE(button->styleSheet(), QStringLiteral("background-color:rgb(0,255,0)"));
    QVERIFY(control<QWidget>(&w, "comboBoxCom")->isEnabled());
    QVERIFY(control<QWidget>(&w, "pushButton_2")->isEnabled());
    QVERIFY(!control<QWidget>(&w, "widgetPrest")->isEnabled());

    button->click();
    QCOMPARE(button->text(), QStringLiteral("Open"));
    QVERIFY(control<QWidget>(&w, "widgetPT")->isEnabled());
    QCOMPARE(control<QPushButton>(&w, "pushButtonComm")->styleSheet(),
             QStringLiteral("background: green"));
}

void SerialLinkTest::failedOpenShowsTip()
{
    SerialWindow s;
    SerialWindow::listPorts({{SerialWindow::kAdapterName, QStringLiteral("/nonexistent/ttyQD9"), {}}});
    MyWidget &w = s.window();
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    button->click();

    QCOMPARE(s.boxesSeen(), QStringList{"Tip: Serial Port Error,Please restart."});
    QCOMPARE(button->text(), QStringLiteral("Open"));
    QCOMPARE(button->styleSheet(), QStringLiteral("background-color:yellow"));
    QVERIFY(control<QWidget>(&w, "comboBoxCom")->isEnabled());
    QVERIFY(!control<QWidget>(&w, "pushButtonUpdata")->isEnabled());
    for (const char *name : kGroups)
        QVERIFY2(!control<QWidget>(&w, name)->isEnabled(), name);
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
}

void SerialLinkTest::portChoice_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<QStringList>("laterPorts");
    QTest::addColumn<bool>("typeDevicePath");
    QTest::addColumn<bool>("opens");

    QTest::newRow("listed port") << false << QStringList{SerialWindow::kAdapterName} << false << true;
    QTest::newRow("typed device path with no port listed")
        << false << QStringList{} << true << true;
    QTest::newRow("no port listed and nothing typed") << false << QStringList{} << false << false;
    // "COMX" is listed as COM0, which matches no port: the port of the
    // previous open is used again.
    QTest::newRow("unmatched COM name reopens the previous port")
        << true << QStringList{"COMX"} << false << true;
    QTest::newRow("unmatched COM name with no previous port")
        << false << QStringList{"COMX"} << false << false;
}

void SerialLinkTest::portChoice()
{
    QFETCH(bool, openFirst);
    QFETCH(QStringList, laterPorts);
    QFETCH(bool, typeDevicePath);
    QFETCH(bool, opens);

    SerialWindow s;
    MyWidget &w = s.window();
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    auto *box = control<QComboBox>(&w, "comboBoxCom");
    if (openFirst) {
        QVERIFY(s.open());
        button->click();
    }

    QList<PortList::Port> later;
    for (const QString &name : laterPorts)
        later.append({name, name == SerialWindow::kAdapterName ? s.device().slavePath() : "/dev/" + name, {}});
    SerialWindow::listPorts(later);
    control<QPushButton>(&w, "pushButton_2")->click();
    if (laterPorts.isEmpty()) {
        QCOMPARE(box->itemText(0), QStringLiteral("No Com"));
        QVERIFY(!button->isEnabled());
    }
    if (typeDevicePath) {
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), s.device().slavePath());
        QVERIFY2(button->isEnabled(), "a typed path enables Open");
    }
    button->click();

    QCOMPARE(MyWidgetTestAccess::serialOpen(w), opens);
    if (opens) {
        s.device().write(QByteArray::fromHex("9041ff"));
        QTRY_COMPARE(s.paneLines(), QStringList{"9041ff"});
    }
}

void SerialLinkTest::baudRateReachesTheLine()
{
    const QList<QPair<int, speed_t>> rates{{0, B2400},  {1, B9600},  {2, B19200},
                                           {3, B38400}, {4, B57600}, {5, B115200}};
    SerialWindow s;
    MyWidget &w = s.window();
    auto *baud = control<QComboBox>(&w, "comboBoxBaudrate");
    // Both directions run at the one rate chosen.
    auto lineSpeed = [&s]() -> speed_t {
        const termios line = s.device().lineSettings();
        return cfgetispeed(&line) == cfgetospeed(&line) ? cfgetospeed(&line) : B0;
    };

    // Chosen before opening: the port opens at that rate.
    baud->setCurrentIndex(0);
    QVERIFY(s.open());
    QCOMPARE(lineSpeed(), speed_t(B2400));

    // Changed while open: the line follows at once.
    for (const auto &rate : rates) {
        baud->setCurrentIndex(rate.first);
        QCOMPARE(lineSpeed(), rate.second);
    }
}

void SerialLinkTest::parityOnlyThroughItsBox()
{
    SerialWindow s;
    MyWidget &w = s.window();
    auto *port = w.findChild<QSerialPort *>();
    QVERIFY(port);
    control<QComboBox>(&w, "comboBoxParity")->setCurrentIndex(2);
    QCOMPARE(port->parity(), QSerialPort::EvenParity);

    // The data-bit and stop-bit boxes are for show; opening always sets 8N1
    // while the parity box still shows "Even".
    control<QComboBox>(&w, "comboBoxDatabit")->setCurrentIndex(0);
    control<QComboBox>(&w, "comboBoxStopbit")->setCurrentIndex(1);
    QVERIFY(s.open());
    QCOMPARE(port->parity(), QSerialPort::NoParity);
    QCOMPARE(port->dataBits(), QSerialPort::Data8);
    QCOMPARE(port->stopBits(), QSerialPort::OneStop);
    QCOMPARE(control<QComboBox>(&w, "comboBoxParity")->currentText(), QStringLiteral("Even"));
    const termios line = s.device().lineSettings();
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(line.c_cflag & CSTOPB));

    // While open the box reaches the port. A pseudo-terminal cannot carry
    // parity and refuses; the port stays open and usable.
    control<QComboBox>(&w, "comboBoxParity")->setCurrentIndex(1);
    control<QComboBox>(&w, "comboBoxParity")->setCurrentIndex(2);
    QVERIFY(port->isOpen());
    s.device().write("\x79");
    QTRY_COMPARE(s.paneLines(), QStringList{"79"});
    QVERIFY(MyWidgetTestAccess::serialOpen(w));
    QVERIFY(s.boxesSeen().isEmpty());
}

void SerialLinkTest::portTooltipIsPlainDescription()
{
    SerialWindow s;
    MyWidget &w = s.window();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *box = control<QComboBox>(&w, "comboBoxCom");
    emit box->highlighted(0);
    QTRY_VERIFY(QToolTip::isVisible());
    QTextDocument shown;
    shown.setHtml(QToolTip::text());
    QCOMPARE(shown.toPlainText(), SerialWindow::kAdapterDescription);

    QToolTip::hideText();
    SerialWindow::listPorts({});
    control<QPushButton>(&w, "pushButton_2")->click();
    QCOMPARE(box->itemText(0), QStringLiteral("No Com"));
    emit box->highlighted(0);
    // A tooltip stays up for seconds; an empty one goes within a moment.
    QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 2000);
}

void SerialLinkTest::pulledAdapterClosesPort()
{
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    s.device().hangUp();
    QTRY_COMPARE(s.boxesSeen(), QStringList{"Tip: Serial Port Error,Please restart."});
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
    QVERIFY(!w.findChild<QSerialPort *>()->isOpen());
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    QCOMPARE(button->text(), QStringLiteral("Open"));
    QCOMPARE(button->styleSheet(), QStringLiteral("background-color:yellow"));
    QVERIFY(control<QWidget>(&w, "comboBoxCom")->isEnabled());
    QVERIFY(control<QWidget>(&w, "pushButton_2")->isEnabled());
    for (const char *name : kGroups)
        QVERIFY2(!control<QWidget>(&w, name)->isEnabled(), name);
}

QTEST_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
