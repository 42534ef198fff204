#include "appsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>

namespace AppSettings {

QSettings *open()
{
    return new QSettings(QString::fromLatin1(kFileName), QSettings::IniFormat);
}

QString read(QSettings &settings, const char *key)
{
    // An invalid default makes a missing key read as an empty text.
    return settings.value(QString::fromLatin1(key), QVariant()).toString();
}

bool store(const char *key, const QString &value)
{
    // A short-lived object per value, written at once, so every edit is on
    // disk before the next keystroke.
    QSettings file(QString::fromLatin1(kFileName), QSettings::IniFormat);
    file.setValue(QString::fromLatin1(key), value);
    file.sync();
    return file.status() == QSettings::NoError;
}

QString filePath()
{
    return QDir::toNativeSeparators(QFileInfo(QString::fromLatin1(kFileName)).absoluteFilePath());
}

} // namespace AppSettings
