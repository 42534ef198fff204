#include "download.h"

#include <algorithm>

namespace Download {

namespace {

// Go starts the program at the start of the flash: the Cortex-M core loads
// its initial stack pointer and reset vector from these eight bytes.
constexpr int kVectorBytes = 8;

// The bootloader reports its version as a byte: 0x22 is version 2.2.
QString versionText(quint8 version)
{
    return QStringLiteral("%1.%2").arg(version >> 4).arg(version & 0x0F);
}

using Stm32Boot::hexAddress;

} // namespace

Job::Job(Kind kind, BootLink &bootLink, QObject *parent) : Job(kind, bootLink, FirmwareImage(), Options(), parent) {}

Job::Job(BootLink &bootLink, const FirmwareImage &firmware, const Options &upgradeOptions, QObject *parent)
    : Job(Kind::Upgrade, bootLink, firmware, upgradeOptions, parent)
{
}

Job::Job(Kind kind, BootLink &bootLink, const FirmwareImage &firmware, const Options &upgradeOptions,
         QObject *parent)
    : QObject(parent), jobKind(kind), link(bootLink), dialogue(bootLink), image(firmware), options(upgradeOptions)
{
    connect(&link, &BootLink::timedOut, this, [this] {
        if (afterPause)
            std::exchange(afterPause, nullptr)();
    });
}

void Job::start()
{
    running = true;
    switch (jobKind) {
    case Kind::Upgrade:
        if (enter(Phase::EnterBootloader))
            enterBootloader();
        return;
    case Kind::GetId:
        getId();
        return;
    case Kind::EraseAll:
        // The single step speaks the Erase command of the camera's own
        // bootloader (version 2.2).
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
    refuse(End::LineRefused, QStringLiteral("the adapter did not take ") % settings
                                 % (reason.isEmpty() ? QString() : QStringLiteral(": ") % reason));
    return false;
}

bool Job::send(const QByteArray &bytes)
{
    link.send(bytes);
    return running;
}

bool Job::traceLine(const QString &line)
{
    emit trace(line);
    // Whoever reads the line may have stopped the job meanwhile.
    return running;
}

bool Job::enter(Phase phase)
{
    emit phaseChanged(phase);
    return running;
}

void Job::reportProgress(int done)
{
    const int total = FirmwareImage::kBlockBytes * int(blocks.size()) * (options.verify ? 2 : 1);
    emit progress(done, total);
}

void Job::fail(End failedEnd, const Stm32Boot::Result &result)
{
    end(Outcome{failedEnd, result, {}});
}

void Job::refuse(End refusedEnd, const QString &detail)
{
    end(Outcome{refusedEnd, {}, detail});
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
    // The bootloader speaks 8E1 (the STM32 USART bootloader always uses even
    // parity) at the rate it measures on the first 0x7F.
    const auto toBootloader = [this] {
        if (configure(options.bootloaderBaud, BootLink::Parity::Even))
            after(kLineSettleMs, [this] { synchronise(); });
    };
    if (!options.enterIap)
        return toBootloader();
    // The camera firmware listens at 9600 8N1; its Enter IAP frame makes it
    // jump into the ROM bootloader.
    if (configure(kCameraBaud, BootLink::Parity::None) && send(Stm32Boot::enterIapFrame()))
        after(kBootloaderStartMs, toBootloader);
}

void Job::synchronise()
{
    dialogue.sync([this](const Stm32Boot::Result &result, bool alreadySynced) {
        if (!result.ok())
            return fail(End::NoSync, result);
        if (!traceLine(QStringLiteral("Enter IAP Success")))
            return;
        // A run that failed left the bootloader listening: the camera need
        // not be switched off and on for the next try.
        if (alreadySynced && !traceLine(QLatin1String(kAlreadySynchronisedTrace)))
            return;
        identify();
    });
}

void Job::identify()
{
    if (!enter(Phase::Identify))
        return;
    dialogue.get([this](const Stm32Boot::Result &result, const QByteArray &data) {
        if (!result.ok())
            return fail(End::IdentifyFailed, result);
        version = data.isEmpty() ? 0 : quint8(data.at(0));
        commands = data.mid(1);
        dialogue.getId([this](const Stm32Boot::Result &idResult, const QByteArray &id) {
            if (!idResult.ok())
                return fail(End::IdentifyFailed, idResult);
            identifyPart(id);
        });
    });
}

void Job::identifyPart(const QByteArray &id)
{
    productId = Stm32Boot::productId(id);
    part = Stm32Parts::find(productId);
    flashBytes = part ? part->flashBytes : 0;
    // Smaller parts share the product ID of the largest: where the part says
    // how much flash it has, and the bootloader lets it be read, that counts.
    if (part && part->flashSizeRegister && offers(Stm32Boot::kCmdReadMemory))
        return readFlashSize();
    checkImage();
}

void Job::readFlashSize()
{
    dialogue.readMemory(part->flashSizeRegister, 2, [this](const Stm32Boot::Result &result, const QByteArray &data) {
        // The register holds the size in KiB, little-endian. A part that
        // refuses the read (read-out protection) or gives a size it cannot
        // have is taken at the table's size.
        constexpr quint32 kSmallestFlashKib = 4;
        if (result.ok() && data.size() == 2) {
            const quint32 kib = quint32(quint8(data.at(0))) | (quint32(quint8(data.at(1))) << 8);
            if (kib >= kSmallestFlashKib && kib * 1024 <= part->flashBytes)
                flashBytes = kib * 1024;
        }
        checkImage();
    });
}

void Job::checkImage()
{
    description = part ? QStringLiteral("%1, %2 KiB flash, bootloader %3")
                             .arg(QLatin1String(part->name))
                             .arg(flashBytes / 1024)
                             .arg(versionText(version))
                       : QStringLiteral("Unknown STM32 (product ID 0x%1), bootloader %2")
                             .arg(productId, 3, 16, QLatin1Char('0'))
                             .arg(versionText(version));
    if (!traceLine(description))
        return;

    // Nothing is erased that cannot be written: every byte of the image must
    // lie in this part's flash (for a part the table does not know, at or
    // above the start of an STM32's flash).
    const quint32 start = part ? part->flashStart : Stm32Boot::kFlashStart;
    const quint64 flashEnd = part ? quint64(start) + flashBytes : quint64(1) << 32;
    if (image.lowestAddress() < start)
        return refuse(End::ImageRefused, QStringLiteral("the image has data at %1, below the flash, which starts at %2")
                                             .arg(hexAddress(image.lowestAddress()), hexAddress(start)));
    if (image.highestAddress() >= flashEnd)
        return refuse(End::ImageRefused,
                      QStringLiteral("the image has data at %1, past the end of the %2 KiB flash (its last address is %3)")
                          .arg(hexAddress(image.highestAddress()))
                          .arg(flashBytes / 1024)
                          .arg(hexAddress(quint32(flashEnd - 1))));
    if (!offers(Stm32Boot::kCmdWriteMemory) || (!offers(Stm32Boot::kCmdErase) && !extendedErase()))
        return refuse(End::ImageRefused, QStringLiteral("the bootloader offers no Write Memory or no erase command"));
    if (options.verify && !offers(Stm32Boot::kCmdReadMemory))
        return refuse(End::ImageRefused,
                      QStringLiteral("the bootloader offers no Read Memory: the flash cannot be read back"));

    // The blocks; the trailing block of 0xFF after a full last block is
    // written only where it lies in flash that is erased.
    blocks = image.blocks();
    const bool trailer = blocks.size() > image.filledBlocks();
    if (trailer && blocks.constLast().address + quint64(FirmwareImage::kBlockBytes) > flashEnd)
        blocks.removeLast();

    if (options.erase == EraseMode::WholeChip) {
        if (!image.holdsData(Stm32Boot::kFlashStart, kVectorBytes))
            return refuse(End::ImageRefused,
                          QStringLiteral("the image has no data at 0x08000000 to 0x08000007, the stack pointer and "
                                         "reset vector Go starts from: erasing the whole flash would leave the camera "
                                         "without a program (an application linked above a resident bootloader needs "
                                         "the page erase)"));
        return erase();
    }

    if (!part)
        return refuse(End::ImageRefused, QStringLiteral("the pages of product ID 0x%1 are not known: only the whole "
                                                        "flash can be erased")
                                             .arg(productId, 3, 16, QLatin1Char('0')));
    QList<QPair<quint32, quint32>> written;
    for (int i = 0; i < image.filledBlocks(); ++i)
        written.append({blocks.at(i).address, blocks.at(i).address + quint32(FirmwareImage::kBlockBytes)});
    pagesToErase = Stm32Parts::unitsCovering(*part, written);
    if (blocks.size() > image.filledBlocks()
        && !pagesToErase.contains(Stm32Parts::unitAt(*part, blocks.constLast().address).value_or(-1)))
        blocks.removeLast();
    constexpr int kLastPageOfErase = 0xFF;
    if (!extendedErase() && pagesToErase.constLast() > kLastPageOfErase)
        return refuse(End::ImageRefused, QStringLiteral("page %1 is beyond what the Erase command can name, and this "
                                                        "bootloader has no Extended Erase")
                                             .arg(pagesToErase.constLast()));
    erase();
}

void Job::erase()
{
    if (!enter(Phase::Erase))
        return;
    if (options.erase == EraseMode::WholeChip)
        return eraseAll([this] { writeBlocks(); });
    eraseNextPages();
}

void Job::eraseAll(std::function<void()> then)
{
    // The single step knows no Get (`commands` stays empty): it speaks the
    // Erase command.
    const bool extended = extendedErase();
    dialogue.eraseCommand(extended, [this, then, extended](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(End::EraseCommandFailed, result);
        if (!traceLine(QStringLiteral("Erase Command Success")))
            return;
        dialogue.globalErase(extended, [this, then](const Stm32Boot::Result &erased) {
            if (!erased.ok())
                return fail(End::EraseFailed, erased);
            if (traceLine(QStringLiteral("Erase All Start")) && traceLine(QStringLiteral("Just a few seconds, please.")))
                then();
        });
    });
}

void Job::eraseNextPages()
{
    const int done = pagesErased;
    if (done == pagesToErase.size()) {
        const Stm32Parts::Unit first = Stm32Parts::unit(*part, pagesToErase.constFirst()).value_or(Stm32Parts::Unit{});
        const Stm32Parts::Unit last = Stm32Parts::unit(*part, pagesToErase.constLast()).value_or(Stm32Parts::Unit{});
        if (traceLine(QStringLiteral("Erased %1 page%2, %3 to %4")
                          .arg(pagesToErase.size())
                          .arg(pagesToErase.size() == 1 ? QString() : QStringLiteral("s"))
                          .arg(hexAddress(first.start), hexAddress(last.start + last.bytes - 1))))
            writeBlocks();
        return;
    }
    const QList<int> pages = pagesToErase.mid(done, Stm32Boot::kMaxPagesPerErase);
    const bool extended = extendedErase();
    dialogue.eraseCommand(extended, [this, pages, extended, done](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(End::EraseCommandFailed, result);
        if (done == 0 && !traceLine(QStringLiteral("Erase Command Success")))
            return;
        dialogue.erasePages(extended, pages, [this, pages](const Stm32Boot::Result &erased) {
            if (!erased.ok())
                return fail(End::EraseFailed, erased);
            pagesErased += int(pages.size());
            eraseNextPages();
        });
    });
}

void Job::writeBlocks()
{
    if (!enter(Phase::Write) || !traceLine(QStringLiteral("File Open Success")))
        return;
    nextBlock = 0;
    reportProgress(0);
    if (running)
        writeNext();
}

void Job::writeNext()
{
    if (nextBlock == blocks.size()) {
        if (!options.verify)
            return startProgram([this] { leaveBootloader(); });
        nextBlock = 0;
        if (enter(Phase::Verify))
            verifyNext();
        return;
    }
    const FirmwareImage::Block &block = blocks.at(nextBlock);
    // The blocks before this one are reported while its data are on the
    // wire (some 50 ms at 57600 baud): whoever shows the progress may take
    // its time then, not between an answer and the next part.
    const int acknowledged = nextBlock;
    dialogue.writeBlock(block.address, block.bytes, [this](const Stm32Boot::Result &result) {
        if (!result.ok())
            return fail(nextBlock == blocks.size() - 1 ? End::FinalBlockFailed : End::BlockFailed, result);
        ++nextBlock;
        if (nextBlock == blocks.size())
            reportProgress(FirmwareImage::kBlockBytes * nextBlock);
        if (running)
            writeNext();
    }, [this, acknowledged] {
        if (acknowledged > 0)
            reportProgress(FirmwareImage::kBlockBytes * acknowledged);
    });
}

void Job::verifyNext()
{
    if (nextBlock == blocks.size()) {
        if (traceLine(QStringLiteral("Verify Success")))
            startProgram([this] { leaveBootloader(); });
        return;
    }
    const FirmwareImage::Block &block = blocks.at(nextBlock);
    const int checked = nextBlock;
    dialogue.readMemory(block.address, Stm32Boot::kReadBlockBytes,
                        [this, block](const Stm32Boot::Result &result, const QByteArray &data) {
        if (!result.ok()) {
            if (result.readOutProtected())
                return end(Outcome{End::VerifyFailed, result,
                                   QStringLiteral("the bootloader refuses Read Memory: the chip's read-out "
                                                  "protection is on, so the flash cannot be read back")});
            return fail(End::VerifyFailed, result);
        }
        const auto differs = std::mismatch(data.cbegin(), data.cend(), block.bytes.cbegin());
        if (differs.first != data.cend()) {
            const auto at = quint32(differs.first - data.cbegin());
            // The read was answered; what it brought differs, at this address.
            return end(Outcome{End::VerifyFailed,
                               Stm32Boot::Result{Stm32Boot::Answer::Ack, Stm32Boot::Step::ReadLength, block.address + at},
                               QStringLiteral("the block at %1 reads back different from the image: "
                                              "at %2 the flash holds 0x%3 where the image has 0x%4")
                                   .arg(hexAddress(block.address), hexAddress(block.address + at))
                                   .arg(quint8(*differs.first), 2, 16, QLatin1Char('0'))
                                   .arg(quint8(*differs.second), 2, 16, QLatin1Char('0'))});
        }
        ++nextBlock;
        if (nextBlock == blocks.size())
            reportProgress(FirmwareImage::kBlockBytes * int(blocks.size() + nextBlock));
        if (running)
            verifyNext();
    }, [this, checked] {
        // As for the writes: reported while the block's bytes come in.
        if (checked > 0)
            reportProgress(FirmwareImage::kBlockBytes * int(blocks.size() + checked));
    });
}

void Job::startProgram(std::function<void()> then)
{
    if (!enter(Phase::Start))
        return;
    dialogue.go(Stm32Boot::kFlashStart, [this, then](const Stm32Boot::Result &result) {
        if (!result.ok()) {
            // Without a line, Go never reached the device: it is still in
            // its bootloader. With one, the device did not say that it
            // jumped: either way "Go" in the trace would tell a story that
            // did not happen.
            if (link.isLost())
                return fail(End::LineLostBeforeGo, result);
            return end(Outcome{End::GoUnconfirmed, result,
                               result.text() % QStringLiteral(": the new program is written, but the camera did not "
                                                              "confirm that it started it")});
        }
        if (traceLine(QStringLiteral("Go 0x08000000")))
            then();
    });
}

void Job::leaveBootloader()
{
    // Back to the camera firmware's line settings for the Exit IAP frame.
    if (options.exitIap && !(configure(kCameraBaud, BootLink::Parity::None) && send(Stm32Boot::exitIapFrame())))
        return;
    if (enter(Phase::Done))
        end({});
}

void Job::getId()
{
    dialogue.getId([this](const Stm32Boot::Result &result, const QByteArray &id) {
        if (!result.ok()) {
            traceLine(QStringLiteral("Get ID Fail"));
            return fail(End::GetIdFailed, result);
        }
        emit trace(QStringLiteral("Product ID: %1").arg(Stm32Boot::productId(id), 4, 16, QLatin1Char('0')));
        end({});
    });
}

} // namespace Download
