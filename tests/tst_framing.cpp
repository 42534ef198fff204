// The camera-control frames, byte for byte: every command in each protocol,
// how the address, speed, preset and zoom-speed texts become bytes (offsets,
// truncation to 8 bits, checksums past 255), and the reading of a position
// answer. The factory service codecs without a window: stepping the serial
// number's counter, the service frames byte for byte, the readings of the
// communication-test and version answers. The Send box's command line is
// tst_camera's and fuzz_commandline's.

#include "protocol/cameraframes.h"
#include "protocol/positionreply.h"
#include "service/serialnumber.h"
#include "service/serviceframes.h"

#include <QtTest>

using CameraFrames::Command;
using CameraFrames::Protocol;

Q_DECLARE_METATYPE(CameraFrames::Command)

class FramingTest : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        // The fields are address, pan/tilt speed, zoom speed and preset. A
        // command the protocol lacks is an empty frame.
        QTest::addColumn<Command>("command");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("pelcoD");
        QTest::addColumn<QByteArray>("pelcoP");
        QTest::addColumn<QByteArray>("visca");
        const auto row = [](const char *name, Command command, const char *d, const char *p,
                            const char *v, const QStringList &fields = {"1", "24", "7", "5"}) {
            QTest::newRow(name) << command << fields << QByteArray(d) << QByteArray(p)
                                << QByteArray(v);
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
        row("PTStop", C::PanTiltStop, "ff010000000001", "a00000000000af0f", "8101060101010303ff");
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

        // The fields. A text that is no number is 0; every byte keeps the low
        // 8 bits after the protocol's offset (Pelco-P address - 1, VISCA + 0x80).
        row("address empty, speed not a number", C::Left, "ff000004000004", "a0ff00040000aff4",
            "8001060100000103ff", {"", "fast", "7", "5"});
        row("address 300", C::Left, "ff2c0004180048", "a02b00041800af38", "ac01060118180103ff",
            {"300", "24", "7", "5"});
        // Bytes of 0x80 and more, and a Pelco-D sum past 255 (0x18F).
        row("address -1, speed 63", C::DownRight, "ffff00123f3f8f", "a0fe00123f3fafe3",
            "7f0106013f3f0202ff", {"-1", "63", "7", "5"});
        row("preset 300", C::CallPreset, "ff010007002c34", "a0000007002caf24", "8101043f022cff",
            {"1", "24", "7", "300"});
        row("zoom speed 1", C::ZoomTele, "ff010020000021", "a00000200000af2f", "8101040721ff",
            {"1", "24", "1", "5"});
        // Home reads its address as hexadecimal, every other command as decimal.
        row("home, address 10", C::Home, "90010604ff", "90010604ff", "90010604ff",
            {"10", "24", "7", "5"});
    }

    void frames()
    {
        QFETCH(Command, command);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, pelcoD);
        QFETCH(QByteArray, pelcoP);
        QFETCH(QByteArray, visca);
        const CameraFrames::Fields f{fields.at(0), fields.at(1), fields.at(2), fields.at(3)};
        const auto build = [&](Protocol p) { return CameraFrames::build(p, command, f).toHex(); };
        QCOMPARE(build(Protocol::PelcoD), pelcoD);
        QCOMPARE(build(Protocol::PelcoP), pelcoP);
        QCOMPARE(build(Protocol::Visca), visca);
        // An index outside the protocol box's three items (the box is being
        // refilled) builds nothing but Home, which is VISCA whatever is chosen.
        QCOMPARE(build(Protocol(-1)), command == Command::Home ? visca : QByteArray());
    }

    void positionReply_data()
    {
        QTest::addColumn<QByteArray>("reply"); // in hexadecimal
        QTest::addColumn<QString>("digits");
        // tst_camera reads 2345 and abcd from camsim at address 2.
        QTest::newRow("2345") << QByteArray("905002030405ff") << "2345";
        QTest::newRow("more bytes behind") << QByteArray("905002030405ff9041ff") << "2345";
        QTest::newRow("syntax error") << QByteArray("906002ff") << QString();
        QTest::newRow("cut short") << QByteArray("9050020304") << QString();
        QTest::newRow("digit byte past 0f") << QByteArray("905012030405ff") << QString();
        QTest::newRow("not a reply header") << QByteArray("815002030405ff") << QString();
    }

    void positionReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, digits);
        QCOMPARE(PositionReply::digits(QByteArray::fromHex(reply)), digits);
    }

    void stepping_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("up");
        QTest::addColumn<QString>("down");
        const auto row = [](int length, const char *number, const char *up, const char *down) {
            QTest::newRow(number) << length << QString::fromLatin1(number)
                                  << QString::fromLatin1(up) << QString::fromLatin1(down);
        };
        row(12, "Q217MXTA0001", "Q217MXTA0002", "Q217MXTA0000");
        row(12, "Q217MXTA9999", "Q217MXTA0000", "Q217MXTA9998");
        row(12, "Q217MXTA0000", "Q217MXTA0001", "Q217MXTA9999");
        row(12, "Q217MXTA1000", "Q217MXTA1001", "Q217MXTA0999");
        // The prefix never takes part, digits or not.
        row(12, "000000009999", "000000000000", "000000009998");
        // Only the last three count in a 15-character number.
        row(15, "Q217MXTA0000999", "Q217MXTA0000000", "Q217MXTA0000998");
        row(15, "Q217MXTA9999000", "Q217MXTA9999001", "Q217MXTA9999999");
        // A counter that is no number counts as 0; the length never changes.
        row(12, "Q217MXTA00x9", "Q217MXTA00x1", "Q217MXTA9999");
        row(12, "Q217MXTA-001", "Q217MXTA-001", "Q217MXTA9999");
    }

    void stepping()
    {
        QFETCH(int, length);
        QFETCH(QString, number);
        QFETCH(QString, up);
        QFETCH(QString, down);
        QCOMPARE(SerialNumber::stepUp(number, length), up);
        QCOMPARE(SerialNumber::stepDown(number, length), down);
    }

    void writes_data()
    {
        QTest::addColumn<bool>("logo");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length");
        QTest::addColumn<QStringList>("frames");
        // Twelve characters and the logo of VN620 go on the line in
        // tst_servicewindow.
        QTest::newRow("serial number of 15: the last pair is s[14] and 00")
            << false << "ABCDEFGHIJKLMNO" << 15
            << QStringList{"81010661c0934142ff", "81010661c1934344ff", "81010661c2934546ff",
                           "81010661c3934748ff", "81010661c493494aff", "81010661c5934b4cff",
                           "81010661c6934d4eff", "81010661c7934f00ff"};
        QTest::newRow("logo of 15, RM410")
            << true << "PTZ-OPTICS-2026" << 15
            << QStringList{"81010661d0875054ff", "81010661d1875a2dff", "81010661d2874f50ff",
                           "81010661d3875449ff", "81010661d4874353ff", "81010661d5872d32ff",
                           "81010661d6873032ff", "81010661d7873600ff"};
        // Latin-1 characters are their own code; anything above is 00.
        QTest::newRow("characters above U+00FF")
            << true << QStringLiteral("\u00e9\u4e2d\u00ff\u20ac") << 7
            << QStringList{"81010661d087e900ff", "81010661d187ff00ff", "81010661d2870000ff",
                           "81010661d3870000ff"};
    }

    void writes()
    {
        QFETCH(bool, logo);
        QFETCH(QString, text);
        QFETCH(int, length);
        QFETCH(QStringList, frames);
        const QByteArray bytes = ServiceFrames::textBytes(text);
        // Address 1: header 0x81.
        const QList<QByteArray> built = logo ? ServiceFrames::logoWrite(0x81, bytes, length)
                                             : ServiceFrames::serialNumberWrite(0x81, bytes, length);
        QStringList hex;
        for (const QByteArray &frame : built)
            hex.append(QString::fromLatin1(frame.toHex()));
        QCOMPARE(hex, frames);
    }

    void inquiries()
    {
        QCOMPARE(ServiceFrames::serialNumberRead(0x81).toHex(), QByteArray("81096c3eff"));
        QCOMPARE(ServiceFrames::communicationTest(0x82).toHex(), QByteArray("82090002ff"));
        QCOMPARE(ServiceFrames::versionRead(0x80).toHex(), QByteArray("8001064555ff"));
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("reply"); // in hexadecimal
        QTest::addColumn<bool>("commPassed");
        QTest::addColumn<QString>("versionBits");
        // A camera's communication-test answer: 2 at digit 6, 5 at 9, f at 18
        // of its hexadecimal text.
        QTest::newRow("comm answer") << QByteArray("905000200511010002ff") << true << "00000100";
        QTest::newRow("comm answer, digit 6 wrong")
            << QByteArray("905000300511010002ff") << false << "00001100";
        QTest::newRow("comm answer, digit 9 wrong")
            << QByteArray("905000200411010002ff") << false << "00000100";
        QTest::newRow("comm answer cut before digit 18")
            << QByteArray("905000200511010002") << false << "00000100";
        QTest::newRow("comm answer, digit 18 wrong")
            << QByteArray("905000200511010002ef") << false << "00000100";
        QTest::newRow("nothing") << QByteArray() << false << "";
    }

    void answers()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, commPassed);
        QFETCH(QString, versionBits);
        QCOMPARE(ServiceFrames::communicationTestPassed(QByteArray::fromHex(reply)), commPassed);
        QCOMPARE(ServiceFrames::versionBits(QByteArray::fromHex(reply)), versionBits);
    }
};

QTEST_APPLESS_MAIN(FramingTest)
#include "tst_framing.moc"
