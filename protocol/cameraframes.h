#ifndef QUILLON_CAMERAFRAMES_H
#define QUILLON_CAMERAFRAMES_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The camera-control frames of the three protocols the cameras speak, built
// from the texts of the window's fields:
//
//   Pelco-D  FF addr cmd1 cmd2 data1 data2 sum     sum = bytes 1..5 mod 256
//   Pelco-P  A0 addr-1 d1 d2 d3 d4 AF xor          xor = bytes 0..6
//   VISCA    (80+addr) message... FF
//
// Every command is a row of one table (its Pelco-D, Pelco-P and VISCA bytes,
// with places for the speed, preset and zoom speed); one builder per protocol
// turns a row into a frame. A command the protocol does not have gives an
// empty frame.
namespace CameraFrames {

// The order of the window's protocol box.
enum class Protocol : int { PelcoD = 0, PelcoP = 1, Visca = 2 };

enum class Command {
    Left,
    Right,
    Up,
    Down,
    UpLeft,
    UpRight,
    DownLeft,
    DownRight,
    PanTiltStop,
    Home,
    CallPreset,
    SetPreset,
    ClearPreset,
    ZoomTele,
    ZoomWide,
    ZoomStop,
    FocusFar,
    FocusNear,
    FocusStop,
    AutoFocus,
    ManualFocus,
    PowerOn,
    PowerOff,
    PictureFlip,
    PictureNormal,
    PanTiltReset,
    ZoomReset,
    ZoomPositionInquiry,
    FocusPositionInquiry,
};

// The field texts a frame is built from, as the user typed them.
struct Fields
{
    QString address;
    QString panTiltSpeed;
    QString zoomSpeed;
    QString preset;
};

// A numeric field: its decimal value, 0 for a text that is no decimal
// integer (empty, letters, out of range). Nothing is reported.
int fieldValue(const QString &text);

// The VISCA header byte for an address text: 0x80 plus its decimal value,
// low 8 bits kept (address 1 gives 0x81).
quint8 viscaHeader(const QString &addressText);

// A VISCA frame: the header byte, the message, the terminator FF.
QByteArray visca(quint8 header, const QByteArray &message);

// The frame of `command` in `protocol`. Empty when the protocol has no such
// command, and for a protocol index outside the three. Home exists only in
// VISCA and is always built as a VISCA frame.
QByteArray build(Protocol protocol, Command command, const Fields &fields);

} // namespace CameraFrames

#endif // QUILLON_CAMERAFRAMES_H
