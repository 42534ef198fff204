#ifndef QUILLON_PORTLIST_H
#define QUILLON_PORTLIST_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The serial ports the window offers. Port names of the form "COM" + number
// are listed by number (COM9 before COM10); names that carry no "COM" (the
// tty devices of Linux and macOS) are listed after them as they are, in
// natural order (ttyUSB2 before ttyUSB10).
namespace PortList {

struct Port
{
    QString name;        // as listed and matched, e.g. "COM3" or "ttyUSB0"
    QString location;    // what the serial port opens, e.g. "/dev/ttyUSB0"
    QString description; // the adapter's own description, for the tooltip
};

// The ports present now, through the installed source (the operating system's
// list unless a test installed another one).
QList<Port> available();

// Replaces the source of available(); an empty function restores the system's.
void setSource(std::function<QList<Port>()> source);

// The combo-box items for a list of port names, in display order.
QStringList comboItems(const QStringList &portNames);

} // namespace PortList

#endif // QUILLON_PORTLIST_H
