#ifndef QUILLON_BENCHPTY_H
#define QUILLON_BENCHPTY_H

#include "link/portlist.h"

#include <QList>
#include <QString>

#include <cstdio>
#include <pty.h>
#include <termios.h>

// A raw pseudo-terminal that the benches play the camera on: the window
// finds its slave in the port list under `portName` and opens it as its
// serial port; the bench writes the camera's bytes to `master`.
struct BenchPty {
    int master = -1;
    int slave = -1;
    QString path;

    bool open(const QString &portName)
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            return false;
        }
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        path = QString::fromLocal8Bit(name);
        PortList::setSource([portName, slavePath = path] {
            return QList<PortList::Port>{{portName, slavePath, {}}};
        });
        return true;
    }
};

#endif // QUILLON_BENCHPTY_H
