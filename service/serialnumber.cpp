#include "serialnumber.h"

namespace SerialNumber {
namespace {

constexpr int kShortTail = 4;
constexpr int kLongTail = 3;

// The counter's value; a counter with anything but the digits 0-9 in it
// (a sign, a blank, a letter) counts as 0, so that the number never changes
// length.
int counterValue(const QString &tail)
{
    if (tail.isEmpty())
        return 0;
    for (const QChar c : tail) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    return tail.toInt();
}

int largest(int digits)
{
    int value = 1;
    for (int i = 0; i < digits; ++i)
        value *= 10;
    return value - 1;
}

// `number` with its last characters replaced by `digits`.
QString withEnding(const QString &number, const QString &digits)
{
    const int keep = qMax(0, number.size() - digits.size());
    return number.left(keep) + digits.right(number.size() - keep);
}

} // namespace

int tailLength(int length)
{
    return length == kShortLength ? kShortTail : kLongTail;
}

QString stepUp(const QString &number, int length)
{
    const int digits = tailLength(length);
    const int value = counterValue(number.right(digits));
    if (value >= largest(digits))
        return withEnding(number, QString(digits, QLatin1Char('0')));
    // Only as many characters as the new value has digits are written:
    // 0009 becomes 0010, 0099 becomes 0100.
    return withEnding(number, QString::number(value + 1));
}

QString stepDown(const QString &number, int length)
{
    const int digits = tailLength(length);
    const int value = counterValue(number.right(digits));
    if (value == 0)
        return withEnding(number, QString::number(largest(digits)));
    // The new value keeps the width of the old one: 0010 becomes 0009, 1000
    // becomes 0999.
    const int width = int(QString::number(value).size());
    return withEnding(number, QStringLiteral("%1").arg(value - 1, width, 10, QLatin1Char('0')));
}

} // namespace SerialNumber
