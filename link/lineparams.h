#ifndef QUILLON_LINEPARAMS_H
#define QUILLON_LINEPARAMS_H

#include <QSerialPort>

#include <optional>

// The line settings offered by the window's combo boxes, by item index.
namespace LineParams {

// What the camera firmware talks, and what the box shows at start.
constexpr qint32 kDefaultBaud = 9600;

// Baud-rate items: 2400, 9600, 19200, 38400, 57600, 115200. Nothing for an
// index outside the list (such as -1 while the box is being refilled).
std::optional<qint32> baudRate(int index);

// Parity items: No, Odd, Even.
std::optional<QSerialPort::Parity> parity(int index);

} // namespace LineParams

#endif // QUILLON_LINEPARAMS_H
