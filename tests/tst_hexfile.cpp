// The Intel HEX reader and the firmware image: which files are accepted,
// where their bytes land, and which blocks the bootloader will receive.

#include "isp/hexfile.h"
#include "isp/hexwriter.h"

#include <QBuffer>
#include <QProcess>
#include <QtTest>

// An address and the byte the written block holds there (0xFF where unset).
using Spot = QPair<quint32, int>;

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
        good("no address record, gaps: only blocks with data, ascending",
             data(0x0400, "\x11") + data(0x0000, "\x22") + kEnd, 2, {0x000, 0x400},
             {{0x000, 0x22}, {0x001, 0xFF}, {0x400, 0x11}, {0x401, 0xFF}});
        good("a record across a 256-byte boundary", data(0x00F8, k16) + kEnd, 16, {0x000, 0x100},
             {{0x0F7, 0xFF}, {0x0F8, 0x80}, {0x107, 0xE9}, {0x108, 0xFF}});
        good("end record in mid-file: later records count", d16 + kEnd + data(0x0010, "\x33") + kEnd, 17, {0},
             {{0x10, 0x33}});
        good("a blank line longer than any record", QByteArray(3000, ' ') + "\n" + d16 + kEnd, 16, {0}, {{0, 0x80}});
        good("blank lines, CR LF, no final line end", "\r\n" + d16.chopped(1) + "\r\n\n  \r\n" + kEnd.chopped(1), 16,
             {0}, {{0, 0x80}});
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
        // Refused unread when its size is known, and once past the bound
        // when it is not (a pipe, a device).
        QByteArray text = HexWriter::write(0x08000000, QByteArray(1000, 0x5A));
        HexLimits limits;
        limits.maxFileBytes = 200;
        QBuffer file(&text);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(HexFile::read(file, limits).error.kind, HexError::Kind::FileTooLarge);
        QProcess stream; // `cat` the text: a sequential device
        stream.start(QStringLiteral("cat"), {});
        QVERIFY(stream.waitForStarted());
        stream.write(text);
        stream.closeWriteChannel();
        QVERIFY(stream.waitForFinished());
        const HexReadResult streamed = HexFile::read(stream, limits);
        QCOMPARE(int(streamed.error.kind), int(HexError::Kind::FileTooLarge));
    }
};

QTEST_GUILESS_MAIN(HexFileTest)
#include "tst_hexfile.moc"
