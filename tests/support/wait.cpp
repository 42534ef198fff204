#include "wait.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

// QEventLoop::exec returns -1 at once when the application has been told to
// quit; waiting must give up then instead of starting loop after loop.
constexpr int kLoopRefused = -1;
constexpr int kTimedOut = 1;

} // namespace

namespace Wait {

void sleep(int msec)
{
    QElapsedTimer clock;
    clock.start();
    // A timer may fire a fraction of a millisecond early; wait again for
    // what is left so that the caller always gets its full time.
    for (qint64 left = msec; left > 0; left = msec - clock.elapsed()) {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        if (loop.exec() == kLoopRefused)
            return;
    }
}

bool runLoopUntilQuit(QEventLoop &loop, int timeoutMs)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&loop] { loop.exit(kTimedOut); });
    timer.start(timeoutMs);
    return loop.exec() == 0 && timer.isActive();
}

} // namespace Wait
