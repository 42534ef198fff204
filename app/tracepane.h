#ifndef QUILLON_TRACEPANE_H
#define QUILLON_TRACEPANE_H

#include <QString>
#include <QStringList>

class QTextEdit;

// The receive pane shows what devices, the network and files gave us, so
// everything is added as plain text: "<b>x</b>" stays those eight
// characters. One call adds one paragraph.
namespace TracePane {

// The pane keeps this many paragraphs; older ones are dropped first, so a
// device that streams for hours cannot fill the memory.
constexpr int kMaxParagraphs = 10000;
// A paragraph may be a datagram of 64 KiB: the pane also keeps no more
// characters than this, dropping its oldest paragraphs first (the newest
// always stays; once over, a tenth of the budget more goes). Ten thousand
// replies of a few dozen bytes never reach it. Laying out costs time and
// memory for every character kept.
constexpr int kMaxCharacters = 2000000;

void setUp(QTextEdit *pane);
void appendPlain(QTextEdit *pane, const QString &text);

// Adds one paragraph per line in a single edit of the pane. Once the pane
// is full, every edit drops its oldest paragraphs and the pane lays out all
// that is left again, which costs milliseconds: a source that delivers
// thousands of lines a second (a flood of datagrams) hands them over in
// batches, or the pane falls behind.
void appendPlain(QTextEdit *pane, const QStringList &lines);

// Adds the paragraph a few tens of milliseconds later, together with all
// that comes meanwhile (or at the next appendPlain, which keeps the order).
// Replies arrive while a dialogue waits; laying out the pane once for many
// of them, instead of between each reply and the next write, keeps the pane
// off the line's critical path.
void appendSoon(QTextEdit *pane, const QString &text);

} // namespace TracePane

#endif // QUILLON_TRACEPANE_H
