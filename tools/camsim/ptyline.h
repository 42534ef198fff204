#ifndef CAMSIM_PTYLINE_H
#define CAMSIM_PTYLINE_H

#include "precisetimer.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

class EventLog;
class QSocketNotifier;

// The line settings the window has put on the serial line, as the simulator
// reads them back from the pseudo-terminal.
struct LineSettings
{
    int baud = 0;
    int bitsPerByte = 0; // start bit + data bits + parity bit + stop bits

    bool operator==(const LineSettings &other) const
    {
        return baud == other.baud && bitsPerByte == other.bitsPerByte;
    }
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
};

// Linux pseudo-terminals drop the parity flag whatever the window asks for,
// so the parity can be forced from the command line.
enum class ParityChoice { FromLine, None, Even, Odd };

// The camera's end of the serial cable: the master side of a pseudo-terminal
// whose slave the window opens as its serial port.
//
// The simulator holds a descriptor of the slave itself for its whole life, so
// the master never reads EIO when the window closes its port.
//
// With wire time on, the line behaves like a real UART at the baud rate and
// framing the window set: every byte takes bitsPerByte / baud seconds, bytes
// follow one another, and a byte counts as received (or, going out, as
// delivered) only when its last bit is through. Received bytes are queued with
// their arrival times and handed on when the byte the listener waits for is
// through (a bootloader acts on whole parts: waking it for every byte would
// only cost time); outgoing bytes are written to the master in the small
// groups whose delivery time has come, the last byte of a reply exactly on
// time. Nanosecond timers drive both queues.
class PtyLine : public QObject
{
    Q_OBJECT

public:
    PtyLine(EventLog &log, bool wireTime, ParityChoice parity, QObject *parent = nullptr);
    ~PtyLine() override;

    bool open(QString *error);
    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return slaveName; }

    // Sends bytes to the window: at once, or paced at the line's speed.
    void send(const QByteArray &bytes);

    // When the last byte sent so far is through, on the clock of the log.
    qint64 outputDoneNs() const;

    // How many more bytes the listener needs before it can act on them; with
    // wire time, received bytes are handed on when that many are through.
    void setWanted(std::function<int()> wanted);
    // The count may have changed outside a delivery (a new listener).
    void rescheduleInput();

    // The parity the line is taken to carry when the command line does not
    // force one: the pseudo-terminal drops the flag, but the STM32 bootloader
    // always runs with even parity.
    void setAssumedParity(ParityChoice assumed);

    // Closes master and slave: the window's port sees the cable pulled.
    void close();

    // Reads the line settings and records a "line" event when they differ
    // from the ones recorded last.
    LineSettings noticeLineSettings();

signals:
    // Bytes from the window that have now arrived (a whole read, or with wire
    // time the bytes whose arrival time has come).
    void bytesArrived(const QByteArray &bytes);

private:
    struct TimedByte
    {
        qint64 dueNs;
        char byte;
    };

    LineSettings readLineSettings() const;
    qint64 byteTimeNs();
    void readMaster();
    void deliverDueInput();
    void moveDueOutput();
    void flushWrites();
    void scheduleInput();
    void scheduleOutput();

    EventLog &log;
    const bool wireTime;
    const ParityChoice parity;
    ParityChoice assumedParity = ParityChoice::FromLine;
    std::function<int()> wantedBytes;

    int masterFd = -1;
    int slaveFd = -1;
    QString slaveName;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;

    LineSettings recorded;

    // Wire time: bytes on their way in, and on their way out; the time the
    // last queued byte of each direction leaves the wire.
    std::deque<TimedByte> incoming;
    std::deque<TimedByte> outgoing;
    qint64 incomingFreeNs = 0;
    qint64 outgoingFreeNs = 0;
    // While received bytes are being handed on: when the last of them was
    // through, the time a reply made meanwhile starts from. Else -1.
    qint64 replyBaseNs = -1;
    PreciseTimer incomingTimer;
    PreciseTimer outgoingTimer;

    // Bytes due to the window that the master could not take yet.
    QByteArray unwritten;

    QTimer readRetryTimer;
};

#endif // CAMSIM_PTYLINE_H
