#ifndef CAMSIM_PRECISETIMER_H
#define CAMSIM_PRECISETIMER_H

#include <QObject>

class QSocketNotifier;

// A single-shot timer with nanosecond resolution. QTimer counts whole
// milliseconds, but at 57600 baud a byte takes 0.17 to 0.19 ms on the wire:
// a reply rounded up to the next millisecond would slow every exchange down
// several times over. A Linux timerfd watched by the event loop fires on time.
class PreciseTimer : public QObject
{
    Q_OBJECT

public:
    explicit PreciseTimer(QObject *parent = nullptr);
    ~PreciseTimer() override;

    // Fires once, `ns` nanoseconds from now (at once for zero or less).
    void startIn(qint64 ns);
    void stop();

signals:
    void timeout();

private:
    void expired();

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
};

#endif // CAMSIM_PRECISETIMER_H
