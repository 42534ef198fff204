#ifndef QUILLON_PORTLIST_H
#define QUILLON_PORTLIST_H

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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

// What the serial port should open for the text of the port box: the
// location of the listed port of that name (the last one, should two share
// it); otherwise a device the user typed (a path such as /dev/pts/3 or
// /dev/serial/by-id/..., or a bare name such as ttyUSB0). Nothing when the
// text names no port: a Windows name that is not listed ("COM" + number),
// an empty text, or a text with blanks such as the "No Com" placeholder.
std::optional<QString> locationFor(const QString &boxText, const QList<Port> &ports);

// The device file a location opens: a path as it is, a bare name (ttyUSB0)
// under /dev, as the serial port resolves it outside Windows.
QString devicePath(const QString &location);

// Whether the text of the port box names a device the user typed (not a
// listed port) that is there now.
bool typedDeviceExists(const QString &boxText, const QList<Port> &ports);

// The description of the listed port of that name; empty when none matches.
QString descriptionOf(const QString &name, const QList<Port> &ports);

} // namespace PortList

#endif // QUILLON_PORTLIST_H
