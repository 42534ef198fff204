// The receive path below the window: how the byte stream is cut into
// replies, which replies count as fresh, how replies are read, and waiting
// without burning the processor.

#include "link/replyreceiver.h"
#include "link/replytext.h"
#include "link/wait.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <ctime>
#include <optional>

// One step of a feed script: wait this long, then feed these bytes.
struct Step
{
    int delayMs;
    QByteArray bytes;
};

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

qint64 processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QList<QByteArray> batchesOf(const QSignalSpy &spy)
{
    QList<QByteArray> batches;
    for (const QList<QVariant> &args : spy)
        batches.append(args.at(0).toByteArray());
    return batches;
}

} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void batches_data();
    void batches();
    void busyEventLoopStillCutsReplies();
    void freshness();
    void serialNumber_data();
    void serialNumber();
    void lastByte_data();
    void lastByte();
    void sleepKeepsEventsFlowingWithoutSpinning();
};

void ReceiveTest::batches_data()
{
    QTest::addColumn<QList<Step>>("script");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QByteArray ack = QByteArray::fromHex("9041ff");
    QTest::newRow("one burst") << QList<Step>{{0, ack}} << QList<QByteArray>{ack};
    QTest::newRow("a reply larger than a batch is cut at 4096 bytes")
        << QList<Step>{{0, QByteArray(10000, 'x')}}
        << QList<QByteArray>{QByteArray(4096, 'x'), QByteArray(4096, 'x'), QByteArray(1808, 'x')};
}

void ReceiveTest::batches()
{
    QFETCH(QList<Step>, script);
    QFETCH(QList<QByteArray>, expected);

    ReplyReceiver receiver;
    QSignalSpy started(&receiver, &ReplyReceiver::batchStarted);
    QSignalSpy ready(&receiver, &ReplyReceiver::batchReady);
    for (const Step &step : script) {
        Wait::sleep(step.delayMs);
        receiver.feed(step.bytes);
    }
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), expected.size(), 1000);
    Wait::sleep(50); // nothing more may come
    QCOMPARE(batchesOf(ready), expected);
    QCOMPARE(started.count(), expected.size());
    QVERIFY(!receiver.isGathering());
}

void ReceiveTest::busyEventLoopStillCutsReplies()
{
    // The window may be busy in a long slot while bytes come: the timers
    // that end a batch are then due but not yet delivered.
    ReplyReceiver receiver;
    QSignalSpy ready(&receiver, &ReplyReceiver::batchReady);
    receiver.feed("\x90\x41\xff");
    QThread::msleep(30);
    receiver.feed("\x90\x51\xff");
    QTRY_COMPARE(ready.count(), 2);
    QCOMPARE(batchesOf(ready), (QList<QByteArray>{"\x90\x41\xff", "\x90\x51\xff"}));

    // A stream fed every 5 ms for 300 ms with no event delivered at all is
    // still cut after 200 ms.
    ready.clear();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) {
        receiver.feed("x");
        QThread::msleep(5);
    }
    QCOMPARE(ready.count(), 1);
    QVERIFY(batchesOf(ready).constFirst().size() < 50);
}

void ReceiveTest::freshness()
{
    ReplyReceiver receiver;
    QSignalSpy ready(&receiver, &ReplyReceiver::batchReady);

    receiver.feed("\x79");
    QTRY_COMPARE(ready.count(), 1);
    QVERIFY2(receiver.hasFreshBatch(), "no write yet: every reply is new");

    // A reply that completed before our write is stale.
    receiver.markWrite();
    QVERIFY(!receiver.hasFreshBatch());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!receiver.waitForFreshBatch(100));
    QVERIFY(clock.elapsed() >= 100);

    // Bytes still being gathered at the write end their batch there: they
    // are stale too, and the reply after the write is a batch of its own.
    receiver.feed("\x1f");
    receiver.markWrite();
    QCOMPARE(batchesOf(ready).last(), QByteArray("\x1f"));
    QVERIFY(!receiver.hasFreshBatch());
    QTimer::singleShot(5, &receiver, [&receiver] { receiver.feed("\x79"); });
    QVERIFY(receiver.waitForFreshBatch(1000));
    QCOMPARE(batchesOf(ready).last(), QByteArray("\x79"));
    QVERIFY2(receiver.waitForFreshBatch(0), "the fresh reply stays fresh until the next write");
}

void ReceiveTest::serialNumber_data()
{
    QTest::addColumn<QByteArray>("replyHex");
    QTest::addColumn<int>("length");
    QTest::addColumn<std::optional<QString>>("expected");

    const QByteArray twelve = QByteArray("QD1234567890").toHex();
    const QByteArray fifteen = QByteArray("QD1234567890123").toHex();
    QTest::newRow("12 characters and FF") << "9050" + twelve + "ff" << 12
                                          << std::optional<QString>("QD1234567890");
    QTest::newRow("without the final FF") << "9050" + twelve << 12 << std::optional<QString>();
    QTest::newRow("15 characters") << "9050" + fifteen + "ff" << 15
                                   << std::optional<QString>("QD1234567890123");
    QTest::newRow("15 expected, 12 sent: the FF is no character")
        << "9050" + twelve + "ff" << 15 << std::optional<QString>("QD1234567890");
    QTest::newRow("non-ASCII byte inside") << "9050" + QByteArray("AB\xc3\xa9").toHex() + "ff" << 12
                                           << std::optional<QString>(QStringLiteral("AB\u00e9"));
    QTest::newRow("a zero byte ends the text") << "9050" + QByteArray("QD12").toHex() + "00"
            + QByteArray("3456789").toHex() + "ff"
                                               << 12 << std::optional<QString>("QD12");
    QTest::newRow("short reply") << QByteArray("9050" + QByteArray("AB").toHex() + "ff") << 12
                                 << std::optional<QString>(QStringLiteral("AB"));
    QTest::newRow("only FF") << QByteArray("ff") << 12 << std::optional<QString>(QString());
    QTest::newRow("empty") << QByteArray() << 12 << std::optional<QString>();
}

void ReceiveTest::serialNumber()
{
    QFETCH(QByteArray, replyHex);
    QFETCH(int, length);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(ReplyText::serialNumber(replyHex, length), expected);
}

void ReceiveTest::lastByte_data()
{
    QTest::addColumn<QByteArray>("replyHex");
    QTest::addColumn<int>("value");
    QTest::newRow("ACK") << QByteArray("79") << 0x79;
    QTest::newRow("ACK after data") << QByteArray("7901041079") << 0x79;
    QTest::newRow("NACK") << QByteArray("1f") << 0x1f;
    QTest::newRow("byte above 0x7f") << QByteArray("9041ff") << 0xff;
    QTest::newRow("empty") << QByteArray() << 0;
}

void ReceiveTest::lastByte()
{
    QFETCH(QByteArray, replyHex);
    QFETCH(int, value);
    QCOMPARE(ReplyText::lastByte(replyHex), value);
}

void ReceiveTest::sleepKeepsEventsFlowingWithoutSpinning()
{
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);

    QElapsedTimer clock;
    clock.start();
    const qint64 cpuBefore = processCpuMs();
    Wait::sleep(500);
    const qint64 cpu = processCpuMs() - cpuBefore;
    const qint64 wall = clock.elapsed();

    QVERIFY2(wall >= 500, qPrintable(QString::number(wall)));
    QVERIFY2(wall < 700, qPrintable(QString::number(wall)));
    QVERIFY2(ticks >= 15, "timers fire while waiting");
    // A spinning wait would cost about the whole half second.
    QVERIFY2(cpu < 100, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpu)));
}

QTEST_GUILESS_MAIN(ReceiveTest)
#include "tst_receive.moc"
