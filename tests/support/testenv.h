#ifndef QUILLON_TESTENV_H
#define QUILLON_TESTENV_H

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class MyWidget;
class QWidget;

namespace TestEnv {

// A fresh, empty working directory for one test; the previous working
// directory comes back when it goes out of scope.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    QString path() const { return dir.path(); }
    QString settingsFile() const;
    bool hasSettingsFile() const;
    // Reads one key of ./setting.ini as it is on disk now.
    QString storedText(const QString &key) const;

private:
    QTemporaryDir dir;
    QString previous;
};

// Writes keys into ./setting.ini before a window is built.
void writeSettings(const QList<QPair<QString, QString>> &values);

// Finds a control of the window by object name, failing the test when absent.
template <typename T>
T *control(QWidget *window, const char *name);

} // namespace TestEnv

#include "testenv_impl.h"

#endif // QUILLON_TESTENV_H
