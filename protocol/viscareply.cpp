#include "viscareply.h"

namespace ViscaReply {
namespace {

constexpr int kPacketBytes = 3;
constexpr int kSerialNumberHeaderBytes = 2;
constexpr quint8 kTerminator = 0xFF;

// z0 4y FF or z0 5y FF, z the camera's address plus 8, y a socket (not 0:
// y0 50 is the start of an inquiry's answer).
bool isCommandReply(const QByteArray &reply, int at)
{
    if (reply.size() < at + kPacketBytes)
        return false;
    const auto header = quint8(reply.at(at));
    const auto kind = quint8(reply.at(at + 1));
    const auto end = quint8(reply.at(at + 2));
    const bool fromCamera = (header & 0x8F) == 0x80;
    const bool acknowledgeOrCompletion = (kind & 0xF0) == 0x40 || (kind & 0xF0) == 0x50;
    return fromCamera && acknowledgeOrCompletion && (kind & 0x0F) != 0 && end == kTerminator;
}

} // namespace

QByteArray withoutCommandReplies(const QByteArray &reply)
{
    int at = 0;
    while (isCommandReply(reply, at))
        at += kPacketBytes;
    return reply.mid(at);
}

bool isComplete(const QByteArray &reply)
{
    return !reply.isEmpty() && quint8(reply.back()) == kTerminator;
}

std::optional<QString> serialNumber(const QByteArray &reply, int length)
{
    if (!isComplete(reply))
        return std::nullopt;
    // The number lies between the header and the final 0xFF. A reply shorter
    // than the length asked for (a 12-character camera read as 15) ends at its
    // terminator: the 0xFF is no character of the number.
    const int available = qMax(0, int(reply.size()) - kSerialNumberHeaderBytes - 1);
    QByteArray text = reply.mid(kSerialNumberHeaderBytes, qMin(length, available));
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromUtf8(text);
}

} // namespace ViscaReply
