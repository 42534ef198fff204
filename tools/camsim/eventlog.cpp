#include "eventlog.h"

#include <QJsonDocument>

#include <cstdio>

EventLog::EventLog()
{
    clock.start();
}

bool EventLog::openFile(const QString &path, QString *error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void EventLog::write(QJsonObject entry)
{
    entry.insert(QStringLiteral("t_ms"), nowMs());
    QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    line.append('\n');
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
    if (file.isOpen()) {
        file.write(line);
        file.flush();
    }
}

void EventLog::writePlainLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
