// Any text as a firmware file: the HEX reader must end on every input with
// either an image or a fault that names a line of the file, and an image
// must hold exactly the data bytes of the file's records at their
// addresses, cut into the blocks the download writes. The reader's bounds
// are made small here, so that the fuzzer meets them: a file over the size
// bound is refused whole, and no image spans more blocks than allowed.

#include "isp/hexfile.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <map>

namespace {

HexLimits smallLimits()
{
    HexLimits limits;
    limits.maxFileBytes = 2048;
    limits.maxBlocks = 8;
    return limits;
}

// The window reads the chosen file from disk; so does this target.
QString *filePath = nullptr;

void check(bool condition)
{
    if (!condition)
        abort();
}

// The data bytes of a file the reader accepted, by address. The file has
// been checked, so every record is whole and its checksum right: this only
// walks the records and applies the address rules of Intel HEX (02: value
// x 16, 04: value x 65536, both added to the record's offset).
std::map<quint32, quint8> dataOf(const QByteArray &text)
{
    std::map<quint32, quint8> bytes;
    quint32 base = 0;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QByteArray record = QByteArray::fromHex(line.mid(1));
        const auto at = [&record](int i) { return quint32(quint8(record.at(i))); };
        const quint32 offset = (at(1) << 8) | at(2);
        switch (at(3)) {
        case 0x00:
            for (int i = 0; i < int(at(0)); ++i)
                bytes[base + offset + quint32(i)] = quint8(at(4 + i));
            break;
        case 0x02: base = ((at(4) << 8) | at(5)) * 16; break;
        case 0x04: base = ((at(4) << 8) | at(5)) << 16; break;
        default: break;
        }
    }
    return bytes;
}

void checkImage(const FirmwareImage &image, const QByteArray &text)
{
    const std::map<quint32, quint8> data = dataOf(text);
    check(!data.empty() && image.dataByteCount() == int(data.size()));
    check(text.size() <= smallLimits().maxFileBytes && image.filledBlocks() <= smallLimits().maxBlocks);

    const QList<FirmwareImage::Block> blocks = image.blocks();
    check(image.blockCount() == blocks.size());
    std::map<quint32, int> setPerBlock;
    for (const auto &[address, value] : data)
        ++setPerBlock[address & ~quint32(FirmwareImage::kBlockBytes - 1)];

    // Every block with data, in ascending order, each byte the file's or
    // erased; then one erased block after a full last one.
    auto expected = setPerBlock.cbegin();
    for (const FirmwareImage::Block &block : blocks) {
        check(block.bytes.size() == FirmwareImage::kBlockBytes);
        check(block.address % FirmwareImage::kBlockBytes == 0);
        if (expected == setPerBlock.cend()) {
            const auto &[lastAddress, lastCount] = *setPerBlock.crbegin();
            check(lastCount == FirmwareImage::kBlockBytes);
            check(block.address == lastAddress + FirmwareImage::kBlockBytes && block.address != 0);
            check(block.bytes == QByteArray(FirmwareImage::kBlockBytes, FirmwareImage::kErased));
            check(&block == &blocks.last());
            continue;
        }
        check(block.address == expected->first);
        for (int i = 0; i < FirmwareImage::kBlockBytes; ++i) {
            const auto found = data.find(block.address + quint32(i));
            const quint8 want = found == data.end() ? quint8(FirmwareImage::kErased) : found->second;
            check(quint8(block.bytes.at(i)) == want);
        }
        ++expected;
    }
    check(expected == setPerBlock.cend());
}

void checkFault(const HexError &error, const QByteArray &text)
{
    using K = HexError::Kind;
    const int lines = int(text.count('\n')) + 1;
    const bool wholeFile = error.kind == K::NoData || error.kind == K::NoEndRecord || error.kind == K::FileTooLarge;
    check(error.kind != K::OpenFailed);
    check((error.kind == K::FileTooLarge) == (text.size() > smallLimits().maxFileBytes));
    check(wholeFile ? error.line == 0 : (error.line >= 1 && error.line <= lines));
    check(!error.text().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir dir;
    check(dir.isValid());
    filePath = new QString(dir.filePath(QStringLiteral("firmware.hex")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));
    {
        QFile file(*filePath);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(text) == text.size());
    }
    const HexReadResult result = HexFile::readFile(*filePath, smallLimits());
    if (result.image)
        checkImage(*result.image, text);
    else
        checkFault(result.error, text);
    return 0;
}
