// The camera simulator tested from outside, as the window and a developer
// meet it: started as a program, talked to through the slave of its
// pseudo-terminal with a real QSerialPort, and judged by the bytes it sends
// back and the JSON record it prints. Nothing here shares code with it.

#include "camsimprocess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <set>

namespace {

constexpr qint64 kNsPerMs = 1000000;

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
QString hexText(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex()); }

const QByteArray kZoomInquiry = hex("81090447ff");
const QByteArray kReadSerialNumber = hex("81096c3eff");
const QByteArray kAck = hex("9041ff");        // camera address 1
const QByteArray kCompletion = hex("9051ff");

// The camera most tests share, and what it answers with.
constexpr int kCompletionDelayMs = 60;
const char *const kSerialNumber = "Q217MXTA0001";
const QStringList kSharedArguments = {"--completion-delay", QString::number(kCompletionDelayMs),
                                      "--zoom", "0x2345", "--focus", "0xabcd",
                                      "--version", "0xa5", "--sn", kSerialNumber};
const QByteArray kZoomReply = hex("9050 02030405 ff");
const QByteArray kSerialNumberReply = hex("9050") + QByteArray(kSerialNumber) + hex("ff");

// The window's serial-number (C0 + k, tag 93) or logo (D0 + k, tag 87) frames,
// two characters each, written back to back as the window writes them.
QByteArray serviceFrames(const QString &key, const QByteArray &text, int frames)
{
    const bool sn = key == QLatin1String("sn");
    const QByteArray data = text.leftJustified(2 * frames, '\0');
    QByteArray stream;
    for (int k = 0; k < frames; ++k) {
        stream += hex("81010661") + char((sn ? 0xC0 : 0xD0) + k) + char(sn ? 0x93 : 0x87);
        stream += data.mid(2 * k, 2) + char(0xFF);
    }
    return stream;
}

using Bench = CamsimBench;

// The link is gone, not left dangling nor replaced by something else.
bool linkGone(const QString &link)
{
    return !QFileInfo(link).isSymLink() && !QFileInfo::exists(link);
}

} // namespace

class CamsimTest : public QObject
{
    Q_OBJECT

    Bench shared;
    int mark = 0; // the shared camera's first record line of the current test

private slots:
    void initTestCase() { QVERIFY(shared.start(kSharedArguments)); }

    void init() { mark = shared.camera.lines.size(); }

    void firstLineIsTheSlave()
    {
        const QString path = shared.camera.slavePath;
        QVERIFY2(path.startsWith(QLatin1String("/dev/pts/")) && QFileInfo::exists(path),
                 qPrintable(path));
        // The record then starts with the line settings the camera assumes.
        QVERIFY(matches(shared.camera.lines.value(0),
                        {{"event", "line"}, {"baud", 9600}, {"bits_per_byte", 10}}));
    }

    void commandAckThenCompletion_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("replies"); // ACK, then completion
        QTest::newRow("pan left, address 1") << hex("8101060118180103ff") << hex("9041ff 9051ff");
        QTest::newRow("focus far, address 2") << hex("8201040802ff") << hex("a041ff a051ff");
        QTest::newRow("unknown 8x 01 command, address 7")
            << hex("87017e7eff") << hex("f041ff f051ff");
    }

    void commandAckThenCompletion()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, replies);

        const QByteArray ack = replies.left(3);
        QCOMPARE(shared.ask(frame, replies.size()).toHex(), replies.toHex());
        // The ACK on its own, the completion after the delay.
        const QList<Bench::Burst> &bursts = shared.bursts;
        QCOMPARE(bursts.constFirst().bytes.toHex(), ack.toHex());
        const qint64 gapMs = (bursts.constLast().atNs - bursts.constFirst().atNs) / kNsPerMs;
        QVERIFY2(gapMs >= kCompletionDelayMs - 10, qPrintable(QString::number(gapMs)));
        // The frame is on record before its ACK.
        const int rx = shared.camera.waitFor({{"dir", "rx"}, {"hex", hexText(frame)}}, mark);
        QVERIFY(rx >= 0);
        QVERIFY(shared.camera.waitFor({{"dir", "tx"}, {"hex", hexText(ack)}}, mark) > rx);
    }

    void inquiryReplies_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("zoom position") << kZoomInquiry << kZoomReply;
        QTest::newRow("zoom position, address 3") << hex("83090447ff") << hex("b050 02030405 ff");
        QTest::newRow("focus position") << hex("81090448ff") << hex("9050 0a0b0c0d ff");
        // Vendor 0020, model 0511, ROM 0100, 2 sockets.
        QTest::newRow("communication test") << hex("81090002ff")
                                            << hex("9050 0020 0511 0100 02 ff");
        QTest::newRow("software version") << hex("8101064555ff") << hex("9050 00 a5 ff");
        QTest::newRow("serial number") << kReadSerialNumber << kSerialNumberReply;
        QTest::newRow("unknown inquiry: syntax error") << hex("81097e7eff") << hex("906002ff");
    }

    void inquiryReplies()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, reply);
        QCOMPARE(shared.ask(frame, reply.size()).toHex(), reply.toHex());
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

    void framesWithoutReply_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("checksum");
        QTest::newRow("Pelco-D pan left") << hex("ff0100043f0044") << "pelco-d" << "ok";
        QTest::newRow("Pelco-D bad sum") << hex("ff0100043f0045") << "pelco-d" << "bad";
        // C8 + 0A + 3F + 3F = 0x150: only the low byte is sent.
        QTest::newRow("Pelco-D sum past 255") << hex("ffc8000a3f3f50") << "pelco-d" << "ok";
        QTest::newRow("Pelco-D byte 0x80") << hex("ff010080000081") << "pelco-d" << "ok";
        // Five bytes of FF sum to 0x4FB.
        QTest::newRow("Pelco-D all 0xFF") << hex("fffffffffffffb") << "pelco-d" << "ok";
        QTest::newRow("Pelco-P pan left") << hex("a00000043f00af34") << "pelco-p" << "ok";
        QTest::newRow("Pelco-P bad check byte") << hex("a00000043f00af35") << "pelco-p" << "bad";
        // A0 ^ FF ^ 04 ^ 3F ^ AF = CB.
        QTest::newRow("Pelco-P address byte 0xFF") << hex("a0ff00043f00afcb") << "pelco-p" << "ok";
        QTest::newRow("exit IAP") << hex("8902076357ff") << "visca" << "none";
    }

    void framesWithoutReply()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, protocol);
        QFETCH(QString, checksum);

        // The zoom inquiry sent right behind the frame gets the first reply.
        QCOMPARE(shared.ask(frame + kZoomInquiry, kZoomReply.size()).toHex(), kZoomReply.toHex());
        QVERIFY(shared.camera.waitFor(
                    {{"hex", hexText(frame)}, {"protocol", protocol}, {"checksum", checksum}}, mark)
                >= 0);
    }

    void resynchronisesAfterGarbage_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("garbage");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("noise, then an inquiry")
            << hex("1234 81090447ff") << "1234" << "81090447ff" << "visca" << kZoomReply;
        QTest::newRow("stray 0xFF before a VISCA command") << hex("ff 8101040727ff") << "ff"
            << "8101040727ff" << "visca" << hex("9041ff 9051ff");
        QTest::newRow("cut VISCA frame, then a whole one") << hex("810106 81090448ff") << "810106"
            << "81090448ff" << "visca" << hex("9050 0a0b0c0d ff");
        QTest::newRow("false Pelco-D start, then Pelco-D") << hex("ff0102 ff0100043f0044")
            << "ff0102" << "ff0100043f0044" << "pelco-d" << QByteArray();
        QTest::newRow("noise, then Pelco-P") << hex("55 a00000043f00af34") << "55"
            << "a00000043f00af34" << "pelco-p" << QByteArray();
        QTest::newRow("unfinished frame given up after silence")
            << hex("810102") << "810102" << QString() << QString() << QByteArray();
    }

    void resynchronisesAfterGarbage()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, garbage);
        QFETCH(QString, frame);
        QFETCH(QString, protocol);
        QFETCH(QByteArray, reply);

        Camsim &camera = shared.camera;
        QCOMPARE(shared.ask(input, reply.size()).toHex(), reply.toHex());
        const int at = camera.waitFor({{"protocol", "unknown"}, {"hex", garbage}}, mark);
        QVERIFY(at >= 0);
        if (!frame.isEmpty())
            QVERIFY(camera.waitFor({{"protocol", protocol}, {"hex", frame}}, at) > at);
        // Every byte is on record exactly once: in the garbage or in the frame.
        int logged = 0;
        for (int i = mark; i < camera.lines.size(); ++i) {
            if (camera.lines.at(i).value("dir") == QJsonValue("rx"))
                logged += camera.lines.at(i).value("hex").toString().size() / 2;
        }
        QCOMPARE(logged, input.size());
    }

    void udpDatagrams_data()
    {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QByteArray>("reply"); // to the sender; empty: none
        QTest::addColumn<QJsonObject>("record");
        QTest::newRow("zoom inquiry") << QByteArrayList{kZoomInquiry} << kZoomReply
                                      << QJsonObject{{"command", "inquiry-zoom-position"}};
        QTest::newRow("Pelco-D pan left") << QByteArrayList{hex("ff0100043f0044")}
                                          << QByteArray()
                                          << QJsonObject{{"protocol", "pelco-d"},
                                                         {"command", "pan-left"}};
        QTest::newRow("empty datagram") << QByteArrayList{QByteArray()} << QByteArray()
                                        << QJsonObject{{"protocol", "unknown"}, {"hex", ""}};
        // Each datagram is a whole message: an inquiry split over two is two
        // pieces of garbage, not an inquiry.
        QTest::newRow("frame split over two datagrams")
            << QByteArrayList{hex("8109"), hex("0447ff")} << QByteArray()
            << QJsonObject{{"protocol", "unknown"}, {"hex", "8109"}};
    }

    void udpDatagrams()
    {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QByteArray, reply);
        QFETCH(QJsonObject, record);

        Bench bench;
        QVERIFY(bench.start({"--udp-port", "0", "--zoom", "0x2345"}));
        // The first record names the port the system chose.
        QCOMPARE(bench.camera.waitFor({{"event", "udp-listening"}}), 0);
        const quint16 port = quint16(bench.camera.lines.constFirst().value("port").toInt());
        QVERIFY(port > 0);

        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress::LocalHost, 0));
        for (const QByteArray &datagram : qAsConst(datagrams)) {
            QCOMPARE(socket.writeDatagram(datagram, QHostAddress::LocalHost, port),
                     qint64(datagram.size()));
        }
        record.insert("dir", "rx");
        record.insert("via", "udp");
        QVERIFY(bench.camera.waitFor(record) >= 0);
        QByteArray answer;
        if (socket.waitForReadyRead(reply.isEmpty() ? 200 : kReplyTimeoutMs))
            answer = socket.receiveDatagram().data();
        QCOMPARE(answer.toHex(), reply.toHex());

        // The serial line answers all the while, from the same camera.
        QCOMPARE(bench.ask(kZoomInquiry, kZoomReply.size()).toHex(), kZoomReply.toHex());
    }

    void linkAndLogUntilSigterm()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("camera"));
        const QString logPath = dir.filePath(QStringLiteral("camsim.jsonl"));
        // A link left behind by a run that was killed is replaced.
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts"), link));

        Bench bench;
        QVERIFY(bench.start({"--link", link, "--log", logPath, "--zoom", "0x2345"}, link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), bench.camera.slavePath);
        QCOMPARE(bench.ask(kZoomInquiry, kZoomReply.size()).toHex(), kZoomReply.toHex());
        QVERIFY(bench.camera.signal(SIGTERM));
        QVERIFY(bench.camera.waitForExit());
        QCOMPARE(bench.camera.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bench.camera.process.exitCode(), 0);
        QVERIFY(linkGone(link));

        // The log file repeats the record on stdout.
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QJsonObject> logged;
        while (!file.atEnd())
            logged.append(QJsonDocument::fromJson(file.readLine()).object());
        QCOMPARE(logged, bench.camera.lines);
    }

    void wireTime_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("9600 8N1") << 9600;
        QTest::newRow("57600 8N1, set after start") << 57600;
    }

    void wireTime()
    {
        QFETCH(int, baud);
        Bench bench;
        QVERIFY(bench.start({"--wire-time", "--sn", kSerialNumber}));
        QVERIFY(bench.port.setBaudRate(baud));

        // Round trips of a 5-byte request and its 15-byte reply, one after
        // another, 10 bits a byte: none is quicker than its bits on the wire.
        constexpr int kRounds = 3;
        const auto wireMs = [](int rate) {
            return kRounds * (kReadSerialNumber.size() + kSerialNumberReply.size()) * 10 * 1000.0
                   / rate;
        };
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < kRounds; ++round) {
            QCOMPARE(bench.ask(kReadSerialNumber, kSerialNumberReply.size()).toHex(),
                     kSerialNumberReply.toHex());
        }
        const double elapsedMs = double(timer.nsecsElapsed()) / kNsPerMs;
        qInfo("%.1f ms, wire time %.1f ms", elapsedMs, wireMs(baud));
        QVERIFY(elapsedMs >= wireMs(baud));
        // The rate the window set is noticed, and it is the one in force.
        QVERIFY(bench.camera.find({{"event", "line"}, {"baud", baud}, {"bits_per_byte", 10}}) >= 0);
        QVERIFY(baud == 9600 || elapsedMs < wireMs(9600));
    }

    void silent()
    {
        Bench bench;
        QVERIFY(bench.start({"--silent", "--completion-delay", "10"}));
        // Long enough for an ACK, a completion and two answers to have come.
        const QByteArray asked = hex("8101060118180103ff") + kZoomInquiry + kReadSerialNumber;
        QCOMPARE(bench.ask(asked, 1, 150).toHex(), QByteArray());
        QVERIFY(bench.camera.waitFor({{"command", "read-sn"}}) >= 0); // still heard
        QCOMPARE(bench.camera.count({{"dir", "tx"}}, 0, bench.camera.lines.size()), 0);
    }

    void garbageEvery()
    {
        // Enough bytes that noise without the filter would show both values.
        constexpr int kBytes = 300;
        constexpr int kEveryMs = 2;
        Bench bench;
        QVERIFY(bench.start({"--garbage-every", QString::number(kEveryMs)}));
        QVERIFY(bench.waitForBytes(kBytes, 4 * kBytes * kEveryMs));

        // Never the bootloader's ACK, a terminator or a Pelco-D sync; and not
        // one value over and over.
        const QByteArray noise = bench.received.left(kBytes);
        QVERIFY(!noise.contains(char(0x79)));
        QVERIFY(!noise.contains(char(0xFF)));
        QVERIFY(std::set<char>(noise.cbegin(), noise.cend()).size() > 50);

        // One byte per interval, by the times on record.
        QSignalSpy output(&bench.camera.process, &QProcess::readyReadStandardOutput);
        while (bench.camera.count({{"event", "garbage"}}, 0, bench.camera.lines.size()) < kBytes
               && output.wait(kReplyTimeoutMs)) {
        }
        QList<double> times;
        for (const QJsonObject &line : qAsConst(bench.camera.lines)) {
            if (line.value("event") == QJsonValue("garbage"))
                times.append(line.value("t_ms").toDouble());
        }
        QVERIFY(times.size() >= kBytes);
        const double spanMs = times.at(kBytes - 1) - times.at(0);
        QVERIFY2(spanMs >= 0.9 * kEveryMs * (kBytes - 1) && spanMs <= 2.0 * kEveryMs * (kBytes - 1),
                 qPrintable(QString::number(spanMs)));
    }

    void closeAfter()
    {
        constexpr int kCloseAfterMs = 150;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("camera"));

        Bench bench;
        const QString closeAfter = QString::number(kCloseAfterMs);
        QVERIFY(bench.start({"--link", link, "--close-after", closeAfter}, link));
        QVERIFY(bench.camera.waitForExit());
        QCOMPARE(bench.camera.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(bench.camera.process.exitCode(), 0);
        // "closed" is the last word, and it does not come early.
        QVERIFY(!bench.camera.lines.isEmpty());
        QVERIFY(matches(bench.camera.lines.constLast(), {{"event", "closed"}}));
        QVERIFY(bench.camera.lines.constLast().value("t_ms").toDouble() >= kCloseAfterMs);
        QVERIFY(linkGone(link));
    }
};

QTEST_GUILESS_MAIN(CamsimTest)
#include "tst_camsim.moc"
