// camsim's STM32 bootloader met the way the window meets it (Enter IAP at
// 9600 baud, then AN3155 at 57600 or 115200; or a camera left in its
// bootloader), judged by its exact answers and the reason it records for each
// NACK: a bootloader that took anything would hide faults from tst_upgrade.
// The rest of camsim is seen through the window's tests.

#include "camsimprocess.h"
#include "testenv.h"

#include <QtTest>

namespace {

// A Write Memory of block n of the firmware at `address`, as "send>answer"
// steps: the command, the address and the data, with `answers` to them
// (1f: refused there, and nothing sent after it); `spoil` breaks the data's
// checksum.
QStringList write(quint32 address, int n, const QStringList &answers = {"79", "79", "79"}, quint8 spoil = 0)
{
    QByteArray parts[3] = {QByteArray::fromHex("31ce"), {}, char(255) + TestEnv::firmware(256 * (n + 1)).mid(256 * n)};
    for (int shift = 24; shift >= 0; shift -= 8)
        parts[1].append(char(address >> shift));
    QStringList steps;
    for (int i = 0; i < answers.size(); ++i) {
        quint8 sum = i == 2 ? spoil : 0;
        for (const char byte : parts[i])
            sum ^= quint8(byte);
        steps.append((i ? parts[i] + char(sum) : parts[i]).toHex() + '>' + answers.at(i));
    }
    return steps;
}

} // namespace

class CamsimTest : public QObject
{
    Q_OBJECT

private slots:
    void bootloaderAnswers_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QStringList>("steps");    // "sent>answer" in hex; "reopen" closes and reopens the port
        QTest::addColumn<QStringList>("refusals"); // the reasons of the NACKs on record, in order
        const quint32 flash = 0x08000000;
        // Get: version 2.2 and six commands; a refusal leaves the bootloader
        // ready for the next command. Pages 0 and 2 of 1 KiB are erased:
        // page 1 keeps the old program and refuses data.
        QTest::newRow("F1: Get, Get ID, every refusal") << QStringList() << 57600
            << QStringList{"00ff>79062200021121314379", "7f>1f", "44bb>1f", "31cf>1f", "02fd>7901041079",
                           "31ce>79", "0800000000>1f", "43bc>79", "ff01>1f", "43bc>79", "008080>1f", "43bc>79",
                           "01000203>79"}
                   + write(flash, 1) + write(flash + 0x400, 2, {"79", "79", "1f"})
                   + write(flash + 0x900, 4, {"79", "79", "1f"}, 0x01) + QStringList{"21de>79", "0800000008>79"}
            << QStringList{"unknown-command", "unknown-command", "complement", "address-checksum", "erase-checksum",
                           "outside-flash", "not-erased", "data-checksum"};
        // An F40x: Extended Erase only, sectors of 16, 64 and 128 KiB; there
        // is no sector 12. The device is busy until the mass erase is done
        // (erase-ms): an ACK that came sooner would let a window that waited
        // too little pass.
        QTest::newRow("F4 at 115200: Extended Erase") << QStringList{"--pid", "0x413", "--erase-ms", "256"} << 115200
            << QStringList{"00ff>79063100021121314479", "43bc>1f", "44bb>79", "00010000000c0d>1f", "44bb>79",
                           "00010000000405>79"}
                   + write(flash + 0x1ff00, 1) + write(flash + 0x20000, 2, {"79", "79", "1f"})
                   + QStringList{"44bb>79", "ffff00>79"}
            << QStringList{"unknown-command", "outside-flash", "not-erased"};
        // A camera left in its bootloader: 0x7F is refused, before and after
        // the window closed and reopened its port. Read-out protection
        // refuses Read Memory.
        QTest::newRow("left synchronised, read-protected") << QStringList{"--start-synced", "--read-protected"}
            << 57600 << QStringList{"7f>1f", "reopen", "7f>1f", "11ee>1f", "02fd>7901041079"}
            << QStringList{"unknown-command", "unknown-command", "read-protected"};
    }

    void bootloaderAnswers()
    {
        QFETCH(QStringList, options);
        QFETCH(int, baud);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, refusals);
        CamsimBench bench;
        QVERIFY(bench.start(QStringList{"--erase-ms", "10"} + options));
        const bool synced = options.contains(QStringLiteral("--start-synced"));
        if (!synced) {
            bench.port.write(QByteArray::fromHex("8902076358ff"));
            QVERIFY(bench.camera.waitFor({{"event", "bootloader"}}) >= 0);
        }
        QVERIFY(bench.port.setBaudRate(baud));
        QVERIFY(synced || bench.ask("\x7f", 1) == "\x79");
        QElapsedTimer timer;
        timer.start();
        for (const QString &step : steps) {
            if (step == QLatin1String("reopen")) {
                bench.port.close();
                QVERIFY(bench.port.open(QIODevice::ReadWrite) && bench.port.setBaudRate(baud));
                continue;
            }
            const QByteArray answer = QByteArray::fromHex(step.section('>', 1).toLatin1());
            QCOMPARE(bench.ask(QByteArray::fromHex(step.section('>', 0, 0).toLatin1()), answer.size()).toHex(),
                     answer.toHex());
        }
        const int eraseMs = options.value(options.indexOf(QStringLiteral("--erase-ms")) + 1).toInt();
        QVERIFY2(timer.elapsed() >= eraseMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(synced || bench.camera.find({{"command", "sync"}, {"baud", baud}}) >= 0);
        const auto recorded = [&bench] {
            QStringList reasons;
            for (const QJsonObject &line : qAsConst(bench.camera.lines))
                if (line.value("result") == QLatin1String("nack"))
                    reasons.append(line.value("reason").toString());
            return reasons;
        };
        QTRY_COMPARE(recorded(), refusals);
    }
};

QTEST_GUILESS_MAIN(CamsimTest)
#include "tst_camsim.moc"
