#ifndef QUILLON_POSITIONREPLY_H
#define QUILLON_POSITIONREPLY_H

#include <QByteArray>
#include <QString>

// The camera's answer to a VISCA zoom or focus position inquiry:
//
//   y0 50 0p 0q 0r 0s FF      y = camera address + 8
//
// p, q, r and s are the four 4-bit digits of the position, most significant
// first.
namespace PositionReply {

// The four digits as lower-case hexadecimal ("2345", "abcd"); an empty text
// for anything that is not a position answer: no reply, an acknowledge, an
// error reply (y0 60 0e FF), a reply cut short.
QString digits(const QByteArray &reply);

} // namespace PositionReply

#endif // QUILLON_POSITIONREPLY_H
