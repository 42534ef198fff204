#include "testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>

namespace TestEnv {

ScratchDir::ScratchDir() : previous(QDir::currentPath())
{
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        qFatal("cannot enter a temporary working directory");
}

ScratchDir::~ScratchDir()
{
    QDir::setCurrent(previous);
}

QString ScratchDir::settingsFile() const
{
    return dir.filePath(QStringLiteral("setting.ini"));
}

bool ScratchDir::hasSettingsFile() const
{
    return QFileInfo::exists(settingsFile());
}

QString ScratchDir::storedText(const QString &key) const
{
    QSettings file(settingsFile(), QSettings::IniFormat);
    return file.value(key).toString();
}

void writeSettings(const QList<QPair<QString, QString>> &values)
{
    QSettings file(QStringLiteral("./setting.ini"), QSettings::IniFormat);
    for (const auto &value : values)
        file.setValue(value.first, value.second);
}

QStringList paneLines(QWidget *window)
{
    const QString text = control<QTextBrowser>(window, "textBrowserReceive")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace TestEnv
