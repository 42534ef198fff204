#include "precisetimer.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

PreciseTimer::PreciseTimer(QObject *parent) : QObject(parent)
{
    fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        qFatal("camsim: timerfd_create failed");
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PreciseTimer::expired);
}

PreciseTimer::~PreciseTimer()
{
    delete notifier;
    ::close(fd);
}

void PreciseTimer::startIn(qint64 ns)
{
    // An all-zero value disarms a timerfd: the earliest it can fire is 1 ns.
    const qint64 wait = ns < 1 ? 1 : ns;
    itimerspec due{};
    due.it_value.tv_sec = time_t(wait / kNsPerSecond);
    due.it_value.tv_nsec = long(wait % kNsPerSecond);
    ::timerfd_settime(fd, 0, &due, nullptr);
}

void PreciseTimer::stop()
{
    const itimerspec disarmed{};
    ::timerfd_settime(fd, 0, &disarmed, nullptr);
    // An expiry already counted but not yet read must not fire later.
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t drained = ::read(fd, &expirations, sizeof expirations);
}

void PreciseTimer::expired()
{
    std::uint64_t expirations = 0;
    if (::read(fd, &expirations, sizeof expirations) != ssize_t(sizeof expirations))
        return; // re-armed or stopped since the descriptor became readable
    emit timeout();
}
