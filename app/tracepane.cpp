#include "tracepane.h"

#include <QPointer>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>

#include <utility>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace TracePane {
namespace {

void insertParagraph(QTextEdit *pane, const QString &text);

// The paragraphs waiting for the event loop, kept beside the pane.
class Backlog : public QObject
{
public:
    explicit Backlog(QTextEdit *pane) : QObject(pane), owner(pane)
    {
        setObjectName(QStringLiteral("traceBacklog"));
        timer.setSingleShot(true);
        timer.setInterval(0);
        connect(&timer, &QTimer::timeout, this, &Backlog::flush);
    }

    void add(const QString &text)
    {
        lines.append(text);
        timer.start();
    }

    void flush()
    {
        timer.stop();
        const QStringList waiting = std::exchange(lines, {});
        for (const QString &line : waiting)
            insertParagraph(owner, line);
    }

private:
    QTextEdit *owner;
    QStringList lines;
    QTimer timer;
};

Backlog *backlogOf(QTextEdit *pane)
{
    return pane->findChild<Backlog *>(QStringLiteral("traceBacklog"), Qt::FindDirectChildrenOnly);
}

} // namespace

void setUp(QTextEdit *pane)
{
    pane->document()->setMaximumBlockCount(kMaxParagraphs);
    new Backlog(pane);
}

void appendSoon(QTextEdit *pane, const QString &text)
{
    if (Backlog *backlog = backlogOf(pane))
        backlog->add(text);
    else
        insertParagraph(pane, text);
}

void appendPlain(QTextEdit *pane, const QString &text)
{
    if (Backlog *backlog = backlogOf(pane))
        backlog->flush();
    insertParagraph(pane, text);
}

namespace {

void insertParagraph(QTextEdit *pane, const QString &text)
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

} // namespace

} // namespace TracePane
