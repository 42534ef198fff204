#ifndef QUILLON_REPLYTEXT_H
#define QUILLON_REPLYTEXT_H

#include <QByteArray>
#include <QString>

#include <optional>

// Readings of a reply kept as hexadecimal text (two lower-case digits per
// byte, no separators), the form in which the window keeps the last reply.
namespace ReplyText {

// The reply's bytes as that text.
QByteArray fromBytes(const QByteArray &bytes);

// The value of the reply's last byte; 0 for an empty reply.
int lastByte(const QByteArray &replyHex);

// The reply without the acknowledges and completions of earlier commands at
// its start. A VISCA camera answers a command twice, z0 4y FF when it takes
// it and z0 5y FF when it has done it (y the socket, 1 or 2); the second may
// come well after the next request has gone out. Such three-byte packets
// answer no inquiry, so they are skipped before an answer is read. Empty
// when the reply holds nothing else.
QByteArray withoutCommandReplies(const QByteArray &replyHex);

// The camera's answer to a serial-number read: two header bytes, the number
// as ASCII codes, and 0xFF at the end. Returns the `length` characters that
// follow the header (cut at the first zero byte, and at the final 0xFF of a
// reply that holds fewer), or nothing when the reply does not end in 0xFF.
std::optional<QString> serialNumber(const QByteArray &replyHex, int length);

// What the receive pane shows for a datagram from the network camera: its
// text up to the first zero byte (the camera's string terminator), read as
// UTF-8.
QString fromDatagram(const QByteArray &datagram);

} // namespace ReplyText

#endif // QUILLON_REPLYTEXT_H
