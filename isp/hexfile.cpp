#include "hexfile.h"

#include <QFile>
#include <QIODevice>

// ---------------------------------------------------------------------------
// FirmwareImage

QList<FirmwareImage::Block> FirmwareImage::blocks() const
{
    QList<Block> result;
    for (const auto &[address, block] : filled)
        result.append(Block{address, block.bytes});
    // The camera's download has always ended with a block padded with 0xFF,
    // which is a whole block of 0xFF when the data end on a block boundary;
    // writing it keeps the flash identical to what earlier downloads left.
    // (Nothing follows a block at the very top of the address space.)
    if (!filled.empty()) {
        const auto &[lastAddress, last] = *filled.rbegin();
        const quint32 next = lastAddress + kBlockBytes;
        if (last.count == kBlockBytes && next != 0)
            result.append(Block{next, QByteArray(kBlockBytes, kErased)});
    }
    return result;
}

int FirmwareImage::dataByteCount() const
{
    return dataBytes;
}

int FirmwareImage::blockCount() const
{
    if (filled.empty())
        return 0;
    const auto &[lastAddress, last] = *filled.rbegin();
    const bool trailer = last.count == kBlockBytes && lastAddress + kBlockBytes != 0;
    return static_cast<int>(filled.size()) + (trailer ? 1 : 0);
}

bool FirmwareImage::holdsData(quint32 address, int length) const
{
    for (int i = 0; i < length; ++i) {
        const quint32 at = address + quint32(i);
        const auto block = filled.find(at & ~quint32(kBlockBytes - 1));
        if (block == filled.end() || block->second.set.at(int(at % kBlockBytes)) == '\0')
            return false;
    }
    return true;
}

quint32 FirmwareImage::lowestAddress() const
{
    if (filled.empty())
        return 0;
    const auto &[address, block] = *filled.begin();
    return address + quint32(block.set.indexOf('\1'));
}

quint32 FirmwareImage::highestAddress() const
{
    if (filled.empty())
        return 0;
    const auto &[address, block] = *filled.rbegin();
    return address + quint32(block.set.lastIndexOf('\1'));
}

bool FirmwareImage::place(quint32 address, quint8 value)
{
    const quint32 blockAddress = address & ~quint32(kBlockBytes - 1);
    const int offset = static_cast<int>(address - blockAddress);
    Filled &block = filled[blockAddress];
    if (block.set.at(offset) != '\0')
        return false;
    block.set[offset] = '\1';
    block.bytes[offset] = static_cast<char>(value);
    ++block.count;
    ++dataBytes;
    return true;
}

// ---------------------------------------------------------------------------
// HexError

QString HexError::text() const
{
    QString what;
    switch (kind) {
    case Kind::OpenFailed: what = QStringLiteral("the file cannot be opened"); break;
    case Kind::NoStartCode: what = QStringLiteral("the record does not start with ':'"); break;
    case Kind::NotHex: what = QStringLiteral("a character that is not a hex digit"); break;
    case Kind::OddDigits: what = QStringLiteral("an odd number of hex digits"); break;
    case Kind::LengthMismatch: what = QStringLiteral("the record length disagrees with its byte count"); break;
    case Kind::BadChecksum: what = QStringLiteral("bad checksum"); break;
    case Kind::BadType: what = QStringLiteral("unknown record type"); break;
    case Kind::BadAddressRecord: what = QStringLiteral("wrong length for the record type"); break;
    case Kind::Overlap: what = QStringLiteral("data overlap data already placed"); break;
    case Kind::NoData: what = QStringLiteral("the file holds no data"); break;
    case Kind::NoEndRecord: what = QStringLiteral("no end-of-file record (the file is truncated)"); break;
    case Kind::FileTooLarge: what = QStringLiteral("the file is larger than any firmware file"); break;
    case Kind::ImageTooLarge: what = QStringLiteral("the data need more flash than any STM32 has"); break;
    }
    if (line <= 0)
        return what;
    return QStringLiteral("line ") % QString::number(line) % QStringLiteral(": ") % what;
}

// ---------------------------------------------------------------------------
// Intel HEX reader

namespace {

// Record layout: ':' LL AAAA TT DD... CC, all in hex digit pairs.
constexpr int kHeaderBytes = 4; // LL, address high, address low, TT
constexpr int kChecksumBytes = 1;

enum RecordType : quint8 {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The payload length each non-data record type must have.
int requiredLength(quint8 type)
{
    switch (type) {
    case kEndOfFile: return 0;
    case kExtendedSegmentAddress:
    case kExtendedLinearAddress: return 2;
    case kStartSegmentAddress:
    case kStartLinearAddress: return 4;
    default: return -1; // data: any length
    }
}

bool isBlank(const QByteArray &line)
{
    for (const char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

// One line of the text, without its end (LF or CR LF). A line longer than
// any record keeps only its start, and whether the rest holds more than
// blanks.
struct TextLine
{
    QByteArray text;
    bool overlong = false;
    bool restNotBlank = false;
};

// The longest record is ':' and 2 x (5 + 255) digits; a line may carry a CR
// and a few blanks more.
constexpr int kLongestLine = 1024;

bool readLine(QIODevice &device, TextLine *line, qint64 *textRead)
{
    line->text.clear();
    line->overlong = false;
    line->restNotBlank = false;
    for (;;) {
        const QByteArray piece = device.readLine(kLongestLine + 2);
        if (piece.isEmpty())
            return device.atEnd();
        *textRead += piece.size();
        const bool ended = piece.endsWith('\n');
        const QByteArray content = ended ? piece.chopped(1) : piece;
        const int room = kLongestLine - int(line->text.size());
        line->text.append(content.left(room));
        if (content.size() > room) {
            line->overlong = true;
            line->restNotBlank = line->restNotBlank || !isBlank(content.mid(room));
        }
        if (ended || device.atEnd()) {
            if (!line->overlong && line->text.endsWith('\r'))
                line->text.chop(1);
            return true;
        }
    }
}

HexReadResult failure(HexError::Kind kind, int line)
{
    HexReadResult result;
    result.error = HexError{kind, line};
    return result;
}

} // namespace

namespace HexFile {

HexReadResult read(QIODevice &device, const HexLimits &limits)
{
    if (!device.isReadable())
        return failure(HexError::Kind::OpenFailed, 0);
    // Only a file (or a device that knows its size) can be refused unread.
    if (!device.isSequential() && device.size() > limits.maxFileBytes)
        return failure(HexError::Kind::FileTooLarge, 0);

    FirmwareImage image;
    quint32 base = 0;
    bool endSeen = false;
    int lineNumber = 0;
    qint64 textRead = 0;
    TextLine line;
    while (!device.atEnd()) {
        if (!readLine(device, &line, &textRead))
            return failure(HexError::Kind::OpenFailed, 0);
        if (textRead > limits.maxFileBytes)
            return failure(HexError::Kind::FileTooLarge, 0);
        ++lineNumber;
        if (line.overlong) {
            // No record is this long: the line is blank, or it is wrong.
            if (isBlank(line.text) && !line.restNotBlank)
                continue;
            if (isBlank(line.text) || line.text.at(0) != ':')
                return failure(HexError::Kind::NoStartCode, lineNumber);
            for (const char c : line.text.mid(1))
                if (hexDigit(c) < 0)
                    return failure(HexError::Kind::NotHex, lineNumber);
            return failure(HexError::Kind::LengthMismatch, lineNumber);
        }
        if (isBlank(line.text))
            continue;
        if (line.text.at(0) != ':')
            return failure(HexError::Kind::NoStartCode, lineNumber);

        const QByteArray digits = line.text.mid(1);
        for (const char c : digits)
            if (hexDigit(c) < 0)
                return failure(HexError::Kind::NotHex, lineNumber);
        if (digits.size() % 2 != 0)
            return failure(HexError::Kind::OddDigits, lineNumber);

        QByteArray bytes(digits.size() / 2, '\0');
        quint8 sum = 0;
        for (int i = 0; i < bytes.size(); ++i) {
            const int value = hexDigit(digits.at(2 * i)) * 16 + hexDigit(digits.at(2 * i + 1));
            bytes[i] = static_cast<char>(value);
            sum = static_cast<quint8>(sum + value);
        }
        const auto byteAt = [&bytes](int i) { return static_cast<quint8>(bytes.at(i)); };

        if (bytes.size() < kHeaderBytes + kChecksumBytes
            || bytes.size() != kHeaderBytes + byteAt(0) + kChecksumBytes)
            return failure(HexError::Kind::LengthMismatch, lineNumber);
        // The checksum is the two's complement of the sum of all other
        // bytes, so the sum of the whole record is zero.
        if (sum != 0)
            return failure(HexError::Kind::BadChecksum, lineNumber);

        const int length = byteAt(0);
        const quint32 offset = (quint32(byteAt(1)) << 8) | byteAt(2);
        const quint8 type = byteAt(3);
        if (type > kStartLinearAddress)
            return failure(HexError::Kind::BadType, lineNumber);
        const int required = requiredLength(type);
        if (required >= 0 && length != required)
            return failure(HexError::Kind::BadAddressRecord, lineNumber);

        const auto payload16 = [&byteAt] { return (quint32(byteAt(4)) << 8) | byteAt(5); };
        switch (type) {
        case kData:
            // A byte's address is base + record offset + index, one 32-bit
            // linear sum for both kinds of base. Intel's rule for type 02
            // would wrap a record running past offset 0xFFFF back to the
            // start of its segment; here it runs on into the next 64 KiB,
            // as flash is laid out. Records that stay inside their segment
            // (all that real tools write) land the same either way.
            for (int i = 0; i < length; ++i) {
                const quint32 address = base + offset + static_cast<quint32>(i);
                if (!image.place(address, byteAt(kHeaderBytes + i)))
                    return failure(HexError::Kind::Overlap, lineNumber);
            }
            if (image.filledBlocks() > limits.maxBlocks)
                return failure(HexError::Kind::ImageTooLarge, lineNumber);
            break;
        case kEndOfFile:
            // Some tools concatenate files, each with its own end record:
            // the reading goes on to the end of the text.
            endSeen = true;
            break;
        case kExtendedSegmentAddress:
            base = payload16() << 4;
            break;
        case kExtendedLinearAddress:
            base = payload16() << 16;
            break;
        default:
            // Start addresses: the bootloader is told where to start by Go.
            break;
        }
    }

    if (image.dataByteCount() == 0)
        return failure(HexError::Kind::NoData, 0);
    if (!endSeen)
        return failure(HexError::Kind::NoEndRecord, 0);
    HexReadResult result;
    result.image = image;
    return result;
}

HexReadResult readFile(const QString &path, const HexLimits &limits)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(HexError::Kind::OpenFailed, 0);
    HexReadResult result = read(file, limits);
    if (!result.image && file.error() != QFileDevice::NoError)
        result.error = HexError{HexError::Kind::OpenFailed, 0};
    return result;
}

} // namespace HexFile
