#ifndef QUILLON_RUNOUTCOME_H
#define QUILLON_RUNOUTCOME_H

#include <QString>

struct HexError;

namespace Download {
struct Outcome;
}

// How an upgrade ended, in the few words the progress bar has room for:
// "Done", or "Failed: " and the step ("Failed: erase", "Failed: block at
// 0x08000300"), in the language in force. The bar keeps it until the next
// upgrade starts; the message box and the pane tell the rest.
namespace RunOutcome {

QString ofDownload(const Download::Outcome &outcome);
// The file was refused before the camera was touched.
QString ofHexFile(const HexError &error);
// The port would not open, so nothing was sent.
QString portNotOpened();

} // namespace RunOutcome

#endif // QUILLON_RUNOUTCOME_H
