#include "ptydevice.h"

#include "wait.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

PtyDevice::PtyDevice()
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    path = QString::fromLocal8Bit(name);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PtyDevice::readMaster);
}

PtyDevice::~PtyDevice()
{
    hangUp();
}

void PtyDevice::write(const QByteArray &bytes)
{
    if (::write(master, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
        qFatal("writing to the pseudo-terminal failed");
}

bool PtyDevice::waitForReceived(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (rx.size() < count && !deadline.hasExpired())
        Wait::forSignal(this, &PtyDevice::bytesReceived, static_cast<int>(deadline.remainingTime()));
    return rx.size() >= count;
}

termios PtyDevice::lineSettings() const
{
    termios settings{};
    tcgetattr(slave, &settings);
    return settings;
}

void PtyDevice::hangUp()
{
    delete notifier;
    notifier = nullptr;
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = slave = -1;
}

void PtyDevice::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
        rx.append(buffer, static_cast<int>(n));
        emit bytesReceived();
    }
}
