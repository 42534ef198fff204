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

// Marks a block that holds a paragraph (QTextBlock::userState): an empty
// pane still holds one empty block, which is no paragraph, while an empty
// paragraph is one.
constexpr int kParagraph = 1;
constexpr int kNoParagraph = -1;

// QTextDocument marks the start and end of a frame with these two
// noncharacters; inside inserted text they start a new paragraph.
constexpr char16_t kFrameStart = 0xFDD0;
constexpr char16_t kFrameEnd = 0xFDD1;

void insertParagraphs(QTextEdit *pane, const QStringList &lines);

// Replies are gathered for this long and shown in one edit: quicker than the
// eye, and a dialogue that answers every few hundred microseconds (the
// bootloader's acknowledges) does not wait for the pane between a reply and
// its next request.
constexpr int kBacklogMs = 40;

// The paragraphs waiting to be shown, kept beside the pane.
class Backlog : public QObject
{
public:
    explicit Backlog(QTextEdit *pane) : QObject(pane), owner(pane)
    {
        setObjectName(QStringLiteral("traceBacklog"));
        timer.setSingleShot(true);
        timer.setInterval(kBacklogMs);
        connect(&timer, &QTimer::timeout, this, &Backlog::flush);
    }

    void add(const QString &text)
    {
        lines.append(text);
        if (!timer.isActive())
            timer.start();
    }

    void flush()
    {
        timer.stop();
        insertParagraphs(owner, std::exchange(lines, {}));
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
    // Wrapped like a terminal, at any character. Replies are hexadecimal
    // runs without a blank anyway; and where a run has no place to break,
    // wrapping at word boundaries first costs time that grows with the
    // square of the run: one 64 KiB datagram without a blank froze the window
    // for most of a second.
    pane->setWordWrapMode(QTextOption::WrapAnywhere);
    new Backlog(pane);
}

void appendSoon(QTextEdit *pane, const QString &text)
{
    if (Backlog *backlog = backlogOf(pane))
        backlog->add(text);
    else
        insertParagraphs(pane, {text});
}

void appendPlain(QTextEdit *pane, const QString &text)
{
    appendPlain(pane, QStringList{text});
}

void appendPlain(QTextEdit *pane, const QStringList &lines)
{
    if (Backlog *backlog = backlogOf(pane))
        backlog->flush();
    insertParagraphs(pane, lines);
}

namespace {

// The text as one paragraph. A line break inside it (a datagram, say)
// stays inside that paragraph instead of starting new ones; so does the
// Unicode paragraph separator, and the two codes the document keeps for its
// own frame marks are no characters to show.
QString oneParagraph(const QString &text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    for (QChar &c : line) {
        const char16_t code = c.unicode();
        if (code == u'\n' || code == u'\r' || code == QChar::ParagraphSeparator)
            c = QChar::LineSeparator;
        else if (code == kFrameStart || code == kFrameEnd)
            c = QChar::ReplacementCharacter;
    }
    return line;
}

// Makes room for `paragraphs` more paragraphs holding `characters`
// characters, dropping the oldest, in an edit of its own: one edit that
// removed at the start and added at the end would make the pane lay out all
// it holds again, every time.
void dropOldest(QTextCursor &cursor, int paragraphs, int characters)
{
    QTextDocument *document = cursor.document();
    if (document->isEmpty())
        return;
    const int excessParagraphs = document->blockCount() + paragraphs - kMaxParagraphs;
    int excessCharacters = document->characterCount() + characters - kMaxCharacters;
    if (excessParagraphs <= 0 && excessCharacters <= 0)
        return;
    // Each such removal costs the pane a pass over all it holds: once over
    // the character budget, drop a tenth more, so that a stream of long
    // paragraphs pays that pass only now and then.
    if (excessCharacters > 0)
        excessCharacters += kMaxCharacters / 10;
    QTextBlock keep = document->findBlockByNumber(qMax(0, excessParagraphs));
    if (keep.isValid() && keep.position() < excessCharacters) {
        keep = document->findBlock(excessCharacters);
        if (keep.position() < excessCharacters)
            keep = keep.next();
    }
    cursor.setPosition(0);
    cursor.movePosition(keep.isValid() ? QTextCursor::NoMove : QTextCursor::End,
                        QTextCursor::KeepAnchor);
    if (keep.isValid())
        cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    const bool keepsSome = keep.isValid();
    cursor.removeSelectedText();
    document->firstBlock().setUserState(keepsSome ? kParagraph : kNoParagraph);
}

void insertParagraphs(QTextEdit *pane, const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    QScrollBar *bar = pane->verticalScrollBar();
    const bool followingTail = bar->value() == bar->maximum();

    // Lines that the caps would drop within this very call are not
    // inserted at all.
    int first = int(lines.size()) - 1;
    int incoming = int(lines.at(first).size()) + 1;
    while (first > 0 && int(lines.size()) - first < kMaxParagraphs
           && incoming + lines.at(first - 1).size() + 1 <= kMaxCharacters)
        incoming += int(lines.at(--first).size()) + 1;
    QTextDocument *document = pane->document();
    QTextCursor cursor(document);
    dropOldest(cursor, int(lines.size()) - first, incoming);

    // One edit at the end: the pane lays out only what it gains.
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (int i = first; i < lines.size(); ++i) {
        if (document->blockCount() > 1 || document->firstBlock().userState() == kParagraph)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.insertText(oneParagraph(lines.at(i)), QTextCharFormat());
        cursor.block().setUserState(kParagraph);
    }
    cursor.endEditBlock();

    if (followingTail)
        bar->setValue(bar->maximum());
}

} // namespace

} // namespace TracePane
