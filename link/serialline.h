#ifndef QUILLON_SERIALLINE_H
#define QUILLON_SERIALLINE_H

#include "isp/bootlink.h"
#include "replyreceiver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>

// The one owner of the serial line to the camera: it opens and closes the
// port, applies the line settings and checks that the adapter took them,
// writes, and cuts what comes back into replies. Every writer goes through
// it. While a bootloader exchange holds the line (hold()), the holder alone
// may write or change the settings; every other writer is refused here.
class SerialLine : public QObject
{
    Q_OBJECT

public:
    enum class OpenError {
        None,
        InUse,      // this window has it open already, or another program holds it
        NotFound,   // no such device
        Permission, // the device exists but this user may not open it
        Other,
    };
    struct OpenResult
    {
        OpenError error = OpenError::None;
        QString reason; // the operating system's words
        // Permission only: the group that owns the device, when its members
        // may read and write it (Linux gives serial adapters to "dialout").
        QString deviceGroup;
        bool ok() const { return error == OpenError::None; }
    };

    explicit SerialLine(QObject *parent = nullptr);
    ~SerialLine() override;

    // Opens the device at `baud`, 8 data bits, no parity, one stop bit, no
    // flow control.
    OpenResult open(const QString &location, qint32 baud);
    // What came before the close still counts as a reply.
    void close();
    bool isOpen() const { return port.isOpen(); }
    bool isHeld() const { return holder != nullptr; }

    // The line for one exchange alone, until the returned link is destroyed
    // or release() is called; nothing while the line is already held. On a
    // closed port the link is lost from the start: it sends nothing and no
    // answer comes.
    std::unique_ptr<BootLink> hold();
    // Ends the hold: the holder's link goes dead (lost) and the line is
    // everyone's again.
    void release();

    // A writer that does not hold the line. False when nothing went out: no
    // bytes, the port is closed, the line is held, or the port refused them.
    bool write(const QByteArray &bytes);
    // Ends the reply in progress now: whatever has come is one reply.
    void endReply();
    // Writes the frames one by one, `gapMs` before each: firmware that
    // stores what a frame carries needs that long between two of them. A
    // frame whose time comes while the line is closed or held is dropped.
    void writePaced(const QList<QByteArray> &frames, int gapMs);

    // Line settings for the next open, or at once on an open port. Refused
    // (false) while the line is held, and when the adapter does not take them.
    bool setBaudRate(qint32 baud);
    bool setParity(QSerialPort::Parity parity);

    // A pseudo-terminal carries no parity bit: it takes 8E1 and reads back
    // 8N1. The camera simulator lives on one, so pseudo-terminals are spared
    // that check unless this is switched off.
    void setPseudoTerminalExempt(bool exempt) { ptyExempt = exempt; }

signals:
    // One reply: the bytes that came back-to-back (see ReplyReceiver).
    void batchReady(const QByteArray &batch);
    // The line is gone (adapter pulled, terminal hung up) while open.
    void lineLost();

private:
    class Hold;

    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void writeHeld(const QByteArray &bytes);
    bool driverHoldsInput() const;
    bool writeToDriver(const QByteArray &bytes);
    bool apply(qint32 baud, QSerialPort::Parity parity, QString *why);
    bool adapterTook(qint32 baud, QSerialPort::Parity parity) const;
    void writeNextPaced();

    QSerialPort port;
    ReplyReceiver receiver;
    Hold *holder = nullptr;
    bool ptyExempt = true;
    bool lossReported = false;
    QList<QByteArray> pacedFrames;
    QTimer pacedTimer;
};

#endif // QUILLON_SERIALLINE_H
