// The camera controls through the window: the UDP link's switch and the text
// it receives, and every camera button and the Send box against camsim in all
// three protocols, on the line and over UDP at once. The frame bytes are
// tabled in tst_framing; an inquiry that gets no answer is in
// tst_servicewindow.

#include "camsimprocess.h"
#include "wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <climits>

using TestEnv::control;

namespace {

constexpr int kPelcoD = 0, kPelcoP = 1, kVisca = 2; // the items of the protocol box

void connectUdp(MyWidget &w, quint32 port)
{
    control<QLineEdit>(&w, "txt_ip")->setText(QStringLiteral("127.0.0.1"));
    control<QLineEdit>(&w, "txt_port_tx")->setText(QString::number(port));
    control<QPushButton>(&w, "btn_cfg")->click();
}

// The camera's buttons, what camsim calls the frames a click on each sends
// (press, then release) in VISCA and in Pelco, and what the button is under
// Pelco. The inquiries come first: no late reply to a command can be taken
// for their answers.
enum class UnderPelco { Sends, Locked, EmptyFrame };
struct ButtonCase { const char *button, *visca, *pelco; UnderPelco underPelco; };
const ButtonCase kButtons[] = {
    {"pushButtonGetZPos", "inquiry-zoom-position", "", UnderPelco::Locked},
    {"pushButtonGetFPos", "inquiry-focus-position", "", UnderPelco::Locked},
    {"pushButtonDirZPos", "", "", UnderPelco::Locked},
    {"pushButtonDirFPos", "", "", UnderPelco::Locked},
    {"pushButtonLeft", "pan-left pan-tilt-stop", "pan-left stop", UnderPelco::Sends},
    {"pushButtonRight", "pan-right pan-tilt-stop", "pan-right stop", UnderPelco::Sends},
    {"pushButtonUp", "tilt-up pan-tilt-stop", "tilt-up stop", UnderPelco::Sends},
    {"pushButtonDown", "tilt-down pan-tilt-stop", "tilt-down stop", UnderPelco::Sends},
    {"pushButtonUpLeft", "up-left pan-tilt-stop", "up-left stop", UnderPelco::Sends},
    {"pushButtonUpRight", "up-right pan-tilt-stop", "up-right stop", UnderPelco::Sends},
    {"pushButtonDownLeft", "down-left pan-tilt-stop", "down-left stop", UnderPelco::Sends},
    {"pushButtonDownRight", "down-right pan-tilt-stop", "down-right stop", UnderPelco::Sends},
    {"pushButtonHome", "home", "", UnderPelco::Locked},
    {"pushButtonCallPreset", "preset-call", "preset-call", UnderPelco::Sends},
    {"pushButtonSetPreset", "preset-set", "preset-set", UnderPelco::Sends},
    {"pushButtonClearPreset", "preset-clear", "preset-clear", UnderPelco::Sends},
    {"pushButtonZTele", "zoom-tele zoom-stop", "zoom-tele stop", UnderPelco::Sends},
    {"pushButtonZWide", "zoom-wide zoom-stop", "zoom-wide stop", UnderPelco::Sends},
    {"pushButtonFar", "focus-far focus-stop", "focus-far stop", UnderPelco::Sends},
    {"pushButtonNear", "focus-near focus-stop", "focus-near stop", UnderPelco::Sends},
    {"pushButtonAF", "focus-auto", "", UnderPelco::Locked},
    {"pushButtonMF", "focus-manual", "", UnderPelco::Locked},
    {"pushButtonPowerOn", "power-on", "", UnderPelco::Locked},
    {"pushButtonPowerOff", "power-off", "", UnderPelco::Locked},
    {"pushButtonPictureFilp", "picture-flip", "", UnderPelco::EmptyFrame},
    {"pushButtonPictureNormal", "picture-normal", "", UnderPelco::EmptyFrame},
    {"pushButtonPTReset", "pan-tilt-reset", "", UnderPelco::EmptyFrame},
    {"pushButtonZoomReset", "zoom-reset", "", UnderPelco::EmptyFrame},
};

} // namespace

class CameraTest : public QObject
{
    Q_OBJECT

private slots:
    void udpSwitch_data()
    {
        QTest::addColumn<bool>("serialOpen");
        QTest::newRow("serial port closed") << false;
        QTest::newRow("serial port open") << true;
    }

    void udpSwitch()
    {
        QFETCH(bool, serialOpen);
        SerialWindow s;
        MyWidget &w = s.window();
        QVERIFY(!serialOpen || s.open());
        auto *button = control<QPushButton>(&w, "btn_cfg");
        auto *comm = control<QPushButton>(&w, "pushButtonComm");
        const auto enabled = [&](const char *name) { return control<QWidget>(&w, name)->isEnabled(); };
        // The camera panels switch with the other links' (tst_seriallink has them all).
        const auto expect = [&](bool up, bool panelsEnabled) {
            QCOMPARE(button->text(), QLatin1String(up ? "Disconnect" : "Connect"));
            QCOMPARE(button->styleSheet(), QLatin1String(up ? "background-color:rgb(0,255,0)" : "background-color:yellow"));
            QVERIFY(enabled("txt_ip") == !up && enabled("txt_port_tx") == !up);
            QCOMPARE(enabled("widgetPT"), panelsEnabled);
        };
        connectUdp(w, 4464);
        expect(true, true);
        // The label keeps telling the link's state across a language switch.
        QMetaObject::invokeMethod(&w, "on_choiceLanguage", Qt::DirectConnection);
        QCOMPARE(button->text(), QStringLiteral("Disconnect"));
        comm->setStyleSheet(QStringLiteral("background: green"));
        button->click();
        // The panels follow both links: with the port open they stay.
        expect(false, serialOpen);
        QCOMPARE(comm->styleSheet(), QLatin1String(serialOpen ? "background: green" : "background: gray"));
        QCOMPARE(enabled("pushButton_2"), !serialOpen);

        // The camera answers to the port its frames come from, and only its
        // datagrams are shown: plain text up to the first zero byte, also when
        // it answers from another port of its own. A stranger's datagram (Linux
        // routes all of 127/8 to the loopback: another address on this machine)
        // is not shown, and after Disconnect nothing is.
        QUdpSocket camera, cameraElsewhere, stranger;
        QVERIFY(camera.bind(QHostAddress::LocalHost, 0) && cameraElsewhere.bind(QHostAddress::LocalHost, 0));
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        connectUdp(w, camera.localPort());
        control<QPushButton>(&w, "pushButtonHome")->click();
        QVERIFY(QTest::qWaitFor([&] { return camera.hasPendingDatagrams(); }, kReplyTimeoutMs));
        const quint16 port = camera.receiveDatagram().senderPort();
        QCOMPARE(port, MyWidgetTestAccess::udpLocalPort(w));
        stranger.writeDatagram("Go 0x08000000", QHostAddress::LocalHost, port);
        camera.writeDatagram(QByteArray::fromHex("41420043"), QHostAddress::LocalHost, port);
        for (const QByteArray &datagram : {QByteArray("<b>x</b>"), QByteArray("h\xc3\xa9llo")})
            cameraElsewhere.writeDatagram(datagram, QHostAddress::LocalHost, port);
        const QStringList shown{"AB", "<b>x</b>", QStringLiteral("h\u00e9llo")};
        QTRY_COMPARE(s.paneLines(), shown);
        button->click();
        QCOMPARE(MyWidgetTestAccess::udpLocalPort(w), quint16(0));
        camera.writeDatagram("after disconnect", QHostAddress::LocalHost, port);
        Wait::sleep(100);
        QCOMPARE(s.paneLines(), shown);
    }

    void everyButtonReachesCamsim_data()
    {
        QTest::addColumn<int>("before"); // the protocol chosen first
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("decodedAs"); // protocol and checksum, as camsim tells them
        QTest::newRow("Pelco-D") << kVisca << kPelcoD << "pelco-d ok";
        QTest::newRow("Pelco-P, after Pelco-D") << kPelcoD << kPelcoP << "pelco-p ok";
        QTest::newRow("VISCA, after Pelco-P") << kPelcoP << kVisca << "visca none";
    }

    void everyButtonReachesCamsim()
    {
        QFETCH(int, before);
        QFETCH(int, protocol);
        QFETCH(QString, decodedAs);
        // As the README tells a newcomer: camsim emulates the wire's time, no
        // port is listed, and its port is typed into the port box. (A camera
        // that drops the line is the pulled adapter of tst_seriallink.)
        SerialWindow s;
        SerialWindow::listPorts({});
        const QString link = QDir::current().filePath(QStringLiteral("camera"));
        Camsim camera;
        QVERIFY(camera.start({"--link", link, "--wire-time", "--zoom", "0x2345", "--focus", "0xabcd", "--udp-port", "0"}));
        MyWidget &w = s.window();
        QLineEdit *portBox = control<QComboBox>(&w, "comboBoxCom")->lineEdit();
        portBox->selectAll();
        QTest::keyClicks(portBox, link);
        QVERIFY(s.open());
        // camsim also listens on UDP; the port text is taken modulo 65536: this
        // one reaches it.
        const int listening = camera.waitFor({{"event", "udp-listening"}});
        QVERIFY(listening >= 0);
        connectUdp(w, quint32(camera.lines.at(listening).value("port").toInt()) + 65536u);

        // Pelco speeds run to 63, VISCA's to 24, and each choice starts at the
        // top; the zoom speed stays as set.
        const bool pelco = protocol != kVisca;
        auto *speed = control<QSlider>(&w, "horizontalSliderPTSpeed");
        control<QSlider>(&w, "horizontalSliderZoomSpeed")->setValue(3);
        auto *protocolBox = control<QComboBox>(&w, "comboBoxProtocol");
        protocolBox->setCurrentIndex(before);
        speed->setValue(30);
        protocolBox->setCurrentIndex(protocol);
        QCOMPARE(speed->maximum(), pelco ? 63 : 24);
        QCOMPARE(control<QLineEdit>(&w, "lineEditPTSpeed")->text(), QLatin1String(pelco ? "63" : "24"));
        speed->setValue(20);
        control<QLineEdit>(&w, "lineEditAddress")->setText(QStringLiteral("2"));
        control<QLineEdit>(&w, "lineEditPresetAdd")->setText(QStringLiteral("9"));

        // A motion goes on while its button is held: the press sends it, the
        // release the stop (each on the line and over UDP).
        auto *held = control<QPushButton>(&w, "pushButtonUpRight");
        int from = camera.lines.size();
        QTest::mousePress(held, Qt::LeftButton);
        QTRY_COMPARE(camera.count({{"command", "up-right"}}, from), 2);
        Wait::sleep(50);
        QCOMPARE(camera.count({{"dir", "rx"}}, from), 2);
        QTest::mouseRelease(held, Qt::LeftButton);
        QTRY_COMPARE(camera.count({{"command", pelco ? "stop" : "pan-tilt-stop"}}, from), 2);
        from = camera.lines.size();

        // Click every button (press, release, click) and note what camsim should
        // make of each frame; an empty frame puts no bytes on the line and goes
        // as an empty datagram.
        QStringList expected;
        for (const ButtonCase &c : kButtons) {
            auto *button = control<QPushButton>(&w, c.button);
            QVERIFY2(button->isEnabled() == !(pelco && c.underPelco == UnderPelco::Locked), c.button);
            button->click();
            // An inquiry has the line until its answer is in.
            QTRY_VERIFY(!MyWidgetTestAccess::inquiryPending(w));
            if (pelco && c.underPelco == UnderPelco::EmptyFrame)
                expected.append(QString());
            for (const QString &command : QString::fromLatin1(pelco ? c.pelco : c.visca).split(' ', Qt::SkipEmptyParts))
                expected.append(decodedAs + ' ' + command + " 2");
        }
        // A command typed into the Send box goes as spelled, whatever the
        // protocol: one byte per part between blanks, the low byte of a
        // hexadecimal number, 00 for a part that is none. Here a VISCA zoom
        // stop to camera 1.
        control<QComboBox>(&w, "comboBoxSend")->setEditText(QStringLiteral("  81 1  4 107 zz -1 "));
        control<QPushButton>(&w, "pushButton")->click();
        expected.append(QStringLiteral("visca none zoom-stop 1"));
        QStringList onLine = expected;
        onLine.removeAll(QString());

        // Every frame twice: on the line, then as a datagram of the same bytes.
        QTRY_VERIFY(camera.count({{"dir", "rx"}}, from) >= expected.size() + onLine.size());
        Wait::sleep(200); // and nothing more comes
        QStringList decoded[2], bytes[2]; // on the line, over UDP
        for (const QJsonObject &line : camera.lines.mid(from)) {
            const auto field = [&](const char *name) { return line.value(QLatin1String(name)).toVariant().toString(); };
            if (field("dir") != QLatin1String("rx"))
                continue;
            const int via = field("via") == QLatin1String("udp");
            const QStringList verdict{field("protocol"), field("checksum"), field("command"), field("address")};
            decoded[via].append(field("hex").isEmpty() ? QString() : verdict.join(' '));
            bytes[via].append(field("hex"));
        }
        QCOMPARE(decoded[0], onLine);
        QCOMPARE(decoded[1], expected);
        bytes[1].removeAll(QString());
        QCOMPARE(bytes[1], bytes[0]);
        // The speeds and the preset number as set.
        QVERIFY(camera.find({{"command", "down-right"}, {"tilt_speed", 20}}, from) >= 0);
        QVERIFY(camera.find({{"command", "preset-set"}, {"preset", 9}}, from) >= 0);
        QVERIFY(pelco || camera.find({{"command", "zoom-wide"}, {"speed", 3}}, from) >= 0);
        // The position inquiries read camsim's answers, which the pane shows
        // too (on a busy machine a pause inside a reply may make it two lines).
        QCOMPARE(control<QLineEdit>(&w, "lineEditZPos")->text(), QLatin1String(pelco ? "0" : "2345"));
        QCOMPARE(control<QLineEdit>(&w, "lineEditFPos")->text(), QLatin1String(pelco ? "0" : "abcd"));
        QVERIFY(pelco || s.paneLines().join(QString()).contains(QStringLiteral("a05002030405ff")));
        QVERIFY(s.boxesSeen().isEmpty() && camera.unreadable.isEmpty());
    }
};

QTEST_MAIN(CameraTest)
#include "tst_camera.moc"
