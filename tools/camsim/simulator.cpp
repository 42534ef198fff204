#include "simulator.h"

#include "eventlog.h"
#include "udplistener.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Line noise comes from a fixed seed, so a run can be repeated byte for byte.
constexpr quint32 kNoiseSeed = 0x2545F491u;
// Noise never imitates the bootloader's ACK or a frame terminator / Pelco-D
// sync: either would be taken for an answer.
constexpr quint8 kBootloaderAck = 0x79;
constexpr quint8 kTerminator = 0xFF;

// After the reply before a planned close has left, the window gets this long
// to read it: closing the master drops what the slave has not read yet.
constexpr int kCloseGraceMs = 50;

constexpr qint64 kNsPerMs = 1000000;

// A Cortex-M vector table starts with the stack pointer and the reset handler.
constexpr int kVectorBytes = 8;

int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Simulator::Simulator(EventLog &eventLog, const SimulatorOptions &simulatorOptions, QObject *parent)
    : QObject(parent),
      log(eventLog),
      options(simulatorOptions),
      line(eventLog, simulatorOptions.wireTime, simulatorOptions.parity),
      camera(simulatorOptions.camera),
      flash(simulatorOptions.flashKib * 1024, simulatorOptions.part.layout,
            simulatorOptions.residentKib * 1024),
      noiseState(kNoiseSeed)
{
    connect(&garbageTimer, &QTimer::timeout, this, &Simulator::sendGarbageByte);
    connect(&line, &PtyLine::bytesArrived, this, [this](const QByteArray &bytes) {
        if (personality)
            personality->bytesArrived(bytes);
    });
    line.setWanted([this] { return personality ? personality->bytesWanted() : 1; });
}

Simulator::~Simulator()
{
    removeLink();
}

bool Simulator::catchTerminationSignals(QString *error)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = errnoText();
        return false;
    }
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A reader of stdout that went away must not kill the camera mid-reply.
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool Simulator::start(QString *error)
{
    if (options.udpPort >= 0) {
        udp = std::make_unique<UdpListener>(log, camera, options.completionDelayMs,
                                            options.silent);
        if (!udp->listen(quint16(options.udpPort), error))
            return false;
    }
    if (!line.open(error))
        return false;
    // The link exists by the time anyone has read the path.
    if (!options.linkPath.isEmpty() && !makeLink(error))
        return false;
    EventLog::writePlainLine(line.slavePath().toLocal8Bit());
    // A client reads the port from the first record.
    if (udp) {
        log.write(QJsonObject{{QStringLiteral("event"), QStringLiteral("udp-listening")},
                              {QStringLiteral("port"), udp->port()}});
    }

    if (signalPipe[0] >= 0) {
        signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(signalNotifier, &QSocketNotifier::activated, this, &Simulator::onTerminationSignal);
    }

    line.noticeLineSettings();
    // A camera left in its bootloader by a failed upgrade is still there,
    // synchronised, when the window comes back to it.
    if (options.bootloader.startSynced)
        switchPersonality(Personality::Mode::Bootloader, true);
    else
        switchPersonality(Personality::Mode::Firmware);

    if (options.garbageEveryMs > 0)
        garbageTimer.start(options.garbageEveryMs);
    if (options.closeAfterMs >= 0)
        QTimer::singleShot(options.closeAfterMs, this, &Simulator::closeLine);
    return true;
}

void Simulator::switchPersonality(Personality::Mode mode, bool synced)
{
    std::unique_ptr<Personality> next;
    switch (mode) {
    case Personality::Mode::Firmware:
        next = std::make_unique<FirmwarePersonality>(log, camera, options.completionDelayMs);
        line.setAssumedParity(ParityChoice::FromLine);
        break;
    case Personality::Mode::Bootloader: {
        // A camera without a bootloader stays in its firmware, which has no
        // answer for 0x7F.
        if (!options.bootloaderPresent)
            return;
        QJsonObject event{{QStringLiteral("event"), QStringLiteral("bootloader")}};
        if (synced)
            event.insert(QStringLiteral("synced"), true);
        log.write(event);
        // Every entry after the first starts from reset and waits for 0x7F.
        BootloaderOptions bootloaderOptions = options.bootloader;
        bootloaderOptions.startSynced = synced;
        auto bootloader = std::make_unique<BootloaderPersonality>(
            log, flash, bootloaderOptions, [this] { return line.noticeLineSettings(); });
        connect(bootloader.get(), &BootloaderPersonality::jumped, this,
                &Simulator::programStarted);
        connect(bootloader.get(), &BootloaderPersonality::lineCloseRequested, this,
                &Simulator::closeWhenReplySent);
        next = std::move(bootloader);
        // The bootloader's USART runs 8E1 whatever the pseudo-terminal says.
        line.setAssumedParity(ParityChoice::Even);
        break;
    }
    }
    connect(next.get(), &Personality::reply, this, &Simulator::sendReply);
    // The personality asking is still on the stack: swap it once it has returned.
    connect(next.get(), &Personality::modeRequested, this, [this](Personality::Mode requested) {
        QTimer::singleShot(0, this, [this, requested] { switchPersonality(requested); });
    });
    personality = std::move(next);
    line.noticeLineSettings();
    line.rescheduleInput();
}

void Simulator::programStarted(quint32 address)
{
    // The image is on disk before anyone reads of the jump.
    writeFlashImage();
    // The core loads its stack pointer and reset handler from the 8 bytes
    // at the address: erased ones make a camera that never starts again.
    log.write(QJsonObject{{QStringLiteral("event"), QStringLiteral("go")},
                          {QStringLiteral("address"),
                           QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'))},
                          {QStringLiteral("vector"), flash.isErased(address, kVectorBytes)
                                                         ? QStringLiteral("erased")
                                                         : QStringLiteral("programmed")}});
    // The bootloader is still on the stack.
    QTimer::singleShot(0, this, [this] { switchPersonality(Personality::Mode::Firmware); });
}

void Simulator::closeWhenReplySent()
{
    const qint64 sendingNs = std::max<qint64>(0, line.outputDoneNs() - log.nowNs());
    QTimer::singleShot(int((sendingNs + kNsPerMs - 1) / kNsPerMs) + kCloseGraceMs, this,
                       &Simulator::closeLine);
}

void Simulator::writeFlashImage()
{
    if (options.flashOutPath.isEmpty())
        return;
    QFile file(options.flashOutPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(flash.image()) != flash.image().size()) {
        std::fprintf(stderr, "camsim: %s: %s\n", qPrintable(options.flashOutPath),
                     qPrintable(file.errorString()));
    }
}

void Simulator::sendReply(const QByteArray &bytes)
{
    if (options.silent || !line.isOpen())
        return;
    log.write(QJsonObject{{QStringLiteral("dir"), QStringLiteral("tx")},
                          {QStringLiteral("hex"), QString::fromLatin1(bytes.toHex())}});
    line.send(bytes);
}

void Simulator::sendGarbageByte()
{
    quint8 byte = 0;
    do {
        // xorshift32
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        byte = quint8(noiseState >> 24);
    } while (byte == kBootloaderAck || byte == kTerminator);
    const QByteArray bytes(1, char(byte));
    log.write(QJsonObject{{QStringLiteral("event"), QStringLiteral("garbage")},
                          {QStringLiteral("hex"), QString::fromLatin1(bytes.toHex())}});
    line.send(bytes);
}

void Simulator::closeLine()
{
    if (!line.isOpen())
        return;
    garbageTimer.stop();
    line.close();
    writeFlashImage();
    log.write(QJsonObject{{QStringLiteral("event"), QStringLiteral("closed")}});
    removeLink();
    QCoreApplication::exit(0);
}

void Simulator::onTerminationSignal()
{
    char drained[16];
    while (::read(signalPipe[0], drained, sizeof drained) > 0) {
    }
    garbageTimer.stop();
    writeFlashImage();
    removeLink();
    QCoreApplication::exit(0);
}

bool Simulator::makeLink(QString *error)
{
    const QByteArray path = QFile::encodeName(options.linkPath);
    struct stat info{};
    if (::lstat(path.constData(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            *error = options.linkPath + QStringLiteral(" exists and is not a symbolic link");
            return false;
        }
        if (::unlink(path.constData()) != 0) {
            *error = options.linkPath + QStringLiteral(": ") + errnoText();
            return false;
        }
    }
    if (::symlink(QFile::encodeName(line.slavePath()).constData(), path.constData()) != 0) {
        *error = options.linkPath + QStringLiteral(": ") + errnoText();
        return false;
    }
    linkMade = true;
    return true;
}

void Simulator::removeLink()
{
    if (!linkMade)
        return;
    linkMade = false;
    // Only our own link: another simulator may have taken the name since.
    const QByteArray path = QFile::encodeName(options.linkPath);
    char target[4096];
    const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
    if (length < 0)
        return;
    if (QFile::decodeName(QByteArray(target, int(length))) == line.slavePath())
        ::unlink(path.constData());
}
