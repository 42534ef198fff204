#include "tracepane.h"

#include <QPointer>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>

#include <utility>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace TracePane {
namespace {

// Marks a block that holds a paragraph (QTextBlock::userState).
constexpr int kParagraph = 1;
constexpr QChar kFrameStart(0xFDD0);
constexpr QChar kFrameEnd(0xFDD1);

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
    // paragraph instead of starting new ones. Inserted text also starts a
    // new paragraph at U+2029, and at U+FDD0 and U+FDD1, the two
    // noncharacters the text document uses to mark frames: U+2029 becomes a
    // line break too, the noncharacters the replacement character.
    QString line = text;
    line.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    line.replace(QLatin1Char('\n'), QChar::LineSeparator);
    line.replace(QLatin1Char('\r'), QChar::LineSeparator);
    line.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
    line.replace(kFrameStart, QChar::ReplacementCharacter);
    line.replace(kFrameEnd, QChar::ReplacementCharacter);

    // An empty pane still holds one empty block, which takes the first
    // paragraph; an empty paragraph must not be taken for that block, or
    // the next paragraph would overwrite it.
    QTextDocument *document = pane->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (document->blockCount() > 1 || document->firstBlock().userState() == kParagraph)
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(line, QTextCharFormat());
    cursor.block().setUserState(kParagraph);

    if (followingTail)
        bar->setValue(bar->maximum());
}

} // namespace

} // namespace TracePane
