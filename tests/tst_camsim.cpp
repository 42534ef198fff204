// The camera simulator tested from outside, as a device is: started as a
// program, talked to through the slave of its pseudo-terminal with a real
// QSerialPort, and judged by the bytes it sends back and the JSON record it
// prints. Nothing here shares code with the simulator.

#include "camsimprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <set>

#include <sys/types.h>

namespace {

constexpr qint64 kNsPerMs = 1000000;

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// Replies of the camera at address 1.
const QByteArray kAck = hex("9041ff");
const QByteArray kCompletion = hex("9051ff");

// The inquiries and service frames the window sends, camera address 1.
const QByteArray kZoomInquiry = hex("81090447ff");
const QByteArray kFocusInquiry = hex("81090448ff");
const QByteArray kCommTest = hex("81090002ff");
const QByteArray kReadVersion = hex("8101064555ff");
const QByteArray kReadSerialNumber = hex("81096c3eff");

// Camera state given to the shared simulator, and what it answers with.
const QStringList kSharedArguments = {
    QStringLiteral("--completion-delay"), QStringLiteral("60"),
    QStringLiteral("--zoom"),             QStringLiteral("0x2345"),
    QStringLiteral("--focus"),            QStringLiteral("0xabcd"),
    QStringLiteral("--version"),          QStringLiteral("0xa5"),
    QStringLiteral("--sn"),               QStringLiteral("Q217MXTA0001"),
};
constexpr int kSharedCompletionDelayMs = 60;
const QByteArray kZoomReply = hex("9050 02030405 ff");

// The window's serial-number and logo frames: two bytes per frame, frame k
// at C0 + k (serial number) or D0 + k (logo).
QList<QByteArray> serviceFrames(quint8 indexBase, quint8 tag, QByteArray data, int frames)
{
    data = data.leftJustified(2 * frames, '\0', true);
    QList<QByteArray> list;
    for (int k = 0; k < frames; ++k) {
        QByteArray frame = hex("81010661");
        frame.append(char(indexBase + k));
        frame.append(char(tag));
        frame.append(data.mid(2 * k, 2));
        frame.append(char(0xFF));
        list.append(frame);
    }
    return list;
}

// The window's end of the cable.
class Line
{
public:
    struct Burst
    {
        qint64 atNs;
        QByteArray bytes;
    };

    Line()
    {
        clock.start();
        QObject::connect(&port, &QSerialPort::readyRead, [this] {
            const QByteArray bytes = port.readAll();
            received.append(bytes);
            bursts.append({clock.nsecsElapsed(), bytes});
        });
    }

    bool open(const QString &path)
    {
        port.setPortName(path);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        return port.open(QIODevice::ReadWrite);
    }

    void send(const QByteArray &bytes) { port.write(bytes); }

    // Runs an event loop until `count` bytes are in; readyRead is handled the
    // moment bytes come, so the burst times are as exact as the clock.
    bool waitForBytes(int count, int timeoutMs = kReplyTimeoutMs)
    {
        if (received.size() >= count)
            return true;
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        const QMetaObject::Connection arrival =
            QObject::connect(&port, &QSerialPort::readyRead, &loop, [&] {
                if (received.size() >= count)
                    loop.quit();
            });
        deadline.start(timeoutMs);
        loop.exec();
        QObject::disconnect(arrival);
        return received.size() >= count;
    }

    void clear()
    {
        received.clear();
        bursts.clear();
    }

    QSerialPort port;
    QByteArray received;
    QList<Burst> bursts;
    QElapsedTimer clock;
};

} // namespace

class CamsimTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void firstLineIsTheSlave();
    void viscaCommandAckThenCompletion_data();
    void viscaCommandAckThenCompletion();
    void inquiryReplies_data();
    void inquiryReplies();
    void commTestAndVersionAsTheWindowReadsThem();
    void framesWithoutReply_data();
    void framesWithoutReply();
    void resynchronisesAfterGarbage_data();
    void resynchronisesAfterGarbage();
    void portClosedAndReopened();
    void recordIsJsonWithTimes();

    void serialNumberWriteThenRead_data();
    void serialNumberWriteThenRead();
    void logoWriteIsRecorded_data();
    void logoWriteIsRecorded();
    void linkFollowsSlaveUntilSignal_data();
    void linkFollowsSlaveUntilSignal();
    void linkNeverReplacesAFile();
    void logFileRepeatsStdout();
    void wireTime_data();
    void wireTime();
    void silent();
    void garbageEvery();
    void closeAfter();

private:
    // Sends a frame on the shared line and checks the camera answers the
    // zoom inquiry sent right behind it with nothing in front.
    void expectOnlyTheZoomReply(const QByteArray &frame);

    std::unique_ptr<Camsim> shared;
    std::unique_ptr<Line> sharedLine;
    int mark = 0;
};

void CamsimTest::initTestCase()
{
    shared = std::make_unique<Camsim>();
    QVERIFY(shared->start(kSharedArguments));
    sharedLine = std::make_unique<Line>();
    QVERIFY2(sharedLine->open(shared->slavePath), qPrintable(sharedLine->port.errorString()));
}

void CamsimTest::init()
{
    sharedLine->clear();
    mark = shared->lines.size();
}

void CamsimTest::firstLineIsTheSlave()
{
    QVERIFY(shared->slavePath.startsWith(QLatin1String("/dev/pts/")));
    QVERIFY(QFileInfo::exists(shared->slavePath));
    QVERIFY(!shared->lines.isEmpty());
    QVERIFY(matches(shared->lines.first(), QJsonObject{{"event", "line"},
                                                      {"baud", 9600},
                                                      {"bits_per_byte", 10}}));
}

void CamsimTest::viscaCommandAckThenCompletion_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("ack");
    QTest::addColumn<QByteArray>("completion");

    QTest::newRow("pan left") << hex("8101060118180103ff") << "pan-left" << 1 << kAck
                              << kCompletion;
    QTest::newRow("pan/tilt stop") << hex("8101060101010303ff") << "pan-tilt-stop" << 1 << kAck
                                   << kCompletion;
    QTest::newRow("down-right") << hex("8101060118180202ff") << "down-right" << 1 << kAck
                                << kCompletion;
    QTest::newRow("zoom tele speed 7") << hex("8101040727ff") << "zoom-tele" << 1 << kAck
                                       << kCompletion;
    QTest::newRow("zoom stop") << hex("8101040700ff") << "zoom-stop" << 1 << kAck << kCompletion;
    QTest::newRow("preset 300 call") << hex("8101043f022cff") << "preset-call" << 1 << kAck
                                     << kCompletion;
    QTest::newRow("home") << hex("81010604ff") << "home" << 1 << kAck << kCompletion;
    QTest::newRow("power off") << hex("8101040003ff") << "power-off" << 1 << kAck << kCompletion;
    QTest::newRow("picture flip") << hex("8101064357ff") << "picture-flip" << 1 << kAck
                                  << kCompletion;
    QTest::newRow("limit clear, 15 bytes") << hex("810106070101070f0f0f070f0f0fff")
                                           << "limit-clear" << 1 << kAck << kCompletion;
    QTest::newRow("address 2") << hex("8201040802ff") << "focus-far" << 2 << hex("a041ff")
                               << hex("a051ff");
    QTest::newRow("address 7") << hex("8701043802ff") << "focus-auto" << 7 << hex("f041ff")
                               << hex("f051ff");
}

void CamsimTest::viscaCommandAckThenCompletion()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, command);
    QFETCH(int, address);
    QFETCH(QByteArray, ack);
    QFETCH(QByteArray, completion);

    sharedLine->send(frame);
    QVERIFY(sharedLine->waitForBytes(ack.size() + completion.size()));
    QCOMPARE(sharedLine->received.toHex(), QByteArray(ack + completion).toHex());
    // Two bursts: the ACK on its own, the completion after the delay.
    QCOMPARE(sharedLine->bursts.first().bytes, ack);
    const qint64 gapNs = sharedLine->bursts.last().atNs - sharedLine->bursts.first().atNs;
    QVERIFY2(gapNs >= (kSharedCompletionDelayMs - 10) * kNsPerMs,
             qPrintable(QString::number(gapNs / kNsPerMs)));

    const int rx = shared->waitFor({{"dir", "rx"},
                                    {"protocol", "visca"},
                                    {"checksum", "none"},
                                    {"hex", hexText(frame)},
                                    {"address", address},
                                    {"command", command}},
                                   mark);
    QVERIFY(rx >= 0);
    const int ackLine = shared->waitFor({{"dir", "tx"}, {"hex", hexText(ack)}}, rx);
    QVERIFY(ackLine > rx);
    QVERIFY(shared->waitFor({{"dir", "tx"}, {"hex", hexText(completion)}}, ackLine) > ackLine);
}

void CamsimTest::inquiryReplies_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("zoom position") << kZoomInquiry << "inquiry-zoom-position" << kZoomReply;
    QTest::newRow("focus position") << kFocusInquiry << "inquiry-focus-position"
                                    << hex("9050 0a0b0c0d ff");
    QTest::newRow("zoom position, address 3") << hex("83090447ff") << "inquiry-zoom-position"
                                              << hex("b050 02030405 ff");
    QTest::newRow("communication test") << kCommTest << "comm-test"
                                        << hex("9050 0020 0511 0100 02 ff");
    QTest::newRow("software version") << kReadVersion << "read-version" << hex("9050 00 a5 ff");
    QTest::newRow("serial number") << kReadSerialNumber << "read-sn"
                                   << QByteArray(hex("9050") + "Q217MXTA0001" + hex("ff"));
    QTest::newRow("unknown inquiry: syntax error") << hex("81097e7eff") << "unknown"
                                                   << hex("906002ff");
}

void CamsimTest::inquiryReplies()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, command);
    QFETCH(QByteArray, reply);

    sharedLine->send(frame);
    QVERIFY(sharedLine->waitForBytes(reply.size()));
    QCOMPARE(sharedLine->received.toHex(), reply.toHex());

    const int rx = shared->waitFor(
        {{"dir", "rx"}, {"protocol", "visca"}, {"hex", hexText(frame)}, {"command", command}}, mark);
    QVERIFY(rx >= 0);
    QVERIFY(shared->waitFor({{"dir", "tx"}, {"hex", hexText(reply)}}, rx) > rx);
}

void CamsimTest::commTestAndVersionAsTheWindowReadsThem()
{
    // The window passes the communication test on the hex text of the reply:
    // character 6 '2', character 9 '5', character 18 'f'.
    sharedLine->send(kCommTest);
    QVERIFY(sharedLine->waitForBytes(10));
    const QByteArray text = sharedLine->received.toHex();
    QVERIFY(text.size() > 18);
    QCOMPARE(text.at(6), '2');
    QCOMPARE(text.at(9), '5');
    QCOMPARE(text.at(18), 'f');

    // The version is the fourth byte of its reply.
    sharedLine->clear();
    sharedLine->send(kReadVersion);
    QVERIFY(sharedLine->waitForBytes(5));
    QCOMPARE(quint8(sharedLine->received.at(3)), quint8(0xA5));
}

void CamsimTest::framesWithoutReply_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("checksum");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QJsonObject>("fields");

    QTest::newRow("Pelco-D pan left") << hex("ff0100043f0044") << "pelco-d" << "ok" << 1
                                      << "pan-left" << QJsonObject{{"pan_speed", 63}};
    QTest::newRow("Pelco-D bad sum") << hex("ff0100043f0045") << "pelco-d" << "bad" << 1
                                     << "pan-left" << QJsonObject{};
    // 0xC8 + 0x0A + 0x3F + 0x3F = 0x150: only the low byte is sent.
    QTest::newRow("Pelco-D sum past 255") << hex("ffc8000a3f3f50") << "pelco-d" << "ok" << 200
                                          << "up-right"
                                          << QJsonObject{{"pan_speed", 63}, {"tilt_speed", 63}};
    QTest::newRow("Pelco-D sum past 255, unwrapped sum") << hex("ffc8000a3f3f51") << "pelco-d"
                                                         << "bad" << 200 << "up-right"
                                                         << QJsonObject{};
    QTest::newRow("Pelco-D focus far, byte 0x80") << hex("ff010080000081") << "pelco-d" << "ok"
                                                  << 1 << "focus-far" << QJsonObject{};
    // Five bytes of 0xFF sum to 0x4FB.
    QTest::newRow("Pelco-D all 0xFF") << hex("fffffffffffffb") << "pelco-d" << "ok" << 255
                                      << "unknown" << QJsonObject{};
    QTest::newRow("Pelco-D preset call") << hex("ff01000700050d") << "pelco-d" << "ok" << 1
                                         << "preset-call" << QJsonObject{{"preset", 5}};
    QTest::newRow("Pelco-D stop") << hex("ff010000000001") << "pelco-d" << "ok" << 1 << "stop"
                                  << QJsonObject{};
    QTest::newRow("Pelco-P pan left") << hex("a00000043f00af34") << "pelco-p" << "ok" << 1
                                      << "pan-left" << QJsonObject{{"pan_speed", 63}};
    QTest::newRow("Pelco-P bad check byte") << hex("a00000043f00af35") << "pelco-p" << "bad" << 1
                                            << "pan-left" << QJsonObject{};
    QTest::newRow("Pelco-P preset call") << hex("a000000700 05af0d") << "pelco-p" << "ok" << 1
                                         << "preset-call" << QJsonObject{{"preset", 5}};
    // Address 0 is sent as 0xFF; A0 ^ FF ^ 04 ^ 3F ^ AF = CB.
    QTest::newRow("Pelco-P address byte 0xFF") << hex("a0ff00043f00afcb") << "pelco-p" << "ok" << 0
                                               << "pan-left" << QJsonObject{};
    QTest::newRow("Pelco-P focus far") << hex("a0000100 0000af0e") << "pelco-p" << "ok" << 1
                                       << "focus-far" << QJsonObject{};
    QTest::newRow("enter IAP") << hex("8902076358ff") << "visca" << "none" << 9 << "enter-iap"
                               << QJsonObject{};
    QTest::newRow("exit IAP") << hex("8902076357ff") << "visca" << "none" << 9 << "exit-iap"
                              << QJsonObject{};
}

void CamsimTest::expectOnlyTheZoomReply(const QByteArray &frame)
{
    sharedLine->send(frame + kZoomInquiry);
    QVERIFY(sharedLine->waitForBytes(kZoomReply.size()));
    QCOMPARE(sharedLine->received.toHex(), kZoomReply.toHex());
}

void CamsimTest::framesWithoutReply()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, protocol);
    QFETCH(QString, checksum);
    QFETCH(int, address);
    QFETCH(QString, command);
    QFETCH(QJsonObject, fields);

    expectOnlyTheZoomReply(frame);
    if (QTest::currentTestFailed())
        return;

    QJsonObject expected = fields;
    expected.insert("dir", "rx");
    expected.insert("hex", hexText(frame));
    expected.insert("protocol", protocol);
    expected.insert("checksum", checksum);
    expected.insert("address", address);
    expected.insert("command", command);
    const int rx = shared->waitFor(expected, mark);
    QVERIFY(rx >= 0);
    const int inquiry = shared->waitFor({{"hex", hexText(kZoomInquiry)}}, rx);
    QVERIFY(inquiry > rx);
    QCOMPARE(shared->count({{"dir", "tx"}}, mark, inquiry), 0);
}

void CamsimTest::resynchronisesAfterGarbage_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("garbage");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("noise, then an inquiry")
        << hex("1234 81090447ff") << "1234" << "81090447ff" << "inquiry-zoom-position"
        << kZoomReply;
    QTest::newRow("stray 0xFF before a VISCA command")
        << hex("ff 8101040727ff") << "ff" << "8101040727ff" << "zoom-tele"
        << QByteArray(kAck + kCompletion);
    QTest::newRow("cut VISCA frame, then a whole one")
        << hex("810106 81090448ff") << "810106" << "81090448ff" << "inquiry-focus-position"
        << hex("90500a0b0c0dff");
    QTest::newRow("0xA0 without a Pelco-P end, then Pelco-D")
        << hex("a012 ff0100043f0044") << "a012" << "ff0100043f0044" << "pan-left" << QByteArray();
    QTest::newRow("false Pelco-D start, then Pelco-D")
        << hex("ff0102 ff0100043f0044") << "ff0102" << "ff0100043f0044" << "pan-left"
        << QByteArray();
    QTest::newRow("noise, then Pelco-P")
        << hex("55 a00000043f00af34") << "55" << "a00000043f00af34" << "pan-left" << QByteArray();
    QTest::newRow("VISCA header with no terminator in 16 bytes")
        << hex("81 0101010101010101010101010101 0101 81090447ff")
        << "8101010101010101010101010101010101" << "81090447ff" << "inquiry-zoom-position"
        << kZoomReply;
    QTest::newRow("unfinished frame given up after silence")
        << hex("810102") << "810102" << QString() << QString() << QByteArray();
}

void CamsimTest::resynchronisesAfterGarbage()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, garbage);
    QFETCH(QString, frame);
    QFETCH(QString, command);
    QFETCH(QByteArray, reply);

    sharedLine->send(input);
    if (!reply.isEmpty()) {
        QVERIFY(sharedLine->waitForBytes(reply.size()));
        QCOMPARE(sharedLine->received.toHex(), reply.toHex());
    }
    const int unknown = shared->waitFor(
        {{"dir", "rx"}, {"protocol", "unknown"}, {"checksum", "none"}, {"hex", garbage}}, mark);
    QVERIFY(unknown >= 0);
    if (!frame.isEmpty()) {
        const int found = shared->waitFor({{"dir", "rx"}, {"hex", frame}, {"command", command}},
                                          unknown);
        QVERIFY(found > unknown);
        if (frame.startsWith(QLatin1String("ff")) || frame.startsWith(QLatin1String("a0")))
            QCOMPARE(shared->lines.at(found).value("checksum").toString(), QStringLiteral("ok"));
    }
    // Every byte is accounted for once: in the garbage or in the frame.
    int rxBytes = 0;
    for (int i = mark; i < shared->lines.size(); ++i) {
        if (shared->lines.at(i).value("dir") == QJsonValue("rx"))
            rxBytes += shared->lines.at(i).value("hex").toString().size() / 2;
    }
    QCOMPARE(rxBytes, input.size());
}

void CamsimTest::portClosedAndReopened()
{
    // The window closing its port must not end or deafen the camera.
    sharedLine->port.close();
    QVERIFY(sharedLine->open(shared->slavePath));
    sharedLine->send(kZoomInquiry);
    QVERIFY(sharedLine->waitForBytes(kZoomReply.size()));
    QCOMPARE(sharedLine->received.toHex(), kZoomReply.toHex());
    QCOMPARE(shared->process.state(), QProcess::Running);
}

void CamsimTest::recordIsJsonWithTimes()
{
    QVERIFY2(shared->unreadable.isEmpty(), shared->unreadable.value(0).constData());
    double previous = 0;
    for (const QJsonObject &line : qAsConst(shared->lines)) {
        QVERIFY(line.value("t_ms").isDouble());
        const double t = line.value("t_ms").toDouble();
        QVERIFY(t >= previous);
        previous = t;
    }
}

void CamsimTest::serialNumberWriteThenRead_data()
{
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("12 characters") << QStringList{"Q217MXTA0042"} << "Q217MXTA0042";
    QTest::newRow("15 characters") << QStringList{"Q217MXTA0042ABC"} << "Q217MXTA0042ABC";
    QTest::newRow("15, then 12") << QStringList{"ABCDEFGHIJKLMNO", "Q217MXTA0007"}
                                 << "Q217MXTA0007";
    QTest::newRow("12, then 15") << QStringList{"Q217MXTA0007", "ABCDEFGHIJKLMNO"}
                                 << "ABCDEFGHIJKLMNO";
    QTest::newRow("Latin-1 byte above 0x7F") << QStringList{QString::fromUtf8("Q217MXTA00\u00e91")}
                                             << QString::fromUtf8("Q217MXTA00\u00e91");
}

void CamsimTest::serialNumberWriteThenRead()
{
    QFETCH(QStringList, writes);
    QFETCH(QString, expected);

    Camsim sim;
    QVERIFY(sim.start({QStringLiteral("--completion-delay"), QStringLiteral("5")}));
    Line line;
    QVERIFY(line.open(sim.slavePath));

    for (const QString &sn : qAsConst(writes)) {
        const int frames = sn.size() == 15 ? 8 : 6;
        const int from = sim.lines.size();
        line.clear();
        QByteArray stream;
        for (const QByteArray &frame : serviceFrames(0xC0, 0x93, sn.toLatin1(), frames))
            stream.append(frame);
        line.send(stream); // back to back, as one write
        QVERIFY(line.waitForBytes(6 * frames));
        QCOMPARE(line.received.count(kAck), frames);
        QCOMPARE(line.received.count(kCompletion), frames);
        int at = from;
        for (int k = 0; k < frames; ++k) {
            at = sim.waitFor({{"dir", "rx"}, {"command", "write-sn"}, {"index", k}}, at);
            QVERIFY(at >= 0);
        }
        QCOMPARE(sim.lines.at(at).value("sn").toString(), sn);
    }

    line.clear();
    line.send(kReadSerialNumber);
    const QByteArray reply = hex("9050") + expected.toLatin1() + hex("ff");
    QVERIFY(line.waitForBytes(reply.size()));
    QCOMPARE(line.received.toHex(), reply.toHex());
    QVERIFY(sim.waitFor({{"command", "read-sn"}, {"sn", expected}}) >= 0);
}

void CamsimTest::logoWriteIsRecorded_data()
{
    QTest::addColumn<QString>("logo");
    QTest::addColumn<int>("frames");

    QTest::newRow("VN620, short text") << "AB" << 4;
    QTest::newRow("VN620, 7 characters") << "VN620XY" << 4;
    QTest::newRow("RM410, 15 characters") << "QUILLON CAMERA1" << 8;
}

void CamsimTest::logoWriteIsRecorded()
{
    QFETCH(QString, logo);
    QFETCH(int, frames);

    QByteArray stream;
    const QList<QByteArray> list = serviceFrames(0xD0, 0x87, logo.toLatin1(), frames);
    for (const QByteArray &frame : list)
        stream.append(frame);
    sharedLine->send(stream);
    QVERIFY(sharedLine->waitForBytes(6 * frames));
    QCOMPARE(sharedLine->received.count(kAck), frames);
    QCOMPARE(sharedLine->received.count(kCompletion), frames);

    int at = mark;
    for (int k = 0; k < frames; ++k) {
        at = shared->waitFor({{"dir", "rx"},
                              {"command", "write-logo"},
                              {"index", k},
                              {"hex", hexText(list.at(k))}},
                             at);
        QVERIFY(at >= 0);
    }
    QCOMPARE(shared->lines.at(at).value("logo").toString(), logo);
}

void CamsimTest::linkFollowsSlaveUntilSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void CamsimTest::linkFollowsSlaveUntilSignal()
{
    QFETCH(int, signalNumber);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("camera"));
    // A link left behind by an earlier run is replaced.
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts"), link));

    Camsim sim;
    QVERIFY(sim.start({QStringLiteral("--link"), link}));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.slavePath);

    Line line;
    QVERIFY(line.open(link));
    line.send(kZoomInquiry);
    QVERIFY(line.waitForBytes(7));

    QVERIFY(sim.signal(signalNumber));
    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
}

void CamsimTest::linkNeverReplacesAFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("camera"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();

    QProcess process;
    process.start(QStringLiteral(QUILLON_CAMSIM_PATH), {QStringLiteral("--link"), path});
    QVERIFY(process.waitForFinished(kStartTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY(process.exitCode() != 0);
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void CamsimTest::logFileRepeatsStdout()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("camsim.jsonl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("earlier run\n");
    file.close();

    Camsim sim;
    QVERIFY(sim.start({QStringLiteral("--log"), path}));
    Line line;
    QVERIFY(line.open(sim.slavePath));
    line.send(hex("12") + kZoomInquiry + hex("ff0100043f0044"));
    QVERIFY(sim.waitFor({{"protocol", "pelco-d"}}) >= 0);
    QVERIFY(sim.signal(SIGTERM));
    QVERIFY(sim.waitForExit());

    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine(), QByteArray("earlier run\n")); // appended, not truncated
    QList<QJsonObject> logged;
    while (!file.atEnd()) {
        const QJsonDocument document = QJsonDocument::fromJson(file.readLine());
        QVERIFY(document.isObject());
        logged.append(document.object());
    }
    QVERIFY(logged.size() >= 5); // line event, garbage, inquiry, reply, Pelco-D
    QCOMPARE(logged, sim.lines);
}

void CamsimTest::wireTime_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<int>("bitsPerByte");

    QTest::newRow("9600 8N1") << QStringList{} << 9600 << false << 10;
    QTest::newRow("9600 8E1, parity forced") << QStringList{"--parity", "even"} << 9600 << false
                                             << 11;
    QTest::newRow("9600 8N2") << QStringList{} << 9600 << true << 11;
    QTest::newRow("57600 8N1, changed after start") << QStringList{} << 57600 << false << 10;
}

void CamsimTest::wireTime()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, baud);
    QFETCH(bool, twoStopBits);
    QFETCH(int, bitsPerByte);

    Camsim sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--wire-time")} + arguments));
    Line line;
    QVERIFY(line.open(sim.slavePath));
    QVERIFY(line.port.setBaudRate(baud));
    if (twoStopBits)
        QVERIFY(line.port.setStopBits(QSerialPort::TwoStop));

    // 5 bytes of request and 15 of reply must all cross the wire.
    const QByteArray reply = hex("9050") + QByteArray("Q217MXTA0001") + hex("ff");
    const qint64 wireNs = qint64(kReadSerialNumber.size() + reply.size()) * bitsPerByte
                          * 1000000000LL / baud;
    QElapsedTimer timer;
    timer.start();
    line.send(kReadSerialNumber);
    QVERIFY(line.waitForBytes(reply.size()));
    const qint64 elapsedNs = timer.nsecsElapsed();
    QCOMPARE(line.received.toHex(), reply.toHex());
    qInfo("request + reply took %.2f ms; wire time %.2f ms", double(elapsedNs) / kNsPerMs,
          double(wireNs) / kNsPerMs);
    QVERIFY2(elapsedNs >= wireNs, qPrintable(QStringLiteral("%1 ns < %2 ns").arg(elapsedNs).arg(wireNs)));
    QVERIFY2(elapsedNs < wireNs + 1000 * kNsPerMs, qPrintable(QString::number(elapsedNs)));

    // The line settings in force were noticed.
    const int noticed = sim.waitFor({{"event", "line"}, {"baud", baud}, {"bits_per_byte", bitsPerByte}});
    QVERIFY(noticed >= 0);
    if (baud != 9600) {
        QVERIFY(matches(sim.lines.first(), {{"event", "line"}, {"baud", 9600}}));
        QVERIFY(noticed > 0);
    }
}

void CamsimTest::silent()
{
    Camsim sim;
    QVERIFY(sim.start({QStringLiteral("--silent"), QStringLiteral("--completion-delay"),
                       QStringLiteral("10")}));
    Line line;
    QVERIFY(line.open(sim.slavePath));
    line.send(hex("8101060118180103ff") + kZoomInquiry + kReadSerialNumber);
    QVERIFY(sim.waitFor({{"command", "pan-left"}}) >= 0);
    QVERIFY(sim.waitFor({{"command", "inquiry-zoom-position"}}) >= 0);
    QVERIFY(sim.waitFor({{"command", "read-sn"}}) >= 0);
    // Long enough for an ACK, a completion and the answers to have come.
    QTest::qWait(200);
    QVERIFY(line.received.isEmpty());
    QCOMPARE(sim.count({{"dir", "tx"}}, 0, sim.lines.size()), 0);
}

void CamsimTest::garbageEvery()
{
    constexpr int kBytes = 300;
    constexpr int kEveryMs = 2;
    const QStringList arguments{QStringLiteral("--garbage-every"), QString::number(kEveryMs)};
    Camsim first, second;
    QVERIFY(first.start(arguments));
    QVERIFY(second.start(arguments));
    Line firstLine, secondLine;
    QVERIFY(firstLine.open(first.slavePath));
    QVERIFY(secondLine.open(second.slavePath));
    QVERIFY(firstLine.waitForBytes(kBytes, 10000));
    QVERIFY(secondLine.waitForBytes(kBytes, 10000));

    const QByteArray noise = firstLine.received.left(kBytes);
    // The same noise on every run.
    QCOMPARE(noise.toHex(), secondLine.received.left(kBytes).toHex());
    // Never an ACK, a terminator or a Pelco-D sync; and not one value over and over.
    QVERIFY(!noise.contains(char(0x79)));
    QVERIFY(!noise.contains(char(0xFF)));
    QVERIFY(std::set<char>(noise.cbegin(), noise.cend()).size() > 100);

    // Each byte is on record, in order, a byte at a time.
    const QJsonObject garbageEvent{{"event", "garbage"}};
    QVERIFY(QTest::qWaitFor(
        [&] { return first.count(garbageEvent, 0, first.lines.size()) >= kBytes; }, 10000));
    QString logged;
    QList<double> times;
    for (const QJsonObject &line : qAsConst(first.lines)) {
        if (line.value("event") == QJsonValue("garbage")) {
            QCOMPARE(line.value("hex").toString().size(), 2);
            logged += line.value("hex").toString();
            times.append(line.value("t_ms").toDouble());
        }
    }
    QVERIFY(logged.startsWith(hexText(noise)));
    // One byte per interval, not a burst.
    QVERIFY(times.at(kBytes - 1) - times.at(0) >= 0.9 * kEveryMs * (kBytes - 1));
}

void CamsimTest::closeAfter()
{
    constexpr int kCloseAfterMs = 300;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("camera"));

    Camsim sim;
    QVERIFY(sim.start({QStringLiteral("--close-after"), QString::number(kCloseAfterMs),
                       QStringLiteral("--link"), link}));
    Line line;
    QVERIFY(line.open(link));

    QVERIFY(sim.waitForExit());
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    const int closed = sim.find({{"event", "closed"}});
    QVERIFY(closed >= 0);
    QCOMPARE(closed, sim.lines.size() - 1);
    QVERIFY(sim.lines.at(closed).value("t_ms").toDouble() >= kCloseAfterMs);
    QVERIFY(!QFileInfo(link).isSymLink());
    // The window's port sees the cable pulled.
    QTRY_VERIFY(line.port.error() != QSerialPort::NoError || !line.port.isOpen());
}

QTEST_GUILESS_MAIN(CamsimTest)
#include "tst_camsim.moc"
