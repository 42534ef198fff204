#include "udplistener.h"

#include "eventlog.h"

#include <QJsonObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Larger than any camera frame; a datagram is read whole or cut here.
constexpr int kDatagramMaxBytes = 2048;

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

UdpListener::UdpListener(EventLog &eventLog, CameraState &camera, int completionDelayMs,
                         bool neverAnswer, QObject *parent)
    : QObject(parent), log(eventLog), silent(neverAnswer), firmware(eventLog, camera,
                                                                   completionDelayMs)
{
    firmware.setVia(QStringLiteral("udp"));
    connect(&firmware, &Personality::reply, this, &UdpListener::sendReply);
    // modeRequested stays unconnected: Enter IAP over the network is
    // recorded, but the bootloader listens on the serial line only.
}

UdpListener::~UdpListener()
{
    delete notifier;
    if (fd >= 0)
        ::close(fd);
}

bool UdpListener::listen(quint16 port, QString *error)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QStringLiteral("UDP socket: ") + errnoText();
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        *error = QStringLiteral("UDP port %1: ").arg(port) + errnoText();
        return false;
    }
    boundPort = ntohs(local.sin_port);
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UdpListener::readDatagrams);
    return true;
}

void UdpListener::readDatagrams()
{
    char buffer[kDatagramMaxBytes];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t count = ::recvfrom(fd, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: all read
        }
        sender = from;
        if (count == 0) {
            // A datagram of length zero carries no frame, but it did arrive.
            log.write(QJsonObject{{QStringLiteral("dir"), QStringLiteral("rx")},
                                  {QStringLiteral("via"), QStringLiteral("udp")},
                                  {QStringLiteral("hex"), QString()},
                                  {QStringLiteral("protocol"), QStringLiteral("unknown")},
                                  {QStringLiteral("checksum"), QStringLiteral("none")}});
            continue;
        }
        firmware.bytesArrived(QByteArray(buffer, int(count)));
        firmware.messageEnded();
    }
}

void UdpListener::sendReply(const QByteArray &bytes)
{
    if (silent)
        return;
    log.write(QJsonObject{{QStringLiteral("dir"), QStringLiteral("tx")},
                          {QStringLiteral("via"), QStringLiteral("udp")},
                          {QStringLiteral("hex"), QString::fromLatin1(bytes.toHex())}});
    ::sendto(fd, bytes.constData(), size_t(bytes.size()), 0,
             reinterpret_cast<const sockaddr *>(&sender), sizeof sender);
}
