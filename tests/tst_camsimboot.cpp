// The camera's STM32 bootloader as camsim plays it, met the way the window
// meets it (Enter IAP at 9600 baud, then AN3155 at 57600 or 115200; or a
// camera left in its bootloader) and judged by the exact answers, the JSON
// record and the flash it leaves: what a bootloader that took anything
// would hide from tst_upgrade.

#include "camsimprocess.h"
#include "testenv.h"

#include <QtEndian>
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

// What the flash-out file must hold, as runs "kind bytes" from 0x08000000,
// the last one without a length to the end: "resident" (a vector table, a
// stack pointer in SRAM and a Thumb reset handler inside the run, and code
// that is neither erased nor the old program anywhere), "erased", and "old"
// (camsim's old program: byte i of the flash is i mod 251). Returns what is
// wrong, or nothing.
QString flashMismatch(const QByteArray &image, const QString &layout)
{
    const auto old = [&image](int at, int n) {
        for (int i = at; i < at + n; ++i) {
            if (quint8(image.at(i)) != i % 251)
                return false;
        }
        return true;
    };
    int at = 0;
    for (const QString &run : layout.split(", ")) {
        const QStringList f = run.split(' ');
        const int n = f.size() > 1 ? f[1].toInt() : image.size() - at;
        if (at + n > image.size())
            return run + ": past the end";
        const QByteArray bytes = image.mid(at, n);
        bool good = f[0] == "erased" ? bytes == QByteArray(n, char(0xFF)) : f[0] == "old" && old(at, n);
        if (f[0] == "resident") {
            const auto word = [&bytes](int k) { return qFromLittleEndian<quint32>(bytes.constData() + k); };
            good = (word(0) & 0xFFF00003) == 0x20000000 && (word(4) & 1) && word(4) - 0x08000000 < quint32(n)
                   && !bytes.contains(char(0xFF));
            for (int k = 0; k < n; k += 256)
                good = good && !old(at + k, std::min(256, n - k));
        }
        if (!good)
            return run + QString(" at 0x%1").arg(at, 0, 16);
        at += n;
    }
    return at == image.size() ? QString() : QString("flash is %1 bytes").arg(image.size());
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
        QTest::addColumn<int>("baud");             // the window's, for the sync and after
        QTest::addColumn<Script>("script");       // after the sync; an empty step closes and reopens the port
        QTest::addColumn<QStringList>("refusals"); // the reasons of the NACKs on record, in order
        QTest::addColumn<QStringList>("records");  // further records that must appear, in order
        QTest::addColumn<QString>("flash");        // the flash-out file after Go (see flashMismatch)
        constexpr quint32 kFlash = 0x08000000;

        // Get: version 2.2, then the six commands camsim knows. A refusal
        // leaves the bootloader ready for the next command. Pages 0 and 2
        // of 1 KiB are erased: page 1 keeps the old program and refuses data.
        // Go finds the block written at the start of the flash.
        QTest::newRow("refusals") << QStringList() << 57600
            << Script{step("00ff", "79 06 22 00 02 11 21 31 43 79"), step("7f", "1f"), step("44bb", "1f"),
                      step("31cf", "1f"), step("02fd", "79 01 0410 79"), step("31ce", "79"),
                      step("08000000 00", "1f"), step("43bc", "79"), step("ff01", "1f"), step("43bc", "79"),
                      step("00 80 80", "1f"), step("43bc", "79"), step("01 00 02 03", "79")}
                   + write(kFlash, block(1)) + write(kFlash + 0x400, block(2), 2) + write(kFlash + 0x800, block(3))
                   + write(kFlash + 0x900, block(4), 2, 0x01) + Script{step("21de", "79"), step("08000000 08", "79")}
            << QStringList{"unknown-command", "unknown-command", "complement", "address-checksum", "erase-checksum",
                           "outside-flash", "not-erased", "data-checksum"}
            << QStringList{R"({"event": "go", "address": "0x08000000", "vector": "programmed"})"} << QString();
        // The device is busy until the erase is done: an ACK that came sooner
        // would let a window that waited too little pass. The last block of
        // 64 KiB is written; one across its end is refused at the data, one
        // past it at the address. Read-out protection refuses Read Memory.
        QTest::newRow("--parity none --flash-kib 64 --erase-ms 200 --read-protected")
            << QStringList{"--parity", "none", "--flash-kib", "64", "--erase-ms", "200", "--read-protected"} << 57600
            << Script{step("43bc", "79"), step("ff00", "79")} + write(kFlash + 0xff00, block(1))
                   + write(kFlash + 0xff80, block(2), 2) + write(kFlash + 0x10000, block(3), 1)
                   + Script{step("11ee", "1f")}
            << QStringList{"outside-flash", "outside-flash", "read-protected"} << QStringList() << QString();
        // An F40x at 115200 baud with wire time: Extended Erase only, and its
        // sectors of 16, 64 and 128 KiB. Sectors 0 and 4 erased, the last
        // block of sector 4 takes data and the first of sector 5 does not.
        // There is no sector 12, no second bank; the mass erase takes all
        // of erase-ms and erases sector 1 too.
        QTest::newRow("--pid 0x413 --wire-time at 115200")
            << QStringList{"--pid", "0x413", "--erase-ms", "256", "--wire-time"} << 115200
            << Script{step("00ff", "79 06 31 00 02 11 21 31 44 79"), step("43bc", "1f"), step("44bb", "79"),
                      step("0001 0000 000c 0d", "1f"), step("44bb", "79"), step("0000 0001 00", "1f"),
                      step("44bb", "79"), step("0001 0000 0004 05", "79")}
                   + write(kFlash + 0x1ff00, block(1)) + write(kFlash + 0x20000, block(2), 2)
                   + Script{step("44bb", "79"), step("fffe 01", "1f"), step("44bb", "79"), step("ffff 00", "79")}
                   + write(kFlash + 0x4000, block(3))
            << QStringList{"unknown-command", "outside-flash", "erase-checksum", "not-erased", "single-bank"}
            << QStringList{R"({"command": "ext-erase", "pages": [0, 4], "result": "ack"})",
                           R"({"command": "ext-erase", "pages": "all", "result": "ack"})"} << QString();
        // An F10x high density at 115200 without wire time: Erase (0x43) of
        // page 1, which is 2 KiB from 0x800.
        QTest::newRow("--pid 0x414 at 115200")
            << QStringList{"--pid", "0x414"} << 115200
            << Script{step("43bc", "79"), step("00 01 01", "79")} + write(kFlash + 0x800, block(1))
                   + write(kFlash + 0xf00, block(2)) + write(kFlash + 0x1000, block(3), 2)
            << QStringList{"not-erased"} << QStringList{R"({"command": "erase", "pages": [1], "result": "ack"})"}
            << QString();
        // A camera left in its bootloader: no Enter IAP, no sync, 0x7F is
        // refused, before and after the window closed and reopened its port.
        // Get lists the commands asked for in code order with the version
        // asked for; Read Memory is not one of them.
        QTest::newRow("--start-synced --commands --bootloader-version")
            << QStringList{"--start-synced", "--commands", "get-id,get,write,get-version", "--bootloader-version",
                           "0x30"} << 57600
            << Script{step("7f", "1f"), step("00ff", "79 04 30 00 01 02 31 79"), step("01fe", "79 30 00 00 79"),
                      step("", ""), step("7f", "1f"), step("11ee", "1f"), step("02fd", "79 01 0410 79")}
            << QStringList{"unknown-command", "unknown-command", "unknown-command"}
            << QStringList{R"({"event": "bootloader", "synced": true})"} << QString();
        // A resident bootloader in the first 2 KiB: page 2 behind it is
        // erased and read back, and Go into it finds no program there.
        QTest::newRow("--resident-kib 2")
            << QStringList{"--resident-kib", "2"} << 57600
            << Script{step("43bc", "79"), step("00 02 02", "79"), step("11ee", "79"), step("08000800 00", "79"),
                      step("07f8", "79 ffffffffffffffff"), step("21de", "79"), step("08000800 00", "79")}
            << QStringList() << QStringList{R"({"event": "go", "address": "0x08000800", "vector": "erased"})"}
            << QString("resident 2048, erased 1024, old");
    }

    void exchanges()
    {
        QFETCH(QStringList, options);
        QFETCH(int, baud);
        QFETCH(Script, script);
        QFETCH(QStringList, refusals);
        QFETCH(QStringList, records);
        QFETCH(QString, flash);
        QTemporaryDir dir;
        const QString flashPath = dir.filePath("flash.bin");
        CamsimBench bench;
        QVERIFY(bench.start(QStringList{"--erase-ms", "10", "--flash-out", flashPath} + options));
        // The window's way in: Enter IAP to the firmware at 9600 baud, then
        // its baud rate and the sync; a camera left synchronised needs neither.
        const bool synced = options.contains("--start-synced");
        if (!synced) {
            bench.port.write(hex("8902076358ff"));
            QVERIFY(bench.camera.waitFor({{"event", "bootloader"}}) >= 0);
        }
        QVERIFY(bench.port.setBaudRate(baud));
        QVERIFY(synced || bench.ask(hex("7f"), 1) == hex("79"));
        QElapsedTimer timer;
        timer.start();
        for (const Step &s : script) {
            if (s.send.isEmpty()) {
                bench.port.close();
                QVERIFY(bench.port.open(QIODevice::ReadWrite) && bench.port.setBaudRate(baud));
                continue;
            }
            QCOMPARE(bench.ask(s.send, s.reply.size()).toHex(), s.reply.toHex());
        }
        const int eraseMs = options.value(options.indexOf(QStringLiteral("--erase-ms")) + 1).toInt();
        QVERIFY2(timer.elapsed() >= eraseMs, qPrintable(QString::number(timer.elapsed()))); // no sooner
        // The sync found the line at the window's baud rate; a pseudo-terminal
        // drops the parity flag, so the bootloader's 8E1 is assumed unless
        // told otherwise.
        const int bitsPerByte = options.contains(QStringLiteral("none")) ? 10 : 11;
        QVERIFY(synced || bench.camera.find({{"command", "sync"}, {"baud", baud}, {"bits_per_byte", bitsPerByte}}) >= 0);
        for (int i = 0, at = -1; i < refusals.size(); ++i) {
            at = bench.camera.waitFor({{"result", "nack"}, {"reason", refusals.at(i)}}, at + 1);
            QVERIFY2(at >= 0, qPrintable(refusals.at(i)));
        }
        QCOMPARE(bench.camera.count({{"result", "nack"}}, 0, int(bench.camera.lines.size())), refusals.size());
        for (int i = 0, at = -1; i < records.size(); ++i) {
            at = bench.camera.waitFor(QJsonDocument::fromJson(records.at(i).toUtf8()).object(), at + 1);
            QVERIFY2(at >= 0, qPrintable(records.at(i)));
        }
        // The file is written before the go record.
        QFile file(flashPath);
        QVERIFY(flash.isEmpty() || file.open(QIODevice::ReadOnly));
        QCOMPARE(flash.isEmpty() ? QString() : flashMismatch(file.readAll(), flash), QString());
    }
};

QTEST_GUILESS_MAIN(CamsimBootTest)
#include "tst_camsimboot.moc"
