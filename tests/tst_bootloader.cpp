// The bootloader dialogue and the download against a scripted device: the
// bytes on the wire, the end of a run for every fault, and stopping.

#include "isp/download.h"

#include "testenv.h"

#include <QtTest>

using Stm32Boot::Answer;
using Stm32Boot::Step;

// The device's answer to the n-th part (from 0) of a step instead of ACK
// (empty: silence).
struct Fault
{
    Step step;
    int occurrence;
    QByteArray reply;
};

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Stm32Boot::Answer)
Q_DECLARE_METATYPE(Download::End)

namespace {

QString sendEntry(const QByteArray &bytes) { return QStringLiteral("send ") + QString::fromLatin1(bytes.toHex()); }

// The camera's ROM bootloader behind the link: it tells the parts apart,
// answers each with ACK unless a fault says otherwise, and logs every call,
// trace line and progress report. receive() never waits: silence comes back
// at once, and the test checks the bound the dialogue asked for instead.
class FakeDevice : public BootLink
{
public:
    Fault fault{Step::Sync, -1, {}};
    int stopAfter = -1;               // events before the link is told to stop (-1: never)
    QStringList events;               // calls, trace lines and progress, in order
    QList<std::optional<Step>> steps; // per send
    QList<int> bounds;                // per send: the bound of its first receive (-1: none)

    void send(const QByteArray &bytes) override
    {
        static const QHash<QByteArray, Step> commands{
            {"\x7f", Step::Sync},           {"\x02\xfd", Step::GetId},       {"\x43\xbc", Step::EraseCommand},
            {"\x31\xce", Step::WriteCommand}, {"\x21\xde", Step::GoCommand},
            {QByteArray::fromHex("ff00"), Step::GlobalErase}};
        const std::optional<Step> last = steps.isEmpty() ? std::nullopt : steps.last();
        std::optional<Step> step;
        if (last == Step::WriteCommand || last == Step::WriteAddress || last == Step::GoCommand)
            step = Step(int(*last) + 1); // the address, the data, the Go address
        else if (commands.contains(bytes))
            step = commands.value(bytes);
        const int n = step ? sent[int(*step)]++ : 0;
        steps.append(step);
        bounds.append(-1);
        pending = step ? QByteArray(1, char(Stm32Boot::kAck)) : QByteArray(); // earlier bytes are stale
        if (step == fault.step && n == fault.occurrence)
            pending = fault.reply;
        events.append(sendEntry(bytes));
    }

    std::optional<quint8> receive(int timeoutMs) override
    {
        if (!bounds.isEmpty() && bounds.last() < 0)
            bounds.last() = timeoutMs;
        if (aborted() || pending.isEmpty())
            return std::nullopt;
        const auto byte = quint8(pending.at(0));
        pending.remove(0, 1);
        return byte;
    }

    void configure(qint32 baud, Parity parity) override
    {
        events.append(QStringLiteral("configure %1 %2").arg(baud).arg(parity == Parity::Even ? "even" : "none"));
    }
    void pause(int ms) override { events.append(QStringLiteral("pause %1").arg(ms)); }
    bool aborted() const override { return stopAfter >= 0 && events.size() >= stopAfter; }

private:
    QHash<int, int> sent; // parts sent, by step
    QByteArray pending;
};

// A whole download of `bytes` from 0x08000000.
Download::Outcome runAgainst(FakeDevice &device, const QByteArray &bytes)
{
    FirmwareImage image;
    for (int i = 0; i < bytes.size(); ++i)
        image.place(0x08000000u + quint32(i), quint8(bytes.at(i)));
    Download::Observer observer;
    observer.trace = [&](const QString &line) { device.events.append(QStringLiteral("trace ") + line); };
    observer.progress = [&](int value) { device.events.append(QStringLiteral("progress %1").arg(value)); };
    return Download::run(device, image, observer);
}

} // namespace

class BootloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void wholeRun();
    void faults_data();
    void faults();
    void stop_data();
    void stop();
    void getId_data();
    void getId();
};

void BootloaderTest::wholeRun()
{
    // The camera's download of 1000 bytes on the wire: three full blocks,
    // then 232 bytes padded with 24 x 0xFF, each as 31 CE; A3 A2 A1 00 and
    // their XOR; 0xFF (N-1), the data and 0xFF XOR the data. Each trace line
    // and progress report comes once the device has acknowledged. (The block
    // of 0xFF after whole blocks is the image's: tst_hexfile, tst_upgrade.)
    const QByteArray bytes = TestEnv::firmware(1000);
    QStringList expected{"configure 9600 none", "send 8902076358ff", "pause 1030", "configure 57600 even",
                         "pause 20", "send 7f", "trace Enter IAP Success", "send 43bc", "trace Erase Command Success",
                         "send ff00", "trace Erase All Start", "trace Just a few seconds, please.",
                         "trace File Open Success", "progress 0"};
    for (int k = 0; k < 4; ++k) {
        const QByteArray block = bytes.mid(k * 256, 256).leftJustified(256, '\xff');
        char check = '\xff';
        for (const char b : block)
            check = char(check ^ b);
        const char a1 = char(k);
        expected << "send 31ce" << sendEntry(QByteArray("\x08\x00", 2) + a1 + '\0' + char(0x08 ^ a1))
                 << sendEntry('\xff' + block + check) << QStringLiteral("progress %1").arg(256 * (k + 1));
    }
    expected << "send 21de" << "send 0800000008" << "trace Go 0x08000000" << "configure 9600 none"
             << "send 8902076357ff";

    FakeDevice device;
    QCOMPARE(runAgainst(device, bytes).end, Download::End::Success);
    QCOMPARE(device.events, expected);
    // Every part waits for its answer within its bound: long for the global
    // erase, short for everything else; the IAP frames wait for nothing.
    for (int i = 0; i < device.steps.size(); ++i) {
        const int bound = !device.steps.at(i) ? -1 : device.steps.at(i) == Step::GlobalErase ? 40000 : 1000;
        const int asked = device.bounds.at(i);
        QVERIFY2(bound < 0 ? asked == -1 : asked > bound / 2 && asked <= bound,
                 qPrintable(QStringLiteral("send %1 asked %2 ms").arg(i).arg(asked)));
    }
}

void BootloaderTest::faults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Download::End>("end");
    QTest::addColumn<QString>("text");

    using E = Download::End;
    const auto row = [](const char *name, Step step, int n, const char *reply, E end, const char *text) {
        QTest::newRow(name) << Fault{step, n, QByteArray::fromHex(reply)} << end << QString(text);
    };

    // Noise around the answers, and each kind of part. A silent bootloader and
    // a refused global erase meet the window through camsim (tst_upgrade).
    row("NACK to 0x7F", Step::Sync, 0, "1f", E::NoSync, "NACK to the sync byte 0x7F");
    row("garbage, then ACK to 0x7F", Step::Sync, 0, "55aa0079", E::Success, "");
    row("stray 0x00, then NACK to the erase command", Step::EraseCommand, 0, "001f", E::EraseCommandFailed,
        "NACK to the Erase command");
    row("NACK to the second block's command", Step::WriteCommand, 1, "1f", E::BlockFailed,
        "NACK to the Write Memory command of the block at 0x08000100");
    row("silence after the third block's address", Step::WriteAddress, 2, "", E::BlockFailed,
        "no answer to the address of the block at 0x08000200");
    row("garbage, then NACK to the final block's data", Step::WriteData, 3, "551f79", E::FinalBlockFailed,
        "NACK to the data of the block at 0x08000300");
    row("silence after the Go address does not matter", Step::GoAddress, 0, "", E::Success, "");
}

void BootloaderTest::faults()
{
    QFETCH(Fault, fault);
    QFETCH(Download::End, end);
    QFETCH(QString, text);

    FakeDevice device;
    device.fault = fault;
    const Download::Outcome outcome = runAgainst(device, TestEnv::firmware(1000));
    QCOMPARE(outcome.end, end);
    const bool success = end == Download::End::Success;
    QCOMPARE(success ? QString() : outcome.failure.text(), text);
    // A run goes as a clean one (wholeRun) up to its end: a good end is the
    // whole of it; a failed part is the last thing sent, with no trace or
    // progress before its answer and nothing after.
    FakeDevice clean;
    runAgainst(clean, TestEnv::firmware(1000));
    QCOMPARE(device.events, clean.events.mid(0, success ? -1 : device.events.size()));
    const bool lastSent = device.events.last().startsWith(QLatin1String("send "));
    QVERIFY(success || (device.steps.last() == outcome.failure.step && lastSent));
}

void BootloaderTest::stop_data()
{
    // Every point of a whole run of one block (every block goes through the
    // same code): the link is told to stop after the n-th event.
    QTest::addColumn<int>("after");
    FakeDevice device;
    runAgainst(device, TestEnv::firmware(100));
    for (int n = 0; n < device.events.size(); ++n)
        QTest::addRow("%d, after %s", n, n ? qPrintable(device.events.at(n - 1).left(24)) : "nothing") << n;
}

void BootloaderTest::stop()
{
    QFETCH(int, after);

    FakeDevice device;
    device.stopAfter = after;
    QCOMPARE(runAgainst(device, TestEnv::firmware(100)).end, Download::End::Aborted);
    QCOMPARE(device.events.size(), after); // nothing sent, set or reported once stopped
}

void BootloaderTest::getId_data()
{
    // The good answer, ACK 01 04 10 ACK, is camsim's (tst_upgrade).
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Answer>("answer");
    QTest::newRow("cut short after the count") << QByteArray::fromHex("7901") << Answer::Timeout;
    QTest::newRow("NACK instead of the closing ACK") << QByteArray::fromHex("790104101f") << Answer::Nack;
}

void BootloaderTest::getId()
{
    QFETCH(QByteArray, reply);
    QFETCH(Answer, answer);

    FakeDevice device;
    device.fault = {Step::GetId, 0, reply};
    quint16 id = 0;
    QCOMPARE(Stm32Boot::Dialogue(device).getId(&id).answer, answer);
    QCOMPARE(device.events, QStringList{"send 02fd"});
    QCOMPARE(id, quint16(0)); // no half-read ID
}

QTEST_GUILESS_MAIN(BootloaderTest)
#include "tst_bootloader.moc"
