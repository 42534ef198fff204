#include "appsettings.h"

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

void store(const char *key, const QString &value)
{
    // A short-lived object per value: destroying it writes the file, so every
    // edit is on disk before the next keystroke.
    QSettings file(QString::fromLatin1(kFileName), QSettings::IniFormat);
    file.setValue(QString::fromLatin1(key), value);
}

} // namespace AppSettings
