#include "hexwriter.h"

namespace HexWriter {
namespace {

constexpr quint8 kData = 0x00;
constexpr quint8 kEndOfFile = 0x01;
constexpr quint8 kExtendedLinearAddress = 0x04;
constexpr quint32 kSegmentBytes = 0x10000;

} // namespace

QByteArray record(quint8 type, quint16 offset, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(offset >> 8));
    bytes.append(char(offset & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    quint8 sum = 0;
    for (const char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    bytes.append(char(quint8(-sum)));
    QByteArray line(1, ':');
    line.append(bytes.toHex().toUpper());
    line.append("\r\n");
    return line;
}

QByteArray write(quint32 address, const QByteArray &data, int recordBytes)
{
    QByteArray text;
    quint32 segment = ~0u;
    for (int at = 0; at < data.size();) {
        const quint32 here = address + quint32(at);
        if (here / kSegmentBytes != segment) {
            segment = here / kSegmentBytes;
            QByteArray upper;
            upper.append(char(segment >> 8));
            upper.append(char(segment & 0xFF));
            text += record(kExtendedLinearAddress, 0, upper);
        }
        const int toBoundary = int(kSegmentBytes - here % kSegmentBytes);
        const int length = qMin(qMin(recordBytes, data.size() - at), toBoundary);
        text += record(kData, quint16(here & 0xFFFF), data.mid(at, length));
        at += length;
    }
    text.append(record(kEndOfFile, 0, {}));
    return text;
}

} // namespace HexWriter
