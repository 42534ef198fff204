#include "portlist.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace PortList {
namespace {

std::function<QList<Port>()> &installedSource()
{
    static std::function<QList<Port>()> source;
    return source;
}

QList<Port> systemPorts()
{
    QList<Port> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.systemLocation(), info.description()});
    return ports;
}

const QString kComPrefix = QStringLiteral("COM");

// Natural order: runs of digits compare by value, everything else by
// character, so ttyUSB2 comes before ttyUSB10 whatever the locale.
bool naturalLess(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int endA = i;
            int endB = j;
            while (endA < a.size() && a.at(endA).isDigit())
                ++endA;
            while (endB < b.size() && b.at(endB).isDigit())
                ++endB;
            // Compare the runs without leading zeros: longer is larger.
            QStringRef runA = a.midRef(i, endA - i);
            QStringRef runB = b.midRef(j, endB - j);
            while (runA.size() > 1 && runA.at(0) == QLatin1Char('0'))
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.at(0) == QLatin1Char('0'))
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int order = runA.compare(runB); order != 0)
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a < b;
}

} // namespace

QList<Port> available()
{
    const auto &source = installedSource();
    return source ? source() : systemPorts();
}

void setSource(std::function<QList<Port>()> source)
{
    installedSource() = std::move(source);
}

QStringList comboItems(const QStringList &portNames)
{
    // Windows names: every "COM" is removed and the rest read as a decimal
    // number (a name such as "COMX" reads as 0); the numbers are sorted and
    // listed again as "COM" + number. Equal numbers stay as separate items.
    QList<int> numbers;
    QStringList others;
    for (const QString &name : portNames) {
        if (name.contains(kComPrefix)) {
            QString digits = name;
            digits.remove(kComPrefix);
            numbers.append(digits.toInt()); // not a number: 0
        } else {
            others.append(name);
        }
    }
    std::sort(numbers.begin(), numbers.end());

    std::sort(others.begin(), others.end(), naturalLess);

    QStringList items;
    for (int number : numbers)
        items.append(kComPrefix + QString::number(number));
    items.append(others);
    return items;
}

std::optional<QString> locationFor(const QString &boxText, const QList<Port> &ports)
{
    std::optional<QString> location;
    for (const Port &port : ports) {
        if (port.name == boxText)
            location = port.location;
    }
    if (location)
        return location;

    const bool typedDevice = !boxText.isEmpty() && !boxText.contains(kComPrefix)
        && std::none_of(boxText.cbegin(), boxText.cend(), [](QChar c) { return c.isSpace(); });
    if (typedDevice)
        return boxText;
    return std::nullopt;
}

QString devicePath(const QString &location)
{
    const bool path = location.startsWith(QLatin1Char('/')) || location.startsWith(QLatin1String("./"))
                      || location.startsWith(QLatin1String("../"));
    return path ? location : QStringLiteral("/dev/") + location;
}

bool typedDeviceExists(const QString &boxText, const QList<Port> &ports)
{
    const bool listed = std::any_of(ports.cbegin(), ports.cend(), [&](const Port &port) { return port.name == boxText; });
    const std::optional<QString> location = locationFor(boxText, {});
    return !listed && location && QFileInfo::exists(devicePath(*location));
}

QString descriptionOf(const QString &name, const QList<Port> &ports)
{
    for (const Port &port : ports) {
        if (port.name == name)
            return port.description;
    }
    return QString();
}

} // namespace PortList
