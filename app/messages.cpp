#include "messages.h"

#include <QTextDocument>

namespace Messages {

void show(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
          const QString &detail)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The box reads its informative text as rich text when it looks like
    // some; escaped into a paragraph, any text shows as it is.
    if (!detail.isEmpty())
        box.setInformativeText(Qt::convertFromPlainText(detail, Qt::WhiteSpaceNormal));
    box.exec();
}

} // namespace Messages
