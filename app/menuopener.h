#ifndef QUILLON_MENUOPENER_H
#define QUILLON_MENUOPENER_H

#include <QObject>
#include <QPoint>

#include <functional>

// Watches one widget and reports its context-menu requests (a right-click or
// the menu key) with the global position the menu belongs at. The request is
// consumed, so it never reaches the window's own handler.
class MenuOpener : public QObject
{
    Q_OBJECT

public:
    MenuOpener(QWidget *watched, std::function<void(const QPoint &)> onRequest);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *watchedWidget;
    std::function<void(const QPoint &)> request;
};

#endif // QUILLON_MENUOPENER_H
