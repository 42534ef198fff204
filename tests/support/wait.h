#ifndef QUILLON_WAIT_H
#define QUILLON_WAIT_H

#include <QEventLoop>
#include <QObject>

// Waiting that keeps the event loop running: replies are received, timers
// fire and the user's clicks are handled while a command waits, and no
// processor time is burnt meanwhile (the loop sleeps in the event
// dispatcher until something happens).
namespace Wait {

// Returns after at least msec milliseconds, or earlier only when the
// application is quitting.
void sleep(int msec);

// Runs the event loop until the object emits the signal, or until timeoutMs
// has passed. True when the signal came in time.
template <typename Func>
bool forSignal(const typename QtPrivate::FunctionPointer<Func>::Object *sender, Func signal,
               int timeoutMs);

// The non-template part of forSignal: runs a loop that the caller's
// connection quits. True when it was quit before the time ran out.
bool runLoopUntilQuit(QEventLoop &loop, int timeoutMs);

} // namespace Wait

template <typename Func>
bool Wait::forSignal(const typename QtPrivate::FunctionPointer<Func>::Object *sender, Func signal,
                     int timeoutMs)
{
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    return runLoopUntilQuit(loop, timeoutMs);
}

#endif // QUILLON_WAIT_H
