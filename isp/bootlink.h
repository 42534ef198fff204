#ifndef QUILLON_BOOTLINK_H
#define QUILLON_BOOTLINK_H

#include <QByteArray>

#include <optional>

// The byte pipe between the bootloader dialogue and the device: the serial
// port in the window, a scripted fake in the tests.
class BootLink
{
public:
    enum class Parity { None, Even };

    virtual ~BootLink() = default;

    // Hands bytes to the line. Bytes that arrived before this call are stale:
    // receive() never returns them.
    virtual void send(const QByteArray &bytes) = 0;

    // The next byte received since the last send(), waiting at most timeoutMs
    // with the event loop running; nothing on timeout, abort or a lost line.
    virtual std::optional<quint8> receive(int timeoutMs) = 0;

    // Changes the line settings (8 data bits, one stop bit, no flow control).
    virtual void configure(qint32 baud, Parity parity) = 0;

    // A fixed pause for a device that needs time without answering.
    virtual void pause(int ms) = 0;

    // The run must stop now (the window is closing, the line is gone): every
    // wait returns at once and nothing more is sent.
    virtual bool aborted() const = 0;
    // The line is gone (adapter pulled, cable closed): what is sent now never
    // reaches the device, and no answer can come.
    virtual bool lineGone() const { return false; }
};

#endif // QUILLON_BOOTLINK_H
