// The receive path below the window: how the byte stream is cut into
// replies, and waiting without burning the processor. Fresh replies and the
// reading of replies are tested through the window in tst_receivepane.

#include "link/replyreceiver.h"
#include "link/wait.h"

#include <QElapsedTimer>
#include <QtTest>

#include <ctime>

namespace {

// A receiver and every batch it has completed.
struct Receiver
{
    Receiver()
    {
        QObject::connect(&receiver, &ReplyReceiver::batchStarted, [this] { ++started; });
        QObject::connect(&receiver, &ReplyReceiver::batchReady,
                         [this](const QByteArray &batch) { batches.append(batch); });
    }
    ReplyReceiver receiver;
    QList<QByteArray> batches;
    int started = 0;
};

} // namespace

class ReceiveTest : public QObject
{
    Q_OBJECT

private slots:
    void longReplyIsCutAt4096Bytes();
    void busyEventLoopStillCutsReplies();
    void sleepKeepsEventsFlowingWithoutSpinning();
};

void ReceiveTest::longReplyIsCutAt4096Bytes()
{
    Receiver r;
    r.receiver.feed(QByteArray(10000, 'x'));
    QTRY_COMPARE(r.batches.size(), 3);
    Wait::sleep(50); // nothing more may come
    QCOMPARE(r.batches, (QList<QByteArray>{QByteArray(4096, 'x'), QByteArray(4096, 'x'),
                                           QByteArray(1808, 'x')}));
    QCOMPARE(r.started, 3);
    QVERIFY(!r.receiver.isGathering());
}

void ReceiveTest::busyEventLoopStillCutsReplies()
{
    // The window may be busy in a long slot while bytes come: the timers
    // that end a batch are then due but not yet delivered.
    Receiver r;
    r.receiver.feed("\x90\x41\xff");
    QThread::msleep(30);
    r.receiver.feed("\x90\x51\xff");
    QTRY_COMPARE(r.batches, (QList<QByteArray>{"\x90\x41\xff", "\x90\x51\xff"}));

    // A stream fed every 5 ms for 300 ms with no event delivered at all is
    // still cut after 200 ms.
    r.batches.clear();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) {
        r.receiver.feed("x");
        QThread::msleep(5);
    }
    QCOMPARE(r.batches.size(), 1);
    QVERIFY(r.batches.constFirst().size() < 50);
}

void ReceiveTest::sleepKeepsEventsFlowingWithoutSpinning()
{
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);

    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuBefore = std::clock();
    Wait::sleep(500);
    const qint64 cpuMs = qint64(std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC;
    const qint64 wall = clock.elapsed();

    QVERIFY2(wall >= 500 && wall < 700, qPrintable(QString::number(wall)));
    QVERIFY2(ticks >= 15, "timers fire while waiting");
    // A spinning wait would cost about the whole half second.
    QVERIFY2(cpuMs < 100, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpuMs)));
}

QTEST_GUILESS_MAIN(ReceiveTest)
#include "tst_receive.moc"
