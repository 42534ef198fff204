#ifndef QUILLON_BOOTLOADER_H
#define QUILLON_BOOTLOADER_H

#include "bootlink.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// The STM32 system bootloader's USART protocol (ST application note AN3155),
// one function per command. Every command byte goes out with its complement;
// after each part the device answers ACK (0x79) or NACK (0x1F), and the
// dialogue goes on the moment that answer arrives. Every wait is bounded.
namespace Stm32Boot {

constexpr quint8 kSync = 0x7F;
constexpr quint8 kAck = 0x79;
constexpr quint8 kNack = 0x1F;
constexpr quint8 kCmdGetId = 0x02;
constexpr quint8 kCmdErase = 0x43;
constexpr quint8 kCmdWriteMemory = 0x31;
constexpr quint8 kCmdGo = 0x21;
constexpr quint8 kGlobalErase = 0xFF; // erase code 0xFF, checksum 0x00

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kWriteBlockBytes = 256;

// The device answers every part within a few milliseconds...
constexpr int kAckTimeoutMs = 1000;
// ...except the global erase, which takes many seconds on large parts.
constexpr int kMassEraseTimeoutMs = 40000;

// The camera's firmware frames that hand the line to the bootloader and back.
const QByteArray &enterIapFrame(); // 89 02 07 63 58 FF
const QByteArray &exitIapFrame();  // 89 02 07 63 57 FF

enum class Step { Sync, GetId, EraseCommand, GlobalErase, WriteCommand, WriteAddress, WriteData, GoCommand, GoAddress };

enum class Answer {
    Ack,
    Nack,
    Timeout, // no answer within the bound, or the line is gone
};

struct Result
{
    Answer answer = Answer::Ack;
    Step step = Step::Sync;
    quint32 address = 0; // for the write and go steps

    bool ok() const { return answer == Answer::Ack; }
    // E.g. "NACK to the data of the block at 0x08000300".
    QString text() const;
};

// One exchange at a time over a link the caller holds alone. Each command
// takes the function to call with its result; it is called exactly once,
// from the event loop, unless stop() comes first.
class Dialogue : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const Result &)>;
    // For commands whose ACK is followed by data: the data bytes.
    using DoneWithData = std::function<void(const Result &, const QByteArray &data)>;

    explicit Dialogue(BootLink &link, QObject *parent = nullptr);

    void sync(Done done);
    // Get ID: on success the data are the product-ID bytes (two on STM32).
    void getId(DoneWithData done);
    void eraseCommand(Done done);                                 // 43 BC
    void globalErase(Done done);                                  // FF 00, bounded by kMassEraseTimeoutMs
    void writeBlock(quint32 address, const QByteArray &data, Done done); // 1..256 bytes
    void go(quint32 address, Done done);

    // Ends the exchange in progress: its function is never called.
    void stop();

private:
    // What follows the ACK of a part.
    enum class Tail {
        None,
        Counted, // N, then N + 1 data bytes, then a closing ACK (Get, Get ID)
    };

    // Sends the part, then waits for ACK or NACK received after it. Other
    // bytes (line noise, the 0x00 some adapters produce when the line
    // changes) are skipped.
    void exchange(Step step, quint32 address, const QByteArray &part, int timeoutMs, Tail tail,
                  DoneWithData done);
    void onReceived(const QByteArray &bytes);
    void finish(Answer answer);

    BootLink &link;
    int stops = 0; // stop() calls so far

    // The exchange in progress.
    DoneWithData pending;
    Step step = Step::Sync;
    quint32 address = 0;
    Tail tail = Tail::None;
    bool acknowledged = false;
    int dataBytes = -1; // Counted: known once N has come
    QByteArray data;
};

} // namespace Stm32Boot

#endif // QUILLON_BOOTLOADER_H
