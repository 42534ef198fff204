// The camera-control frames, byte for byte: every command in each protocol,
// then how the address, speed, preset and zoom-speed texts become bytes
// (offsets, truncation to 8 bits, checksums past 255), and the reading of a
// position answer.

#include "protocol/cameraframes.h"
#include "protocol/positionreply.h"

#include <QtTest>

using CameraFrames::Command;
using CameraFrames::Protocol;

Q_DECLARE_METATYPE(CameraFrames::Command)
Q_DECLARE_METATYPE(CameraFrames::Protocol)

namespace {

QByteArray build(Protocol protocol, Command command, const QString &address,
                 const QString &speed = QStringLiteral("24"),
                 const QString &zoomSpeed = QStringLiteral("7"),
                 const QString &preset = QStringLiteral("5"))
{
    return CameraFrames::build(protocol, command, {address, speed, zoomSpeed, preset}).toHex();
}

} // namespace

class FramingTest : public QObject
{
    Q_OBJECT

private slots:
    void everyCommand_data();
    void everyCommand();
    void fieldRules_data();
    void fieldRules();
    void positionReply_data();
    void positionReply();
};

void FramingTest::everyCommand_data()
{
    // Address 1, pan/tilt speed 24 (0x18), zoom speed 7, preset 5. A command
    // the protocol lacks is an empty frame.
    QTest::addColumn<Command>("command");
    QTest::addColumn<QByteArray>("pelcoD");
    QTest::addColumn<QByteArray>("pelcoP");
    QTest::addColumn<QByteArray>("visca");
    const auto row = [](const char *name, Command command, const char *d, const char *p,
                        const char *v) {
        QTest::newRow(name) << command << QByteArray(d) << QByteArray(p) << QByteArray(v);
    };
    using C = Command;
    row("Left", C::Left, "ff01000418001d", "a00000041800af13", "8101060118180103ff");
    row("Right", C::Right, "ff01000218001b", "a00000021800af15", "8101060118180203ff");
    row("Up", C::Up, "ff010008001821", "a00000080018af1f", "8101060118180301ff");
    row("Down", C::Down, "ff010010001829", "a00000100018af07", "8101060118180302ff");
    row("UpLeft", C::UpLeft, "ff01000c18183d", "a000000c1818af03", "8101060118180101ff");
    row("UpRight", C::UpRight, "ff01000a18183b", "a000000a1818af05", "8101060118180201ff");
    row("DownLeft", C::DownLeft, "ff010014181845", "a00000141818af1b", "8101060118180102ff");
    row("DownRight", C::DownRight, "ff010012181843", "a00000121818af1d", "8101060118180202ff");
    row("PanTiltStop", C::PanTiltStop, "ff010000000001", "a00000000000af0f", "8101060101010303ff");
    row("CallPreset", C::CallPreset, "ff01000700050d", "a00000070005af0d", "8101043f0205ff");
    row("SetPreset", C::SetPreset, "ff010003000509", "a00000030005af09", "8101043f0105ff");
    row("ClearPreset", C::ClearPreset, "ff01000500050b", "a00000050005af0f", "8101043f0005ff");
    row("ZoomTele", C::ZoomTele, "ff010020000021", "a00000200000af2f", "8101040727ff");
    row("ZoomWide", C::ZoomWide, "ff010040000041", "a00000400000af4f", "8101040737ff");
    row("ZoomStop", C::ZoomStop, "ff010000000001", "a00000000000af0f", "8101040700ff");
    row("FocusFar", C::FocusFar, "ff010080000081", "a00001000000af0e", "8101040802ff");
    row("FocusNear", C::FocusNear, "ff010100000002", "a00002000000af0d", "8101040803ff");
    row("FocusStop", C::FocusStop, "ff010000000001", "a00000000000af0f", "8101040800ff");
    // Home is VISCA under every protocol.
    row("Home", C::Home, "81010604ff", "81010604ff", "81010604ff");
    row("AutoFocus", C::AutoFocus, "", "", "8101043802ff");
    row("ManualFocus", C::ManualFocus, "", "", "8101043803ff");
    row("PowerOn", C::PowerOn, "", "", "8101040002ff");
    row("PowerOff", C::PowerOff, "", "", "8101040003ff");
    row("PictureFlip", C::PictureFlip, "", "", "8101064357ff");
    row("PictureNormal", C::PictureNormal, "", "", "8101064456ff");
    row("PanTiltReset", C::PanTiltReset, "", "", "81010605ff");
    row("ZoomReset", C::ZoomReset, "", "", "8101064163ff");
    row("ZoomPositionInquiry", C::ZoomPositionInquiry, "", "", "81090447ff");
    row("FocusPositionInquiry", C::FocusPositionInquiry, "", "", "81090448ff");
}

void FramingTest::everyCommand()
{
    QFETCH(Command, command);
    QFETCH(QByteArray, pelcoD);
    QFETCH(QByteArray, pelcoP);
    QFETCH(QByteArray, visca);
    const QString one = QStringLiteral("1");
    QCOMPARE(build(Protocol::PelcoD, command, one), pelcoD);
    QCOMPARE(build(Protocol::PelcoP, command, one), pelcoP);
    QCOMPARE(build(Protocol::Visca, command, one), visca);
    // An index outside the protocol box's three items (the box is being
    // refilled) builds nothing but Home, which is VISCA whatever is chosen.
    QCOMPARE(build(Protocol(-1), command, one),
             command == Command::Home ? visca : QByteArray());
}

void FramingTest::fieldRules_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("zoomSpeed");
    QTest::addColumn<QByteArray>("frame");
    const auto row = [](const char *name, Protocol protocol, Command command, const char *frame,
                        const char *address, const char *speed = "24", const char *preset = "5",
                        const char *zoomSpeed = "7") {
        QTest::newRow(name) << protocol << command << QString::fromUtf8(address)
                            << QString::fromUtf8(speed) << QString::fromUtf8(preset)
                            << QString::fromUtf8(zoomSpeed) << QByteArray(frame);
    };
    const auto D = Protocol::PelcoD;
    const auto P = Protocol::PelcoP;
    const auto V = Protocol::Visca;
    row("D left 63", D, Command::Left, "ff0100043f0044", "1", "63");
    row("P left 63", P, Command::Left, "a00000043f00af34", "1", "63");
    row("V left 63", V, Command::Left, "810106013f3f0103ff", "1", "63");
    row("D up-right, address 2, speed 32", D, Command::UpRight, "ff02000a20204c", "2", "32");
    row("P address 2", P, Command::Left, "a00100041800af12", "2");
    row("D address 0", D, Command::Left, "ff00000418001c", "0");
    row("P address 0", P, Command::Left, "a0ff00041800afec", "0");
    row("V address 0", V, Command::Left, "8001060118180103ff", "0");
    row("D address empty", D, Command::Left, "ff00000418001c", "");
    row("P address letters", P, Command::Left, "a0ff00041800afec", "x1");
    row("V address empty", V, Command::Left, "8001060118180103ff", "");
    row("D address 300", D, Command::Left, "ff2c0004180048", "300");
    row("D address -1", D, Command::Left, "ffff000418001b", "-1");
    row("V address -1", V, Command::Left, "7f01060118180103ff", "-1");
    // Bytes of 0x80 and more, and a sum past 255.
    row("D address 200, sum past 255", D, Command::DownRight, "ffc800123f3f58", "200", "63");
    row("P address 200", P, Command::DownRight, "a0c700123f3fafda", "200", "63");
    row("D speed not a number", D, Command::Left, "ff010004000005", "1", "fast");
    row("V preset 300", V, Command::CallPreset, "8101043f022cff", "1", "24", "300");
    row("D preset 300", D, Command::CallPreset, "ff010007002c34", "1", "24", "300");
    row("P preset 300", P, Command::CallPreset, "a0000007002caf24", "1", "24", "300");
    row("V zoom tele speed 1", V, Command::ZoomTele, "8101040721ff", "1", "24", "5", "1");
    row("V zoom wide speed 1", V, Command::ZoomWide, "8101040731ff", "1", "24", "5", "1");
    // Home reads its address as hexadecimal, every other command as decimal.
    row("V home, address 10", V, Command::Home, "90010604ff", "10");
    row("V left, address 10", V, Command::Left, "8a01060118180103ff", "10");
    row("V home, address A", V, Command::Home, "8a010604ff", "A");
    row("V home, address zz", V, Command::Home, "80010604ff", "zz");
}

void FramingTest::fieldRules()
{
    QFETCH(Protocol, protocol);
    QFETCH(Command, command);
    QFETCH(QString, address);
    QFETCH(QString, speed);
    QFETCH(QString, preset);
    QFETCH(QString, zoomSpeed);
    QFETCH(QByteArray, frame);
    QCOMPARE(build(protocol, command, address, speed, zoomSpeed, preset), frame);
}

void FramingTest::positionReply_data()
{
    QTest::addColumn<QByteArray>("replyHex");
    QTest::addColumn<QString>("digits");
    QTest::newRow("2345") << QByteArray("905002030405ff") << "2345";
    QTest::newRow("abcd, lower case") << QByteArray("90500a0b0c0dff") << "abcd";
    QTest::newRow("camera address 2") << QByteArray("a05004000000ff") << "4000";
    QTest::newRow("more bytes behind") << QByteArray("905002030405ff9041ff") << "2345";
    QTest::newRow("acknowledge") << QByteArray("9041ff") << QString();
    QTest::newRow("syntax error") << QByteArray("906002ff") << QString();
    QTest::newRow("cut short") << QByteArray("9050020304") << QString();
    QTest::newRow("digit byte past 0f") << QByteArray("905012030405ff") << QString();
    QTest::newRow("not a reply header") << QByteArray("815002030405ff") << QString();
}

void FramingTest::positionReply()
{
    QFETCH(QByteArray, replyHex);
    QFETCH(QString, digits);
    QCOMPARE(PositionReply::digits(replyHex), digits);
}

QTEST_APPLESS_MAIN(FramingTest)
#include "tst_framing.moc"
