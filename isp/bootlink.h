#ifndef QUILLON_BOOTLINK_H
#define QUILLON_BOOTLINK_H

#include <QByteArray>
#include <QObject>

// The line as the bootloader dialogue sees it while it holds the line alone:
// bytes out, bytes in, the line settings, and one timer for the answer the
// dialogue waits for (or the pause a device needs). The serial port is one
// such link; a scripted device that runs in virtual time is another, so the
// whole dialogue can be tested in milliseconds.
//
// Everything is event driven: nothing here blocks or runs an event loop of
// its own. Answers come by received(), the end of a wait by timedOut().
class BootLink : public QObject
{
    Q_OBJECT

public:
    enum class Parity { None, Even };

    using QObject::QObject;

    // Hands bytes to the line. Bytes that arrived before this call are stale:
    // received() only ever carries bytes that came after it.
    virtual void send(const QByteArray &bytes) = 0;

    // Sets baud rate and parity (8 data bits, one stop bit, no flow control).
    // False when the adapter did not take them: a line that silently stays at
    // other settings garbles every byte that follows.
    virtual bool configure(qint32 baud, Parity parity) = 0;

    // Starts the one timer (again, when it runs): timedOut() comes after ms
    // milliseconds unless disarmTimer() is called first.
    virtual void armTimer(int ms) = 0;
    virtual void disarmTimer() = 0;

    // The line is gone (adapter pulled, cable closed): what is sent now never
    // reaches the device, and no answer can come.
    virtual bool isLost() const = 0;

    // What the link could not do, in a few words, for the trace: why the last
    // configure() failed.
    virtual QString lastError() const { return QString(); }

signals:
    void received(const QByteArray &bytes);
    void timedOut();
    void lost();
};

#endif // QUILLON_BOOTLINK_H
