#ifndef QUILLON_TESTENV_H
#define QUILLON_TESTENV_H

#include "testdata.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <QtGlobal>

namespace TestEnv {

// A fresh, empty working directory for one test; the previous working
// directory comes back when it goes out of scope.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    QString settingsFile() const;
    bool hasSettingsFile() const;
    // Reads one key of ./setting.ini as it is on disk now.
    QString storedText(const QString &key) const;

private:
    QTemporaryDir dir;
    QString previous;
};

// While it lives, the test runs as a user who may use only what the files'
// modes allow. Root opens every device and writes every folder whatever
// their modes, so a test run by root takes the effective user nobody
// meanwhile, and its own back afterwards; any other user is such a user
// already. The kernel itself then refuses, as it refuses a technician's
// account.
class Unprivileged
{
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

private:
    bool switched = false;
};

// Gives the device to its group alone, as Linux gives serial adapters to
// the group dialout: mode 0060, and the group dialout when root may change
// it. Neither its owner nor an Unprivileged test may then open it.
void keepForGroup(const QString &device);

// Writes the file whole; false when it could not.
bool writeFile(const QString &path, const QByteArray &bytes);

// Writes keys into ./setting.ini before a window is built.
void writeSettings(const QList<QPair<QString, QString>> &values);

// The receive pane of a window, one entry per paragraph.
QStringList paneLines(QWidget *window);

// Finds a control of the window by object name; a missing control, or one of
// another class, ends the test program.
template <typename T>
T *control(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("control %s missing or of another class", name);
    return found;
}

} // namespace TestEnv

#endif // QUILLON_TESTENV_H
