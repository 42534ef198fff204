// The camera's STM32 bootloader as camsim plays it, met the way the window
// meets it: Enter IAP at 9600 8N1, then 57600 8E1 and the bytes of ST's USART
// bootloader protocol (AN3155). Judged by the bytes that come back, the flash
// image camsim writes out and its JSON record. Nothing here shares code with
// camsim. Its fault options --nack-block, --fail-erase, --silent-after-block
// and --no-bootloader are met through the window's whole upgrade (tst_upgrade).

#include "camsimprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <numeric>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kAck = hex("79");
const QByteArray kNack = hex("1f");
constexpr quint32 kFlashStart = 0x08000000;
constexpr int kFlashBytes = 128 * 1024; // camsim's default flash
const QString kFlashFile = QStringLiteral("flash.bin");

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

// 256 bytes holding every value once (0x00, 0x80 and 0xFF among them), in an
// order that differs from seed to seed.
QByteArray block(int seed)
{
    QByteArray data(256, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(seed * 31 + i * 7);
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

const Script kSync = {{hex("7f"), kAck}};
const Script kGlobalErase = {{hex("43bc"), kAck}, {hex("ff00"), kAck}};

QByteArray flashImage(const QTemporaryDir &dir)
{
    QFile file(dir.filePath(kFlashFile));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The window's way in: Enter IAP to the firmware at 9600 8N1, then the
// bootloader's line settings. A pseudo-terminal refuses parity (QSerialPort
// reads the setting back and reports "Invalid argument"): camsim assumes the
// bootloader's 8E1.
bool enterBootloader(CamsimBench &bench)
{
    const int from = bench.camera.lines.size();
    if (!bench.port.setBaudRate(9600) || !bench.port.setParity(QSerialPort::NoParity))
        return false;
    bench.port.write(hex("8902076358ff"));
    if (bench.camera.waitFor({{"command", "enter-iap"}}, from) < 0
        || bench.camera.waitFor({{"event", "bootloader"}}, from) < 0)
        return false;
    bench.port.setParity(QSerialPort::EvenParity);
    return bench.port.setBaudRate(57600);
}

// camsim in its bootloader, writing its flash image into `dir` when it ends
// or jumps to the program.
bool startBootloader(CamsimBench &bench, const QTemporaryDir &dir, const QStringList &options)
{
    return dir.isValid() && bench.start(QStringList{"--flash-out", dir.filePath(kFlashFile)} + options)
           && enterBootloader(bench);
}

// Runs the script; false (and the first answer that differs) if one does.
bool run(CamsimBench &bench, const Script &script)
{
    for (const Step &s : script) {
        const QByteArray got = bench.ask(s.send, s.reply.size());
        if (got != s.reply) {
            qWarning("sent %s, got %s, expected %s", s.send.left(16).toHex().constData(),
                     got.left(16).toHex().constData(), s.reply.left(16).toHex().constData());
            return false;
        }
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Script)

class CamsimBootTest : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges();
    void downloadAndGo();
};

void CamsimBootTest::exchanges_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QJsonObject>("record");    // one of the records it leaves
    QTest::addColumn<QByteArray>("flashStart"); // how the flash image on exit begins

    const auto row = [](const char *name, const QStringList &options, const Script &script, const QJsonObject &record,
                        const QByteArray &flashStart = {}) {
        QTest::newRow(name) << options << script << record << flashStart;
    };
    const auto nack = [](const char *reason) {
        return QJsonObject{{"protocol", "bootloader"}, {"result", "nack"}, {"reason", reason}};
    };
    const Script getId = {step("02fd", "79 01 0410 79")};

    // The line settings the sync found: the pseudo-terminal drops the parity
    // flag, and the bootloader's 8E1 is assumed unless told otherwise.
    row("sync at 57600 8E1", {}, kSync, {{"command", "sync"}, {"baud", 57600}, {"bits_per_byte", 11}});
    row("sync, --parity none", {"--parity", "none"}, kSync, {{"command", "sync"}, {"bits_per_byte", 10}});
    row("get id, --pid 0x0414", {"--pid", "0x0414"}, kSync + Script{step("02fd", "79 01 0414 79")},
        {{"command", "get-id"}, {"checksum", "ok"}});
    // Version 2.2, then the six commands camsim knows.
    row("get", {}, kSync + Script{step("00ff", "79 06 22 00 02 11 21 31 43 79")}, {{"command", "get"}});
    row("0x7f after sync: refused at once, commands go on", {}, kSync + Script{step("7f", "1f")} + getId,
        {{"command", "unknown"}, {"hex", "7f"}, {"result", "nack"}});
    row("unknown command (extended erase)", {}, kSync + Script{step("44bb", "1f")},
        {{"command", "unknown"}, {"checksum", "ok"}, {"reason", "unknown-command"}});
    row("wrong complement, then a good command", {}, kSync + Script{step("31cf", "1f")} + getId,
        {{"command", "write"}, {"checksum", "bad"}, {"reason", "complement"}});
    // Pages 0 and 2 of 1 KiB: page 1 keeps the old program and refuses data.
    row("page erase", {},
        kSync + Script{step("43bc", "79"), step("01 00 02 03", "79")} + write(kFlashStart, block(1))
            + write(kFlashStart + 0x400, block(2), 2) + write(kFlashStart + 0x800, block(3)),
        {{"command", "erase"}, {"pages", QJsonArray{0, 2}}, {"result", "ack"}}, block(1));
    row("wrong address checksum", {}, kSync + Script{step("31ce", "79"), step("08000000 00", "1f")},
        nack("address-checksum"));
    row("wrong data checksum: nothing written", {}, kSync + kGlobalErase + write(kFlashStart, block(1), 2, 0x01),
        nack("data-checksum"), QByteArray(16, char(0xFF)));
    // The last block of 64 KiB is written; one across its end is refused at
    // the data, one past it at the address.
    row("--flash-kib 64", {"--flash-kib", "64"},
        kSync + kGlobalErase + write(kFlashStart + 0xff00, block(1)) + write(kFlashStart + 0xff80, block(2), 2)
            + write(kFlashStart + 0x10000, block(3), 1),
        nack("outside-flash"));
    row("read before the flash", {}, kSync + Script{{hex("11ee"), kAck}, {addressPart(0x07ffff00), kNack}},
        nack("outside-flash"));
    row("wrong global erase checksum", {}, kSync + Script{step("43bc", "79"), step("ff01", "1f")},
        nack("erase-checksum"));
    row("page past the flash", {}, kSync + Script{step("43bc", "79"), step("00 80 80", "1f")}, nack("outside-flash"));
    // The last ACK still reaches the window; the image is on file at the close.
    row("--close-after-block 2", {"--close-after-block", "2"},
        kSync + kGlobalErase + write(kFlashStart, block(1)) + write(kFlashStart + 0x100, block(2)),
        {{"command", "write"}, {"block", 2}, {"result", "ack"}}, block(1) + block(2));
}

void CamsimBootTest::exchanges()
{
    QFETCH(QStringList, options);
    QFETCH(Script, script);
    QFETCH(QJsonObject, record);
    QFETCH(QByteArray, flashStart);

    QTemporaryDir dir;
    CamsimBench bench;
    QVERIFY(startBootloader(bench, dir, QStringList{"--erase-ms", "10"} + options));
    QVERIFY(run(bench, script));
    QVERIFY(bench.camera.waitFor(record) >= 0);

    const bool closes = options.contains(QStringLiteral("--close-after-block"));
    QVERIFY(closes || bench.camera.signal(SIGTERM));
    QVERIFY(bench.camera.waitForExit());
    QVERIFY(!closes || matches(bench.camera.lines.constLast(), {{"event", "closed"}}));
    const QByteArray image = flashImage(dir);
    const int sizeAt = options.indexOf(QStringLiteral("--flash-kib")) + 1;
    QCOMPARE(image.size(), sizeAt > 0 ? options.at(sizeAt).toInt() * 1024 : kFlashBytes);
    QCOMPARE(image.left(flashStart.size()).toHex(), flashStart.toHex());
}

void CamsimBootTest::downloadAndGo()
{
    constexpr int kEraseMs = 200;
    QTemporaryDir dir;
    CamsimBench bench;
    QVERIFY(startBootloader(bench, dir, {"--erase-ms", QString::number(kEraseMs)}));
    QVERIFY(run(bench, kSync + Script{step("43bc", "79")}));
    // The global erase keeps the device busy: its ACK comes no sooner.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(run(bench, {step("ff00", "79")}));
    QVERIFY2(timer.elapsed() >= kEraseMs, qPrintable(QString::number(timer.elapsed())));
    // Go as the window sends it: command and address in one go.
    QVERIFY(run(bench, write(kFlashStart, block(1)) + write(kFlashStart + 0x100, block(2))
                           + Script{step("21de 0800000008", "7979")}));
    QVERIFY(bench.camera.waitFor({{"event", "go"}, {"address", "0x08000000"}}) >= 0);

    // On file by then: the two blocks in erased flash.
    QByteArray expected(kFlashBytes, char(0xFF));
    expected.replace(0, 512, block(1) + block(2));
    QVERIFY(flashImage(dir) == expected);

    // The camera's firmware answers again, at its own line settings: zoom
    // inquiry, camsim's default zoom 0x4000.
    QVERIFY(bench.port.setBaudRate(9600) && bench.port.setParity(QSerialPort::NoParity));
    QCOMPARE(bench.ask(hex("81090447ff"), 7).toHex(), QByteArray("905004000000ff"));

    // The flash keeps the program through the next trip into the bootloader:
    // Read Memory of the second block.
    QVERIFY(enterBootloader(bench));
    QVERIFY(run(bench, kSync + Script{{hex("11ee"), kAck}, {addressPart(kFlashStart + 0x100), kAck},
                                      {hex("ff00"), kAck + block(2)}}));
}

QTEST_GUILESS_MAIN(CamsimBootTest)
#include "tst_camsimboot.moc"
