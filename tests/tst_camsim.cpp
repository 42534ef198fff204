// The camera simulator tested from outside, as the window and a developer
// meet it: started as a program, talked to through the slave of its
// pseudo-terminal with a real QSerialPort, and judged by the bytes it sends
// back and the JSON record it prints. Nothing here shares code with it.

#include "camsimprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <climits>
#include <csignal>
#include <set>

namespace {

constexpr qint64 kNsPerMs = 1000000;

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kZoomInquiry = hex("81090447ff");
const QByteArray kReadSerialNumber = hex("81096c3eff");
const QByteArray kAck = hex("9041ff"); // camera address 1
const QByteArray kCompletion = hex("9051ff");

// The camera most tests share, on the line and on a UDP port, and what it
// answers with.
constexpr int kCompletionDelayMs = 60;
const char *const kSerialNumber = "Q217MXTA0001";
const QStringList kSharedArguments = {"--completion-delay", QString::number(kCompletionDelayMs),
                                      "--zoom", "0x2345", "--focus", "0xabcd", "--version", "0xa5",
                                      "--sn", kSerialNumber, "--udp-port", "0"};
const QByteArray kZoomReply = hex("9050 02030405 ff");
const QByteArray kSerialNumberReply = hex("9050") + QByteArray(kSerialNumber) + hex("ff");

// The window's serial-number (C0 + k, tag 93) or logo (D0 + k, tag 87) frames,
// two characters each, written back to back as the window writes them.
QByteArray serviceFrames(const QString &key, const QByteArray &text, int frames)
{
    const bool sn = key == QLatin1String("sn");
    QByteArray stream;
    for (int k = 0; k < frames; ++k)
        stream += hex("81010661") + char((sn ? 0xC0 : 0xD0) + k) + char(sn ? 0x93 : 0x87)
                  + text.leftJustified(2 * frames, '\0').mid(2 * k, 2) + char(0xFF);
    return stream;
}

// What the camera recorded as received on its line since record line `from`,
// as one hexadecimal text.
QString receivedOnRecord(const Camsim &camera, int from)
{
    QString hex;
    for (const QJsonObject &line : camera.lines.mid(from))
        hex += line.value("dir") == QJsonValue("rx") ? line.value("hex").toString() : QString();
    return hex;
}

using Bench = CamsimBench;

} // namespace

class CamsimTest : public QObject
{
    Q_OBJECT

    Bench shared;
    int mark = 0; // the shared camera's first record line of the current test

private slots:
    void initTestCase() { QVERIFY(shared.start(kSharedArguments)); }

    void init() { mark = shared.camera.lines.size(); }

    void answers_data()
    {
        // Bytes on the line and the exact reply. Bytes the camera records as
        // unknown (the garbage) may come first; the frame is recorded as
        // "protocol checksum", and is the rest of the bytes unless its own
        // hexadecimal text follows.
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("garbage");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("reply");
        const auto row = [](const char *name, const char *input, const char *garbage,
                            const char *frame, const QByteArray &reply) {
            QTest::newRow(name) << hex(input) << garbage << frame << reply;
        };
        const auto visca = [&row](const char *name, const char *frame, const char *reply) {
            row(name, frame, "", "visca none", hex(reply));
        };
        visca("pan left, address 1", "8101060118180103ff", "9041ff 9051ff");
        visca("focus far, address 2", "8201040802ff", "a041ff a051ff");
        visca("unknown 8x 01 command, address 7", "87017e7eff", "f041ff f051ff");
        visca("zoom position", "81090447ff", "9050 02030405 ff");
        visca("zoom position, address 3", "83090447ff", "b050 02030405 ff");
        visca("focus position", "81090448ff", "9050 0a0b0c0d ff");
        // Vendor 0020, model 0511, ROM 0100, 2 sockets.
        visca("communication test", "81090002ff", "9050 0020 0511 0100 02 ff");
        visca("software version", "8101064555ff", "9050 00 a5 ff");
        row("serial number", "81096c3eff", "", "visca none", kSerialNumberReply);
        visca("unknown inquiry: syntax error", "81097e7eff", "906002ff");

        row("noise, then an inquiry", "1234 81090447ff", "1234", "visca none", kZoomReply);
        row("stray 0xFF before a VISCA command", "ff 8101040727ff", "ff", "visca none",
            hex("9041ff 9051ff"));
        row("cut VISCA frame, then a whole one", "810106 81090448ff", "810106", "visca none",
            hex("9050 0a0b0c0d ff"));
        row("false Pelco-D start, then Pelco-D", "ff0102 ff0100043f0044", "ff0102", "pelco-d ok",
            {});
        row("noise, then Pelco-P", "55 a00000043f00af34", "55", "pelco-p ok", {});
        row("unfinished frame given up after silence", "810102", "810102", "", {});
        // Frames with no answer: the zoom inquiry right behind gets the first
        // reply. The window's own frames pass as "ok" in tst_camera; these
        // are sums it never sends.
        row("Pelco-D bad sum", "ff0100043f0045 81090447ff", "", "pelco-d bad ff0100043f0045",
            kZoomReply);
        // C8 + 0A + 3F + 3F = 0x150: only the low byte is sent.
        row("Pelco-D sum past 255", "ffc8000a3f3f50 81090447ff", "", "pelco-d ok ffc8000a3f3f50",
            kZoomReply);
        row("Pelco-P bad check byte", "a00000043f00af35 81090447ff", "",
            "pelco-p bad a00000043f00af35", kZoomReply);
        row("exit IAP", "8902076357ff 81090447ff", "", "visca none 8902076357ff", kZoomReply);
    }

    void answers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, garbage);
        QFETCH(QString, frame);
        QFETCH(QByteArray, reply);
        Camsim &camera = shared.camera;
        QCOMPARE(shared.ask(input, reply.size()).toHex(), reply.toHex());
        // An ACK (y0 4z FF) comes on its own, the completion after the delay.
        const QList<Bench::Burst> &bursts = shared.bursts;
        if (reply.size() > 1 && (reply.at(1) & 0xF0) == 0x40) {
            QCOMPARE(bursts.constFirst().bytes.toHex(), reply.left(3).toHex());
            const qint64 gapMs = (bursts.constLast().atNs - bursts.constFirst().atNs) / kNsPerMs;
            QVERIFY2(gapMs >= kCompletionDelayMs - 10, qPrintable(QString::number(gapMs)));
        }
        // Every byte is on record once, in order: the garbage as unknown
        // bytes, the frame as its protocol with its checksum judged, and
        // before the first answer.
        const QString inputHex = QString::fromLatin1(input.toHex());
        QTRY_COMPARE(receivedOnRecord(camera, mark), inputHex);
        QVERIFY(garbage.isEmpty()
                || camera.find({{"protocol", "unknown"}, {"hex", garbage}}, mark) >= 0);
        if (frame.isEmpty())
            return;
        const QStringList f = frame.split(' ');
        const int at = camera.find({{"protocol", f[0]}, {"checksum", f[1]},
                                    {"hex", f.value(2, inputHex.mid(garbage.size()))}}, mark);
        QVERIFY(at >= 0);
        QVERIFY(reply.isEmpty() || camera.waitFor({{"dir", "tx"}}, mark) > at);
    }

    void serviceWrites_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("frames");
        // In this order: each write must replace all of the one before.
        QTest::newRow("serial number, 15 characters") << "sn" << "ABCDEFGHIJKLMNO" << 8;
        QTest::newRow("serial number, 12 after 15") << "sn" << "Q217MXTA0042" << 6;
        QTest::newRow("serial number, byte above 0x7F")
            << "sn" << QString::fromUtf8("Q217MXTA00\u00e91") << 6;
        QTest::newRow("logo, 15 characters") << "logo" << "QUILLON CAMERA1" << 8;
        QTest::newRow("logo, short after long") << "logo" << "AB" << 4;
    }

    void serviceWrites()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(int, frames);
        const QByteArray replies = shared.ask(serviceFrames(key, text.toLatin1(), frames),
                                              frames * (kAck.size() + kCompletion.size()));
        QCOMPARE(replies.count(kAck), frames);
        QCOMPARE(replies.count(kCompletion), frames);
        // The last frame's record carries the whole text.
        QVERIFY(shared.camera.waitFor({{"index", frames - 1}, {key, text}}, mark) >= 0);
        if (key != QLatin1String("sn"))
            return;
        // Read back after the window closed and reopened its port.
        shared.port.close();
        QVERIFY(shared.port.open(QIODevice::ReadWrite));
        const QByteArray reply = hex("9050") + text.toLatin1() + hex("ff");
        QCOMPARE(shared.ask(kReadSerialNumber, reply.size()).toHex(), reply.toHex());
    }

    void udpDatagrams()
    {
        // Each datagram is a whole message, and answers go back to its
        // sender: an inquiry split over two is two pieces of garbage.
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
        // The first record names the port the system chose.
        const quint16 port = quint16(shared.camera.lines.value(0)["port"].toInt());
        for (const QByteArray &datagram : {hex("8109"), hex("0447ff"), QByteArray(),
                                           hex("ff0100043f0044"), kZoomInquiry})
            socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
        int at = mark;
        for (QJsonObject record : {QJsonObject{{"protocol", "unknown"}, {"hex", "8109"}},
                                   QJsonObject{{"protocol", "unknown"}, {"hex", "0447"}},
                                   QJsonObject{{"protocol", "unknown"}, {"hex", ""}},
                                   QJsonObject{{"protocol", "pelco-d"}, {"command", "pan-left"}},
                                   QJsonObject{{"command", "inquiry-zoom-position"}}}) {
            record.insert("via", "udp");
            at = shared.camera.waitFor(record, at);
            QVERIFY2(at >= 0, qPrintable(QJsonDocument(record).toJson(QJsonDocument::Compact)));
        }
        QVERIFY(socket.waitForReadyRead(kReplyTimeoutMs));
        QCOMPARE(socket.receiveDatagram().data().toHex(), kZoomReply.toHex());
        QVERIFY(!socket.waitForReadyRead(200)); // and nothing else
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
        Bench bench;
        QVERIFY(bench.start(QStringList{"--link", link, "--log", logPath} + options, link));
        if (options.isEmpty())
            QVERIFY(bench.camera.signal(SIGTERM));
        QVERIFY(bench.camera.waitForExit());
        QCOMPARE(bench.camera.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bench.camera.process.exitCode(), 0);
        // The link is gone, not left dangling nor replaced by something else.
        QVERIFY(!QFileInfo(link).isSymLink() && !QFileInfo::exists(link));
        // After --close-after, "closed" is the last word, and not an early one.
        const QJsonObject last = bench.camera.lines.value(bench.camera.lines.size() - 1);
        QVERIFY(options.isEmpty()
                || (matches(last, {{"event", "closed"}}) && last["t_ms"].toDouble() >= 150));
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
        // Round trips of a 5-byte request and its 15-byte reply, 10 bits a
        // byte: none quicker than its bits on the wire, at the rate in force
        // (57600 set after the start, and noticed).
        constexpr int kRounds = 3;
        const int bits = kRounds * (kReadSerialNumber.size() + kSerialNumberReply.size()) * 10;
        Bench bench;
        QVERIFY(bench.start({"--wire-time", "--sn", kSerialNumber}));
        for (const int baud : {9600, 57600}) {
            QVERIFY(bench.port.setBaudRate(baud));
            QElapsedTimer timer;
            timer.start();
            for (int round = 0; round < kRounds; ++round)
                QCOMPARE(bench.ask(kReadSerialNumber, kSerialNumberReply.size()).toHex(),
                         kSerialNumberReply.toHex());
            const double elapsedMs = double(timer.nsecsElapsed()) / kNsPerMs;
            qInfo("%d baud: %.1f ms, wire time %.1f ms", baud, elapsedMs, bits * 1000.0 / baud);
            QVERIFY(elapsedMs >= bits * 1000.0 / baud);
            QVERIFY(baud == 9600 || elapsedMs < bits * 1000.0 / 9600);
            QVERIFY(bench.camera.find({{"event", "line"}, {"baud", baud}, {"bits_per_byte", 10}})
                    >= 0);
        }
    }

    void silent()
    {
        Bench bench;
        QVERIFY(bench.start({"--silent", "--completion-delay", "10"}));
        // Long enough for an ACK, a completion and two answers to have come.
        const QByteArray asked = hex("8101060118180103ff") + kZoomInquiry + kReadSerialNumber;
        QCOMPARE(bench.ask(asked, 1, 150).toHex(), QByteArray());
        QVERIFY(bench.camera.waitFor({{"command", "read-sn"}}) >= 0); // still heard
        QCOMPARE(bench.camera.count({{"dir", "tx"}}, 0, INT_MAX), 0);
    }

    void garbageEvery()
    {
        // Enough bytes that noise without the filter would show both values.
        constexpr int kBytes = 300;
        constexpr int kEveryMs = 2;
        QElapsedTimer clock;
        clock.start();
        Bench bench;
        QVERIFY(bench.start({"--garbage-every", QString::number(kEveryMs)}));
        // One byte per interval: neither faster nor much slower.
        QVERIFY(bench.waitForBytes(kBytes, 4 * kBytes * kEveryMs));
        QVERIFY2(clock.elapsed() >= 0.9 * kEveryMs * (kBytes - 1),
                 qPrintable(QString::number(clock.elapsed())));
        // Never the bootloader's ACK, a terminator or a Pelco-D sync; and not
        // one value over and over.
        const QByteArray noise = bench.received.left(kBytes);
        QVERIFY(!noise.contains(char(0x79)) && !noise.contains(char(0xFF)));
        QVERIFY(std::set<char>(noise.cbegin(), noise.cend()).size() > 50);
    }
};

QTEST_GUILESS_MAIN(CamsimTest)
#include "tst_camsim.moc"
