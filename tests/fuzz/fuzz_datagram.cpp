// Datagrams of any content shown in the receive pane: each becomes exactly
// one paragraph holding its text as plain text (line breaks kept inside the
// paragraph), in the order they came, and the pane never holds more
// paragraphs than its cap.
//
// The input is cut into datagrams at each byte 0xFE (a byte UTF-8 never
// uses, so text stays as varied as it comes); a datagram's first byte
// chooses whether it is shown at once or with the next batch of replies. One
// pane serves every input, as one window serves a whole day of datagrams.

#include "app/tracepane.h"
#include "link/udplink.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWidget>

#include <cstdint>
#include <cstdlib>

namespace {

// The pane is emptied when it holds this much text, which keeps the
// fuzzer's memory bounded, and some inputs after it has reached its cap of
// paragraphs: a full pane is laid out slowly, and the inputs have to come
// quickly for the fuzzer to get anywhere.
constexpr int kMaxPaneCharacters = 4 * 1024 * 1024;
constexpr int kInputsAtCap = 100;

QTextBrowser *pane = nullptr;
int inputsAtCap = 0;

void check(bool condition)
{
    if (!condition)
        abort();
}

// The paragraph a datagram's text should become.
QString paragraphOf(QString text)
{
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);
    text.replace(QChar::ParagraphSeparator, QChar::LineSeparator);
    text.replace(QChar(0xFDD0), QChar::ReplacementCharacter);
    text.replace(QChar(0xFDD1), QChar::ReplacementCharacter);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv); // lives as long as the process
    // Like the window's pane: a visible child, laid out, but placed beyond
    // the window's fixed area and so never painted.
    auto *window = new QWidget;
    window->setFixedSize(561, 110);
    pane = new QTextBrowser(window);
    pane->setGeometry(600, 200, 400, 300);
    TracePane::setUp(pane);
    window->show();
    // The first text laid out loads the fonts, once per process: done here,
    // before the inputs, so that it is not taken for memory an input leaked.
    TracePane::appendPlain(pane, QStringLiteral("Quillon \u00e9\u4e2d"));
    QCoreApplication::processEvents();
    pane->clear();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (pane->document()->blockCount() == TracePane::kMaxParagraphs)
        ++inputsAtCap;
    if (pane->document()->characterCount() > kMaxPaneCharacters || inputsAtCap > kInputsAtCap) {
        pane->clear();
        inputsAtCap = 0;
    }

    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    QStringList shown;
    for (const QByteArray &part : input.split('\xFE')) {
        const QString text = UdpLink::textOf(part);
        check(!text.contains(QChar::Null) && text.size() <= part.size());
        if (!part.isEmpty() && quint8(part.at(0)) % 2 == 0)
            TracePane::appendSoon(pane, text);
        else
            TracePane::appendPlain(pane, text);
        shown.append(paragraphOf(text));
    }
    QCoreApplication::processEvents();
    TracePane::appendPlain(pane, QStringList()); // the batch waiting, if any

    const QTextDocument *document = pane->document();
    check(document->blockCount() <= TracePane::kMaxParagraphs);
    // The last paragraphs are this input's datagrams, one each, in order.
    QTextBlock block = document->lastBlock();
    for (int i = shown.size() - 1; i >= 0 && i >= shown.size() - TracePane::kMaxParagraphs; --i) {
        check(block.isValid() && block.text() == shown.at(i));
        block = block.previous();
    }
    return 0;
}
