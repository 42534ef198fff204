// The camera's STM32 bootloader as camsim plays it, met the way the window
// meets it: Enter IAP at 9600 baud, then 57600 and the bytes of ST's USART
// bootloader protocol (AN3155), judged by the bytes that come back and the
// JSON record. The window's whole upgrade against it, with every fault option
// and the flash image compared with the file, is tst_upgrade; here is what a
// bootloader that took anything would hide from it: checksums and complements
// refused, unerased flash refused, addresses outside the flash, the erase time.

#include "camsimprocess.h"

#include <QtTest>

#include <functional>
#include <numeric>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kAck = hex("79");
const QByteArray kNack = hex("1f");
constexpr quint32 kFlashStart = 0x08000000;

// One exchange: a part sent to the bootloader and its exact answer.
struct Step { QByteArray send, reply; };
using Script = QVector<Step>;

Step step(const char *send, const char *reply) { return {hex(send), hex(reply)}; }

quint8 xorOf(const QByteArray &part) { return quint8(std::accumulate(part.begin(), part.end(), 0, std::bit_xor<>())); }

// Four address bytes, most significant first, and their XOR.
QByteArray addressPart(quint32 address)
{
    QByteArray part;
    for (int shift = 24; shift >= 0; shift -= 8)
        part.append(char(address >> shift));
    return part + char(xorOf(part));
}

// 256 bytes, 0x00, 0x80 and 0xFF among them, in an order that differs from
// seed to seed. The last is nudged so that their XOR is not zero: a checksum
// that left the data out would then differ.
QByteArray block(int seed)
{
    QByteArray data(256, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(seed * 31 + i * 7 + (i == 255));
    return data;
}

// Write Memory: the command, the address and the data, the first `acked` of
// them acknowledged and the next refused; `spoil` is XORed into the data checksum.
Script write(quint32 address, const QByteArray &data, int acked = 3, quint8 spoil = 0)
{
    QByteArray dataPart = char(data.size() - 1) + data;
    dataPart.append(char(xorOf(dataPart) ^ spoil));
    const QByteArray parts[] = {hex("31ce"), addressPart(address), dataPart};
    Script script;
    for (int i = 0; i <= std::min(acked, 2); ++i)
        script.append({parts[i], i < acked ? kAck : kNack});
    return script;
}

const Script kGlobalErase = {{hex("43bc"), kAck}, {hex("ff00"), kAck}};

// The window's way in: Enter IAP to the firmware at 9600 baud, then 57600 and
// the sync. (A pseudo-terminal refuses parity: camsim assumes the 8E1 of the
// bootloader.)
bool enterBootloader(CamsimBench &bench)
{
    const int from = bench.camera.lines.size();
    bench.port.setBaudRate(9600);
    bench.port.write(hex("8902076358ff"));
    return bench.camera.waitFor({{"event", "bootloader"}}, from) >= 0 && bench.port.setBaudRate(57600)
           && bench.ask(hex("7f"), 1) == kAck;
}

// Runs the script: the first part answered otherwise, and its answer; or
// nothing.
QString run(CamsimBench &bench, const Script &script)
{
    for (const Step &s : script) {
        const QByteArray got = bench.ask(s.send, s.reply.size());
        if (got != s.reply)
            return QString::fromLatin1(s.send.left(8).toHex() + " answered " + got.left(16).toHex());
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Script)

class CamsimBootTest : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<Script>("script");   // after the sync
        QTest::addColumn<QString>("refusal"); // the reason of a NACK on record
        QTest::addColumn<int>("leastMs");     // the script takes no less
        const auto row = [](const char *name, const QStringList &options, const Script &script, const char *refusal,
                            int leastMs = 0) {
            QTest::newRow(name) << options << script << QString::fromLatin1(refusal) << leastMs;
        };
        const Script getId = {step("02fd", "79 01 0410 79")};
        row("sync, --parity none", {"--parity", "none"}, {}, "");
        // Version 2.2, then the six commands camsim knows.
        row("get", {}, {step("00ff", "79 06 22 00 02 11 21 31 43 79")}, "");
        row("0x7f after sync: refused, commands go on", {}, Script{step("7f", "1f")} + getId, "unknown-command");
        row("unknown command (extended erase)", {}, {step("44bb", "1f")}, "unknown-command");
        row("wrong complement, then a good command", {}, Script{step("31cf", "1f")} + getId, "complement");
        // Pages 0 and 2 of 1 KiB: page 1 keeps the old program and refuses data.
        row("page erase", {}, Script{step("43bc", "79"), step("01 00 02 03", "79")} + write(kFlashStart, block(1))
                + write(kFlashStart + 0x400, block(2), 2) + write(kFlashStart + 0x800, block(3)), "not-erased");
        row("wrong address checksum", {}, {step("31ce", "79"), step("08000000 00", "1f")}, "address-checksum");
        row("wrong data checksum", {}, kGlobalErase + write(kFlashStart, block(1), 2, 0x01), "data-checksum");
        // The last block of 64 KiB is written; one across its end is refused
        // at the data, one past it at the address.
        row("--flash-kib 64", {"--flash-kib", "64"},
            kGlobalErase + write(kFlashStart + 0xff00, block(1)) + write(kFlashStart + 0xff80, block(2), 2)
                + write(kFlashStart + 0x10000, block(3), 1),
            "outside-flash");
        row("wrong global erase checksum", {}, {step("43bc", "79"), step("ff01", "1f")}, "erase-checksum");
        row("page past the flash", {}, {step("43bc", "79"), step("00 80 80", "1f")}, "outside-flash");
        // The device is busy until the erase is done: an ACK that came sooner
        // would let a window that waited too little pass.
        row("global erase, --erase-ms 200", {"--erase-ms", "200"}, kGlobalErase, "", 200);
    }

    void exchanges()
    {
        QFETCH(QStringList, options);
        QFETCH(Script, script);
        QFETCH(QString, refusal);
        QFETCH(int, leastMs);
        CamsimBench bench;
        QVERIFY(bench.start(QStringList{"--erase-ms", "10"} + options) && enterBootloader(bench));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(run(bench, script), QString());
        QVERIFY2(timer.elapsed() >= leastMs, qPrintable(QString::number(timer.elapsed())));
        // The sync found the line at 57600 baud; a pseudo-terminal drops the
        // parity flag, so the bootloader's 8E1 is assumed unless told otherwise.
        const int bitsPerByte = options.contains(QStringLiteral("none")) ? 10 : 11;
        QVERIFY(bench.camera.find({{"command", "sync"}, {"baud", 57600}, {"bits_per_byte", bitsPerByte}}) >= 0);
        QVERIFY(refusal.isEmpty() || bench.camera.waitFor({{"result", "nack"}, {"reason", refusal}}) >= 0);
    }
};

QTEST_GUILESS_MAIN(CamsimBootTest)
#include "tst_camsimboot.moc"
