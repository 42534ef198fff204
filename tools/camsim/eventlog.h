#ifndef CAMSIM_EVENTLOG_H
#define CAMSIM_EVENTLOG_H

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QString>

// The simulator's clock and its record. Every line is one compact JSON
// object on stdout (after the first line, which carries the pseudo-terminal's
// path) and, when asked for, appended to a log file. Each line gets "t_ms",
// the milliseconds since the simulator started.
class EventLog
{
public:
    EventLog();

    bool openFile(const QString &path, QString *error);

    qint64 nowMs() const { return clock.elapsed(); }
    qint64 nowNs() const { return clock.nsecsElapsed(); }

    void write(QJsonObject entry);

    // Plain text line on stdout, flushed: used once, for the slave's path.
    static void writePlainLine(const QByteArray &line);

private:
    QElapsedTimer clock;
    QFile file;
};

#endif // CAMSIM_EVENTLOG_H
