#ifndef QUILLON_TRACEPANE_H
#define QUILLON_TRACEPANE_H

#include <QString>

class QTextEdit;

// The receive pane shows what devices, the network and files gave us, so
// everything is added as plain text: "<b>x</b>" stays those eight
// characters. One call adds one paragraph.
namespace TracePane {

// The pane keeps this many paragraphs; older ones are dropped first, so a
// device that streams for hours cannot fill the memory.
constexpr int kMaxParagraphs = 10000;

void setUp(QTextEdit *pane);
void appendPlain(QTextEdit *pane, const QString &text);

// Adds the paragraph once the event loop runs again (or at the next
// appendPlain, which keeps the order). Replies arrive while a dialogue
// waits; laying out the pane then, instead of between the reply and the
// next write, keeps the pane off the line's critical path.
void appendSoon(QTextEdit *pane, const QString &text);

} // namespace TracePane

#endif // QUILLON_TRACEPANE_H
