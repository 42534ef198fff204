// The Intel HEX reader and the firmware image: which files are accepted,
// where their bytes land, and which blocks the bootloader will receive. The
// table of STM32 parts: a few rows, which erase unit holds an address on page
// and sector layouts, which units an image needs, and every row adding up
// (unknown parts and images past the flash: tst_bootloader, tst_upgrade).

#include "isp/hexfile.h"
#include "isp/hexwriter.h"
#include "isp/stm32parts.h"

#include <QBuffer>
#include <QProcess>
#include <QSet>
#include <QtTest>

// An address and the byte the written block holds there (0xFF where unset).
using Spot = QPair<quint32, int>;
using Ranges = QList<QPair<quint32, quint32>>;
using Stm32Parts::find;

namespace {

constexpr int kAccepted = -1;
const QByteArray kEnd = ":00000001FF\n";
const QByteArray kLinear0800 = ":020000040800F2\n"; // extended linear address 0x0800
const QByteArray k16 = QByteArray::fromHex("80878e959ca3aab1b8bfc6cdd4dbe2e9"); // bytes >= 0x80 too

// One record with a correct checksum, ending in "\n".
QByteArray record(quint8 type, quint16 address, const QByteArray &payload)
{
    return HexWriter::record(type, address, payload).trimmed() + '\n';
}

QByteArray data(quint16 address, const QByteArray &payload) { return record(0x00, address, payload); }

} // namespace

class HexFileTest : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("errorKind");
        QTest::addColumn<int>("errorLine");
        QTest::addColumn<int>("dataBytes");
        QTest::addColumn<QList<quint32>>("blocks");
        QTest::addColumn<QList<Spot>>("spots");

        using K = HexError::Kind;
        const auto good = [](const char *name, const QByteArray &text, int bytes, QList<quint32> blocks,
                             QList<Spot> spots) {
            QTest::newRow(name) << text << kAccepted << 0 << bytes << blocks << spots;
        };
        const auto bad = [](const char *name, const QByteArray &text, K kind, int line) {
            QTest::newRow(name) << text << int(kind) << line << 0 << QList<quint32>{} << QList<Spot>{};
        };
        const QByteArray d16 = data(0x0000, k16);
        const QByteArray literal = ":10010000214601360121470136007EFE09D2190140\n"; // written out by hand

        good("literal data record at 0x0100, lower-case digits", literal.toLower() + kEnd, 16, {0x100},
             {{0x100, 0x21}, {0x10A, 0x7E}, {0x10B, 0xFE}, {0x10F, 0x01}, {0x110, 0xFF}, {0x1FF, 0xFF}});
        good("every record type; 02: value x 16 + offset, 04: value x 65536 + offset",
             ":020000021200EA\n" + data(0x0010, "\x42") + ":0400000300003800C1\n" + kLinear0800
                 + ":04000005000000CD2A\n" + data(0x1234, "\x55\xAA") + kEnd,
             3, {0x12000, 0x08001200}, {{0x12010, 0x42}, {0x08001233, 0xFF}, {0x08001234, 0x55}, {0x08001235, 0xAA}});
        // Gaps, a record across a block boundary, an end record in mid-file
        // and blank lines with CR LF are seeds of fuzz_hexfile, which checks
        // every byte of an accepted file.
        good("a blank line longer than any record", QByteArray(3000, ' ') + "\n" + d16 + kEnd, 16, {0}, {{0, 0x80}});
        // After a full last block the camera's download writes one of 0xFF.
        good("full last block after a gap",
             data(0x0000, "\x01") + data(0x0280, QByteArray(128, 0x5A)) + data(0x0200, k16.repeated(8)) + kEnd, 257,
             {0x000, 0x200, 0x300}, {{0x300, 0xFF}});

        bad("only an end record", kEnd, K::NoData, 0);
        bad("no end record: truncated", kLinear0800 + d16, K::NoEndRecord, 0);
        bad("no start code", kLinear0800 + d16.mid(1) + kEnd, K::NoStartCode, 2);
        bad("':' in mid-line", kLinear0800 + d16.left(9) + ':' + d16.mid(9) + kEnd, K::NotHex, 2);
        bad("not a hex digit", d16.left(12) + 'G' + d16.mid(13) + kEnd, K::NotHex, 1);
        bad("odd digit count", d16.chopped(2) + '\n' + kEnd, K::OddDigits, 1);
        bad("short line", d16.chopped(3) + '\n' + kEnd, K::LengthMismatch, 1);
        bad("long line", d16.chopped(1) + "00\n" + kEnd, K::LengthMismatch, 1);
        bad("fewer than five bytes", ":000000\n" + kEnd, K::LengthMismatch, 1);
        bad("bad checksum", "\n" + kLinear0800 + literal.left(41) + "41\n" + kEnd, K::BadChecksum, 3);
        bad("type 06", record(0x06, 0, "") + kEnd, K::BadType, 1);
        bad("type 04 of four bytes", record(0x04, 0, QByteArray::fromHex("08000000")) + d16 + kEnd,
            K::BadAddressRecord, 1);
        bad("end record with data", d16 + record(0x01, 0, QByteArray::fromHex("00")), K::BadAddressRecord, 2);
        bad("overlapping data", d16 + data(0x000F, "\x01\x02") + kEnd, K::Overlap, 2);
        bad("a line longer than any record", d16.chopped(1) + QByteArray(2000, '0') + '\n' + kEnd, K::LengthMismatch, 1);
        bad("blanks, then a record, on one overlong line", QByteArray(1500, ' ') + d16 + kEnd, K::NoStartCode, 1);
        // One byte in each of 8193 blocks: more than the 2 MiB of the largest
        // flash, refused at the line that needs the block too many.
        QByteArray sparse;
        int lines = 0;
        for (int block = 0; block <= 8192; ++block) {
            if (block % 256 == 0)
                sparse += record(0x04, 0, QByteArray(1, '\0') + char(block / 256)), ++lines;
            sparse += data(quint16(block % 256 * 256), "\x01"), ++lines;
        }
        bad("the data need more flash than any STM32 has", sparse + kEnd, K::ImageTooLarge, lines);
        bad("the same bytes through another base", record(0x04, 0, QByteArray::fromHex("0001")) + d16
                + record(0x02, 0, QByteArray::fromHex("1000")) + d16 + kEnd,
            K::Overlap, 4);
    }

    void read()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, errorKind);
        QFETCH(int, errorLine);
        QFETCH(int, dataBytes);
        QFETCH(QList<quint32>, blocks);
        QFETCH(QList<Spot>, spots);

        QBuffer buffer(&text);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const HexReadResult result = HexFile::read(buffer);
        QCOMPARE(result.image ? kAccepted : int(result.error.kind), errorKind);
        QCOMPARE(result.image ? 0 : result.error.line, errorLine);
        if (!result.image)
            return;
        QCOMPARE(result.image->dataByteCount(), dataBytes);
        QCOMPARE(result.image->blockCount(), blocks.size()); // the progress bar counts 256 x this
        const QList<FirmwareImage::Block> written = result.image->blocks();
        QList<quint32> addresses;
        for (const FirmwareImage::Block &block : written) {
            addresses.append(block.address);
            QCOMPARE(block.bytes.size(), 256);
        }
        QCOMPARE(addresses, blocks);
        for (const Spot &spot : spots) {
            const int index = int(addresses.indexOf(spot.first & ~0xFFu));
            QVERIFY(index >= 0);
            QCOMPARE(quint8(written.at(index).bytes.at(int(spot.first & 0xFF))), quint8(spot.second));
        }
    }

    void fileTooLarge()
    {
        // Refused once past the bound when its size is not known (a pipe, a
        // device); unread when it is (fuzz_hexfile, whose bound is small).
        HexLimits limits;
        limits.maxFileBytes = 200;
        QProcess stream; // `cat` the text: a sequential device
        stream.start(QStringLiteral("cat"), {});
        QVERIFY(stream.waitForStarted());
        stream.write(HexWriter::write(0x08000000, QByteArray(1000, 0x5A)));
        stream.closeWriteChannel();
        QVERIFY(stream.waitForFinished());
        const HexReadResult streamed = HexFile::read(stream, limits);
        QCOMPARE(int(streamed.error.kind), int(HexError::Kind::FileTooLarge));
    }

    void knownPart_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("kb");
        QTest::addColumn<int>("units");
        QTest::addColumn<quint32>("fSize"); // 0: none given
        QTest::newRow("F0") << 0x440 << QString("STM32F030x8/F05xxx") << 64u << 64 << 0x1FFFF7CCu;
        QTest::newRow("F1") << 0x410 << QString("STM32F10x medium density") << 128u << 128 << 0x1FFFF7E0u;
        QTest::newRow("F4") << 0x413 << QString("STM32F40xxx/41xxx") << 1024u << 12 << 0x1FFF7A22u;
        QTest::newRow("L1, F_SIZE not in KB") << 0x436 << QString("STM32L1xxxD") << 384u << 1536 << 0u;
    }

    void knownPart()
    {
        QFETCH(int, id);
        const Stm32Parts::Part *part = find(quint16(id));
        QVERIFY(part);
        QTEST(QString::fromLatin1(part->name), "name");
        QCOMPARE(part->flashStart, 0x08000000u);
        QTEST(part->flashBytes / 1024, "kb");
        QTEST(Stm32Parts::unitCount(*part), "units");
        QTEST(part->flashSizeRegister, "fSize");
    }

    void unitAt_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("unit"); // -1: outside the flash
        QTest::newRow("F1 first byte") << 0x410 << 0x08000000u << 0;
        QTest::newRow("F1 last byte") << 0x410 << 0x0801FFFFu << 127;
        QTest::newRow("F1 first byte past the end") << 0x410 << 0x08020000u << -1;
        QTest::newRow("F4 last byte of sector 3") << 0x413 << 0x0800FFFFu << 3;
        QTest::newRow("F4 first byte of sector 4 (64 KB)") << 0x413 << 0x08010000u << 4;
        QTest::newRow("0x419 first byte of bank 2") << 0x419 << 0x08100000u << 12;
        QTest::newRow("0x419 bank 2's 64 KB sector") << 0x419 << 0x0811FFFFu << 16;
    }

    // unit() must also give back the unit that holds the address.
    void unitAt()
    {
        QFETCH(int, id);
        QFETCH(quint32, address);
        QFETCH(int, unit);
        const Stm32Parts::Part &part = *find(quint16(id));
        QCOMPARE(Stm32Parts::unitAt(part, address).value_or(-1), unit);
        const std::optional<Stm32Parts::Unit> where = Stm32Parts::unit(part, unit);
        QCOMPARE(where && where->start <= address && address - where->start < where->bytes, unit >= 0);
    }

    void unitsCovering_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<Ranges>("ranges"); // [start, end)
        QTest::addColumn<QList<int>>("units");
        QTest::newRow("F4 one byte into sector 4") << 0x413 << Ranges{{0x08008000, 0x08010001}} << QList<int>{2, 3, 4};
        QTest::newRow("F4 two separated ranges, later first")
            << 0x413 << Ranges{{0x08060000, 0x08060010}, {0x08000000, 0x08000100}} << QList<int>{0, 7};
        QTest::newRow("F1 bytes outside the flash left out")
            << 0x410 << Ranges{{0x07FFFF00, 0x08000100}, {0x0801FC00, 0x08020400}} << QList<int>{0, 127};
    }

    void unitsCovering()
    {
        QFETCH(int, id);
        QFETCH(Ranges, ranges);
        QTEST(Stm32Parts::unitsCovering(*find(quint16(id)), ranges), "units");
    }

    // Fails when an edited row no longer adds up.
    void everyRowIsConsistent()
    {
        QSet<quint16> ids;
        for (const Stm32Parts::Part &part : Stm32Parts::all()) {
            const QByteArray row = "0x" + QByteArray::number(part.productId, 16);
            QVERIFY2(!ids.contains(part.productId), QByteArray(row + " appears twice").constData());
            ids.insert(part.productId);
            quint64 sum = 0;
            for (const Stm32Parts::EraseRun &run : part.layout)
                sum += quint64(run.count) * run.bytes;
            QVERIFY2(sum == part.flashBytes, QByteArray(row + ": the units do not add up to the flash size").constData());
        }
    }
};

QTEST_GUILESS_MAIN(HexFileTest)
#include "tst_hexfile.moc"
