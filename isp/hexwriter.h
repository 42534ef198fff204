#ifndef QUILLON_HEXWRITER_H
#define QUILLON_HEXWRITER_H

#include <QByteArray>

// Writes bytes as an Intel HEX text the way firmware toolchains do: an
// extended linear address record (04) at the start and at every 64 KiB
// boundary, data records (00) of recordBytes that never cross such a
// boundary, and the end-of-file record (01). Lines end in "\r\n".
namespace HexWriter {

QByteArray write(quint32 address, const QByteArray &data, int recordBytes = 16);

// One record line with its checksum, e.g. record(0x00, 0x0100, "\x01\x02").
QByteArray record(quint8 type, quint16 offset, const QByteArray &data);

} // namespace HexWriter

#endif // QUILLON_HEXWRITER_H
