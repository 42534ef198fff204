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

} // namespace

Outcome run(BootLink &link, const FirmwareImage &image, const Observer &observer)
{
    // Once the link is told to stop, nothing more is reported either: the
    // window behind the observer may be going away.
    const auto trace = [&](const char *line) {
        if (observer.trace && !link.aborted())
            observer.trace(QString::fromLatin1(line));
    };
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
    trace("Enter IAP Success");

    result = dialogue.eraseCommand();
    if (!result.ok())
        return failed(End::EraseCommandFailed, result);
    trace("Erase Command Success");

    // Nothing may be written into a flash the device did not erase.
    result = dialogue.globalErase();
    if (!result.ok())
        return failed(End::EraseFailed, result);
    trace("Erase All Start");
    trace("Just a few seconds, please.");

    // The image was read and checked before the line was opened; from here
    // on it is written.
    trace("File Open Success");
    progress(0);
    const QList<FirmwareImage::Block> blocks = image.blocks();
    for (int i = 0; i < blocks.size(); ++i) {
        const FirmwareImage::Block &block = blocks.at(i);
        result = dialogue.writeBlock(block.address, block.bytes);
        if (!result.ok())
            return failed(i == blocks.size() - 1 ? End::FinalBlockFailed : End::BlockFailed, result);
        progress(FirmwareImage::kBlockBytes * (i + 1));
    }

    // Whether Go is acknowledged does not matter: the flash is written, and
    // a device that has already jumped to the new program may not answer.
    result = dialogue.go(Stm32Boot::kFlashStart);
    if (result.answer == Stm32Boot::Answer::Aborted || link.aborted())
        return ended(End::Aborted, result);
    trace("Go 0x08000000");

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
