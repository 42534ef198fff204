#ifndef QUILLON_MESSAGES_H
#define QUILLON_MESSAGES_H

#include <QMessageBox>
#include <QString>

// The window's message boxes: a fixed title and text that the user knows
// (translated), and below them what exactly happened, which may quote a file,
// a device or the operating system and is therefore shown as plain text.
namespace Messages {

void show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
          const QString &detail = QString());

} // namespace Messages

#endif // QUILLON_MESSAGES_H
