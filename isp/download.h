#ifndef QUILLON_DOWNLOAD_H
#define QUILLON_DOWNLOAD_H

#include "bootloader.h"
#include "hexfile.h"

#include <functional>

// The whole upgrade of a checked image over an open line: Enter IAP at
// 9600 8N1, the bootloader at 57600 8E1, sync, global erase, every block,
// Go 0x08000000, Exit IAP at 9600 8N1.
namespace Download {

constexpr qint32 kCameraBaud = 9600;
constexpr qint32 kBootloaderBaud = 57600;
// The camera firmware needs this long after Enter IAP to jump into the ROM
// bootloader, which does not answer meanwhile.
constexpr int kBootloaderStartMs = 1030;
// After a line change the adapter needs a moment before the first byte.
constexpr int kLineSettleMs = 20;

enum class End {
    Success,
    NoSync,             // no ACK to 0x7F
    EraseCommandFailed, // 43 BC not acknowledged
    EraseFailed,        // global erase not acknowledged
    BlockFailed,        // a block before the last not acknowledged
    FinalBlockFailed,   // the last block not acknowledged
    LineLostBeforeGo,   // every block written, but the line went before Go reached the device
    Aborted,            // the link was told to stop: nothing more is reported
};

struct Observer
{
    // Trace lines, in order: "Enter IAP Success", "Erase Command Success",
    // "Erase All Start", "Just a few seconds, please.", "File Open Success",
    // "Go 0x08000000".
    std::function<void(const QString &line)> trace;
    // Bytes acknowledged so far (256 per block), after every block.
    std::function<void(int bytes)> progress;
};

struct Outcome
{
    End end = End::Success;
    Stm32Boot::Result failure; // the step that failed, when end is not Success
};

Outcome run(BootLink &link, const FirmwareImage &image, const Observer &observer);

// The parts of run() that the window also offers as single steps. eraseAll
// ends Success, EraseCommandFailed, EraseFailed or Aborted; startProgram
// sends Go 0x08000000 and traces it whatever the answer (the new program
// shows itself on the camera), ending Success or Aborted, or LineLostBeforeGo
// when the line was gone and Go never left.
Outcome eraseAll(BootLink &link, const Observer &observer);
Outcome startProgram(BootLink &link, const Observer &observer);

} // namespace Download

#endif // QUILLON_DOWNLOAD_H
