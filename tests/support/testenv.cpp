#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {
constexpr uid_t kNobody = 65534;
}

Unprivileged::Unprivileged()
{
    if (::geteuid() != 0)
        return;
    if (::seteuid(kNobody) != 0)
        qFatal("cannot take the user nobody: %s", strerror(errno));
    switched = true;
}

Unprivileged::~Unprivileged()
{
    if (switched && ::seteuid(0) != 0)
        qFatal("cannot become root again: %s", strerror(errno));
}

void keepForGroup(const QString &device)
{
    const QByteArray path = QFile::encodeName(device);
    if (::geteuid() == 0) {
        const struct group *dialout = ::getgrnam("dialout");
        if (dialout && ::chown(path.constData(), uid_t(-1), dialout->gr_gid) != 0)
            qFatal("cannot give %s to dialout: %s", path.constData(), strerror(errno));
    }
    if (::chmod(path.constData(), 0060) != 0)
        qFatal("cannot change the mode of %s: %s", path.constData(), strerror(errno));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
