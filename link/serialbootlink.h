#ifndef QUILLON_SERIALBOOTLINK_H
#define QUILLON_SERIALBOOTLINK_H

#include "isp/bootlink.h"

#include <QObject>

#include <functional>

class QSerialPort;
class ReplyReceiver;

// The window's serial port as the bootloader dialogue's byte pipe. Writes go
// through the window (which marks them for the receive path); answer bytes
// are taken from the receive path as soon as they arrive, while the pane
// still shows every reply batch.
class SerialBootLink : public QObject, public BootLink
{
    Q_OBJECT

public:
    using Writer = std::function<void(const QByteArray &)>;

    SerialBootLink(QSerialPort &port, ReplyReceiver &receiver, Writer write,
                   QObject *parent = nullptr);

    void send(const QByteArray &bytes) override;
    std::optional<quint8> receive(int timeoutMs) override;
    void configure(qint32 baud, Parity parity) override;
    void pause(int ms) override;
    bool aborted() const override { return stopped; }
    bool lineGone() const override { return lost; }

    // The window is closing: every wait ends now and nothing more is sent.
    void abort();
    // The line is gone (adapter pulled, cable closed): waits end now.
    void lineLost();

signals:
    void stopRequested();

private:
    QSerialPort &port;
    ReplyReceiver &receiver;
    Writer write;
    bool stopped = false;
    bool lost = false;
};

#endif // QUILLON_SERIALBOOTLINK_H
