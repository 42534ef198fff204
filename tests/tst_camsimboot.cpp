// The camera's STM32 bootloader as camsim plays it, met the way the window
// meets it (Enter IAP at 9600 baud, then AN3155 at 57600) and judged by the
// exact answers and the JSON record: what a bootloader that took anything
// would hide from tst_upgrade.

#include "camsimprocess.h"
#include "testenv.h"

#include <QtTest>

#include <functional>
#include <numeric>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// One exchange: a part sent to the bootloader and its exact answer.
struct Step { QByteArray send, reply; };
using Script = QVector<Step>;

Step step(const char *send, const char *reply) { return {hex(send), hex(reply)}; }

quint8 xorOf(const QByteArray &part) { return quint8(std::accumulate(part.begin(), part.end(), 0, std::bit_xor<>())); }

// Blocks that differ and XOR to no zero: a checksum that left the data out
// would differ.
QByteArray block(int n) { return TestEnv::firmware(256 * (n + 1)).mid(256 * n); }

// Write Memory: the command, the address (most significant byte first, then
// the XOR of the four) and the data, the first `acked` of them acknowledged
// and the next refused; `spoil` is XORed into the data checksum.
Script write(quint32 address, const QByteArray &data, int acked = 3, quint8 spoil = 0)
{
    QByteArray addressPart;
    for (int shift = 24; shift >= 0; shift -= 8)
        addressPart.append(char(address >> shift));
    QByteArray dataPart = char(data.size() - 1) + data;
    const QByteArray parts[] = {hex("31ce"), addressPart + char(xorOf(addressPart)),
                                dataPart + char(xorOf(dataPart) ^ spoil)};
    Script script;
    for (int i = 0; i <= std::min(acked, 2); ++i)
        script.append({parts[i], hex(i < acked ? "79" : "1f")});
    return script;
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
        QTest::addColumn<Script>("script");       // after the sync
        QTest::addColumn<QStringList>("refusals"); // the reasons of the NACKs on record, in order
        constexpr quint32 kFlash = 0x08000000;

        // Get: version 2.2, then the six commands camsim knows. A refusal
        // leaves the bootloader ready for the next command. Pages 0 and 2
        // of 1 KiB are erased: page 1 keeps the old program and refuses data.
        QTest::newRow("refusals") << QStringList()
            << Script{step("00ff", "79 06 22 00 02 11 21 31 43 79"), step("7f", "1f"), step("44bb", "1f"),
                      step("31cf", "1f"), step("02fd", "79 01 0410 79"), step("31ce", "79"),
                      step("08000000 00", "1f"), step("43bc", "79"), step("ff01", "1f"), step("43bc", "79"),
                      step("00 80 80", "1f"), step("43bc", "79"), step("01 00 02 03", "79")}
                   + write(kFlash, block(1)) + write(kFlash + 0x400, block(2), 2) + write(kFlash + 0x800, block(3))
                   + write(kFlash + 0x900, block(4), 2, 0x01)
            << QStringList{"unknown-command", "unknown-command", "complement", "address-checksum", "erase-checksum",
                           "outside-flash", "not-erased", "data-checksum"};
        // The device is busy until the erase is done: an ACK that came sooner
        // would let a window that waited too little pass. The last block of
        // 64 KiB is written; one across its end is refused at the data, one
        // past it at the address.
        QTest::newRow("--parity none --flash-kib 64 --erase-ms 200")
            << QStringList{"--parity", "none", "--flash-kib", "64", "--erase-ms", "200"}
            << Script{step("43bc", "79"), step("ff00", "79")} + write(kFlash + 0xff00, block(1))
                   + write(kFlash + 0xff80, block(2), 2) + write(kFlash + 0x10000, block(3), 1)
            << QStringList{"outside-flash", "outside-flash"};
    }

    void exchanges()
    {
        QFETCH(QStringList, options);
        QFETCH(Script, script);
        QFETCH(QStringList, refusals);
        CamsimBench bench;
        QVERIFY(bench.start(QStringList{"--erase-ms", "10"} + options));
        // The window's way in: Enter IAP to the firmware at 9600 baud, then
        // 57600 and the sync.
        bench.port.write(hex("8902076358ff"));
        QVERIFY(bench.camera.waitFor({{"event", "bootloader"}}) >= 0 && bench.port.setBaudRate(57600));
        QCOMPARE(bench.ask(hex("7f"), 1), hex("79"));
        QElapsedTimer timer;
        timer.start();
        for (const Step &s : script)
            QCOMPARE(bench.ask(s.send, s.reply.size()).toHex(), s.reply.toHex());
        const int eraseMs = options.value(options.indexOf(QStringLiteral("--erase-ms")) + 1).toInt();
        QVERIFY2(timer.elapsed() >= eraseMs, qPrintable(QString::number(timer.elapsed()))); // no sooner
        // The sync found the line at 57600 baud; a pseudo-terminal drops the
        // parity flag, so the bootloader's 8E1 is assumed unless told otherwise.
        const int bitsPerByte = options.contains(QStringLiteral("none")) ? 10 : 11;
        QVERIFY(bench.camera.find({{"command", "sync"}, {"baud", 57600}, {"bits_per_byte", bitsPerByte}}) >= 0);
        for (int i = 0, at = -1; i < refusals.size(); ++i) {
            at = bench.camera.waitFor({{"result", "nack"}, {"reason", refusals.at(i)}}, at + 1);
            QVERIFY2(at >= 0, qPrintable(refusals.at(i)));
        }
        QCOMPARE(bench.camera.count({{"result", "nack"}}, 0, int(bench.camera.lines.size())), refusals.size());
    }
};

QTEST_GUILESS_MAIN(CamsimBootTest)
#include "tst_camsimboot.moc"
