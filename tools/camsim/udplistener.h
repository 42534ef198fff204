#ifndef CAMSIM_UDPLISTENER_H
#define CAMSIM_UDPLISTENER_H

#include "firmware.h"

#include <QObject>
#include <QString>

#include <netinet/in.h>

class EventLog;
class QSocketNotifier;

// The camera's network side: a UDP socket on 127.0.0.1 that takes the same
// frames as the serial line, one message per datagram, and answers the sender
// with the camera's own state. Each datagram is recorded like a frame from the
// line, with "via": "udp".
class UdpListener : public QObject
{
    Q_OBJECT

public:
    UdpListener(EventLog &log, CameraState &camera, int completionDelayMs, bool silent,
                QObject *parent = nullptr);
    ~UdpListener() override;

    // Binds 127.0.0.1:`port` (0: a free port the system picks).
    bool listen(quint16 port, QString *error);
    quint16 port() const { return boundPort; }

private:
    void readDatagrams();
    void sendReply(const QByteArray &bytes);

    EventLog &log;
    const bool silent;
    FirmwarePersonality firmware;
    int fd = -1;
    quint16 boundPort = 0;
    QSocketNotifier *notifier = nullptr;
    // Where replies go: the sender of the latest datagram (a completion comes
    // after its command's datagram has been handled).
    sockaddr_in sender{};
};

#endif // CAMSIM_UDPLISTENER_H
