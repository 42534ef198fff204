#include "serialline.h"

#include "portlist.h"

#include <QFile>
#include <QPointer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <vector>
#endif

// The line held by one bootloader exchange. It forwards every byte the line
// receives, writes only while the line is open and not lost, and releases
// the line when destroyed.
class SerialLine::Hold final : public BootLink
{
public:
    explicit Hold(SerialLine &serialLine) : line(&serialLine)
    {
        timer.setSingleShot(true);
        // The bootloader answers within a few milliseconds; a coarse timer
        // may be late by 5 %, which matters nothing, but the pauses of the
        // dialogue are short and add up over hundreds of blocks.
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, &BootLink::timedOut);
        line->holder = this;
        // A line that is closed never answers: the holder learns so at once.
        gone = !line->isOpen();
    }
    ~Hold() override { release(); }

    void release()
    {
        if (line && line->holder == this)
            line->holder = nullptr;
        line = nullptr;
        markLost();
    }

    void send(const QByteArray &bytes) override
    {
        if (!isLost())
            line->writeHeld(bytes);
    }
    bool configure(qint32 baud, Parity parity) override
    {
        if (isLost()) {
            error = QStringLiteral("the line is gone");
            return false;
        }
        return line->apply(baud, parity == Parity::Even ? QSerialPort::EvenParity : QSerialPort::NoParity,
                           &error);
    }
    void armTimer(int ms) override { timer.start(ms); }
    void disarmTimer() override { timer.stop(); }
    bool isLost() const override { return gone || !line || !line->isOpen(); }
    QString lastError() const override { return error; }

    void markLost()
    {
        if (std::exchange(gone, true))
            return;
        emit lost();
    }

private:
    QPointer<SerialLine> line; // nothing once released
    QTimer timer;
    bool gone = false;
    QString error;
};

namespace {

#ifdef Q_OS_UNIX
// Linux numbers the slaves of pseudo-terminals with these majors (and 3 for
// the old BSD-style ones).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kBsdPtySlaveMajor = 3;

bool isPseudoTerminal(int fd)
{
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned majorNumber = major(info.st_rdev);
    return (majorNumber >= kPtySlaveMajorFirst && majorNumber <= kPtySlaveMajorLast)
           || majorNumber == kBsdPtySlaveMajor;
}

// The group whose members may read and write the device; empty when its
// mode lets no group do both, or the group has no name.
QString groupAllowedOn(const QByteArray &path)
{
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return QString();
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    struct group entry {};
    struct group *found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString();
    return QString::fromLocal8Bit(found->gr_name);
}

speed_t speedCode(qint32 baud)
{
    switch (baud) {
    case 2400: return B2400;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0; // not one we check
    }
}
#endif

} // namespace

SerialLine::SerialLine(QObject *parent) : QObject(parent), port(this)
{
    connect(&port, &QSerialPort::readyRead, this, &SerialLine::onReadyRead);
    // Queued: the port reports some errors from inside its own calls.
    connect(&port, &QSerialPort::errorOccurred, this, &SerialLine::onError, Qt::QueuedConnection);
    connect(&receiver, &ReplyReceiver::batchReady, this, &SerialLine::batchReady);
    pacedTimer.setSingleShot(true);
    pacedTimer.setTimerType(Qt::PreciseTimer);
    connect(&pacedTimer, &QTimer::timeout, this, &SerialLine::writeNextPaced);
}

SerialLine::~SerialLine()
{
    // A holder that outlives the line must not reach back into it.
    release();
}

SerialLine::OpenResult SerialLine::open(const QString &location, qint32 baud)
{
    if (port.isOpen())
        return {OpenError::InUse, QStringLiteral("the port is open already"), {}};
    port.setPortName(location);
    QString why;
    apply(baud, QSerialPort::NoParity, &why); // stored for the open
    if (port.open(QIODevice::ReadWrite)) {
        lossReported = false;
        return {};
    }

    OpenResult result{OpenError::Other, port.errorString(), {}};
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        result.error = OpenError::NotFound;
        break;
    case QSerialPort::OpenError:
        result.error = OpenError::InUse;
        break;
    case QSerialPort::PermissionError:
        // Qt reports a device that another program has locked, or opened for
        // itself alone, as a permission error too; whether this user may
        // open the device at all tells them apart (open() goes by the
        // effective user, and so does this check).
        result.error = OpenError::Permission;
#ifdef Q_OS_UNIX
        if (const QByteArray path = QFile::encodeName(PortList::devicePath(location));
            ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0)
            result.error = OpenError::InUse;
        else
            result.deviceGroup = groupAllowedOn(path);
#endif
        break;
    default:
        break;
    }
    port.clearError();
    return result;
}

void SerialLine::close()
{
    if (port.isOpen())
        onReadyRead();
    pacedFrames.clear();
    pacedTimer.stop();
    if (holder)
        holder->markLost();
    port.close();
    receiver.flush();
}

std::unique_ptr<BootLink> SerialLine::hold()
{
    if (holder)
        return nullptr;
    return std::make_unique<Hold>(*this);
}

void SerialLine::release()
{
    if (holder)
        holder->release();
}

bool SerialLine::write(const QByteArray &bytes)
{
    if (holder || !port.isOpen() || bytes.isEmpty())
        return false;
    // Bytes the camera sent before this write may still wait in the driver:
    // take them in now, so that they are not mistaken for the reply.
    if (driverHoldsInput())
        port.waitForReadyRead(0);
    endReply();
    return writeToDriver(bytes);
}

void SerialLine::writeHeld(const QByteArray &bytes)
{
    if (!port.isOpen())
        return;
    // The holder's dialogue listens only after each part it sends, and its
    // device answers nothing else: nothing stale can wait in the driver. The
    // reply in progress ends with the write, as for any writer, but after
    // it: the next part goes out the moment its answer is in.
    onReadyRead();
    writeToDriver(bytes);
    receiver.flush();
}

bool SerialLine::driverHoldsInput() const
{
#ifdef Q_OS_UNIX
    // poll() (not FIONREAD) makes the terminal layer hand over what is still
    // on its way from the device first.
    pollfd input{int(port.handle()), POLLIN, 0};
    return ::poll(&input, 1, 0) != 0;
#else
    return true;
#endif
}

bool SerialLine::writeToDriver(const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    // The bootloader answers every few hundred microseconds at 115200 baud,
    // and the next part goes out the moment the answer is in: handed
    // straight to the driver, the bytes skip the port's write buffer and
    // the notifier it arms and disarms for each write. Only what the driver
    // does not take at once goes the port's way, behind nothing.
    if (port.bytesToWrite() == 0) {
        const ssize_t taken = ::write(int(port.handle()), bytes.constData(), size_t(bytes.size()));
        if (taken == bytes.size())
            return true;
        if (taken < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const QByteArray rest = bytes.mid(int(qMax<ssize_t>(taken, 0)));
        const bool queued = port.write(rest) == rest.size();
        port.flush();
        return queued;
    }
#endif
    const qint64 written = port.write(bytes);
    // Hand the bytes to the driver now: a close or a line change right after
    // must not find them still in Qt's buffer.
    port.flush();
    return written == bytes.size();
}

void SerialLine::endReply()
{
    if (port.isOpen())
        onReadyRead();
    receiver.flush();
}

void SerialLine::writePaced(const QList<QByteArray> &frames, int gapMs)
{
    pacedFrames.append(frames);
    pacedTimer.setInterval(gapMs);
    if (!pacedTimer.isActive() && !pacedFrames.isEmpty())
        pacedTimer.start();
}

void SerialLine::writeNextPaced()
{
    if (pacedFrames.isEmpty())
        return;
    write(pacedFrames.takeFirst());
    if (!pacedFrames.isEmpty())
        pacedTimer.start();
}

bool SerialLine::setBaudRate(qint32 baud)
{
    if (holder)
        return false;
    return apply(baud, port.parity(), nullptr);
}

bool SerialLine::setParity(QSerialPort::Parity parity)
{
    if (holder)
        return false;
    return apply(port.baudRate(), parity, nullptr);
}

bool SerialLine::apply(qint32 baud, QSerialPort::Parity parity, QString *why)
{
    // A pseudo-terminal refuses a parity bit outright (Qt reports EINVAL);
    // one that is spared the check goes on without it.
    const bool spared = ptyExempt && port.isOpen() && isPseudoTerminal(int(port.handle()));
    const bool set = port.setBaudRate(baud) && port.setDataBits(QSerialPort::Data8)
                     && (port.setParity(parity) || spared) && port.setStopBits(QSerialPort::OneStop)
                     && port.setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        if (why)
            *why = port.errorString();
        port.clearError();
        return false;
    }
    if (!adapterTook(baud, parity)) {
        if (why)
            *why = QStringLiteral("the adapter kept other line settings");
        return false;
    }
    return true;
}

bool SerialLine::adapterTook(qint32 baud, QSerialPort::Parity parity) const
{
#ifdef Q_OS_UNIX
    // Some adapters' drivers accept any settings and keep what their chip
    // can do: only reading them back tells.
    if (!port.isOpen() || (ptyExempt && isPseudoTerminal(int(port.handle()))))
        return true;
    termios settings{};
    if (::tcgetattr(int(port.handle()), &settings) != 0)
        return false;
    const speed_t wanted = speedCode(baud);
    if (wanted != B0 && (cfgetospeed(&settings) != wanted || cfgetispeed(&settings) != wanted))
        return false;
    const bool parityOn = (settings.c_cflag & PARENB) != 0;
    const bool odd = (settings.c_cflag & PARODD) != 0;
    return parityOn == (parity != QSerialPort::NoParity) && (!parityOn || odd == (parity == QSerialPort::OddParity));
#else
    Q_UNUSED(baud)
    Q_UNUSED(parity)
    return true;
#endif
}

void SerialLine::onReadyRead()
{
    const QByteArray bytes = port.readAll();
    if (bytes.isEmpty())
        return;
    receiver.feed(bytes);
    if (holder)
        emit holder->received(bytes);
}

void SerialLine::onError(QSerialPort::SerialPortError error)
{
    // The line is gone: a pulled USB adapter reports a resource error; a
    // terminal that was hung up keeps reporting read errors, as often as the
    // event loop asks, until the port is closed. Any other error (a line
    // setting the device refuses, a failed open that the caller reports
    // itself) leaves the link as it is.
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!gone || !port.isOpen())
        return;
    // The holder learns first; whoever it tells may close the port, and a
    // closed port needs no more telling.
    if (holder)
        holder->markLost();
    if (port.isOpen() && !std::exchange(lossReported, true))
        emit lineLost();
}
