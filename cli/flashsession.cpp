#include "flashsession.h"

#include "portrun.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStringBuilder>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace Flash {

namespace {

// Ctrl-C and SIGTERM reach the event loop through this pipe: the handler
// only writes the signal's number into it, which is all a handler may do.
int signalPipe[2] = {-1, -1};
constexpr int kStopSignals[] = {SIGINT, SIGTERM};

extern "C" void onStopSignal(int number)
{
    const int savedErrno = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void setStopHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kStopSignals)
        ::sigaction(number, &action, nullptr);
}

void printError(const QString &text)
{
    std::fprintf(stderr, "quillon-flash: %s\n", qPrintable(text));
}

} // namespace

Session::Session(QObject *parent) : QObject(parent) {}

Session::~Session()
{
    qDeleteAll(runs);
    if (signalNotifier) {
        setStopHandler(SIG_DFL);
        delete signalNotifier;
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
}

std::optional<int> Session::begin(const QStringList &arguments)
{
    const ParseResult parsed = parseCommandLine(arguments);
    switch (parsed.kind) {
    case ParseResult::Kind::Help:
        std::fputs(qPrintable(parsed.text), stdout);
        return kExitSuccess;
    case ParseResult::Kind::UsageError:
        printError(parsed.text);
        std::fputs("Try 'quillon-flash --help' for the options.\n", stderr);
        return kExitUsage;
    case ParseResult::Kind::Run:
        break;
    }
    commandLine = parsed.commandLine;
    // The report names the file wherever the command ran.
    commandLine.firmwarePath = QFileInfo(commandLine.firmwarePath).absoluteFilePath();

    // The report's file is opened (in its folder, under another name) before
    // anything else happens: a run must not end with nowhere to say how it
    // went.
    if (!commandLine.jsonPath.isEmpty()) {
        reportFile = std::make_unique<QSaveFile>(commandLine.jsonPath);
        if (!reportFile->open(QIODevice::WriteOnly)) {
            printError(QStringLiteral("cannot write the report %1: %2")
                           .arg(commandLine.jsonPath, reportFile->errorString()));
            return kExitUsage;
        }
    }

    // The whole file is read and checked before any port opens: a damaged
    // or cut file must never reach a camera.
    const HexReadResult file = HexFile::readFile(commandLine.firmwarePath);
    if (!file.image) {
        const QString error = parsed.commandLine.firmwarePath % QStringLiteral(": ") % file.error.text();
        printError(error);
        QJsonObject report = reportHead(commandLine, 0);
        report.insert(QStringLiteral("error"), error);
        report.insert(QStringLiteral("interrupted"), false);
        report.insert(QStringLiteral("exit_status"), kExitUsage);
        report.insert(QStringLiteral("ports"), QJsonArray());
        writeReport(report);
        return kExitUsage;
    }
    image = file.image;

    // A line controller that stops reading our output must not kill a run
    // in the middle of a flash.
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(signalNotifier, &QSocketNotifier::activated, this, &Session::onSignal);
        setStopHandler(onStopSignal);
    }

    printer = new ProgressPrinter(ProgressPrinter::modeFor(stdout, int(commandLine.ports.size()), commandLine.quiet),
                                  commandLine.ports, stdout, this);
    const int blocks = image->blockCount();
    printer->line(QStringLiteral("%1: %2 bytes in %3 to %4 camera%5 at %6 baud, erase %7%8%9")
                      .arg(QFileInfo(commandLine.firmwarePath).fileName())
                      .arg(image->dataByteCount())
                      .arg(QStringLiteral("%1 block%2").arg(blocks).arg(blocks == 1 ? QString() : QStringLiteral("s")))
                      .arg(commandLine.ports.size())
                      .arg(commandLine.ports.size() == 1 ? QString() : QStringLiteral("s"))
                      .arg(commandLine.upgrade.bootloaderBaud)
                      .arg(eraseName(commandLine.upgrade.erase))
                      .arg(commandLine.upgrade.verify ? QStringLiteral(", read-back") : QString())
                      .arg(commandLine.upgrade.enterIap ? QString() : QStringLiteral(", no IAP frames")));

    for (int i = 0; i < commandLine.ports.size(); ++i) {
        auto *run = new PortRun(commandLine.ports.at(i), *image, commandLine.upgrade, commandLine.retries);
        runs.append(run);
        connect(run, &PortRun::phaseChanged, printer, [this, i](Download::Job::Phase phase) {
            printer->phase(i, phase);
        });
        connect(run, &PortRun::progress, printer, [this, i](int bytes, int total) {
            printer->progress(i, bytes, total);
        });
        connect(run, &PortRun::note, printer, [this, i](const QString &text) { printer->note(i, text); });
        connect(run, &PortRun::finished, this, [this, i] {
            printer->finished(i, runs.at(i)->record());
            onPortFinished();
        });
    }
    // From the event loop, so that the end (even of ports that all fail to
    // open) can end the loop.
    QTimer::singleShot(0, this, &Session::startPorts);
    return std::nullopt;
}

void Session::startPorts()
{
    for (PortRun *run : qAsConst(runs)) {
        if (interruptingSignal != 0)
            return;
        run->start();
    }
}

void Session::onPortFinished()
{
    for (const PortRun *run : qAsConst(runs)) {
        if (!run->record().done())
            return;
    }
    finish();
}

void Session::onSignal()
{
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1) {
        if (interruptingSignal == 0)
            interruptingSignal = byte;
    }
    if (interruptingSignal == 0 || finished)
        return;
    // A second Ctrl-C ends the program at once, should anything hang.
    setStopHandler(SIG_DFL);
    // Every run stops at once; each says where its camera was left.
    for (PortRun *run : qAsConst(runs))
        run->stop();
}

void Session::finish()
{
    if (std::exchange(finished, true))
        return;
    QList<PortRecord> records;
    QJsonArray ports;
    for (const PortRun *run : qAsConst(runs)) {
        records.append(run->record());
        ports.append(toJson(run->record()));
    }
    printer->summary(records, interruptingSignal != 0);
    const int status = exitStatus(records, interruptingSignal);

    QJsonObject report = reportHead(commandLine, image->dataByteCount());
    report.insert(QStringLiteral("error"), QJsonValue());
    report.insert(QStringLiteral("interrupted"), interruptingSignal != 0);
    report.insert(QStringLiteral("exit_status"), status);
    report.insert(QStringLiteral("ports"), ports);
    writeReport(report);
    QCoreApplication::exit(status);
}

bool Session::writeReport(const QJsonObject &report)
{
    if (!reportFile)
        return true;
    reportFile->write(QJsonDocument(report).toJson(QJsonDocument::Indented));
    if (reportFile->commit())
        return true;
    printError(QStringLiteral("cannot write the report %1: %2").arg(commandLine.jsonPath, reportFile->errorString()));
    return false;
}

} // namespace Flash
