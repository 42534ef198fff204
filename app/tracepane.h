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

} // namespace TracePane

#endif // QUILLON_TRACEPANE_H
