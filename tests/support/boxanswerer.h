#ifndef QUILLON_BOXANSWERER_H
#define QUILLON_BOXANSWERER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

// While it lives, every modal message box that opens is noted ("title: text")
// and answered with its first button, so no test ever hangs on one.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    BoxAnswerer();
    QStringList seen() const { return boxes; }

private:
    void answer();

    QTimer poll;
    QStringList boxes;
};

#endif // QUILLON_BOXANSWERER_H
