#include "download.h"

namespace Download {

namespace {

Outcome ended(End end, const Stm32Boot::Result &failure = {})
{
    return Outcome{end, failure};
}

// An unacknowledged step ends the run with `end`, or as Aborted when the
// link was told to stop while the step waited.
Outcome failed(End end, const Stm32Boot::Result &result)
{
    return ended(result.answer == Stm32Boot::Answer::Aborted ? End::Aborted : end, result);
}

// Once the link is told to stop, nothing more is reported either: the
// window behind the observer may be going away.
void trace(const BootLink &link, const Observer &observer, const char *line)
{
    if (observer.trace && !link.aborted())
        observer.trace(QString::fromLatin1(line));
}

} // namespace

Outcome eraseAll(BootLink &link, const Observer &observer)
{
    Stm32Boot::Dialogue dialogue(link);
    Stm32Boot::Result result = dialogue.eraseCommand();
    if (!result.ok())
        return failed(End::EraseCommandFailed, result);
    trace(link, observer, "Erase Command Success");

    result = dialogue.globalErase();
    if (!result.ok())
        return failed(End::EraseFailed, result);
    trace(link, observer, "Erase All Start");
    trace(link, observer, "Just a few seconds, please.");
    return ended(End::Success);
}

Outcome startProgram(BootLink &link, const Observer &observer)
{
    // Whether Go is acknowledged does not matter: a device that has already
    // jumped to the new program may not answer, and the program shows itself
    // on the camera.
    const Stm32Boot::Result result = Stm32Boot::Dialogue(link).go(Stm32Boot::kFlashStart);
    if (result.answer == Stm32Boot::Answer::Aborted || link.aborted())
        return ended(End::Aborted, result);
    // Without a line, though, Go never reached the device: it is still in
    // its bootloader, and "Go" in the trace would tell a story that did not
    // happen.
    if (!result.ok() && link.lineGone())
        return ended(End::LineLostBeforeGo, result);
    trace(link, observer, "Go 0x08000000");
    return ended(End::Success);
}

Outcome run(BootLink &link, const FirmwareImage &image, const Observer &observer)
{
    const auto progress = [&](int bytes) {
        if (observer.progress && !link.aborted())
            observer.progress(bytes);
    };

    // The camera firmware listens at 9600 8N1; its Enter IAP frame makes it
    // jump into the ROM bootloader, which then waits for 0x7F at 57600 8E1
    // (the STM32 USART bootloader always uses even parity). The link may be
    // told to stop during any of these calls.
    const std::function<void()> intoBootloader[] = {
        [&] { link.configure(kCameraBaud, BootLink::Parity::None); },
        [&] { link.send(Stm32Boot::enterIapFrame()); },
        [&] { link.pause(kBootloaderStartMs); },
        [&] { link.configure(kBootloaderBaud, BootLink::Parity::Even); },
        [&] { link.pause(kLineSettleMs); },
    };
    for (const std::function<void()> &action : intoBootloader) {
        if (link.aborted())
            return ended(End::Aborted);
        action();
    }

    Stm32Boot::Dialogue dialogue(link);
    Stm32Boot::Result result = dialogue.sync();
    if (!result.ok())
        return failed(End::NoSync, result);
    trace(link, observer, "Enter IAP Success");

    // Nothing may be written into a flash the device did not erase.
    const Outcome erased = eraseAll(link, observer);
    if (erased.end != End::Success)
        return erased;

    // The image was read and checked before the line was opened; from here
    // on it is written.
    trace(link, observer, "File Open Success");
    progress(0);
    const QList<FirmwareImage::Block> blocks = image.blocks();
    for (int i = 0; i < blocks.size(); ++i) {
        const FirmwareImage::Block &block = blocks.at(i);
        result = dialogue.writeBlock(block.address, block.bytes);
        if (!result.ok())
            return failed(i == blocks.size() - 1 ? End::FinalBlockFailed : End::BlockFailed, result);
        progress(FirmwareImage::kBlockBytes * (i + 1));
    }

    const Outcome started = startProgram(link, observer);
    if (started.end != End::Success)
        return started;

    // Back to the camera firmware's line settings for the Exit IAP frame.
    if (link.aborted())
        return ended(End::Aborted);
    link.configure(kCameraBaud, BootLink::Parity::None);
    if (link.aborted())
        return ended(End::Aborted);
    link.send(Stm32Boot::exitIapFrame());
    return ended(End::Success);
}

} // namespace Download
