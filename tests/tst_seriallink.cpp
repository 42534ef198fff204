// The serial link seen from the window and from the device: Open/Close and
// what they do to the window, the port choice, the line settings on the
// terminal, the port tooltip, and a pulled adapter. The device is the far
// end of a pseudo-terminal.

#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSerialPort>
#include <QTextDocument>
#include <QToolTip>
#include <QtTest>

#include <optional>

using TestEnv::control;

namespace {

const QString kPortError = QStringLiteral("Tip: Serial Port Error,Please restart.");
// The groups that follow the links.
const char *const kGroups[] = {"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial", "widgetSW", "pushButton"};

// The window with the serial link in one state.
void expectLink(MyWidget &w, const QString &buttonText, bool groupsOn, bool listLocked)
{
    auto *button = control<QPushButton>(&w, "pushButtonOpen");
    QCOMPARE(button->text(), buttonText);
    QCOMPARE(button->styleSheet(), QString::fromLatin1(MyWidgetTestAccess::serialOpen(w)
                                                           ? "background-color:rgb(0,255,0)"
                                                           : "background-color:yellow"));
    QCOMPARE(control<QWidget>(&w, "comboBoxCom")->isEnabled(), !listLocked);
    QCOMPARE(control<QWidget>(&w, "pushButton_2")->isEnabled(), !listLocked);
    for (const char *name : kGroups)
        QVERIFY2(control<QWidget>(&w, name)->isEnabled() == groupsOn, name);
    QVERIFY(!control<QWidget>(&w, "widgetSN")->isEnabled());
}

QString plain(const QString &html)
{
    QTextDocument text;
    text.setHtml(html);
    return text.toPlainText();
}

// Lists one port by that name and refreshes the list.
void relist(MyWidget &w, const QString &name)
{
    SerialWindow::listPorts({{name, "/dev/" + name, {}}});
    control<QPushButton>(&w, "pushButton_2")->click();
}

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void openAndClose_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("pulled"); // the adapter is pulled instead of pressing Close
        // Why the port does not open, and what the box tells below its text (%1:
        // the adapter's device, %2: its group); none: it opens.
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("detail");
        QTest::newRow("serial alone") << false << false << false << "" << "";
        QTest::newRow("while UDP is up") << true << false << false << "" << "";
        QTest::newRow("adapter pulled, in Chinese") << false << true << true << "" << "";
        // A missing device: tst_upgrade's port that cannot open.
        QTest::newRow("port another program holds") << false << false << false << "held"
            << "Another program holds %1 (Permission error while locking the device). Close the port there, or "
               "choose another one.";
        QTest::newRow("port only its group may use") << false << false << false << "group"
            << "This user may not open %1: Permission denied. The device belongs to the group %2; to join it, run "
               "\"sudo usermod -aG %2 $USER\", then log out and in again.";
        QTest::newRow("port only its group may use, in Chinese") << false << true << false << "group"
            << "当前用户无权打开 %1: Permission denied。该设备属于用户组 %2;要加入该组,请运行 \"sudo usermod -aG %2 "
               "$USER\",然后注销并重新登录。";
    }

    void openAndClose()
    {
        QFETCH(bool, udp);
        QFETCH(bool, chinese);
        QFETCH(bool, pulled);
        QFETCH(QString, refusal);
        QFETCH(QString, detail);
        SerialWindow s;
        MyWidget &w = s.window();
        if (chinese)
            QMetaObject::invokeMethod(&w, "on_choiceLanguage", Qt::DirectConnection);
        // A UDP link that is up has switched the groups on and locked "Set Logo".
        if (udp)
            control<QPushButton>(&w, "btn_cfg")->click();
        auto *setLogo = control<QWidget>(&w, "pushButton_3");
        auto *comm = control<QPushButton>(&w, "pushButtonComm");
        comm->setStyleSheet(QStringLiteral("background: green"));
        auto *button = control<QPushButton>(&w, "pushButtonOpen");
        // Upgrade goes by the file field, whatever the port does.
        auto *upgrade = control<QWidget>(&w, "pushButtonUpdata");
        control<QLineEdit>(&w, "lineEditPath")->setText(QStringLiteral("fw.hex"));
        // Another program that has the adapter open holds its lock, as a
        // terminal program does.
        QSerialPort other(s.device().slavePath());
        if (refusal == QLatin1String("held"))
            QVERIFY(other.open(QIODevice::ReadWrite));
        if (refusal == QLatin1String("group"))
            TestEnv::keepForGroup(s.device().slavePath());
        const QString owner = QFileInfo(s.device().slavePath()).group();

        const QString portError = chinese ? QStringLiteral("提示: 串口错误,请重试.") : kPortError;
        QElapsedTimer clock;
        clock.start();
        if (refusal.isEmpty()) {
            button->click();
        } else { // nothing opens: a box, and the window as it was
            {
                std::optional<TestEnv::Unprivileged> user;
                if (refusal == QLatin1String("group"))
                    user.emplace();
                button->click();
            }
            QVERIFY(!MyWidgetTestAccess::serialOpen(w));
            QCOMPARE(s.boxesSeen(), QStringList{portError});
            QCOMPARE(s.boxDetails(), QStringList{QString(detail).replace("%1", s.device().slavePath()).replace("%2", owner)});
            expectLink(w, chinese ? QStringLiteral("打开") : QStringLiteral("Open"), false, false);
            QVERIFY(upgrade->isEnabled());
            return;
        }
        QVERIFY2(clock.elapsed() < 200, "opening does not wait");
        s.device().write("\x90\x41\xff");
        QTRY_COMPARE(s.paneLines(), QStringList{"9041ff"});
        QVERIFY(MyWidgetTestAccess::serialOpen(w));
        expectLink(w, chinese ? QStringLiteral("关闭") : QStringLiteral("Close"), true, !udp);
        QVERIFY(!setLogo->isEnabled());

        clock.restart();
        if (pulled)
            s.device().hangUp();
        else
            button->click();
        QTRY_VERIFY(!MyWidgetTestAccess::serialOpen(w));
        QVERIFY2(pulled || clock.elapsed() < 200, "closing does not wait");
        QVERIFY(!w.findChild<QSerialPort *>()->isOpen());
        expectLink(w, chinese ? QStringLiteral("打开") : QStringLiteral("Open"), udp, false);
        QVERIFY(!setLogo->isEnabled() && upgrade->isEnabled());
        QCOMPARE(comm->styleSheet(), udp ? QStringLiteral("background: green") : QStringLiteral("background: gray"));
        QTRY_COMPARE(s.boxesSeen(), pulled ? QStringList{portError} : QStringList{});

        // A text that names no port opens nothing, not the port of the previous
        // open: an unmatched "COM" name ("COMX" is listed as COM0), a typed
        // path with a blank in it.
        if (pulled || chinese)
            return;
        const QByteArray written = s.device().received();
        relist(w, QStringLiteral("COMX"));
        button->click();
        control<QComboBox>(&w, "comboBoxCom")->lineEdit()->setText(s.device().slavePath() + QStringLiteral(" 2"));
        button->click();
        QVERIFY(!MyWidgetTestAccess::serialOpen(w));
        QCOMPARE(s.boxesSeen().size(), 2);
        QCOMPARE(s.boxDetails(), (QStringList{"No serial port is called \"COM0\".",
                                              "No serial port is called \"" + s.device().slavePath() + " 2\"."}));
        QCOMPARE(s.device().received(), written);
    }

    void typedPortSurvivesEnumPort_data()
    {
        QTest::addColumn<bool>("listed"); // the adapter is listed; else no port is
        QTest::addColumn<QString>("typed"); // "slave": the adapter's path; "link": a long link to it
        QTest::addColumn<bool>("kept");
        QTest::newRow("typed path that is there") << true << "slave" << true;
        QTest::newRow("long link to it, no port listed") << false << "link" << true;
        QTest::newRow("typed path that is gone") << true << "/dev/ttyQD-gone" << false;
    }

    // A device typed into the port box stays through EnumPort while it is there,
    // and opens; the whole text is the box's tooltip, as plain text. A listed
    // port's item has its adapter's description as its tooltip, as plain text.
    void typedPortSurvivesEnumPort()
    {
        QFETCH(bool, listed);
        QFETCH(QString, typed);
        QFETCH(bool, kept);
        SerialWindow s;
        if (!listed)
            SerialWindow::listPorts({});
        MyWidget &w = s.window();
        if (typed == QLatin1String("slave")) {
            typed = s.device().slavePath();
        } else if (typed == QLatin1String("link")) {
            typed = QDir::current().absoluteFilePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
            QVERIFY(QFile::link(s.device().slavePath(), typed));
        }
        auto *box = control<QComboBox>(&w, "comboBoxCom");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        emit box->highlighted(0);
        QTRY_COMPARE(plain(QToolTip::isVisible() ? QToolTip::text() : QString()),
                     listed ? SerialWindow::kAdapterDescription : QString());
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), typed);
        control<QPushButton>(&w, "pushButton_2")->click();
        QCOMPARE(box->currentText(), kept ? typed : SerialWindow::kAdapterName);
        QCOMPARE(plain(box->toolTip()), box->currentText());
        QVERIFY(s.open());
        QVERIFY(s.boxesSeen().isEmpty());
    }

    void lineSettings()
    {
        SerialWindow s;
        MyWidget &w = s.window();
        auto *port = w.findChild<QSerialPort *>();
        auto *baud = control<QComboBox>(&w, "comboBoxBaudrate");
        auto *parity = control<QComboBox>(&w, "comboBoxParity");
        // Chosen before opening, the baud rate holds and parity does not: the
        // camera talks 8N1, whatever the data-bit and stop-bit boxes show.
        baud->setCurrentIndex(0);
        parity->setCurrentIndex(2);
        QCOMPARE(port->parity(), QSerialPort::EvenParity);
        control<QComboBox>(&w, "comboBoxDatabit")->setCurrentIndex(0);
        control<QComboBox>(&w, "comboBoxStopbit")->setCurrentIndex(1);
        QVERIFY(s.open());
        termios line = s.device().lineSettings();
        QCOMPARE(cfgetospeed(&line), speed_t(B2400));
        QCOMPARE(port->parity(), QSerialPort::NoParity);
        QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(line.c_cflag & CSTOPB));

        // Changed while open, the line follows at once, both directions.
        const speed_t rates[] = {B2400, B9600, B19200, B38400, B57600, B115200};
        for (int index = 0; index < 6; ++index) {
            baud->setCurrentIndex(index);
            line = s.device().lineSettings();
            QVERIFY(cfgetispeed(&line) == rates[index] && cfgetospeed(&line) == rates[index]);
        }
        // A pseudo-terminal cannot carry parity and refuses it; the port stays
        // open and usable.
        parity->setCurrentIndex(1);
        parity->setCurrentIndex(2);
        s.device().write("\x79");
        QTRY_COMPARE(s.paneLines(), QStringList{"79"});
        QVERIFY(MyWidgetTestAccess::serialOpen(w));
        QVERIFY(s.boxesSeen().isEmpty());
    }
};

QTEST_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
