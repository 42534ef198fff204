// The bootloader dialogue and the download against a scripted device: the
// bytes on the wire, the end of a run for every fault, and stopping.

#include "isp/download.h"

#include <QtTest>

using Stm32Boot::Answer;
using Stm32Boot::Step;

// The device's answer to the n-th part of a step instead of ACK (empty: silence).
struct Fault
{
    Step step;
    int occurrence;
    QByteArray reply;
};

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Stm32Boot::Step)
Q_DECLARE_METATYPE(Stm32Boot::Answer)
Q_DECLARE_METATYPE(Download::End)

namespace {

const char *const kStepNames[] = {"Sync",         "GetId",        "EraseCommand", "GlobalErase", "WriteCommand",
                                  "WriteAddress", "WriteData",    "GoCommand",    "GoAddress"};
const QStringList kTraces{"Enter IAP Success", "Erase Command Success", "Erase All Start",
                          "Just a few seconds, please.", "File Open Success", "Go 0x08000000"};

QString sendEntry(const QByteArray &bytes)
{
    return QStringLiteral("send ") + QString::fromLatin1(bytes.toHex());
}

// The camera's ROM bootloader behind the link: it tells the parts apart,
// answers each with ACK unless a fault says otherwise, and logs every call.
// receive() never waits: silence comes back at once, and the test checks
// the bound the dialogue asked for instead.
class FakeDevice : public BootLink
{
public:
    QList<Fault> faults;
    QString stopAt; // a log entry, step ("WriteData 1"), trace or progress: the link stops after it
    bool stopped = false;
    int callsAfterStop = 0;
    QStringList log;
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
        for (const Fault &fault : faults)
            if (step == fault.step && n == fault.occurrence)
                pending = fault.reply;
        record(sendEntry(bytes), step ? QStringLiteral("%1 %2").arg(QLatin1String(kStepNames[int(*step)])).arg(n)
                                      : QString());
    }

    std::optional<quint8> receive(int timeoutMs) override
    {
        if (!bounds.isEmpty() && bounds.last() < 0)
            bounds.last() = timeoutMs;
        if (stopped || pending.isEmpty())
            return std::nullopt;
        const auto byte = quint8(pending.at(0));
        pending.remove(0, 1);
        return byte;
    }

    void configure(qint32 baud, Parity parity) override
    {
        const char *name = parity == Parity::Even ? "even" : "none";
        record(QStringLiteral("configure %1 %2").arg(baud).arg(QLatin1String(name)));
    }
    void pause(int ms) override { record(QStringLiteral("pause %1").arg(ms)); }
    bool aborted() const override { return stopped; }

    void reached(const QString &point) { stopped = stopped || (!point.isEmpty() && point == stopAt); }

private:
    void record(const QString &entry, const QString &stepLabel = QString())
    {
        callsAfterStop += stopped;
        log.append(entry);
        reached(entry);
        reached(stepLabel);
    }

    QHash<int, int> sent; // parts sent, by step
    QByteArray pending;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 13 + 0x5A);
    return bytes;
}

struct Run
{
    Download::Outcome outcome;
    QStringList traces;
    QList<int> progress;
    int reportsAfterStop = 0;
};

Run runAgainst(FakeDevice &device, const QByteArray &bytes)
{
    FirmwareImage image;
    for (int i = 0; i < bytes.size(); ++i)
        image.place(0x08000000u + quint32(i), quint8(bytes.at(i)));
    Run run;
    Download::Observer observer;
    observer.trace = [&](const QString &line) {
        run.reportsAfterStop += device.stopped;
        run.traces.append(line);
        device.reached(QStringLiteral("trace ") + line);
    };
    observer.progress = [&](int value) {
        run.reportsAfterStop += device.stopped;
        run.progress.append(value);
        device.reached(QStringLiteral("progress %1").arg(value));
    };
    run.outcome = Download::run(device, image, observer);
    return run;
}

} // namespace

class BootloaderTest : public QObject
{
    Q_OBJECT

private slots:
    void wholeRun_data();
    void wholeRun();
    void faults_data();
    void faults();
    void stop_data();
    void stop();
    void getId_data();
    void getId();
};

void BootloaderTest::wholeRun_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("progress");

    QTest::newRow("1000 bytes: final block 232 bytes + 24 x 0xFF") << 1000 << QList<int>{0, 256, 512, 768, 1024};
    QTest::newRow("512 bytes: a block of 0xFF follows") << 512 << QList<int>{0, 256, 512, 768};
}

void BootloaderTest::wholeRun()
{
    QFETCH(int, size);
    QFETCH(QList<int>, progress);

    // The camera's download on the wire: every full 256 bytes, then a final
    // block padded with 0xFF, each as 31 CE; A3 A2 A1 00 and their XOR;
    // 0xFF (N-1), the data and 0xFF XOR the data.
    const QByteArray bytes = pattern(size);
    QStringList expected{"configure 9600 none", "send 8902076358ff", "pause 1030", "configure 57600 even",
                         "pause 20",            "send 7f",           "send 43bc",  "send ff00"};
    for (int k = 0; k <= size / 256; ++k) {
        const QByteArray block = bytes.mid(k * 256, 256).leftJustified(256, '\xff');
        char check = '\xff';
        for (const char b : block)
            check = char(check ^ b);
        const char a1 = char(k);
        expected << "send 31ce" << sendEntry(QByteArray("\x08\x00", 2) + a1 + '\0' + char(0x08 ^ a1))
                 << sendEntry('\xff' + block + check);
    }
    expected << "send 21de" << "send 0800000008" << "configure 9600 none" << "send 8902076357ff";

    FakeDevice device;
    const Run run = runAgainst(device, bytes);
    QCOMPARE(run.outcome.end, Download::End::Success);
    QCOMPARE(device.log, expected);
    QCOMPARE(run.traces, kTraces);
    QCOMPARE(run.progress, progress);
    // Every part waits for its answer within its bound: long for the global
    // erase, short for everything else; the IAP frames wait for nothing.
    for (int i = 0; i < device.steps.size(); ++i) {
        const std::optional<Step> step = device.steps.at(i);
        const int bound = !step ? -1 : step == Step::GlobalErase ? 40000 : 1000;
        const int asked = device.bounds.at(i);
        QVERIFY2(bound < 0 ? asked == -1 : asked > bound / 2 && asked <= bound,
                 qPrintable(QStringLiteral("send %1 asked %2 ms").arg(i).arg(asked)));
    }
}

void BootloaderTest::faults_data()
{
    QTest::addColumn<QList<Fault>>("faults");
    QTest::addColumn<Download::End>("end");
    QTest::addColumn<Step>("step");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("blocks"); // blocks acknowledged, -1 when writing never started

    using E = Download::End;
    const auto fault = [](Step step, int n, const char *hex) { return Fault{step, n, QByteArray::fromHex(hex)}; };
    const auto row = [](const char *name, QList<Fault> faults, E end, Step step, Answer answer, const char *text,
                        int blocks) {
        QTest::newRow(name) << faults << end << step << answer << QString::fromLatin1(text) << blocks;
    };
    const auto ok = [&](const char *name, QList<Fault> faults) {
        row(name, faults, E::Success, Step::Sync, Answer::Ack, "", 4);
    };
    const Answer nack = Answer::Nack, silence = Answer::Timeout;

    row("NACK to 0x7F", {fault(Step::Sync, 0, "1f")}, E::NoSync, Step::Sync, nack, "NACK to the sync byte 0x7F", -1);
    row("silence after 0x7F", {fault(Step::Sync, 0, "")}, E::NoSync, Step::Sync, silence,
        "no answer to the sync byte 0x7F", -1);
    ok("garbage, then ACK to 0x7F", {fault(Step::Sync, 0, "55aa0079")});
    row("stray 0x00, then NACK to the erase command", {fault(Step::EraseCommand, 0, "001f")}, E::EraseCommandFailed,
        Step::EraseCommand, nack, "NACK to the Erase command", -1);
    row("a stale second ACK to 0x7F never acknowledges the erase command",
        {fault(Step::Sync, 0, "7979"), fault(Step::EraseCommand, 0, "")}, E::EraseCommandFailed, Step::EraseCommand,
        silence, "no answer to the Erase command", -1);
    row("NACK to the global erase", {fault(Step::GlobalErase, 0, "1f")}, E::EraseFailed, Step::GlobalErase, nack,
        "NACK to the global erase", -1);
    row("NACK to the first block's data", {fault(Step::WriteData, 0, "1f")}, E::BlockFailed, Step::WriteData, nack,
        "NACK to the data of the block at 0x08000000", 0);
    row("NACK to the second block's command", {fault(Step::WriteCommand, 1, "1f")}, E::BlockFailed,
        Step::WriteCommand, nack, "NACK to the Write Memory command of the block at 0x08000100", 1);
    row("silence after the third block's address", {fault(Step::WriteAddress, 2, "")}, E::BlockFailed,
        Step::WriteAddress, silence, "no answer to the address of the block at 0x08000200", 2);
    row("garbage, then NACK to the final block's data", {fault(Step::WriteData, 3, "551f79")}, E::FinalBlockFailed,
        Step::WriteData, nack, "NACK to the data of the block at 0x08000300", 3);
    row("silence after the final block's command", {fault(Step::WriteCommand, 3, "")}, E::FinalBlockFailed,
        Step::WriteCommand, silence, "no answer to the Write Memory command of the block at 0x08000300", 3);
    ok("stray 0x00 before each block's ACK", {fault(Step::WriteData, 0, "0079"), fault(Step::WriteData, 1, "0079"),
                                              fault(Step::WriteData, 2, "0079"), fault(Step::WriteData, 3, "0079")});
    ok("NACK to Go does not matter", {fault(Step::GoCommand, 0, "1f")});
    ok("silence after the Go address does not matter", {fault(Step::GoAddress, 0, "")});
}

void BootloaderTest::faults()
{
    QFETCH(QList<Fault>, faults);
    QFETCH(Download::End, end);
    QFETCH(Step, step);
    QFETCH(Answer, answer);
    QFETCH(QString, text);
    QFETCH(int, blocks);

    FakeDevice device;
    device.faults = faults;
    const Run run = runAgainst(device, pattern(1000));
    QCOMPARE(run.outcome.end, end);
    QList<int> progress;
    for (int done = 0; done <= blocks; ++done)
        progress.append(256 * done);
    QCOMPARE(run.progress, progress);
    // The trace lines each end has reached.
    const QMap<Download::End, int> traces{{Download::End::NoSync, 0},      {Download::End::EraseCommandFailed, 1},
                                          {Download::End::EraseFailed, 2}, {Download::End::BlockFailed, 5},
                                          {Download::End::FinalBlockFailed, 5}, {Download::End::Success, 6}};
    QCOMPARE(run.traces, kTraces.mid(0, traces.value(end)));
    if (end == Download::End::Success) {
        QCOMPARE(device.log.last(), sendEntry(Stm32Boot::exitIapFrame()));
        return;
    }
    QCOMPARE(run.outcome.failure.step, step);
    QCOMPARE(run.outcome.failure.answer, answer);
    QCOMPARE(run.outcome.failure.text(), text);
    QVERIFY(device.steps.last() == step); // nothing goes out after the part that failed
    QVERIFY(device.log.last().startsWith(QLatin1String("send ")));
}

void BootloaderTest::stop_data()
{
    QTest::addColumn<QString>("point");

    for (const char *point : {"send 8902076358ff", "pause 1030", "pause 20", "Sync 0", "GlobalErase 0",
                              "trace Erase All Start", "progress 0", "WriteAddress 2", "WriteData 3", "progress 1024",
                              "GoCommand 0", "trace Go 0x08000000"})
        QTest::newRow(point) << QString::fromLatin1(point);
}

void BootloaderTest::stop()
{
    QFETCH(QString, point);

    FakeDevice device;
    device.stopAt = point;
    const Run run = runAgainst(device, pattern(1000));
    QVERIFY(device.stopped); // the point was reached
    QCOMPARE(run.outcome.end, Download::End::Aborted);
    QCOMPARE(device.callsAfterStop, 0);
    QCOMPARE(run.reportsAfterStop, 0);
}

void BootloaderTest::getId_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("productId");

    QTest::newRow("ACK 01 04 10 ACK") << QByteArray::fromHex("7901041079") << Answer::Ack << 0x0410;
    QTest::newRow("stray 0x00 before the ACK") << QByteArray::fromHex("007901041079") << Answer::Ack << 0x0410;
    QTest::newRow("NACK") << QByteArray::fromHex("1f") << Answer::Nack << 0;
    QTest::newRow("cut short after the count") << QByteArray::fromHex("7901") << Answer::Timeout << 0;
    QTest::newRow("NACK instead of the closing ACK") << QByteArray::fromHex("790104101f") << Answer::Nack << 0;
}

void BootloaderTest::getId()
{
    QFETCH(QByteArray, reply);
    QFETCH(Answer, answer);
    QFETCH(int, productId);

    FakeDevice device;
    device.faults = {{Step::GetId, 0, reply}};
    quint16 id = 0;
    const Stm32Boot::Result result = Stm32Boot::Dialogue(device).getId(&id);
    QCOMPARE(device.log, QStringList{"send 02fd"});
    QCOMPARE(result.answer, answer);
    QCOMPARE(result.step, Step::GetId);
    QCOMPARE(int(id), productId);
}

QTEST_GUILESS_MAIN(BootloaderTest)
#include "tst_bootloader.moc"
