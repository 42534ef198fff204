#include "menuopener.h"

#include <QContextMenuEvent>
#include <QWidget>

MenuOpener::MenuOpener(QWidget *watched, std::function<void(const QPoint &)> onRequest)
    : QObject(watched), watchedWidget(watched), request(std::move(onRequest))
{
    watched->installEventFilter(this);
}

bool MenuOpener::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == watchedWidget && event->type() == QEvent::ContextMenu) {
        request(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}
