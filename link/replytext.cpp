#include "replytext.h"

namespace ReplyText {
namespace {

constexpr int kDigitsPerByte = 2;
constexpr int kSerialNumberHeaderBytes = 2;
const QByteArray kTerminatorHex = QByteArrayLiteral("ff");

// The byte whose two digits start at `at`; 0 when they are missing.
char byteAt(const QByteArray &replyHex, int at)
{
    bool ok = false;
    const int value = replyHex.mid(at, kDigitsPerByte).toInt(&ok, 16);
    return ok ? static_cast<char>(value) : '\0';
}

// z0 4y FF or z0 5y FF, z the camera's address plus 8, y a socket (not 0:
// y0 50 is the start of an inquiry's answer).
bool isCommandReply(const QByteArray &replyHex, int at)
{
    constexpr int kPacketBytes = 3;
    if (replyHex.size() < at + kPacketBytes * kDigitsPerByte)
        return false;
    const quint8 header = quint8(byteAt(replyHex, at));
    const quint8 kind = quint8(byteAt(replyHex, at + kDigitsPerByte));
    const quint8 end = quint8(byteAt(replyHex, at + 2 * kDigitsPerByte));
    const bool fromCamera = (header & 0x8F) == 0x80;
    const bool acknowledgeOrCompletion = (kind & 0xF0) == 0x40 || (kind & 0xF0) == 0x50;
    return fromCamera && acknowledgeOrCompletion && (kind & 0x0F) != 0 && end == 0xFF;
}

} // namespace

QByteArray withoutCommandReplies(const QByteArray &replyHex)
{
    constexpr int kPacketDigits = 3 * kDigitsPerByte;
    int at = 0;
    while (isCommandReply(replyHex, at))
        at += kPacketDigits;
    return replyHex.mid(at);
}

QByteArray fromBytes(const QByteArray &bytes)
{
    return bytes.toHex();
}

int lastByte(const QByteArray &replyHex)
{
    if (replyHex.size() < kDigitsPerByte)
        return 0;
    return static_cast<unsigned char>(byteAt(replyHex, replyHex.size() - kDigitsPerByte));
}

std::optional<QString> serialNumber(const QByteArray &replyHex, int length)
{
    if (!replyHex.endsWith(kTerminatorHex))
        return std::nullopt;
    // The number lies between the header and the final 0xFF. A reply shorter
    // than the length asked for (a 12-character camera read as 15) ends at its
    // terminator: the 0xFF is no character of the number.
    const int replyBytes = replyHex.size() / kDigitsPerByte;
    const int available = qMax(0, replyBytes - kSerialNumberHeaderBytes - 1);
    QByteArray text;
    for (int i = 0; i < qMin(length, available); ++i) {
        const char byte = byteAt(replyHex, (kSerialNumberHeaderBytes + i) * kDigitsPerByte);
        if (byte == '\0')
            break;
        text.append(byte);
    }
    return QString::fromUtf8(text);
}

QString fromDatagram(const QByteArray &datagram)
{
    const int end = datagram.indexOf('\0');
    return QString::fromUtf8(end >= 0 ? datagram.left(end) : datagram);
}

} // namespace ReplyText
