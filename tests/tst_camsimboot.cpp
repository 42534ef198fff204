// The camera's STM32 bootloader as camsim plays it, met the way the window
// meets it: Enter IAP at 9600 8N1, then 57600 8E1 and the bytes of ST's USART
// bootloader protocol (AN3155). Judged by the bytes that come back, the flash
// image camsim writes out and its JSON record. Nothing here shares code with
// camsim.

#include "camsimprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kEnterIap = hex("8902076358ff");
const QByteArray kZoomInquiry = hex("81090447ff");
const QByteArray kZoomReply = hex("9050 04000000 ff"); // camsim's default zoom, 0x4000
const QByteArray kAck = hex("79");
const QByteArray kNack = hex("1f");

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kFlashBytes = 128 * 1024; // camsim's default flash
constexpr int kSilenceMs = 300;         // longer than any answer takes

// One exchange: a part sent to the bootloader and its exact answer (empty:
// none at all).
struct Step
{
    QByteArray send;
    QByteArray reply;
};
using Script = QVector<Step>;

quint8 xorOf(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum ^= quint8(byte);
    return sum;
}

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

// The parts of one command, sent for as long as each is acknowledged; a part
// without a reply of its own expects silence.
Script command(const QList<QByteArray> &parts, const QList<QByteArray> &replies)
{
    Script script;
    for (int i = 0; i < parts.size(); ++i) {
        script.append({parts.at(i), replies.value(i)});
        if (replies.value(i) != kAck)
            break;
    }
    return script;
}

// Write Memory; `spoil` is XORed into the data checksum.
Script write(quint32 address, const QByteArray &data,
             const QList<QByteArray> &replies = {kAck, kAck, kAck}, quint8 spoil = 0)
{
    QByteArray dataPart = char(data.size() - 1) + data;
    dataPart.append(char(xorOf(dataPart) ^ spoil));
    return command({hex("31ce"), addressPart(address), dataPart}, replies);
}

Script read(quint32 address, const QByteArray &expected)
{
    const char count = char(expected.size() - 1);
    return command({hex("11ee"), addressPart(address), QByteArray(1, count) + char(~count)},
                   {kAck, kAck, QByteArray(kAck + expected)});
}

const Script kSync = {{hex("7f"), kAck}};
const Script kGlobalErase = {{hex("43bc"), kAck}, {hex("ff00"), kAck}};

Step step(const char *send, const char *reply) { return {hex(send), hex(reply)}; }

// The window's way in: Enter IAP to the firmware at 9600 8N1, then the
// bootloader's line settings.
bool enterBootloader(CamsimBench &bench, bool present = true)
{
    const int from = bench.camera.lines.size();
    if (!bench.port.setBaudRate(9600) || !bench.port.setParity(QSerialPort::NoParity))
        return false;
    bench.port.write(kEnterIap);
    if (bench.camera.waitFor({{"command", "enter-iap"}}, from) < 0)
        return false;
    if (present && bench.camera.waitFor({{"event", "bootloader"}}, from) < 0)
        return false;
    // A pseudo-terminal refuses parity (QSerialPort reads the setting back
    // and reports "Invalid argument"): camsim assumes the bootloader's 8E1.
    bench.port.setParity(QSerialPort::EvenParity);
    return bench.port.setBaudRate(57600);
}

// Runs the script; the first answer that differs, or nothing.
QString run(CamsimBench &bench, const Script &script)
{
    for (int i = 0; i < script.size(); ++i) {
        const Step &s = script.at(i);
        const QByteArray got = s.reply.isEmpty() ? bench.ask(s.send, 1, kSilenceMs)
                                                 : bench.ask(s.send, s.reply.size());
        if (got != s.reply) {
            return QStringLiteral("step %1: sent %2, got %3, expected %4")
                .arg(i)
                .arg(QString::fromLatin1(s.send.left(16).toHex()),
                     QString::fromLatin1(got.left(16).toHex()),
                     QString::fromLatin1(s.reply.left(16).toHex()));
        }
    }
    return QString();
}

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(Script)

class CamsimBootTest : public QObject
{
    Q_OBJECT

private slots:
    void exchanges_data();
    void exchanges();
    void goStartsTheProgram();
    void wireTime_data();
    void wireTime();
};

void CamsimBootTest::exchanges_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QJsonObject>("record");   // one of the records it leaves
    QTest::addColumn<bool>("closes");          // camsim closes the line and exits
    QTest::addColumn<QByteArray>("flashStart"); // how the flash image on exit begins

    const quint32 second = kFlashStart + 0x100;
    const QByteArray erased16(16, char(0xFF));
    const auto nack = [](const char *reason) {
        return QJsonObject{{"protocol", "bootloader"}, {"result", "nack"}, {"reason", reason}};
    };

    QTest::newRow("get id") << QStringList() << kSync + Script{step("02fd", "79 01 0410 79")}
                            << QJsonObject{{"command", "get-id"}, {"checksum", "ok"}}
                            << false << QByteArray();
    QTest::newRow("get id, --pid 0x0414")
        << QStringList{"--pid", "0x0414"} << kSync + Script{step("02fd", "79 01 0414 79")}
        << QJsonObject{{"command", "get-id"}} << false << QByteArray();
    // Version 2.2, then the six commands camsim knows.
    QTest::newRow("get") << QStringList()
                         << kSync + Script{step("00ff", "79 06 22 00 02 11 21 31 43 79")}
                         << QJsonObject{{"command", "get"}} << false << QByteArray();
    QTest::newRow("0x7f after sync: refused at once, commands go on")
        << QStringList() << kSync + Script{step("7f", "1f"), step("02fd", "79 01 0410 79")}
        << QJsonObject{{"command", "unknown"}, {"hex", "7f"}, {"result", "nack"}} << false
        << QByteArray();
    QTest::newRow("unknown command (extended erase)")
        << QStringList() << kSync + Script{step("44bb", "1f")}
        << QJsonObject{{"command", "unknown"}, {"checksum", "ok"}, {"reason", "unknown-command"}}
        << false << QByteArray();
    QTest::newRow("wrong complement, then a good command")
        << QStringList() << kSync + Script{step("31cf", "1f"), step("02fd", "79 01 0410 79")}
        << QJsonObject{{"command", "write"}, {"checksum", "bad"}, {"reason", "complement"}}
        << false << QByteArray();
    QTest::newRow("global erase, two blocks, read back")
        << QStringList()
        << kSync + kGlobalErase + write(kFlashStart, block(1)) + write(second, block(2))
               + read(kFlashStart, block(1)) + read(second, block(2))
               + read(kFlashStart + 0x200, erased16)
        << QJsonObject{{"command", "write"}, {"address", "0x08000100"}, {"length", 256},
                       {"block", 2}, {"checksum", "ok"}, {"result", "ack"}}
        << false << QByteArray(block(1) + block(2) + erased16);
    // Pages 0 and 2 of 1 KiB: page 1 keeps the old program and refuses data.
    QTest::newRow("page erase")
        << QStringList()
        << kSync + Script{step("43bc", "79"), step("01 00 02 03", "79")}
               + write(kFlashStart, block(1)) + write(kFlashStart + 0x400, block(2),
                                                      {kAck, kAck, kNack})
               + write(kFlashStart + 0x800, block(3))
        << QJsonObject{{"command", "erase"}, {"pages", QJsonArray{0, 2}}, {"result", "ack"}}
        << false << block(1);
    QTest::newRow("wrong address checksum")
        << QStringList() << kSync + Script{step("31ce", "79"), step("08000000 00", "1f")}
        << nack("address-checksum") << false << QByteArray();
    QTest::newRow("wrong data checksum: nothing written")
        << QStringList()
        << kSync + kGlobalErase + write(kFlashStart, block(1), {kAck, kAck, kNack}, 0x01)
               + read(kFlashStart, erased16)
        << nack("data-checksum") << false << erased16;
    QTest::newRow("write without erase")
        << QStringList() << kSync + write(kFlashStart, block(1), {kAck, kAck, kNack})
        << nack("not-erased") << false << QByteArray();
    QTest::newRow("write past the flash")
        << QStringList() << kSync + write(kFlashStart + kFlashBytes, block(1), {kAck, kNack})
        << nack("outside-flash") << false << QByteArray();
    QTest::newRow("write across the end of the flash")
        << QStringList()
        << kSync + kGlobalErase
               + write(kFlashStart + kFlashBytes - 0x80, block(1), {kAck, kAck, kNack})
        << nack("outside-flash") << false << QByteArray();
    QTest::newRow("--flash-kib 64")
        << QStringList{"--flash-kib", "64"}
        << kSync + kGlobalErase + write(kFlashStart + 0xff00, block(1))
               + write(kFlashStart + 0x10000, block(2), {kAck, kNack})
        << nack("outside-flash") << false << QByteArray();
    QTest::newRow("read before the flash")
        << QStringList() << kSync + command({hex("11ee"), addressPart(0x07ffff00)}, {kAck, kNack})
        << nack("outside-flash") << false << QByteArray();
    QTest::newRow("wrong global erase checksum")
        << QStringList() << kSync + Script{step("43bc", "79"), step("ff01", "1f")}
        << nack("erase-checksum") << false << QByteArray();
    QTest::newRow("page past the flash")
        << QStringList() << kSync + Script{step("43bc", "79"), step("00 80 80", "1f")}
        << nack("outside-flash") << false << QByteArray();

    // Faults.
    QTest::newRow("--nack-block 2")
        << QStringList{"--nack-block", "2"}
        << kSync + kGlobalErase + write(kFlashStart, block(1))
               + write(second, block(2), {kAck, kAck, kNack}) + write(second, block(3))
        << QJsonObject{{"block", 2}, {"result", "nack"}, {"reason", "fault"}} << false
        << QByteArray(block(1) + block(3));
    QTest::newRow("--fail-erase")
        << QStringList{"--fail-erase"} << kSync + Script{step("43bc", "79"), step("ff00", "1f")}
        << QJsonObject{{"command", "erase"}, {"reason", "fault"}} << false << QByteArray();
    QTest::newRow("--silent-after-block 1")
        << QStringList{"--silent-after-block", "1"}
        << kSync + kGlobalErase + write(kFlashStart, block(1)) + Script{step("31ce", "")}
        << QJsonObject{{"command", "ignored"}, {"hex", "31ce"}} << false << block(1);
    QTest::newRow("--close-after-block 2")
        << QStringList{"--close-after-block", "2"}
        << kSync + kGlobalErase + write(kFlashStart, block(1)) + write(second, block(2))
        << QJsonObject{{"command", "write"}, {"block", 2}, {"result", "ack"}} << true
        << QByteArray(block(1) + block(2));
    QTest::newRow("--no-bootloader") << QStringList{"--no-bootloader"}
                                     << Script{step("7f", "")}
                                     << QJsonObject{{"protocol", "unknown"}, {"hex", "7f"}}
                                     << false << QByteArray();
}

void CamsimBootTest::exchanges()
{
    QFETCH(QStringList, options);
    QFETCH(Script, script);
    QFETCH(QJsonObject, record);
    QFETCH(bool, closes);
    QFETCH(QByteArray, flashStart);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString flashOut = dir.filePath(QStringLiteral("flash.bin"));
    CamsimBench bench;
    QVERIFY(bench.start(QStringList{"--erase-ms", "10", "--flash-out", flashOut} + options));
    QVERIFY(enterBootloader(bench, !options.contains(QStringLiteral("--no-bootloader"))));
    const QString mismatch = run(bench, script);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(bench.camera.waitFor(record) >= 0);

    if (closes) {
        QVERIFY(bench.camera.waitForExit());
        QVERIFY(matches(bench.camera.lines.constLast(), {{"event", "closed"}}));
    } else {
        QVERIFY(bench.camera.signal(SIGTERM));
        QVERIFY(bench.camera.waitForExit());
    }
    // The image written at exit.
    const QByteArray image = fileContents(flashOut);
    const int sizeAt = options.indexOf(QStringLiteral("--flash-kib")) + 1;
    QCOMPARE(image.size(), sizeAt > 0 ? options.at(sizeAt).toInt() * 1024 : kFlashBytes);
    QCOMPARE(image.left(flashStart.size()).toHex(), flashStart.toHex());
}

void CamsimBootTest::goStartsTheProgram()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString flashOut = dir.filePath(QStringLiteral("flash.bin"));
    CamsimBench bench;
    QVERIFY(bench.start({"--erase-ms", "10", "--flash-out", flashOut}));
    QVERIFY(enterBootloader(bench));
    // Go as the window sends it: command and address in one go.
    QString mismatch = run(bench, kSync + kGlobalErase + write(kFlashStart, block(1))
                                      + write(kFlashStart + 0x100, block(2))
                                      + Script{step("21de 0800000008", "7979")});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(bench.camera.waitFor({{"event", "go"}, {"address", "0x08000000"}}) >= 0);

    // On file by then: the two blocks in erased flash.
    QByteArray expected(kFlashBytes, char(0xFF));
    expected.replace(0, 512, block(1) + block(2));
    QVERIFY(fileContents(flashOut) == expected);

    // The camera's firmware answers again, at its own line settings.
    QVERIFY(bench.port.setBaudRate(9600) && bench.port.setParity(QSerialPort::NoParity));
    QCOMPARE(bench.ask(kZoomInquiry, kZoomReply.size()).toHex(), kZoomReply.toHex());

    // The flash keeps the program through the next trip into the bootloader,
    // and the image is written again at exit.
    QVERIFY(enterBootloader(bench));
    mismatch = run(bench, kSync + read(kFlashStart + 0x100, block(2)));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(QFile::remove(flashOut));
    QVERIFY(bench.camera.signal(SIGTERM));
    QVERIFY(bench.camera.waitForExit());
    QVERIFY(fileContents(flashOut) == expected);
}

void CamsimBootTest::wireTime_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("bitsPerByte");
    // The pseudo-terminal drops the parity flag: the bootloader's 8E1 is assumed.
    QTest::newRow("8E1 assumed") << QStringList() << 11;
    QTest::newRow("--parity none") << QStringList{"--parity", "none"} << 10;
}

void CamsimBootTest::wireTime()
{
    QFETCH(QStringList, options);
    QFETCH(int, bitsPerByte);
    constexpr int kEraseMs = 200;

    CamsimBench bench;
    QVERIFY(bench.start(QStringList{"--wire-time", "--erase-ms", QString::number(kEraseMs)}
                        + options));
    QVERIFY(enterBootloader(bench));
    QString mismatch = run(bench, kSync + Script{step("43bc", "79")});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // The line settings the sync found.
    QVERIFY(bench.camera.waitFor({{"command", "sync"}, {"baud", 57600},
                                  {"bits_per_byte", bitsPerByte}, {"result", "ack"}}) >= 0);

    // The global erase keeps the device busy; a block and its ACK take their
    // bits on the wire. Neither answer comes sooner.
    QElapsedTimer timer;
    timer.start();
    mismatch = run(bench, {step("ff00", "79")});
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY2(timer.elapsed() >= kEraseMs, qPrintable(QString::number(timer.elapsed())));

    const Script blockWrite = write(kFlashStart, block(1));
    mismatch = run(bench, blockWrite.mid(0, 2));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    timer.restart();
    mismatch = run(bench, blockWrite.mid(2));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    const double wireMs = (blockWrite.at(2).send.size() + 1) * bitsPerByte * 1000.0 / 57600;
    const double elapsedMs = double(timer.nsecsElapsed()) / 1e6;
    qInfo("block and ACK: %.2f ms, wire time %.2f ms", elapsedMs, wireMs);
    QVERIFY(elapsedMs >= wireMs);
}

QTEST_GUILESS_MAIN(CamsimBootTest)
#include "tst_camsimboot.moc"
