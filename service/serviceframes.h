#ifndef QUILLON_SERVICEFRAMES_H
#define QUILLON_SERVICEFRAMES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The factory service frames of the camera firmware. They are VISCA-style:
// a header byte 0x80 + address, a message, and the terminator FF.
//
//   serial-number write   hh 01 06 61 Ck 93 a b FF   k = 0..5 (12 chars) or 0..7 (15)
//   serial-number read    hh 09 6C 3E FF             answer y0 50 s0..sN-1 FF
//   logo write            hh 01 06 61 Dk 87 a b FF   k = 0..3 (VN620) or 0..7 (RM410)
//   communication test    hh 09 00 02 FF             answer y0 50 GGGG HHHH JJJJ KK FF
//   software version      hh 01 06 45 55 FF          answer y0 50 00 VV FF
//
// The writes carry two characters a frame; the camera stores them by k.
namespace ServiceFrames {

// The logo lengths of the two camera models.
constexpr int kVn620LogoLength = 7;
constexpr int kRm410LogoLength = 15;

// The bytes the camera stores for a text: one per character, its code when
// that fits a byte, else 0x00.
QByteArray textBytes(const QString &text);

// The frames that write a serial number of `length` (12 or 15) characters.
// Missing characters are sent as 0x00: the last frame of a 15-character
// number carries its 15th character and 0x00.
QList<QByteArray> serialNumberWrite(quint8 header, const QByteArray &number, int length);
QByteArray serialNumberRead(quint8 header);

// The frames that write a logo of at most `length` (7 or 15) characters,
// padded with 0x00 to 8 or 16 bytes.
QList<QByteArray> logoWrite(quint8 header, const QByteArray &logo, int length);

QByteArray communicationTest(quint8 header);
QByteArray versionRead(quint8 header);

// Readings of the answers, on their bytes. The communication test passes
// when the answer carries the camera's signature: high nibble of byte 3 is 2,
// low nibble of byte 4 is 5, and the high nibble of byte 9 is F.
bool communicationTestPassed(const QByteArray &reply);

// The software version byte (byte 3 of the answer) as eight '0'/'1'
// characters, least significant bit first: 0x12 shows as 01001000. A shorter
// answer gives nothing.
QString versionBits(const QByteArray &reply);

} // namespace ServiceFrames

// The free command line of the service panel: hexadecimal numbers separated
// by blanks, one byte each.
namespace CommandLine {

// The bytes a text spells: each part read as a hexadecimal number, its low
// 8 bits kept; a part that is no number gives 0x00. Empty parts (repeated
// or trailing blanks) give nothing.
QByteArray bytes(const QString &text);

} // namespace CommandLine

#endif // QUILLON_SERVICEFRAMES_H
