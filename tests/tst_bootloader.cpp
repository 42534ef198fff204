// The bootloader dialogue and the download against a scripted device that
// runs in virtual time: the bytes on the wire, the bound of every wait, the
// end of a run for every fault, and stopping at any point.

#include "isp/download.h"

#include "testdata.h"

#include <QtTest>

Q_DECLARE_METATYPE(Download::End)

namespace {

QString sendEntry(const QByteArray &bytes) { return QStringLiteral("send ") + QString::fromLatin1(bytes.toHex()); }

// The camera's ROM bootloader behind the link: it answers every part with
// ACK, or the n-th part sent (from 0) with `reply` (empty: silence), and logs
// every call, trace line and progress report. Time is virtual: a wait that
// no answer ends runs out at once, and is logged with its bound.
struct FakeDevice : BootLink
{
    int faultAt = -1;
    QByteArray reply;
    int stopAfter = -1; // events before the job is told to stop (-1: never)
    Download::Job *job = nullptr;
    QStringList events;
    int sent = 0;
    int timerGeneration = 0;
    int ends = 0; // finished() signals

    void log(const QString &event)
    {
        events.append(event);
        if (events.size() == stopAfter)
            job->abort();
    }
    void send(const QByteArray &bytes) override
    {
        const QByteArray answer = sent++ == faultAt ? reply : QByteArray(1, char(Stm32Boot::kAck));
        log(sendEntry(bytes));
        if (!answer.isEmpty())
            QMetaObject::invokeMethod(this, [this, answer] { emit received(answer); }, Qt::QueuedConnection);
    }
    bool configure(qint32 baud, Parity parity) override
    {
        log(QStringLiteral("configure %1 %2").arg(baud).arg(parity == Parity::Even ? "even" : "none"));
        return true;
    }
    void armTimer(int ms) override
    {
        log(QStringLiteral("wait %1").arg(ms));
        // Queued after any answer already on its way: that answer comes first.
        QMetaObject::invokeMethod(this, [this, generation = ++timerGeneration] {
            if (generation == timerGeneration)
                emit timedOut();
        }, Qt::QueuedConnection);
    }
    void disarmTimer() override { ++timerGeneration; }
    bool isLost() const override { return false; }

    // A whole download of `bytes` from 0x08000000.
    Download::Outcome run(const QByteArray &bytes)
    {
        FirmwareImage image;
        for (int i = 0; i < bytes.size(); ++i)
            image.place(0x08000000u + quint32(i), quint8(bytes.at(i)));
        Download::Job upgrade(*this, image);
        job = &upgrade;
        QObject::connect(&upgrade, &Download::Job::trace, [this](const QString &line) { log("trace " + line); });
        QObject::connect(&upgrade, &Download::Job::progress,
                         [this](int value) { log(QStringLiteral("progress %1").arg(value)); });
        Download::Outcome outcome;
        QObject::connect(&upgrade, &Download::Job::finished, [&](const Download::Outcome &o) { outcome = o, ++ends; });
        upgrade.start();
        (void)QTest::qWaitFor([&upgrade] { return !upgrade.isRunning(); });
        QCoreApplication::processEvents(); // nothing more may come
        return outcome;
    }
};

} // namespace

class BootloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void download_data()
    {
        QTest::addColumn<int>("faultAt"); // the part sent (from 0) answered otherwise
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("stopAfter"); // the event after which the job is told to stop
        QTest::addColumn<Download::End>("end");
        QTest::addColumn<QString>("text");
        using E = Download::End;
        const auto row = [](const char *name, int at, const char *reply, E end, const char *text) {
            QTest::newRow(name) << at << QByteArray::fromHex(reply) << -1 << end << QString(text);
        };
        // Sent: 0 Enter IAP, 1 sync, 2-3 erase, 4-15 four blocks of three
        // parts, 16-17 Go, 18 Exit IAP. Noise around the answers, and each
        // kind of part; a silent bootloader and a refused global erase meet
        // the window through camsim (tst_upgrade).
        row("clean", -1, "", E::Success, "");
        row("NACK to 0x7F", 1, "1f", E::NoSync, "NACK to the sync byte 0x7F");
        row("garbage, then ACK to 0x7F", 1, "55aa0079", E::Success, "");
        row("stray 0x00, then NACK to the erase command", 2, "001f", E::EraseCommandFailed,
            "NACK to the Erase command");
        row("NACK to the second block's command", 7, "1f", E::BlockFailed,
            "NACK to the Write Memory command of the block at 0x08000100");
        row("silence after the third block's address", 11, "", E::BlockFailed,
            "no answer to the address of the block at 0x08000200");
        row("garbage, then NACK to the final block's data", 15, "551f79", E::FinalBlockFailed,
            "NACK to the data of the block at 0x08000300");
        row("silence after the Go address does not matter", 17, "", E::Success, "");
        // Stopped at every point of a run: nothing is sent, set or reported
        // after that.
        FakeDevice clean;
        clean.run(TestEnv::firmware(1000));
        for (int n = 1; n <= clean.events.size(); ++n)
            QTest::addRow("stop after %d, %s", n, qPrintable(clean.events.at(n - 1).left(24)))
                << -1 << QByteArray() << n << E::Aborted << QString();
    }

    void download()
    {
        QFETCH(int, faultAt);
        QFETCH(QByteArray, reply);
        QFETCH(int, stopAfter);
        QFETCH(Download::End, end);
        QFETCH(QString, text);
        // The camera's download of 1000 bytes on the wire: three full blocks,
        // then 232 bytes padded with 24 x 0xFF, each as 31 CE; A3 A2 A1 00 and
        // their XOR; 0xFF (N-1), the data and 0xFF XOR the data. Every part
        // waits for its answer, long for the global erase; the IAP frames wait
        // for nothing. Each trace line and progress report comes once the
        // device has acknowledged.
        const QByteArray bytes = TestEnv::firmware(1000);
        QStringList expected{"configure 9600 none", "send 8902076358ff", "wait 1030", "configure 57600 even",
                             "wait 20", "send 7f", "wait 1000", "trace Enter IAP Success", "send 43bc", "wait 1000",
                             "trace Erase Command Success", "send ff00", "wait 40000", "trace Erase All Start",
                             "trace Just a few seconds, please.", "trace File Open Success", "progress 0"};
        for (int k = 0; k < 4; ++k) {
            const QByteArray block = bytes.mid(k * 256, 256).leftJustified(256, '\xff');
            char check = '\xff';
            for (const char b : block)
                check = char(check ^ b);
            const QByteArray address = QByteArray("\x08\x00", 2) + char(k) + '\0' + char(0x08 ^ k);
            expected << "send 31ce" << "wait 1000" << sendEntry(address) << "wait 1000"
                     << sendEntry('\xff' + block + check) << "wait 1000"
                     << QStringLiteral("progress %1").arg(256 * (k + 1));
        }
        expected << "send 21de" << "wait 1000" << "send 0800000008" << "wait 1000" << "trace Go 0x08000000"
                 << "configure 9600 none" << "send 8902076357ff";

        FakeDevice device;
        device.faultAt = faultAt;
        device.reply = reply;
        device.stopAfter = stopAfter;
        const Download::Outcome outcome = device.run(bytes);
        QCOMPARE(device.ends, 1);
        QCOMPARE(outcome.end, end);
        // A good end is the whole run; a failed part is the last thing sent,
        // with no trace or progress after it.
        const bool failed = end != Download::End::Success && end != Download::End::Aborted;
        QCOMPARE(failed ? outcome.text() : QString(), text);
        int upTo = stopAfter >= 0 ? stopAfter : expected.size();
        for (int i = 0, sent = 0; failed && upTo == expected.size(); ++i)
            upTo = expected.at(i).startsWith(QLatin1String("send ")) && sent++ == faultAt ? i + 2 : upTo;
        QCOMPARE(device.events, QStringList(expected.mid(0, upTo)));
    }
};

QTEST_GUILESS_MAIN(BootloaderTest)
#include "tst_bootloader.moc"
