#ifndef QUILLON_TESTENV_IMPL_H
#define QUILLON_TESTENV_IMPL_H

#include <QWidget>
#include <QtTest>

namespace TestEnv {

template <typename T>
T *control(QWidget *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("control %s missing or of another class", name);
    return found;
}

} // namespace TestEnv

#endif // QUILLON_TESTENV_IMPL_H
