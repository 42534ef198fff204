#ifndef QUILLON_VISCAREPLY_H
#define QUILLON_VISCAREPLY_H

#include <QByteArray>
#include <QString>

#include <optional>

// Readings of what a VISCA camera sends back, on the reply's bytes.
namespace ViscaReply {

// The reply without the acknowledges and completions of earlier commands at
// its start. A VISCA camera answers a command twice, z0 4y FF when it takes
// it and z0 5y FF when it has done it (y the socket, 1 or 2); the second may
// come well after the next request has gone out. Such three-byte packets
// answer no inquiry, so they are skipped before an answer is read. Empty
// when the reply holds nothing else.
QByteArray withoutCommandReplies(const QByteArray &reply);

// Whether the reply holds a whole message: VISCA ends each with 0xFF.
bool isComplete(const QByteArray &reply);

// The camera's answer to a serial-number read: two header bytes, the number
// as ASCII codes, and 0xFF at the end. Returns the `length` characters that
// follow the header (cut at the first zero byte, and at the final 0xFF of a
// reply that holds fewer), or nothing when the reply does not end in 0xFF.
std::optional<QString> serialNumber(const QByteArray &reply, int length);

} // namespace ViscaReply

#endif // QUILLON_VISCAREPLY_H
