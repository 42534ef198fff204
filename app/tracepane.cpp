#include "tracepane.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace TracePane {

void setUp(QTextEdit *pane)
{
    pane->document()->setMaximumBlockCount(kMaxParagraphs);
}

void appendPlain(QTextEdit *pane, const QString &text)
{
    QScrollBar *bar = pane->verticalScrollBar();
    const bool followingTail = bar->value() == bar->maximum();

    // A line break inside the text (a datagram, say) stays inside the one
    // paragraph instead of starting new ones.
    QString line = text;
    line.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    line.replace(QLatin1Char('\n'), QChar::LineSeparator);
    line.replace(QLatin1Char('\r'), QChar::LineSeparator);

    QTextDocument *document = pane->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(line, QTextCharFormat());

    if (followingTail)
        bar->setValue(bar->maximum());
}

} // namespace TracePane
