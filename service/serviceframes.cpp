#include "serviceframes.h"

#include "protocol/cameraframes.h"

#include <initializer_list>

namespace ServiceFrames {
namespace {

constexpr quint8 kLatin1Max = 0xFF;

// A service write: 01 06 61, then the slot (which pair of characters) and
// the tag (which record).
constexpr quint8 kServiceWrite = 0x01;
constexpr quint8 kServiceWriteTarget = 0x06;
constexpr quint8 kServiceWriteSelect = 0x61;
constexpr quint8 kSerialNumberSlot = 0xC0;
constexpr quint8 kSerialNumberTag = 0x93;
constexpr quint8 kLogoSlot = 0xD0;
constexpr quint8 kLogoTag = 0x87;
constexpr int kBytesPerWrite = 2;



// Where the communication test looks in the answer's hexadecimal text, and
// what it must find there.
struct Signature
{
    int at;
    char digit;
};
constexpr Signature kCommunicationSignature[] = {{6, '2'}, {9, '5'}, {18, 'f'}};

// The version byte is byte 3 of the answer: digits 6 (high) and 7 (low).
constexpr int kVersionHighDigit = 6;
constexpr int kVersionLowDigit = 7;

QByteArray frame(quint8 header, std::initializer_list<quint8> message)
{
    QByteArray bytes;
    for (const quint8 byte : message)
        bytes.append(char(byte));
    return CameraFrames::visca(header, bytes);
}

// The frames that carry `length` characters, two a frame; the last pair of
// an odd length ends in 0x00.
QList<QByteArray> writes(quint8 header, quint8 slot, quint8 tag, const QByteArray &data, int length)
{
    const int frameCount = (length + kBytesPerWrite - 1) / kBytesPerWrite;
    const auto byteAt = [&data](int i) { return i < data.size() ? quint8(data.at(i)) : quint8(0); };
    QList<QByteArray> frames;
    for (int k = 0; k < frameCount; ++k) {
        const int first = kBytesPerWrite * k;
        frames.append(frame(header, {kServiceWrite, kServiceWriteTarget, kServiceWriteSelect,
                                     quint8(slot + k), tag, byteAt(first), byteAt(first + 1)}));
    }
    return frames;
}

// A hexadecimal digit's four bits, least significant first; nothing for a
// character that is no lower-case hexadecimal digit.
QString bitsOfDigit(char digit)
{
    int value = -1;
    if (digit >= '0' && digit <= '9')
        value = digit - '0';
    else if (digit >= 'a' && digit <= 'f')
        value = digit - 'a' + 10;
    if (value < 0)
        return QString();
    QString bits;
    for (int bit = 0; bit < 4; ++bit)
        bits.append((value >> bit) & 1 ? QLatin1Char('1') : QLatin1Char('0'));
    return bits;
}

} // namespace

QByteArray textBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text)
        bytes.append(c.unicode() <= kLatin1Max ? char(c.unicode()) : '\0');
    return bytes;
}

QList<QByteArray> serialNumberWrite(quint8 header, const QByteArray &number, int length)
{
    return writes(header, kSerialNumberSlot, kSerialNumberTag, number, length);
}

QByteArray serialNumberRead(quint8 header)
{
    return frame(header, {0x09, 0x6C, 0x3E});
}

QList<QByteArray> logoWrite(quint8 header, const QByteArray &logo, int length)
{
    return writes(header, kLogoSlot, kLogoTag, logo, length);
}

QByteArray communicationTest(quint8 header)
{
    return frame(header, {0x09, 0x00, 0x02});
}

QByteArray versionRead(quint8 header)
{
    return frame(header, {0x01, 0x06, 0x45, 0x55});
}

bool communicationTestPassed(const QByteArray &replyHex)
{
    for (const Signature &expected : kCommunicationSignature) {
        if (replyHex.size() <= expected.at || replyHex.at(expected.at) != expected.digit)
            return false;
    }
    return true;
}

QString versionBits(const QByteArray &replyHex)
{
    // Low digit first: its bits are the byte's bits 0 to 3.
    QString bits;
    if (replyHex.size() > kVersionLowDigit)
        bits += bitsOfDigit(replyHex.at(kVersionLowDigit));
    if (replyHex.size() > kVersionHighDigit)
        bits += bitsOfDigit(replyHex.at(kVersionHighDigit));
    return bits;
}

} // namespace ServiceFrames

namespace CommandLine {

QByteArray bytes(const QString &text)
{
    constexpr int kHexadecimal = 16;
    QByteArray bytes;
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        bool ok = false;
        const qlonglong value = part.toLongLong(&ok, kHexadecimal);
        bytes.append(ok ? char(value & 0xFF) : '\0');
    }
    return bytes;
}

} // namespace CommandLine
