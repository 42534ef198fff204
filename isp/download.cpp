#include "download.h"

namespace Download {

Job::Job(Kind kind, BootLink &bootLink, QObject *parent)
    : QObject(parent), jobKind(kind), link(bootLink), dialogue(bootLink)
{
    connect(&link, &BootLink::timedOut, this, [this] {
        if (afterPause)
            std::exchange(afterPause, nullptr)();
    });
}

Job::Job(BootLink &bootLink, const FirmwareImage &image, QObject *parent)
    : Job(Kind::Upgrade, bootLink, parent)
{
    blocks = image.blocks();
}

void Job::start()
{
    running = true;
    switch (jobKind) {
    case Kind::Upgrade:
        enterBootloader();
        return;
    case Kind::GetId:
        getId();
        return;
    case Kind::EraseAll:
        eraseAll([this] { end({}); });
        return;
    case Kind::Go:
        startProgram([this] { end({}); });
        return;
    }
}

void Job::abort()
{
    if (!running)
        return;
    dialogue.stop();
    afterPause = nullptr;
    link.disarmTimer();
    end(Outcome{End::Aborted, {}, {}});
}

void Job::after(int ms, std::function<void()> then)
{
    afterPause = std::move(then);
    link.armTimer(ms);
}

bool Job::configure(qint32 baud, BootLink::Parity parity)
{
    if (link.configure(baud, parity))
        return running; // whoever the link told may have stopped the job
    const QString settings = QStringLiteral("%1 baud, %2 parity")
                                 .arg(baud)
                                 .arg(parity == BootLink::Parity::Even ? QStringLiteral("even")
                                                                       : QStringLiteral("no"));
    const QString reason = link.lastError();
    end(Outcome{End::LineRefused, {},
                QStringLiteral("the adapter did not take ") % settings
                    % (reason.isEmpty() ? QString() : QStringLiteral(": ") % reason)});
    return false;
}

bool Job::send(const QByteArray &bytes)
{
    link.send(bytes);
    return running;
}

bool Job::traceLine(const char *line)
{
    emit trace(QString::fromLatin1(line));
    // Whoever reads the line may have stopped the job meanwhile.
    return running;
}

void Job::fail(End failedEnd, const Stm32Boot::Result &result)
{
    end(Outcome{failedEnd, result, {}});
}

void Job::end(const Outcome &outcome)
{
    if (!running)
        return;
    running = false;
    emit finished(outcome);
}

void Job::enterBootloader()
{
    // The camera firmware listens at 9600 8N1; its Enter IAP frame makes it
    // jump into the ROM bootloader, which then waits for 0x7F at 57600 8E1
    // (the STM32 USART bootloader always uses even parity).
    if (!configure(kCameraBaud, BootLink::Parity::None))
        return;
    if (!send(Stm32Boot::enterIapFrame()))
        return;
    after(kBootloaderStartMs, [this] {
        if (!configure(kBootloaderBaud, BootLink::Parity::Even))
            return;
        after(kLineSettleMs, [this] { synchronise(); });
    });
}

void Job::synchronise()
{
    dialogue.sync([this](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(End::NoSync, result);
        if (!traceLine("Enter IAP Success"))
            return;
        // Nothing may be written into a flash the device did not erase.
        eraseAll([this] { writeBlocks(); });
    });
}

void Job::eraseAll(std::function<void()> then)
{
    dialogue.eraseCommand([this, then](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(End::EraseCommandFailed, result);
        if (!traceLine("Erase Command Success"))
            return;
        dialogue.globalErase([this, then](const Stm32Boot::Result &erased) {
            if (!erased.ok())
                return fail(End::EraseFailed, erased);
            if (traceLine("Erase All Start") && traceLine("Just a few seconds, please."))
                then();
        });
    });
}

void Job::writeBlocks()
{
    // The image was read and checked before the line was opened; from here
    // on it is written.
    if (!traceLine("File Open Success"))
        return;
    nextBlock = 0;
    emit progress(0, FirmwareImage::kBlockBytes * int(blocks.size()));
    if (running)
        writeNext();
}

void Job::writeNext()
{
    if (nextBlock == blocks.size())
        return startProgram([this] { leaveBootloader(); });
    const FirmwareImage::Block &block = blocks.at(nextBlock);
    dialogue.writeBlock(block.address, block.bytes, [this](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(nextBlock == blocks.size() - 1 ? End::FinalBlockFailed : End::BlockFailed, result);
        ++nextBlock;
        emit progress(FirmwareImage::kBlockBytes * nextBlock, FirmwareImage::kBlockBytes * int(blocks.size()));
        if (running)
            writeNext();
    });
}

void Job::startProgram(std::function<void()> then)
{
    // Whether Go is acknowledged does not matter: a device that has already
    // jumped to the new program may not answer, and the program shows itself
    // on the camera.
    dialogue.go(Stm32Boot::kFlashStart, [this, then](const Stm32Boot::Result &result) {
        // Without a line, though, Go never reached the device: it is still in
        // its bootloader, and "Go" in the trace would tell a story that did
        // not happen.
        if (!result.ok() && link.isLost())
            return fail(End::LineLostBeforeGo, result);
        if (traceLine("Go 0x08000000"))
            then();
    });
}

void Job::leaveBootloader()
{
    // Back to the camera firmware's line settings for the Exit IAP frame.
    if (!configure(kCameraBaud, BootLink::Parity::None))
        return;
    send(Stm32Boot::exitIapFrame());
    end({});
}

void Job::getId()
{
    dialogue.getId([this](const Stm32Boot::Result &result, const QByteArray &id) {
        if (!result.ok()) {
            traceLine("Get ID Fail");
            return fail(End::GetIdFailed, result);
        }
        quint16 productId = 0;
        for (int i = 0; i < qMin(2, int(id.size())); ++i)
            productId = quint16((productId << 8) | quint8(id.at(i)));
        emit trace(QStringLiteral("Product ID: %1").arg(productId, 4, 16, QLatin1Char('0')));
        end({});
    });
}

} // namespace Download
