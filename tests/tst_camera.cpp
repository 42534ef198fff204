// The camera controls through the window: what pressing and releasing the
// buttons puts on the serial line and the UDP link, the protocol choice, the
// position inquiries, the UDP link's switch and the text it receives, and
// every camera button against camsim in all three protocols. The serial
// camera is a pseudo-terminal or camsim; the UDP camera is a socket of the
// test on 127.0.0.1.

#include "camsimprocess.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QUdpSocket>
#include <QtTest>

#include <climits>

using TestEnv::control;

namespace {

constexpr int kPelcoD = 0;
constexpr int kPelcoP = 1;
constexpr int kVisca = 2;

// The buttons the protocol choice locks under Pelco.
const char *const kViscaButtons[] = {"pushButtonHome",  "pushButtonGetZPos", "pushButtonGetFPos",
                                     "pushButtonDirZPos", "pushButtonDirFPos", "pushButtonMF",
                                     "pushButtonAF",    "pushButtonPowerOff", "pushButtonPowerOn"};
// What a link switches on and off.
const char *const kPanels[] = {"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial",
                               "widgetSW", "pushButton"};

const QString kLinkUp = QStringLiteral("background-color:rgb(0,255,0)");
const QString kLinkDown = QStringLiteral("background-color:yellow");

// The camera's end of the UDP link: a socket on 127.0.0.1 keeping every
// datagram it gets, as hexadecimal text.
class UdpPeer
{
public:
    UdpPeer()
    {
        socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray datagram(int(socket.pendingDatagramSize()), Qt::Uninitialized);
                socket.readDatagram(datagram.data(), datagram.size());
                datagrams.append(datagram.toHex());
            }
        });
    }

    quint16 port() const { return socket.localPort(); }
    bool waitFor(int count)
    {
        return QTest::qWaitFor([&] { return datagrams.size() >= count; }, kReplyTimeoutMs);
    }

    QUdpSocket socket;
    QByteArrayList datagrams;
};

void connectUdp(MyWidget &w, const QString &portText)
{
    control<QLineEdit>(&w, "txt_ip")->setText(QStringLiteral("127.0.0.1"));
    control<QLineEdit>(&w, "txt_port_tx")->setText(portText);
    control<QPushButton>(&w, "btn_cfg")->click();
}

void chooseProtocol(MyWidget &w, int index)
{
    control<QComboBox>(&w, "comboBoxProtocol")->setCurrentIndex(index);
}

// What camsim made of each frame received since line `from`, and the frames.
QStringList decodedSince(const Camsim &camera, int from, QByteArrayList &frames)
{
    QStringList decoded;
    for (const QJsonObject &line : camera.lines.mid(from)) {
        if (line.value("dir").toString() != QLatin1String("rx"))
            continue;
        decoded.append(line.value("protocol").toString() + ' ' + line.value("checksum").toString()
                       + ' ' + line.value("command").toString() + ' '
                       + QString::number(line.value("address").toInt()));
        frames.append(line.value("hex").toString().toLatin1());
    }
    return decoded;
}

// The camera's buttons, what camsim calls the frames a click on each sends
// (press, then release) in VISCA and in Pelco, and what the button is under
// Pelco. The inquiries come first: no late reply to a command can be taken
// for their answers.
enum class UnderPelco { Sends, Locked, EmptyFrame };
struct ButtonCase
{
    const char *button;
    const char *visca;
    const char *pelco;
    UnderPelco underPelco;
};
const ButtonCase kButtons[] = {
    {"pushButtonGetZPos", "inquiry-zoom-position", "", UnderPelco::Locked},
    {"pushButtonGetFPos", "inquiry-focus-position", "", UnderPelco::Locked},
    {"pushButtonDirZPos", "", "", UnderPelco::Locked},
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
    void pressAndRelease_data();
    void pressAndRelease();
    void protocolChoice();
    void onlyAFreshReplyIsRead_data();
    void onlyAFreshReplyIsRead();
    void noSerialLink();
    void udpSwitch_data();
    void udpSwitch();
    void datagramsShownAsText();
    void everyButtonReachesCamsim_data();
    void everyButtonReachesCamsim();
};

void CameraTest::pressAndRelease_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QByteArrayList>("onPress");
    QTest::addColumn<QByteArrayList>("onRelease");
    QTest::newRow("VISCA left") << kVisca << QByteArray("pushButtonLeft") << "1" << 24
                                << QByteArrayList{"8101060118180103ff"}
                                << QByteArrayList{"8101060101010303ff"};
    QTest::newRow("Pelco-D up-right") << kPelcoD << QByteArray("pushButtonUpRight") << "2" << 32
                                      << QByteArrayList{"ff02000a20204c"}
                                      << QByteArrayList{"ff020000000002"};
    QTest::newRow("VISCA home, address 10") << kVisca << QByteArray("pushButtonHome") << "10" << 24
                                            << QByteArrayList{} << QByteArrayList{"90010604ff"};
}

void CameraTest::pressAndRelease()
{
    QFETCH(int, protocol);
    QFETCH(QByteArray, button);
    QFETCH(QString, address);
    QFETCH(int, speed);
    QFETCH(QByteArrayList, onPress);
    QFETCH(QByteArrayList, onRelease);

    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    UdpPeer peer;
    // The port text is taken modulo 65536: this one reaches the peer.
    connectUdp(w, QString::number(peer.port() + 65536));
    chooseProtocol(w, protocol);
    control<QLineEdit>(&w, "lineEditAddress")->setText(address);
    control<QSlider>(&w, "horizontalSliderPTSpeed")->setValue(speed);
    auto *pushButton = control<QPushButton>(&w, button.constData());

    // Each frame goes out whole on the line and as one datagram.
    for (const bool press : {true, false}) {
        const QByteArrayList frames = press ? onPress : onPress + onRelease;
        if (press)
            QTest::mousePress(pushButton, Qt::LeftButton);
        else
            QTest::mouseRelease(pushButton, Qt::LeftButton);
        peer.waitFor(frames.size());
        s.device().waitForReceived(QByteArray::fromHex(frames.join()).size(), kReplyTimeoutMs);
        Wait::sleep(50); // and nothing more comes
        QCOMPARE(s.device().received().toHex(), frames.join());
        QCOMPARE(peer.datagrams, frames);
    }
}

void CameraTest::protocolChoice()
{
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open()); // the panels with the buttons come up with a link
    auto *speed = control<QSlider>(&w, "horizontalSliderPTSpeed");
    auto *zoomSpeed = control<QSlider>(&w, "horizontalSliderZoomSpeed");
    zoomSpeed->setValue(3);
    QCOMPARE(control<QLineEdit>(&w, "lineEditZoomSpeed")->text(), QStringLiteral("3"));
    const auto expect = [&](int protocol, int maximum) {
        QCOMPARE(MyWidgetTestAccess::protocolIndex(w), protocol);
        QCOMPARE(control<QComboBox>(&w, "comboBoxProtocol")->currentIndex(), protocol);
        QCOMPARE(speed->minimum(), 1);
        QCOMPARE(speed->maximum(), maximum);
        QCOMPARE(control<QLineEdit>(&w, "lineEditPTSpeed")->text(), QString::number(maximum));
        for (const char *name : kViscaButtons)
            QVERIFY2(control<QWidget>(&w, name)->isEnabled() == (protocol == kVisca), name);
        // Flip, normal and the resets stay usable; the zoom speed stays.
        QVERIFY(control<QWidget>(&w, "pushButtonPictureFilp")->isEnabled());
        QCOMPARE(zoomSpeed->value(), 3);
    };

    chooseProtocol(w, kPelcoD);
    expect(kPelcoD, 63);
    speed->setValue(30);
    chooseProtocol(w, kPelcoP);
    expect(kPelcoP, 63);
    chooseProtocol(w, kVisca);
    expect(kVisca, 24);
    // A language switch always comes back to VISCA at full speed.
    chooseProtocol(w, kPelcoP);
    QMetaObject::invokeMethod(&w, "on_choiceLanguage", Qt::DirectConnection);
    expect(kVisca, 24);
}

void CameraTest::onlyAFreshReplyIsRead_data()
{
    QTest::addColumn<QByteArray>("answer"); // to the inquiry
    QTest::addColumn<QString>("shown");
    QTest::newRow("no answer") << QByteArray() << "";
    QTest::newRow("syntax error") << QByteArray("906002ff") << "";
    QTest::newRow("acknowledge") << QByteArray("9041ff") << "";
    QTest::newRow("position") << QByteArray("905004000000ff") << "4000";
}

void CameraTest::onlyAFreshReplyIsRead()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, shown);
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    // An earlier position reply is the last one the window received.
    s.device().write(QByteArray::fromHex("905001020304ff"));
    QTRY_COMPARE(MyWidgetTestAccess::replyHex(w), QByteArray("905001020304ff"));

    connect(&s.device(), &PtyDevice::bytesReceived, this,
            [&] { s.device().write(QByteArray::fromHex(answer)); });
    control<QPushButton>(&w, "pushButtonGetFPos")->click();
    QCOMPARE(s.device().received().toHex(), QByteArray("81090448ff"));
    QCOMPARE(control<QLineEdit>(&w, "lineEditFPos")->text(), shown);
}

void CameraTest::noSerialLink()
{
    // A reply received while the port was open...
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    s.device().write(QByteArray::fromHex("905001020304ff"));
    QTRY_COMPARE(MyWidgetTestAccess::replyHex(w), QByteArray("905001020304ff"));
    control<QPushButton>(&w, "pushButtonOpen")->click();

    // ... answers nothing asked later. With no link nothing goes out.
    UdpPeer peer;
    control<QLineEdit>(&w, "txt_ip")->setText(QStringLiteral("127.0.0.1"));
    control<QLineEdit>(&w, "txt_port_tx")->setText(QString::number(peer.port()));
    auto *zoomPosition = control<QLineEdit>(&w, "lineEditZPos");
    for (const char *slot : {"on_pushButtonLeft_pressed", "PTStop",
                             "on_pushButtonPictureFilp_clicked", "on_pushButtonGetZPos_clicked"})
        QVERIFY(QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection));
    QCOMPARE(zoomPosition->text(), QString());
    Wait::sleep(100);
    QVERIFY(peer.datagrams.isEmpty());

    // Over UDP the inquiry goes out, but answers come back on the line only.
    control<QPushButton>(&w, "btn_cfg")->click();
    zoomPosition->setText(QStringLiteral("0"));
    control<QPushButton>(&w, "pushButtonGetZPos")->click();
    QVERIFY(peer.waitFor(1));
    QCOMPARE(peer.datagrams, QByteArrayList{"81090447ff"});
    QCOMPARE(zoomPosition->text(), QString());
}

void CameraTest::udpSwitch_data()
{
    QTest::addColumn<bool>("serialOpen");
    QTest::newRow("serial port closed") << false;
    QTest::newRow("serial port open") << true;
}

void CameraTest::udpSwitch()
{
    QFETCH(bool, serialOpen);
    SerialWindow s;
    MyWidget &w = s.window();
    if (serialOpen)
        QVERIFY(s.open());
    auto *button = control<QPushButton>(&w, "btn_cfg");
    auto *comm = control<QPushButton>(&w, "pushButtonComm");
    const auto expect = [&](const char *text, const QString &style, bool fieldsEnabled,
                            bool panelsEnabled) {
        QCOMPARE(button->text(), QString::fromLatin1(text));
        QCOMPARE(button->styleSheet(), style);
        QCOMPARE(control<QWidget>(&w, "txt_ip")->isEnabled(), fieldsEnabled);
        QCOMPARE(control<QWidget>(&w, "txt_port_tx")->isEnabled(), fieldsEnabled);
        for (const char *name : kPanels)
            QVERIFY2(control<QWidget>(&w, name)->isEnabled() == panelsEnabled, name);
        QVERIFY(!control<QWidget>(&w, "widgetSN")->isEnabled());
        QVERIFY(!control<QWidget>(&w, "pushButton_3")->isEnabled());
    };

    connectUdp(w, QStringLiteral("4464"));
    QVERIFY(MyWidgetTestAccess::udpConnected(w));
    expect("Disconnect", kLinkUp, false, true);
    // The label keeps telling the link's state across a language switch.
    QMetaObject::invokeMethod(&w, "on_choiceLanguage", Qt::DirectConnection);
    QCOMPARE(button->text(), QStringLiteral("Disconnect"));

    comm->setStyleSheet(QStringLiteral("background: green"));
    button->click();
    QVERIFY(!MyWidgetTestAccess::udpConnected(w));
    // The panels follow both links: with the port open they stay.
    expect("Connect", kLinkDown, true, serialOpen);
    QCOMPARE(comm->styleSheet(),
             serialOpen ? QStringLiteral("background: green") : QStringLiteral("background: gray"));
    QCOMPARE(control<QWidget>(&w, "pushButton_2")->isEnabled(), !serialOpen);
}

void CameraTest::datagramsShownAsText()
{
    SerialWindow s;
    MyWidget &w = s.window();
    QUdpSocket camera;
    auto *button = control<QPushButton>(&w, "btn_cfg");
    const auto send = [&](const QByteArray &datagram) {
        camera.writeDatagram(datagram, QHostAddress::LocalHost,
                             MyWidgetTestAccess::udpReceivePort(w));
    };

    connectUdp(w, QStringLiteral("4464"));
    QVERIFY(MyWidgetTestAccess::udpReceivePort(w) != 0);
    button->click();
    // The receive side stays armed after Disconnect, and after a second
    // Connect each datagram still shows once.
    send("after disconnect");
    QTRY_COMPARE(s.paneLines(), QStringList{"after disconnect"});
    button->click();
    send(QByteArray::fromHex("41420043"));
    send("<b>x</b>");
    send("h\xc3\xa9llo");
    const QStringList expected{"after disconnect", "AB", "<b>x</b>", QStringLiteral("h\u00e9llo")};
    QTRY_COMPARE(s.paneLines(), expected);
    Wait::sleep(100);
    QCOMPARE(s.paneLines(), expected);
}

void CameraTest::everyButtonReachesCamsim_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("decodedAs"); // protocol and checksum, as camsim tells them
    QTest::newRow("Pelco-D") << kPelcoD << "pelco-d ok";
    QTest::newRow("Pelco-P") << kPelcoP << "pelco-p ok";
    QTest::newRow("VISCA") << kVisca << "visca none";
}

void CameraTest::everyButtonReachesCamsim()
{
    QFETCH(int, protocol);
    QFETCH(QString, decodedAs);
    SerialWindow s;
    Camsim camera;
    QVERIFY(camera.start({"--zoom", "0x2345", "--focus", "0xabcd"}));
    SerialWindow::listPorts({{QStringLiteral("ttyCAM"), camera.slavePath, QString()}});
    MyWidget &w = s.window();
    QVERIFY(s.open());
    UdpPeer peer;
    connectUdp(w, QString::number(peer.port()));
    chooseProtocol(w, protocol);
    const int from = camera.lines.size();

    // Click every button (press, release, click); note what camsim should
    // make of each frame, and which frames are empty (no bytes on the line,
    // an empty datagram).
    const bool pelco = protocol != kVisca;
    QStringList expected;
    QList<int> emptyFrames;
    int framesSent = 0;
    for (const ButtonCase &c : kButtons) {
        auto *button = control<QPushButton>(&w, c.button);
        QVERIFY2(button->isEnabled() == !(pelco && c.underPelco == UnderPelco::Locked), c.button);
        button->click();
        if (pelco && c.underPelco == UnderPelco::EmptyFrame)
            emptyFrames.append(framesSent++);
        for (const QString &command :
             QString::fromLatin1(pelco ? c.pelco : c.visca).split(' ', Qt::SkipEmptyParts)) {
            expected.append(decodedAs + ' ' + command + " 1");
            ++framesSent;
        }
    }

    QVERIFY(QTest::qWaitFor(
        [&] { return camera.count({{"dir", "rx"}}, from, INT_MAX) >= expected.size(); },
        kReplyTimeoutMs));
    QVERIFY(peer.waitFor(framesSent));
    Wait::sleep(200); // and nothing more comes
    QByteArrayList frames;
    QCOMPARE(decodedSince(camera, from, frames), expected);
    // The same frames, one datagram each, in the same order.
    for (int position : qAsConst(emptyFrames))
        frames.insert(position, QByteArray());
    QCOMPARE(peer.datagrams, frames);
    // The position inquiries read camsim's answers.
    QCOMPARE(control<QLineEdit>(&w, "lineEditZPos")->text(), QLatin1String(pelco ? "0" : "2345"));
    QCOMPARE(control<QLineEdit>(&w, "lineEditFPos")->text(), QLatin1String(pelco ? "0" : "abcd"));
}

QTEST_MAIN(CameraTest)
#include "tst_camera.moc"
