#ifndef QUILLON_HEXFILE_H
#define QUILLON_HEXFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <optional>

class QIODevice;

// The firmware as the bootloader will receive it: the data bytes of an Intel
// HEX file placed at their own addresses and cut into the 256-byte blocks of
// the Write Memory command.
class FirmwareImage
{
public:
    static constexpr int kBlockBytes = 256;
    static constexpr char kErased = char(0xFF);

    struct Block
    {
        quint32 address = 0;  // multiple of kBlockBytes
        QByteArray bytes;     // always kBlockBytes; bytes the file does not set are 0xFF
    };

    // The blocks to write, in ascending address order: every block that holds
    // at least one data byte, and, when the last of them is full of data, one
    // more block of 0xFF at the next address (as the camera's original
    // download sequence ends).
    QList<Block> blocks() const;

    // Sum of the data record lengths (records never overlap, so this is also
    // the number of distinct bytes set).
    int dataByteCount() const;

    // Number of blocks blocks() returns; the progress bar counts to 256 times
    // this.
    int blockCount() const;

    // Places one byte; false when the address already holds one.
    bool place(quint32 address, quint8 value);

    // Whether every byte of [address, address + length) is set by the file.
    bool holdsData(quint32 address, int length) const;
    // The lowest and the highest address the file sets (the image is not
    // empty).
    quint32 lowestAddress() const;
    quint32 highestAddress() const;
    // The number of 256-byte blocks the file's bytes fall into (without the
    // trailing block of 0xFF).
    int filledBlocks() const { return int(filled.size()); }

private:
    struct Filled
    {
        QByteArray bytes = QByteArray(kBlockBytes, kErased);
        QByteArray set = QByteArray(kBlockBytes, '\0'); // 1 where the file set the byte
        int count = 0;
    };
    std::map<quint32, Filled> filled; // by block address
    int dataBytes = 0;
};

// What is wrong with a HEX file, and where. The window turns it into its own
// message; the text here names the fault in plain English for the trace.
struct HexError
{
    enum class Kind {
        OpenFailed,      // the file cannot be opened or read
        NoStartCode,     // a non-blank line does not start with ':'
        NotHex,          // a character after ':' is not a hex digit
        OddDigits,       // the digits do not make whole bytes
        LengthMismatch,  // the line's byte count disagrees with LL (short or long)
        BadChecksum,     // the record checksum is wrong
        BadType,         // record type above 05
        BadAddressRecord,// a type 02/04 record whose length is not 2, or 03/05 not 4, or 01 not 0
        Overlap,         // a data byte lands on an address already set
        NoData,          // the file holds no data byte
        NoEndRecord,     // no end-of-file record: the file is taken as truncated
        FileTooLarge,    // more text than any firmware file has
        ImageTooLarge,   // the data span more blocks than the largest flash holds
    };

    Kind kind = Kind::OpenFailed;
    int line = 0; // 1-based line number; 0 when the fault is the file as a whole
    // E.g. "line 12: bad checksum" or "no end-of-file record".
    QString text() const;
};

// How much a file may hold before it is refused unread: more than any
// firmware of an STM32 the bootloader knows. Reading stays in proportion to
// the image, whatever the file.
struct HexLimits
{
    qint64 maxFileBytes = 64 * 1024 * 1024;
    int maxBlocks = 2 * 1024 * 1024 / FirmwareImage::kBlockBytes; // 2 MiB of flash
};

struct HexReadResult
{
    std::optional<FirmwareImage> image; // set exactly when the file is good
    HexError error;                     // meaningful when image is empty
};

namespace HexFile {

// Reads and checks a whole Intel HEX text. Records: 00 data, 01 end of file
// (reading goes on after it), 02 extended segment address (x 16), 03 start
// segment address, 04 extended linear address (x 65536), 05 start linear
// address. ':' starts a record; blank lines and CR LF line ends are accepted.
HexReadResult read(QIODevice &device, const HexLimits &limits = {});
HexReadResult readFile(const QString &path, const HexLimits &limits = {});

} // namespace HexFile

#endif // QUILLON_HEXFILE_H
