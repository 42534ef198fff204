#ifndef QUILLON_TESTDATA_H
#define QUILLON_TESTDATA_H

#include <QByteArray>

namespace TestEnv {

// Firmware of n pseudo-random bytes, the same every run: no 256-byte block
// repeats another, and none XORs to zero (which would hide a Write Memory
// checksum that leaves the data out).
inline QByteArray firmware(int n)
{
    QByteArray bytes(n, '\0');
    quint32 state = 1;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    return bytes;
}

} // namespace TestEnv

#endif // QUILLON_TESTDATA_H
