#ifndef QUILLON_CAMSIMPROCESS_H
#define QUILLON_CAMSIMPROCESS_H

#include "wait.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <climits>
#include <csignal>
#include <sys/types.h>

// How long camsim may take to start, and to answer.
constexpr int kStartTimeoutMs = 5000;
constexpr int kReplyTimeoutMs = 3000;

// True when the JSON line carries every one of `fields` with that value.
inline bool matches(const QJsonObject &line, const QJsonObject &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        if (line.value(it.key()) != it.value())
            return false;
    return true;
}

// One running camsim (the camera simulator) and what it has printed so far.
class Camsim
{
public:
    Camsim()
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { consume(); });
    }

    ~Camsim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kStartTimeoutMs);
        }
    }

    bool start(const QStringList &arguments)
    {
        process.start(QStringLiteral(QUILLON_CAMSIM_PATH), arguments);
        return process.waitForStarted(kStartTimeoutMs)
               && QTest::qWaitFor([this] { return !slavePath.isEmpty(); }, kStartTimeoutMs);
    }

    // Starts camsim with its record going to a file instead of this
    // process: a measurement then pays nothing for reading it meanwhile.
    // readRecord() takes it in afterwards.
    bool startRecordingTo(const QStringList &arguments, const QString &path)
    {
        recordPath = path;
        process.setStandardOutputFile(path, QIODevice::Truncate);
        process.start(QStringLiteral(QUILLON_CAMSIM_PATH), arguments);
        if (!process.waitForStarted(kStartTimeoutMs))
            return false;
        return QTest::qWaitFor([this] { return readRecord(), !slavePath.isEmpty(); }, kStartTimeoutMs);
    }

    void readRecord()
    {
        QFile file(recordPath);
        if (!file.open(QIODevice::ReadOnly))
            return;
        slavePath.clear();
        lines.clear();
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                take(line);
    }

    // Starts camsim with its flash going to `path` (when Go is acknowledged
    // and at exit), an erase of the whole flash taking 50 ms.
    bool startFlashing(const QString &path, const QStringList &options)
    {
        flashPath = path;
        return start(QStringList{"--flash-out", path, "--erase-ms", "50"} + options);
    }
    // The flash as the camera keeps it once it is switched off.
    QByteArray flash()
    {
        QFile file(flashPath);
        return signal(SIGTERM) && waitForExit() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool signal(int number) { return ::kill(pid_t(process.processId()), number) == 0; }

    bool waitForExit()
    {
        return QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; },
                               kStartTimeoutMs);
    }

    // The first line at or after `from` that carries all of `fields`; -1 if
    // none comes within the time.
    int waitFor(const QJsonObject &fields, int from = 0, int timeoutMs = kReplyTimeoutMs)
    {
        return QTest::qWaitFor([&] { return find(fields, from) >= 0; }, timeoutMs)
                   ? find(fields, from) : -1;
    }

    int find(const QJsonObject &fields, int from = 0) const
    {
        for (int i = std::max(from, 0); i < lines.size(); ++i) {
            if (matches(lines.at(i), fields))
                return i;
        }
        return -1;
    }

    int count(const QJsonObject &fields, int from = 0, int to = INT_MAX) const
    {
        int n = 0;
        for (int i = std::max(from, 0); i < std::min(to, int(lines.size())); ++i)
            n += matches(lines.at(i), fields) ? 1 : 0;
        return n;
    }

    QProcess process;
    QString recordPath;
    QString flashPath;
    QString slavePath;
    QList<QJsonObject> lines;
    QList<QByteArray> unreadable;

private:
    void consume()
    {
        while (process.canReadLine())
            take(process.readLine().chopped(1));
    }
    void take(const QByteArray &line)
    {
        if (slavePath.isEmpty()) // the first line names the slave
            slavePath = QString::fromLocal8Bit(line);
        else if (const QJsonDocument document = QJsonDocument::fromJson(line); document.isObject())
            lines.append(document.object());
        else
            unreadable.append(line);
    }
};

// A simulator and the window's end of the cable: a QSerialPort at its
// defaults (9600 8N1) that gathers what comes back.
struct CamsimBench
{
    CamsimBench()
    {
        QObject::connect(&port, &QSerialPort::readyRead, [this] { received += port.readAll(); });
    }

    // Starts camsim and opens its slave, or `path` (a link to it).
    bool start(const QStringList &arguments, const QString &path = QString())
    {
        if (!camera.start(arguments))
            return false;
        port.setPortName(path.isEmpty() ? camera.slavePath : path);
        return port.open(QIODevice::ReadWrite);
    }

    // Sends `bytes`; returns what came back once `count` bytes are in (or
    // the time is up).
    QByteArray ask(const QByteArray &bytes, int count, int timeoutMs = kReplyTimeoutMs)
    {
        received.clear();
        port.write(bytes);
        const QDeadlineTimer deadline(timeoutMs);
        while (received.size() < count && !deadline.hasExpired())
            Wait::forSignal(&port, &QSerialPort::readyRead, std::max(1, int(deadline.remainingTime())));
        return received;
    }

    Camsim camera;
    QSerialPort port;
    QByteArray received;
};

#endif // QUILLON_CAMSIMPROCESS_H
