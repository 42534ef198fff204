// The factory service codecs without a window: stepping the serial number's
// counter, the service frames byte for byte, the readings of the
// communication-test and version answers. The free command line is
// tst_servicewindow's and fuzz_commandline's.

#include "service/serialnumber.h"
#include "service/serviceframes.h"

#include <QtTest>

class ServiceTest : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_APPLESS_MAIN(ServiceTest)
#include "tst_service.moc"
