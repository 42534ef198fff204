// The camera simulator tested from outside, as the window meets it: a program
// talked to through its pseudo-terminal with a real QSerialPort, judged by its
// replies and the JSON record it prints. The window's tests drive every camera
// button and inquiry through it; here is what they cannot see: checksums
// judged, noise on the line, service writes, the fault options and the ends
// of a run.

#include "camsimprocess.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kZoomInquiry = hex("81090447ff");
const char *const kZoomReply = "9050 02030405 ff"; // to --zoom 0x2345

// The window's serial-number (C0 + k, tag 93) or logo (D0 + k, tag 87) frames,
// two characters each, written back to back as the window writes them.
QByteArray serviceFrames(bool sn, const QByteArray &text, int frames)
{
    QByteArray stream;
    for (int k = 0; k < frames; ++k)
        stream += hex("81010661") + char((sn ? 0xC0 : 0xD0) + k) + char(sn ? 0x93 : 0x87)
                  + text.leftJustified(2 * frames, '\0').mid(2 * k, 2) + char(0xFF);
    return stream;
}

} // namespace

class CamsimTest : public QObject
{
    Q_OBJECT

    CamsimBench shared; // the camera the tables share
    int mark = 0;       // its first record line of the current test

private slots:
    void initTestCase() { QVERIFY(shared.start({"--zoom", "0x2345", "--version", "0xa5"})); }

    void init() { mark = shared.camera.lines.size(); }

    void answers_data()
    {
        // Bytes on the line, the exact reply, and records the camera must
        // leave: "protocol hex [checksum verdict]", noise as protocol unknown.
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QByteArray>("reply");
        const auto row = [](const char *name, const char *input, const QStringList &records, const char *reply) {
            QTest::newRow(name) << hex(input) << records << hex(reply);
        };
        row("unknown 8x 01 command, address 7", "87017e7eff", {}, "f041ff f051ff");
        // Vendor 0020, model 0511, ROM 0100, 2 sockets.
        row("communication test", "81090002ff", {}, "9050 0020 0511 0100 02 ff");
        row("software version", "8101064555ff", {}, "9050 00 a5 ff");
        row("unknown inquiry: syntax error", "81097e7eff", {}, "906002ff");
        row("stray 0xFF before a VISCA command", "ff 8101040727ff", {"unknown ff"}, "9041ff 9051ff");
        row("cut VISCA frame, then a whole one", "810106 81090447ff", {"unknown 810106"}, kZoomReply);
        row("false Pelco-D start", "ff0102 ff0100043f0044", {"unknown ff0102", "pelco-d ff0100043f0044 ok"}, "");
        row("unfinished frame given up after silence", "810102", {"unknown 810102"}, "");
        // Frames with no answer: the zoom inquiry right behind gets the first
        // reply. The window's own frames pass as "ok" in tst_camera; these
        // are sums it never sends.
        row("Pelco-D bad sum", "ff0100043f0045 81090447ff", {"pelco-d ff0100043f0045 bad"}, kZoomReply);
        // C8 + 0A + 3F + 3F = 0x150: only the low byte is sent.
        row("Pelco-D sum past 255", "ffc8000a3f3f50 81090447ff", {"pelco-d ffc8000a3f3f50 ok"}, kZoomReply);
        row("Pelco-P bad check", "a00000043f00af35 81090447ff", {"pelco-p a00000043f00af35 bad"}, kZoomReply);
    }

    void answers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, records);
        QFETCH(QByteArray, reply);
        QCOMPARE(shared.ask(input, reply.size()).toHex(), reply.toHex());
        for (const QString &record : records) {
            const QStringList f = record.split(' ');
            QJsonObject fields{{"protocol", f[0]}, {"hex", f[1]}};
            if (f.size() > 2)
                fields.insert("checksum", f[2]);
            QVERIFY2(shared.camera.waitFor(fields, mark) >= 0, qPrintable(record));
        }
    }

    void serviceWrites_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("frames");
        // In this order: each write must replace all of the one before.
        QTest::newRow("serial number, 15 characters") << "sn" << "ABCDEFGHIJKLMNO" << 8;
        QTest::newRow("serial number, 12 after 15") << "sn" << "Q217MXTA0042" << 6;
        QTest::newRow("serial number, byte above 0x7F") << "sn" << QString::fromUtf8("Q217MXTA00\u00e91") << 6;
        QTest::newRow("logo, 15 characters") << "logo" << "QUILLON CAMERA1" << 8;
        QTest::newRow("logo, short after long") << "logo" << "AB" << 4;
    }

    void serviceWrites()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(int, frames);
        // Every frame is acknowledged and completed, and the last one's
        // record carries the whole text.
        const bool sn = key == QLatin1String("sn");
        const QByteArray replies = shared.ask(serviceFrames(sn, text.toLatin1(), frames), 6 * frames);
        QCOMPARE(replies.count(hex("9041ff")), frames);
        QCOMPARE(replies.count(hex("9051ff")), frames);
        QVERIFY(shared.camera.waitFor({{"index", frames - 1}, {key, text}}, mark) >= 0);
        if (!sn)
            return;
        // Read back after the window closed and reopened its port.
        shared.port.close();
        QVERIFY(shared.port.open(QIODevice::ReadWrite));
        const QByteArray reply = hex("9050") + text.toLatin1() + hex("ff");
        QCOMPARE(shared.ask(hex("81096c3eff"), reply.size()).toHex(), reply.toHex());
    }

    void endsCleanly_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("SIGTERM") << QStringList();
        QTest::newRow("--close-after 150") << QStringList{"--close-after", "150"};
    }

    void endsCleanly()
    {
        QFETCH(QStringList, options);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("camera"));
        const QString logPath = dir.filePath(QStringLiteral("camsim.jsonl"));
        // A link left behind by a run that was killed is replaced.
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts"), link));
        CamsimBench bench;
        QVERIFY(bench.start(QStringList{"--link", link, "--log", logPath} + options, link));
        QVERIFY(!options.isEmpty() || bench.camera.signal(SIGTERM));
        QVERIFY(bench.camera.waitForExit());
        QVERIFY(bench.camera.process.exitStatus() == QProcess::NormalExit && bench.camera.process.exitCode() == 0);
        // The link is gone, not left dangling nor replaced by something else.
        QVERIFY(!QFileInfo(link).isSymLink() && !QFileInfo::exists(link));
        // After --close-after, "closed" is the last word, and not an early one.
        const QJsonObject last = bench.camera.lines.value(bench.camera.lines.size() - 1);
        QVERIFY(options.isEmpty() || (matches(last, {{"event", "closed"}}) && last["t_ms"].toDouble() >= 150));
        // The log file repeats the record on stdout.
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QJsonObject> logged;
        while (!file.atEnd())
            logged.append(QJsonDocument::fromJson(file.readLine()).object());
        QCOMPARE(logged, bench.camera.lines);
    }

    void wireTime()
    {
        // Three round trips of a 5-byte inquiry and its 7-byte reply take no
        // less than their 360 bits on the wire at the rate set after the start
        // (and noticed): a quicker line would let a window with too short a
        // timeout pass.
        CamsimBench bench;
        QVERIFY(bench.start({"--wire-time"}) && bench.port.setBaudRate(57600));
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < 3; ++round)
            QCOMPARE(bench.ask(kZoomInquiry, 7).toHex(), QByteArray("905004000000ff"));
        QVERIFY2(timer.nsecsElapsed() >= 360 * 1000000000LL / 57600, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(bench.camera.find({{"event", "line"}, {"baud", 57600}, {"bits_per_byte", 10}}) >= 0);
    }

    void silentWithGarbage()
    {
        // Noise every 2 ms from a camera that answers nothing: a byte per
        // interval, not faster; never the bootloader's ACK, a terminator or a
        // Pelco-D sync (so no reply hides in it either); and not one value over
        // and over. Enough bytes that noise without the filter would show both.
        constexpr int kBytes = 300;
        constexpr int kEveryMs = 2;
        QElapsedTimer clock;
        clock.start();
        CamsimBench bench;
        QVERIFY(bench.start({"--silent", "--garbage-every", QString::number(kEveryMs)}));
        const QByteArray asked = hex("8101060118180103ff") + kZoomInquiry;
        const QByteArray noise = bench.ask(asked, kBytes, 4 * kBytes * kEveryMs).left(kBytes);
        QCOMPARE(noise.size(), kBytes);
        QVERIFY2(clock.elapsed() >= 0.9 * kEveryMs * (kBytes - 1), qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!noise.contains(char(0x79)) && !noise.contains(char(0xFF)));
        QVERIFY(QSet<char>(noise.cbegin(), noise.cend()).size() > 50);
        QVERIFY(bench.camera.waitFor({{"command", "inquiry-zoom-position"}}) >= 0); // still heard
        QCOMPARE(bench.camera.find({{"dir", "tx"}}), -1);
    }
};

QTEST_GUILESS_MAIN(CamsimTest)
#include "tst_camsim.moc"
