#ifndef QUILLON_SERIALNUMBER_H
#define QUILLON_SERIALNUMBER_H

#include <QString>

// The camera's serial number as the factory hands it out: a fixed prefix and
// a decimal counter at the end. A 12-character number counts in its last four
// characters (0000..9999), a 15-character one in its last three (000..999).
// The service panel steps that counter so that a line of cameras can be
// numbered one after another.
namespace SerialNumber {

// The two lengths a camera's serial number can have.
constexpr int kShortLength = 12;
constexpr int kLongLength = 15;

// How many characters of a number of `length` characters are the counter.
int tailLength(int length);

// The number with its counter one up: 9999 (or 999) wraps to all zeros.
// `number` is expected to hold `length` characters; the characters before
// the counter never change. A counter that is not all decimal digits counts
// as 0.
QString stepUp(const QString &number, int length);

// The number with its counter one down, keeping its zero padding: all
// zeros wrap to 9999 (or 999).
QString stepDown(const QString &number, int length);

} // namespace SerialNumber

#endif // QUILLON_SERIALNUMBER_H
