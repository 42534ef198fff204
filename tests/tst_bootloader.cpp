// The bootloader dialogue and the upgrade against a scripted STM32 ROM
// bootloader that runs in virtual time: the bytes on the wire, the bound of
// every wait, the end of a run for every fault, what the chip is checked
// for before anything is erased, and stopping at any point.

#include "isp/download.h"

#include "testdata.h"

#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(Download::End)

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
QString sendEntry(const QByteArray &bytes) { return QStringLiteral("send ") + QString::fromLatin1(bytes.toHex()); }

quint8 xorOf(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (const char byte : bytes)
        sum ^= quint8(byte);
    return sum;
}

// The camera's ROM bootloader behind the link, as AN3155 has it: it answers
// Get, Get ID, Read Memory, Write Memory, the erases and Go, keeps what is
// written, and logs every call, trace line and progress report. A fault
// replaces the answer to the n-th part sent (from 0); empty means silence.
// Time is virtual: a wait that no answer ends runs out at once, and is
// logged with its bound.
struct FakeDevice : BootLink
{
    // What the bootloader is: an STM32F10x medium density, bootloader 2.2.
    QByteArray commands = hex("000102112131436373 8292");
    quint8 version = 0x22;
    quint16 productId = 0x410;
    int flashSizeKib = 128; // in its F_SIZE register at 0x1FFFF7E0
    QMap<int, QByteArray> faults;
    quint32 corruptAt = 0; // a flash byte that reads back flipped (0: none)

    int stopAfter = -1; // events before the job is told to stop (-1: never)
    Download::Job *job = nullptr;
    QStringList events;
    int sent = 0;
    int ends = 0;
    int timerGeneration = 0;

    std::map<quint32, char> memory; // what was written
    quint8 command = 0;
    bool addressed = false;
    quint32 address = 0;

    void log(const QString &event)
    {
        events.append(event);
        if (events.size() == stopAfter)
            job->abort();
    }
    QByteArray answer(const QByteArray &part)
    {
        const QByteArray ack(1, char(Stm32Boot::kAck));
        if (part.size() == 6) // the camera's IAP frames: nobody answers
            return {};
        if (part == hex("7f"))
            return ack;
        if (part.size() == 2 && quint8(part.at(0) ^ part.at(1)) == 0xFF && command == 0) {
            command = quint8(part.at(0));
            addressed = false;
            if (command == Stm32Boot::kCmdGet) {
                command = 0;
                return ack + char(commands.size()) + char(version) + commands + ack;
            }
            if (command == Stm32Boot::kCmdGetId) {
                command = 0;
                return ack + hex("01") + char(productId >> 8) + char(productId & 0xFF) + ack;
            }
            return ack;
        }
        const quint8 current = std::exchange(command, 0);
        if (!addressed && (current == Stm32Boot::kCmdReadMemory || current == Stm32Boot::kCmdWriteMemory
                           || current == Stm32Boot::kCmdGo)) {
            address = quint32(quint8(part.at(0))) << 24 | quint32(quint8(part.at(1))) << 16
                      | quint32(quint8(part.at(2))) << 8 | quint8(part.at(3));
            addressed = current != Stm32Boot::kCmdGo;
            command = addressed ? current : 0;
            return ack;
        }
        if (current == Stm32Boot::kCmdReadMemory) {
            QByteArray bytes;
            for (quint32 i = 0; i <= quint8(part.at(0)); ++i) {
                const auto found = memory.find(address + i);
                bytes.append(found == memory.end() ? '\xff' : found->second);
                if (address + i == corruptAt && corruptAt)
                    bytes.back() = char(bytes.back() ^ 0x01);
            }
            if (address == 0x1FFFF7E0)
                bytes = QByteArray(1, char(flashSizeKib & 0xFF)) + char(flashSizeKib >> 8);
            return ack + bytes;
        }
        if (current == Stm32Boot::kCmdWriteMemory) {
            for (int i = 1; i < part.size() - 1; ++i)
                memory[address + quint32(i - 1)] = part.at(i);
        }
        return ack; // the data of a write, an erase, the address of Go
    }
    void send(const QByteArray &bytes) override
    {
        const int index = sent++;
        const QByteArray reply = faults.contains(index) ? faults.value(index) : answer(bytes);
        if (faults.contains(index))
            command = 0;
        log(sendEntry(bytes));
        if (!reply.isEmpty())
            QMetaObject::invokeMethod(this, [this, reply] { emit received(reply); }, Qt::QueuedConnection);
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

    // A whole upgrade of `bytes` at `at`.
    Download::Outcome run(const QByteArray &bytes, quint32 at = 0x08000000, const Download::Options &options = {})
    {
        FirmwareImage image;
        for (int i = 0; i < bytes.size(); ++i)
            image.place(at + quint32(i), quint8(bytes.at(i)));
        Download::Job upgrade(*this, image, options);
        job = &upgrade;
        QObject::connect(&upgrade, &Download::Job::trace, [this](const QString &line) { log("trace " + line); });
        QObject::connect(&upgrade, &Download::Job::progress,
                         [this](int value) { log(QStringLiteral("progress %1").arg(value)); });
        Download::Outcome outcome;
        QEventLoop loop;
        QObject::connect(&upgrade, &Download::Job::finished, [&](const Download::Outcome &o) {
            outcome = o, ++ends;
            loop.quit();
        });
        upgrade.start();
        if (upgrade.isRunning())
            loop.exec();
        QCoreApplication::processEvents(); // nothing more may come
        return outcome;
    }
};

// A block of the image on the wire: its address part, and its data part.
QStringList blockParts(const QByteArray &bytes, quint32 address)
{
    const QByteArray block = bytes.leftJustified(256, '\xff');
    QByteArray addressPart;
    for (int shift = 24; shift >= 0; shift -= 8)
        addressPart.append(char(address >> shift));
    return {sendEntry(addressPart + char(xorOf(addressPart))), sendEntry('\xff' + block + char(0xFF ^ xorOf(block)))};
}

struct Case
{
    const char *name;
    quint32 at;   // where the image starts
    int bytes;    // how long it is
    const char *options; // p: page erase, v: verify
    std::function<void(FakeDevice &)> device;
    Download::End end;
    const char *text;    // in the outcome (a part of it)
    QStringList sent;    // parts that must go out (hex), or not ("!" first)
    const char *trace;   // a line that must be traced ("" none)
};

using E = Download::End;
const Case kCases[] = {
    // A run that failed left the bootloader listening: the next run finds
    // it so and goes on. (No bootloader, the part's own flash size, the
    // block of 0xFF after a full last block and what tst_upgrade meets
    // through camsim are that test's.)
    {"synchronised already: silence, then NACK", 0x08000000, 1000, "",
     [](FakeDevice &d) { d.faults = {{1, {}}, {2, hex("1f")}}; }, E::Success, "", {"7f"},
     "Bootloader already synchronised (left so by an earlier run)"},
    // Which erase the bootloader speaks, the whole flash or the pages.
    {"pages with Extended Erase: sectors 2 and 3 of an F4", 0x08008000, 20000, "p",
     [](FakeDevice &d) { d.commands = hex("000102112131 44"), d.productId = 0x413; }, E::Success, "",
     {"44bb", "00010002000300"}, "Erased 2 pages, 0x08008000 to 0x0800FFFF"},
    {"unknown part, whole flash", 0x08000000, 1000, "", [](FakeDevice &d) { d.productId = 0x999; }, E::Success, "",
     {"ff00"}, "Unknown STM32 (product ID 0x999), bootloader 2.2"},
    // Nothing is erased that cannot be written.
    {"refused: data below the flash", 0x00000000, 1000, "", {}, E::ImageRefused,
     "the image has data at 0x00000000, below the flash, which starts at 0x08000000", {}, ""},
    {"refused: pages of an unknown part", 0x08000000, 1000, "p", [](FakeDevice &d) { d.productId = 0x999; },
     E::ImageRefused, "the pages of product ID 0x999 are not known", {}, ""},
    {"refused: page 256 without Extended Erase", 0x08000000 + 256 * 2048, 1000, "p",
     [](FakeDevice &d) { d.productId = 0x430; d.flashSizeKib = 1024; }, E::ImageRefused,
     "page 256 is beyond what the Erase command can name", {}, ""},
    {"refused: read-back asked, no Read Memory", 0x08000000, 1000, "v",
     [](FakeDevice &d) { d.commands = hex("0001022131 43"); }, E::ImageRefused, "offers no Read Memory", {}, ""},
    // Read back (its match and read-out protection: tst_upgrade).
    {"read back: a byte differs", 0x08000000, 1000, "v", [](FakeDevice &d) { d.corruptAt = 0x08000123; },
     E::VerifyFailed, "the block at 0x08000100 reads back different from the image: at 0x08000123", {}, ""},
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
        const auto row = [](const char *name, int at, const char *reply, E end, const char *text) {
            QTest::newRow(name) << at << hex(reply) << -1 << end << QString(text);
        };
        // Sent: 0 Enter IAP, 1 sync, 2 Get, 3 Get ID, 4-6 the flash size
        // read, 7-8 erase, 9-20 four blocks of three parts, 21-22 Go, 23 Exit
        // IAP. Noise around the answers, and each kind of part.
        row("clean", -1, "", E::Success, "");
        row("garbage, then ACK to 0x7F", 1, "55aa0079", E::Success, "");
        row("NACK to Get", 2, "1f", E::IdentifyFailed, "NACK to Get");
        row("Get ID cut short", 3, "7901", E::IdentifyFailed, "no answer to Get ID");
        row("stray 0x00, then NACK to the erase command", 7, "001f", E::EraseCommandFailed,
            "NACK to the Erase command");
        row("NACK to the global erase", 8, "1f", E::EraseFailed, "NACK to the global erase");
        row("NACK to the second block's command", 12, "1f", E::BlockFailed,
            "NACK to the Write Memory command of the block at 0x08000100");
        row("silence after the third block's address", 16, "", E::BlockFailed,
            "no answer to the address of the block at 0x08000200");
        row("garbage, then NACK to the final block's data", 20, "551f79", E::FinalBlockFailed,
            "NACK to the data of the block at 0x08000300");
        row("silence after the Go address", 22, "", E::GoUnconfirmed,
            "no answer to the Go address 0x08000000: the new program is written, but the camera did not confirm");
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
                             "wait 20", "send 7f", "wait 1000", "trace Enter IAP Success", "send 00ff", "wait 1000",
                             "send 02fd", "wait 1000", "send 11ee", "wait 1000", "send 1ffff7e0f7", "wait 1000",
                             "send 01fe", "wait 1000",
                             "trace STM32F10x medium density, 128 KiB flash, bootloader 2.2", "send 43bc",
                             "wait 1000", "trace Erase Command Success", "send ff00", "wait 40000",
                             "trace Erase All Start", "trace Just a few seconds, please.", "trace File Open Success",
                             "progress 0"};
        // A block's predecessors are reported while its data are on the wire.
        for (int k = 0; k < 4; ++k) {
            expected << "send 31ce" << "wait 1000" << blockParts(bytes.mid(k * 256, 256), 0x08000000 + 256 * k).at(0)
                     << "wait 1000" << blockParts(bytes.mid(k * 256, 256), 0x08000000 + 256 * k).at(1) << "wait 1000";
            if (k > 0)
                expected << QStringLiteral("progress %1").arg(256 * k);
        }
        expected << "progress 1024";
        expected << "send 21de" << "wait 1000" << "send 0800000008" << "wait 1000" << "trace Go 0x08000000"
                 << "configure 9600 none" << "send 8902076357ff";

        FakeDevice device;
        if (faultAt >= 0)
            device.faults.insert(faultAt, reply);
        device.stopAfter = stopAfter;
        const Download::Outcome outcome = device.run(bytes);
        QCOMPARE(device.ends, 1);
        QCOMPARE(outcome.end, end);
        // A good end is the whole run; a failed part is the last thing sent,
        // with no trace or progress after it.
        const bool failed = end != Download::End::Success && end != Download::End::Aborted;
        QVERIFY2(outcome.text().startsWith(text), qPrintable(outcome.text()));
        int upTo = stopAfter >= 0 ? stopAfter : expected.size();
        for (int i = 0, sent = 0; failed && upTo == expected.size(); ++i)
            upTo = expected.at(i).startsWith(QLatin1String("send ")) && sent++ == faultAt ? i + 2 : upTo;
        if (failed && expected.value(upTo).startsWith(QLatin1String("progress")))
            ++upTo; // reported while the failed part was on its way
        QCOMPARE(device.events, QStringList(expected.mid(0, upTo)));
    }

    void beforeAndAfterTheFlash_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kCases)); ++i)
            QTest::newRow(kCases[i].name) << i;
    }

    void beforeAndAfterTheFlash()
    {
        QFETCH(int, row);
        const Case &c = kCases[row];
        FakeDevice device;
        if (c.device)
            c.device(device);
        Download::Options options;
        const QByteArray flags(c.options);
        options.erase = flags.contains('p') ? Download::EraseMode::Pages : Download::EraseMode::WholeChip;
        options.verify = flags.contains('v');
        const Download::Outcome outcome = device.run(TestEnv::firmware(c.bytes), c.at, options);
        QCOMPARE(outcome.end, c.end);
        QVERIFY2(outcome.text().contains(QLatin1String(c.text)), qPrintable(outcome.text()));
        for (const QString &part : c.sent) {
            const bool absent = part.startsWith('!');
            QVERIFY2(device.events.contains("send " + part.mid(absent ? 1 : 0)) != absent, qPrintable(part));
        }
        // Refused before the erase: the flash is as it was.
        if (c.end == Download::End::ImageRefused || c.end == Download::End::NoSync)
            QVERIFY(!device.events.contains("send 43bc") && !device.events.contains("send 44bb"));
        QVERIFY(!*c.trace || device.events.contains(QStringLiteral("trace ") + c.trace));
    }

};

QTEST_GUILESS_MAIN(BootloaderTest)
#include "tst_bootloader.moc"
