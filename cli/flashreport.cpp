#include "flashreport.h"

#include <QJsonArray>
#include <QStringBuilder>

#include <sys/ioctl.h>
#include <unistd.h>

namespace Flash {

namespace {

// Ten redraws a second follow a progress bar smoothly; more would only cost
// processor time with dozens of ports.
constexpr int kRedrawMs = 100;
constexpr int kBarWidth = 20;
// What a terminal that does not tell its size is taken to have.
constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 24;

QString endName(const PortRecord &record)
{
    if (!record.opened)
        return QStringLiteral("port-not-opened");
    switch (record.outcome.end) {
    case Download::End::Success: return QStringLiteral("success");
    case Download::End::LineRefused: return QStringLiteral("line-refused");
    case Download::End::NoSync: return QStringLiteral("no-sync");
    case Download::End::IdentifyFailed: return QStringLiteral("identify-failed");
    case Download::End::ImageRefused: return QStringLiteral("image-refused");
    case Download::End::EraseCommandFailed: return QStringLiteral("erase-command-failed");
    case Download::End::EraseFailed: return QStringLiteral("erase-failed");
    case Download::End::BlockFailed: return QStringLiteral("block-failed");
    case Download::End::FinalBlockFailed: return QStringLiteral("final-block-failed");
    case Download::End::VerifyFailed: return QStringLiteral("verify-failed");
    case Download::End::GoUnconfirmed: return QStringLiteral("go-unconfirmed");
    case Download::End::LineLostBeforeGo: return QStringLiteral("line-lost-before-go");
    case Download::End::GetIdFailed: return QStringLiteral("get-id-failed");
    case Download::End::Aborted: return QStringLiteral("stopped");
    }
    return QString();
}

QString resultName(PortRecord::Result result)
{
    switch (result) {
    case PortRecord::Result::Running: return QStringLiteral("running");
    case PortRecord::Result::Success: return QStringLiteral("success");
    case PortRecord::Result::Failed: return QStringLiteral("failed");
    case PortRecord::Result::Stopped: return QStringLiteral("stopped");
    }
    return QString();
}

QString stepName(Stm32Boot::Step step)
{
    using Stm32Boot::Step;
    switch (step) {
    case Step::Sync: return QStringLiteral("sync");
    case Step::Get: return QStringLiteral("get");
    case Step::GetId: return QStringLiteral("get-id");
    case Step::EraseCommand: return QStringLiteral("erase-command");
    case Step::ExtendedEraseCommand: return QStringLiteral("extended-erase-command");
    case Step::GlobalErase: return QStringLiteral("global-erase");
    case Step::PageErase: return QStringLiteral("page-erase");
    case Step::WriteCommand: return QStringLiteral("write-command");
    case Step::WriteAddress: return QStringLiteral("write-address");
    case Step::WriteData: return QStringLiteral("write-data");
    case Step::ReadCommand: return QStringLiteral("read-command");
    case Step::ReadAddress: return QStringLiteral("read-address");
    case Step::ReadLength: return QStringLiteral("read-length");
    case Step::GoCommand: return QStringLiteral("go-command");
    case Step::GoAddress: return QStringLiteral("go-address");
    }
    return QString();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

winsize terminalSize(std::FILE *out)
{
    winsize size{};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        size.ws_col = kDefaultColumns;
        size.ws_row = kDefaultRows;
    }
    return size;
}

} // namespace

QString phaseText(Download::Job::Phase phase)
{
    switch (phase) {
    case Download::Job::Phase::EnterBootloader: return QStringLiteral("entering the bootloader");
    case Download::Job::Phase::Identify: return QStringLiteral("identifying the part");
    case Download::Job::Phase::Erase: return QStringLiteral("erasing");
    case Download::Job::Phase::Write: return QStringLiteral("writing");
    case Download::Job::Phase::Verify: return QStringLiteral("reading back");
    case Download::Job::Phase::Start: return QStringLiteral("starting the program");
    case Download::Job::Phase::Done: return QStringLiteral("done");
    }
    return QString();
}

QString resultLine(const PortRecord &record)
{
    const QString tries = record.tries > 1 ? QStringLiteral(" (try %1)").arg(record.tries) : QString();
    switch (record.result) {
    case PortRecord::Result::Running:
        return QString();
    case PortRecord::Result::Success:
        return QStringLiteral("done, %1 bytes in %2 s").arg(record.bytes).arg(record.seconds, 0, 'f', 1) % tries;
    case PortRecord::Result::Failed:
        if (!record.opened)
            return QStringLiteral("FAILED: cannot open the port: ") % record.outcome.text();
        return QStringLiteral("FAILED: ") % record.outcome.text() % tries
               % (record.state.isEmpty() ? QString() : QStringLiteral("; ") % record.state);
    case PortRecord::Result::Stopped:
        return record.state;
    }
    return QString();
}

QJsonObject toJson(const PortRecord &record)
{
    const bool success = record.result == PortRecord::Result::Success;
    const Stm32Boot::Result &failure = record.outcome.failure;
    // The bootloader's step only where one failed: a refusal of ours (an
    // image the part cannot hold, a read-back that differs) names none.
    const bool step = !success && record.opened && !failure.ok();
    QJsonObject json{
        {QStringLiteral("port"), record.port},
        {QStringLiteral("result"), resultName(record.result)},
        {QStringLiteral("part"), textOrNull(record.part)},
        {QStringLiteral("bytes"), record.bytes},
        {QStringLiteral("total_bytes"), record.totalBytes},
        {QStringLiteral("seconds"), qRound(record.seconds * 100) / 100.0},
        {QStringLiteral("tries"), record.tries},
        {QStringLiteral("end"), endName(record)},
        {QStringLiteral("step"), step ? QJsonValue(stepName(failure.step)) : QJsonValue()},
        {QStringLiteral("address"),
         step && failure.hasAddress() ? QJsonValue(Stm32Boot::hexAddress(failure.address)) : QJsonValue()},
        {QStringLiteral("page"),
         step && failure.step == Stm32Boot::Step::PageErase ? QJsonValue(int(failure.address)) : QJsonValue()},
        {QStringLiteral("answer"), step ? QJsonValue(failure.answer == Stm32Boot::Answer::Nack
                                                         ? QStringLiteral("nack") : QStringLiteral("timeout"))
                                        : QJsonValue()},
        {QStringLiteral("detail"), success ? QJsonValue() : QJsonValue(record.outcome.text())},
        {QStringLiteral("state"), success ? QJsonValue() : textOrNull(record.state)},
        {QStringLiteral("earlier_failures"), QJsonArray::fromStringList(record.earlierFailures)},
    };
    return json;
}

QJsonObject reportHead(const CommandLine &commandLine, int imageBytes)
{
    return QJsonObject{
        {QStringLiteral("firmware"), commandLine.firmwarePath},
        {QStringLiteral("image_bytes"), imageBytes},
        {QStringLiteral("baud"), commandLine.upgrade.bootloaderBaud},
        {QStringLiteral("erase"), eraseName(commandLine.upgrade.erase)},
        {QStringLiteral("verify"), commandLine.upgrade.verify},
        {QStringLiteral("iap"), commandLine.upgrade.enterIap},
        {QStringLiteral("retries"), commandLine.retries},
    };
}

int exitStatus(const QList<PortRecord> &records, int interruptingSignal)
{
    if (interruptingSignal != 0)
        return kExitSignalBase + interruptingSignal;
    const auto failed = std::count_if(records.cbegin(), records.cend(), [](const PortRecord &record) {
        return record.result != PortRecord::Result::Success;
    });
    return int(std::min<qsizetype>(failed, kMaxFailedStatus));
}

ProgressPrinter::Mode ProgressPrinter::modeFor(std::FILE *out, int ports, bool quiet)
{
    if (quiet)
        return Mode::Quiet;
    const QByteArray term = qgetenv("TERM");
    if (!::isatty(fileno(out)) || term.isEmpty() || term == "dumb")
        return Mode::Plain;
    // The lines are redrawn by moving the cursor up over them: they must all
    // be on the screen, with a line to spare for the cursor.
    return ports < terminalSize(out).ws_row ? Mode::Live : Mode::Plain;
}

ProgressPrinter::ProgressPrinter(Mode mode, const QStringList &ports, std::FILE *output, QObject *parent)
    : QObject(parent), printMode(mode), out(output)
{
    for (const QString &port : ports) {
        lines.append({port, QStringLiteral("waiting"), 0});
        nameWidth = std::max(nameWidth, int(port.size()));
    }
    redrawTimer.setSingleShot(true);
    redrawTimer.setInterval(kRedrawMs);
    connect(&redrawTimer, &QTimer::timeout, this, &ProgressPrinter::redraw);
}

void ProgressPrinter::write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fflush(out);
}

void ProgressPrinter::line(const QString &text)
{
    switch (printMode) {
    case Mode::Quiet:
        return;
    case Mode::Plain:
        return write(text % QLatin1Char('\n'));
    case Mode::Live:
        // Up over the live lines, clear them, the line, and the live lines
        // below it again.
        write((drawn ? QStringLiteral("\x1b[%1A\r\x1b[J").arg(lines.size()) : QString()) % text
              % QLatin1Char('\n'));
        drawn = false;
        redraw();
        return;
    }
}

void ProgressPrinter::phase(int port, Download::Job::Phase phase)
{
    PortLine &entry = lines[port];
    entry.status = phaseText(phase);
    // The end of a run has a line of its own (finished()).
    if (printMode == Mode::Plain && phase != Download::Job::Phase::Done)
        write(entry.name % QStringLiteral(": ") % entry.status % QLatin1Char('\n'));
    changed();
}

void ProgressPrinter::progress(int port, int bytes, int total)
{
    lines[port].percent = total > 0 ? int(qint64(bytes) * 100 / total) : 0;
    changed();
}

void ProgressPrinter::note(int port, const QString &text)
{
    line(lines.at(port).name % QStringLiteral(": ") % text);
}

void ProgressPrinter::finished(int port, const PortRecord &record)
{
    PortLine &entry = lines[port];
    entry.status = resultLine(record);
    if (record.result == PortRecord::Result::Success)
        entry.percent = 100;
    const bool failed = record.result != PortRecord::Result::Success;
    if (printMode == Mode::Plain || (printMode == Mode::Quiet && failed))
        write(entry.name % QStringLiteral(": ") % entry.status % QLatin1Char('\n'));
    changed();
}

void ProgressPrinter::summary(const QList<PortRecord> &records, bool interrupted)
{
    if (printMode == Mode::Quiet)
        return;
    if (printMode == Mode::Live) {
        redrawTimer.stop();
        redraw();
        // The live lines may be cut at the terminal's edge: the ports that
        // need a person again, in full.
        for (int i = 0; i < records.size(); ++i) {
            if (records.at(i).result != PortRecord::Result::Success)
                write(lines.at(i).name % QStringLiteral(": ") % lines.at(i).status % QLatin1Char('\n'));
        }
    }
    int upgraded = 0, failed = 0, stopped = 0;
    for (const PortRecord &record : records) {
        upgraded += record.result == PortRecord::Result::Success ? 1 : 0;
        failed += record.result == PortRecord::Result::Failed ? 1 : 0;
        stopped += record.result == PortRecord::Result::Stopped ? 1 : 0;
    }
    QString text = QStringLiteral("%1 of %2 cameras upgraded").arg(upgraded).arg(records.size());
    if (failed > 0)
        text += QStringLiteral(", %1 failed").arg(failed);
    if (stopped > 0)
        text += QStringLiteral(", %1 stopped").arg(stopped);
    if (interrupted)
        text += QStringLiteral(" (interrupted)");
    write(text % QLatin1Char('\n'));
}

void ProgressPrinter::changed()
{
    if (printMode == Mode::Live && !redrawTimer.isActive())
        redrawTimer.start();
}

QString ProgressPrinter::render(const PortLine &port, int width) const
{
    const int filled = port.percent * kBarWidth / 100;
    const QString text = port.name.leftJustified(nameWidth) % QStringLiteral("  [")
                         % QString(filled, QLatin1Char('#')) % QString(kBarWidth - filled, QLatin1Char(' '))
                         % QStringLiteral("] ") % QString::number(port.percent).rightJustified(3)
                         % QStringLiteral(" %  ") % port.status;
    // A line that reaches the last column wraps, and the cursor would no
    // longer come back to the first line.
    return text.left(width - 1);
}

void ProgressPrinter::redraw()
{
    if (printMode != Mode::Live)
        return;
    const int width = terminalSize(out).ws_col;
    QString text;
    if (drawn)
        text += QStringLiteral("\x1b[%1A").arg(lines.size());
    for (const PortLine &port : qAsConst(lines))
        text += QStringLiteral("\r\x1b[2K") % render(port, width) % QLatin1Char('\n');
    drawn = true;
    write(text);
}

} // namespace Flash
