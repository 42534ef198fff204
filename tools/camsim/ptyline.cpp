#include "ptyline.h"

#include "eventlog.h"

#include <QJsonObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;
constexpr qint64 kNsPerMs = 1000000;
constexpr int kReadChunkBytes = 4096;

// Outgoing bytes are written in groups at most this far apart: one wake-up per
// byte would cost more than it shows. The last byte of a reply, the one the
// window waits for, still goes out on time.
constexpr qint64 kOutputGroupNs = kNsPerMs;

// A master that reports EIO is polled again after this pause instead of
// spinning on a descriptor that stays readable.
constexpr int kReadRetryMs = 100;

// What a line that reports a speed we do not know is taken to run at: the
// camera firmware's own rate.
constexpr int kFallbackBaud = 9600;

struct SpeedEntry
{
    speed_t code;
    int baud;
};

const SpeedEntry kSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
    {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
    {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000},
    {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000},
    {B4000000, 4000000},
};

int baudOf(speed_t code)
{
    for (const SpeedEntry &entry : kSpeeds) {
        if (entry.code == code)
            return entry.baud;
    }
    return kFallbackBaud;
}

int dataBitsOf(tcflag_t cflag)
{
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

PtyLine::PtyLine(EventLog &eventLog, bool emulateWireTime, ParityChoice parityChoice,
                 QObject *parent)
    : QObject(parent), log(eventLog), wireTime(emulateWireTime), parity(parityChoice)
{
    readRetryTimer.setSingleShot(true);
    connect(&incomingTimer, &PreciseTimer::timeout, this, &PtyLine::deliverDueInput);
    connect(&outgoingTimer, &PreciseTimer::timeout, this, &PtyLine::moveDueOutput);
    connect(&readRetryTimer, &QTimer::timeout, this, [this] {
        if (readNotifier)
            readNotifier->setEnabled(true);
    });
}

PtyLine::~PtyLine()
{
    close();
}

bool PtyLine::open(QString *error)
{
    char name[256] = {};
    if (::openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        masterFd = slaveFd = -1;
        return false;
    }
    // Raw from the start: no echo, no line editing, no CR/LF translation,
    // 8 data bits. The window's serial port sets its own mode when it opens.
    termios settings{};
    ::tcgetattr(slaveFd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    ::tcsetattr(slaveFd, TCSANOW, &settings);

    const char *path = ::ttyname(slaveFd);
    slaveName = QString::fromLocal8Bit(path ? path : name);

    setNonBlocking(masterFd);
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PtyLine::readMaster);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &PtyLine::flushWrites);
    return true;
}

void PtyLine::close()
{
    incomingTimer.stop();
    outgoingTimer.stop();
    readRetryTimer.stop();
    delete readNotifier;
    readNotifier = nullptr;
    delete writeNotifier;
    writeNotifier = nullptr;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = slaveFd = -1;
    incoming.clear();
    outgoing.clear();
    unwritten.clear();
}

LineSettings PtyLine::readLineSettings() const
{
    LineSettings line;
    termios settings{};
    if (slaveFd < 0 || ::tcgetattr(slaveFd, &settings) != 0) {
        line.baud = kFallbackBaud;
        line.bitsPerByte = 10;
        return line;
    }
    line.baud = baudOf(::cfgetospeed(&settings));
    bool parityBit = (settings.c_cflag & PARENB) != 0;
    const ParityChoice forced = parity != ParityChoice::FromLine ? parity : assumedParity;
    if (forced != ParityChoice::FromLine)
        parityBit = forced != ParityChoice::None;
    const int stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    line.bitsPerByte = 1 + dataBitsOf(settings.c_cflag) + (parityBit ? 1 : 0) + stopBits;
    return line;
}

LineSettings PtyLine::noticeLineSettings()
{
    const LineSettings now = readLineSettings();
    if (now != recorded) {
        recorded = now;
        log.write(QJsonObject{{QStringLiteral("event"), QStringLiteral("line")},
                              {QStringLiteral("baud"), now.baud},
                              {QStringLiteral("bits_per_byte"), now.bitsPerByte}});
    }
    return now;
}

qint64 PtyLine::byteTimeNs()
{
    const LineSettings line = noticeLineSettings();
    return line.bitsPerByte * kNsPerSecond / line.baud;
}

void PtyLine::readMaster()
{
    QByteArray received;
    char buffer[kReadChunkBytes];
    for (;;) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            received.append(buffer, int(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: no slave open on the other side. Our own slave descriptor
            // normally prevents it; should it happen, look again later rather
            // than spin on a descriptor that stays readable.
            readNotifier->setEnabled(false);
            readRetryTimer.start(kReadRetryMs);
        }
        break;
    }
    if (received.isEmpty())
        return;

    if (!wireTime) {
        noticeLineSettings();
        emit bytesArrived(received);
        return;
    }

    // The bytes were written just now; on a real wire the first one is
    // through one byte time later (or after the byte still on the wire), and
    // each further one a byte time after that.
    const qint64 step = byteTimeNs();
    qint64 due = std::max(log.nowNs(), incomingFreeNs);
    for (char byte : qAsConst(received)) {
        due += step;
        incoming.push_back({due, byte});
    }
    incomingFreeNs = due;
    scheduleInput();
}

void PtyLine::deliverDueInput()
{
    const qint64 now = log.nowNs();
    QByteArray due;
    qint64 deliveredDueNs = now;
    while (!incoming.empty() && incoming.front().dueNs <= now) {
        due.append(incoming.front().byte);
        deliveredDueNs = incoming.front().dueNs;
        incoming.pop_front();
    }
    if (!due.isEmpty()) {
        // A reply made now was made the moment the last of these bytes was
        // through: how late this timer fired is no part of the device.
        replyBaseNs = deliveredDueNs;
        emit bytesArrived(due);
        replyBaseNs = -1;
    }
    // The listener has told by now how many bytes it needs next.
    scheduleInput();
}

void PtyLine::send(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    if (!wireTime) {
        unwritten.append(bytes);
        flushWrites();
        return;
    }
    const qint64 step = byteTimeNs();
    qint64 due = std::max(replyBaseNs >= 0 ? replyBaseNs : log.nowNs(), outgoingFreeNs);
    for (char byte : bytes) {
        due += step;
        outgoing.push_back({due, byte});
    }
    outgoingFreeNs = due;
    scheduleOutput();
}

qint64 PtyLine::outputDoneNs() const
{
    return wireTime ? std::max(outgoingFreeNs, log.nowNs()) : log.nowNs();
}

void PtyLine::setWanted(std::function<int()> wanted)
{
    wantedBytes = std::move(wanted);
}

void PtyLine::rescheduleInput()
{
    if (wireTime)
        scheduleInput();
}

void PtyLine::setAssumedParity(ParityChoice assumed)
{
    assumedParity = assumed;
}

void PtyLine::moveDueOutput()
{
    const qint64 now = log.nowNs();
    while (!outgoing.empty() && outgoing.front().dueNs <= now) {
        unwritten.append(outgoing.front().byte);
        outgoing.pop_front();
    }
    scheduleOutput();
    flushWrites();
}

void PtyLine::flushWrites()
{
    while (!unwritten.isEmpty() && masterFd >= 0) {
        const ssize_t count = ::write(masterFd, unwritten.constData(), size_t(unwritten.size()));
        if (count > 0) {
            unwritten.remove(0, int(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The window is not reading and the terminal's buffer is full:
            // go on when the master can take more.
            writeNotifier->setEnabled(true);
            return;
        }
        // Any other failure: the bytes are lost, as on a cable nobody listens to.
        unwritten.clear();
    }
    if (writeNotifier)
        writeNotifier->setEnabled(false);
}

void PtyLine::scheduleInput()
{
    const int wanted = wantedBytes ? std::max(1, wantedBytes()) : 1;
    if (incoming.size() < size_t(wanted)) {
        // Not enough on the way for the listener to act on: the next read
        // schedules again.
        incomingTimer.stop();
        return;
    }
    incomingTimer.startIn(incoming[size_t(wanted) - 1].dueNs - log.nowNs());
}

void PtyLine::scheduleOutput()
{
    if (outgoing.empty()) {
        outgoingTimer.stop();
        return;
    }
    const qint64 dueNs = std::min(outgoing.back().dueNs, outgoing.front().dueNs + kOutputGroupNs);
    outgoingTimer.startIn(dueNs - log.nowNs());
}
