#include "positionreply.h"

namespace PositionReply {

namespace {

constexpr int kAnswerLength = 7;
constexpr quint8 kReplyHeaderMask = 0x8F; // y0: high bit set, low nibble 0
constexpr quint8 kReplyHeader = 0x80;
constexpr quint8 kInquiryAnswer = 0x50;
constexpr quint8 kTerminator = 0xFF;
constexpr int kFirstDigitByte = 2;
constexpr int kDigitCount = 4;

} // namespace

QString digits(const QByteArray &reply)
{
    if (reply.size() < kAnswerLength)
        return QString();
    const auto at = [&reply](int i) { return quint8(reply.at(i)); };
    if ((at(0) & kReplyHeaderMask) != kReplyHeader || at(1) != kInquiryAnswer
        || at(kAnswerLength - 1) != kTerminator)
        return QString();

    QString text;
    for (int i = kFirstDigitByte; i < kFirstDigitByte + kDigitCount; ++i) {
        // Each digit travels in the low nibble of its own byte.
        if (at(i) > 0x0F)
            return QString();
        text.append(QString::number(at(i), 16));
    }
    return text;
}

} // namespace PositionReply
