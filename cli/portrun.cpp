#include "portrun.h"

#include <QStringBuilder>

namespace Flash {

namespace {

// Between a failed try and the next: an answer the failed exchange gave up
// on may still be on its way, and must come before the new sync byte goes
// out, or it would be taken for the sync's answer.
constexpr int kRetryPauseMs = 100;

} // namespace

PortRun::PortRun(const QString &port, const FirmwareImage &firmware, const Download::Options &options, int retries,
                 QObject *parent)
    : QObject(parent), image(firmware), firstTry(options), retriesLeft(retries)
{
    rec.port = port;
    rec.totalBytes = FirmwareImage::kBlockBytes * image.blockCount();
    retryTimer.setSingleShot(true);
    retryTimer.setInterval(kRetryPauseMs);
    connect(&retryTimer, &QTimer::timeout, this, &PortRun::startTry);
    connect(&line, &SerialLine::lineLost, this, [this] { lineLost = true; });
}

PortRun::~PortRun()
{
    // The job goes before the line it holds.
    delete job;
}

void PortRun::start()
{
    clock.start();
    // The camera's firmware listens at 9600 8N1; the job changes the line
    // for the bootloader itself.
    const SerialLine::OpenResult opened = line.open(rec.port, Download::kCameraBaud);
    if (!opened.ok()) {
        rec.outcome.detail = opened.reason;
        rec.state = leftWith();
        return end(PortRecord::Result::Failed);
    }
    rec.opened = true;
    startTry();
}

void PortRun::startTry()
{
    std::unique_ptr<BootLink> link = line.hold();
    Download::Options options = firstTry;
    // A camera that failed is still in its bootloader: a new try starts at
    // the sync, which also finds a bootloader already synchronised. Exit IAP
    // stays as asked: after Go the camera firmware runs again.
    if (rec.tries > 0)
        options.enterIap = false;
    job = new Download::Job(*link, image, options, this);
    // The job owns the hold: it goes with the job.
    link.release()->setParent(job);
    connect(job, &Download::Job::phaseChanged, this, [this](Download::Job::Phase now) {
        phase = now;
        furthest = std::max(furthest, now);
        emit phaseChanged(now);
    });
    connect(job, &Download::Job::progress, this, &PortRun::onProgress);
    connect(job, &Download::Job::trace, this, &PortRun::onTrace);
    connect(job, &Download::Job::finished, this, &PortRun::onJobFinished);
    ++rec.tries;
    rec.bytes = 0;
    progressBytes = 0;
    job->start();
}

void PortRun::onTrace(const QString &traceLine)
{
    const QString part = job ? job->partDescription() : QString();
    if (!part.isEmpty() && traceLine == part && part != rec.part) {
        rec.part = part;
        emit note(part);
    } else if (rec.tries == 1 && traceLine == QLatin1String(Download::kAlreadySynchronisedTrace)) {
        emit note(QStringLiteral("the bootloader was already synchronised (left so by an earlier run)"));
    }
}

void PortRun::onProgress(int bytes, int total)
{
    progressBytes = bytes;
    anyBlockWritten = anyBlockWritten || bytes > 0;
    rec.totalBytes = FirmwareImage::kBlockBytes * job->blockCount();
    rec.bytes = std::min(bytes, rec.totalBytes);
    emit progress(bytes, total);
}

bool PortRun::worthRetrying(const Download::Outcome &outcome) const
{
    switch (outcome.end) {
    case Download::End::LineRefused:  // the adapter cannot do 8E1: it will not next time either
    case Download::End::ImageRefused: // the part cannot hold the image
    case Download::End::Aborted:
    case Download::End::Success:
        return false;
    case Download::End::VerifyFailed:
        // Read-out protection refuses every read-back alike.
        return !outcome.failure.readOutProtected();
    default:
        return true;
    }
}

void PortRun::onJobFinished(const Download::Outcome &outcome)
{
    Download::Job *ended = std::exchange(job, nullptr);
    const bool gone = lineLost || ended->lineLost();
    // The line is free again at once; the job goes once it has returned
    // from its signal.
    line.release();
    ended->deleteLater();
    rec.outcome = outcome;

    if (outcome.end == Download::End::Aborted)
        return end(PortRecord::Result::Stopped); // stop() has said where
    if (outcome.end == Download::End::Success)
        return end(PortRecord::Result::Success);
    if (retriesLeft > 0 && !gone && worthRetrying(outcome)) {
        --retriesLeft;
        rec.earlierFailures.append(outcome.text());
        emit note(QStringLiteral("try %1 failed: %2; trying again from the sync").arg(rec.tries).arg(outcome.text()));
        retryTimer.start();
        return;
    }
    rec.state = gone ? QStringLiteral("the line to the camera is gone (adapter pulled?); ") % leftWith() : leftWith();
    end(PortRecord::Result::Failed);
}

void PortRun::stop()
{
    if (rec.done())
        return;
    rec.state = QStringLiteral("stopped ") % where() % QStringLiteral(": ") % leftWith();
    if (job)
        return job->abort(); // finished(Aborted) ends the run
    end(PortRecord::Result::Stopped);
}

QString PortRun::where() const
{
    if (!rec.opened)
        return QStringLiteral("before the port was opened");
    if (!job)
        return QStringLiteral("while waiting to try again");
    // The block in progress: the job reports the bytes of the blocks done,
    // written and then read back.
    const auto blockAt = [this](int index) {
        const QList<FirmwareImage::Block> blocks = image.blocks();
        return index >= 0 && index < blocks.size() ? QStringLiteral(" at ") % Stm32Boot::hexAddress(blocks.at(index).address)
                                                   : QString();
    };
    switch (phase) {
    case Download::Job::Phase::EnterBootloader: return QStringLiteral("while entering the bootloader");
    case Download::Job::Phase::Identify: return QStringLiteral("while identifying the part");
    case Download::Job::Phase::Erase: return QStringLiteral("while erasing");
    case Download::Job::Phase::Write:
        return QStringLiteral("while writing the block") % blockAt(progressBytes / FirmwareImage::kBlockBytes)
               % QStringLiteral(" (%1 of %2 bytes written)").arg(rec.bytes).arg(rec.totalBytes);
    case Download::Job::Phase::Verify:
        return QStringLiteral("while reading back the block")
               % blockAt(progressBytes / FirmwareImage::kBlockBytes - job->blockCount());
    case Download::Job::Phase::Start: return QStringLiteral("while starting the program (Go sent)");
    case Download::Job::Phase::Done: return QStringLiteral("while handing back to the camera firmware");
    }
    return QString();
}

QString PortRun::leftWith() const
{
    using Phase = Download::Job::Phase;
    if (!rec.opened)
        return QStringLiteral("nothing was sent");
    if (furthest == Phase::Done)
        return QStringLiteral("the firmware is written and started");
    // The flash is as the furthest try left it; the camera is where the
    // last try lost it.
    QString flash;
    switch (furthest) {
    case Phase::EnterBootloader:
    case Phase::Identify:
        if (rec.outcome.end == Download::End::ImageRefused)
            return QStringLiteral("nothing was erased; the camera is in its bootloader with its old program");
        flash = QStringLiteral("the flash is untouched");
        break;
    case Phase::Erase: flash = QStringLiteral("the flash is erased or partly erased"); break;
    case Phase::Write:
        flash = anyBlockWritten ? QStringLiteral("the flash is erased and half-written")
                                : QStringLiteral("the flash is erased");
        break;
    case Phase::Verify: flash = QStringLiteral("the firmware is written but not all read back"); break;
    case Phase::Start:
        return QStringLiteral("the firmware is written; the camera may have started it or still be in its "
                              "bootloader: run again to be sure");
    case Phase::Done: break;
    }
    if (phase == Phase::EnterBootloader) {
        return flash % (rec.tries > 1 ? QStringLiteral("; the camera does not answer: check it and run again")
                                      : QStringLiteral("; the camera may be in its bootloader: run again"));
    }
    return flash % QStringLiteral("; the camera is in its bootloader: run again");
}

void PortRun::end(PortRecord::Result result)
{
    rec.result = result;
    rec.seconds = clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0.0;
    retryTimer.stop();
    line.close();
    emit finished();
}

} // namespace Flash
