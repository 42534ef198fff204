#ifndef QUILLON_PTYDEVICE_H
#define QUILLON_PTYDEVICE_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <termios.h>

class QSocketNotifier;

// The device end of a pseudo-terminal: the window opens the slave path as
// its serial port, the test reads what the window wrote and writes what the
// camera would answer. The slave side stays open here as well, so closing
// the window's port never hangs the line up.
class PtyDevice : public QObject
{
    Q_OBJECT

public:
    PtyDevice();
    ~PtyDevice() override;

    QString slavePath() const { return path; }

    // Bytes from the device to the window.
    void write(const QByteArray &bytes);
    // Everything the window has written so far.
    QByteArray received() const { return rx; }
    // Runs the event loop until `count` bytes have come or the time is up.
    bool waitForReceived(int count, int timeoutMs);
    // The line settings the window's port has put on the terminal.
    termios lineSettings() const;
    // Hangs the line up as a pulled USB adapter does.
    void hangUp();

signals:
    void bytesReceived();

private:
    void readMaster();

    int master = -1;
    int slave = -1;
    QString path;
    QSocketNotifier *notifier = nullptr;
    QByteArray rx;
};

#endif // QUILLON_PTYDEVICE_H
