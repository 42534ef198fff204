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



// The communication test's answer carries the camera's signature in three
// of its nibbles: the high nibble of byte 3 is 2, the low nibble of byte 4 is
// 5, and the high nibble of byte 9 is F.
struct Signature
{
    int byte;
    quint8 mask;
    quint8 value;
};
constexpr Signature kCommunicationSignature[] = {{3, 0xF0, 0x20}, {4, 0x0F, 0x05}, {9, 0xF0, 0xF0}};

// The version byte is byte 3 of the answer.
constexpr int kVersionByte = 3;

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

bool communicationTestPassed(const QByteArray &reply)
{
    for (const Signature &expected : kCommunicationSignature) {
        if (reply.size() <= expected.byte || (quint8(reply.at(expected.byte)) & expected.mask) != expected.value)
            return false;
    }
    return true;
}

QString versionBits(const QByteArray &reply)
{
    // Least significant bit first.
    QString bits;
    if (reply.size() <= kVersionByte)
        return bits;
    const auto version = quint8(reply.at(kVersionByte));
    for (int bit = 0; bit < 8; ++bit)
        bits.append((version >> bit) & 1 ? QLatin1Char('1') : QLatin1Char('0'));
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
