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
constexpr quint8 kCmdGet = 0x00;
constexpr quint8 kCmdGetId = 0x02;
constexpr quint8 kCmdReadMemory = 0x11;
constexpr quint8 kCmdGo = 0x21;
constexpr quint8 kCmdWriteMemory = 0x31;
constexpr quint8 kCmdErase = 0x43;         // bootloader versions below 3.0
constexpr quint8 kCmdExtendedErase = 0x44; // 3.0 and later: two-byte page numbers
constexpr quint8 kGlobalErase = 0xFF;      // erase code 0xFF, checksum 0x00
constexpr quint16 kMassErase = 0xFFFF;     // Extended Erase's code, checksum 0x00
// One erase command takes at most this many pages (N is one byte, 0xFF
// meaning the global erase).
constexpr int kMaxPagesPerErase = 255;

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kWriteBlockBytes = 256;
constexpr int kReadBlockBytes = 256;

// The device answers every part within a few milliseconds...
constexpr int kAckTimeoutMs = 1000;
// ...except the global erase, which takes many seconds on large parts.
constexpr int kMassEraseTimeoutMs = 40000;

// How addresses are written in traces, messages and reports: "0x08000300".
QString hexAddress(quint32 address);
// The product ID in Get ID's bytes (two on STM32, the high byte first).
quint16 productId(const QByteArray &idBytes);

// The camera's firmware frames that hand the line to the bootloader and back.
const QByteArray &enterIapFrame(); // 89 02 07 63 58 FF
const QByteArray &exitIapFrame();  // 89 02 07 63 57 FF

// The steps in the order of a run; those from WriteCommand on name an
// address.
enum class Step {
    Sync,
    Get,
    GetId,
    EraseCommand,
    ExtendedEraseCommand,
    GlobalErase,
    PageErase,
    WriteCommand,
    WriteAddress,
    WriteData,
    ReadCommand,
    ReadAddress,
    ReadLength,
    GoCommand,
    GoAddress,
};

enum class Answer {
    Ack,
    Nack,
    Timeout, // no answer within the bound, or the line is gone
};

struct Result
{
    Answer answer = Answer::Ack;
    Step step = Step::Sync;
    quint32 address = 0; // for the write, read and go steps (the page erase: its first page)

    bool ok() const { return answer == Answer::Ack; }
    // Whether `address` is a memory address: the write, read and go steps.
    bool hasAddress() const { return step >= Step::WriteCommand; }
    // A bootloader that lists Read Memory yet refuses it guards a chip whose
    // read-out protection is on.
    bool readOutProtected() const { return step == Step::ReadCommand && answer == Answer::Nack; }
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

    // 0x7F, the byte the bootloader measures the baud rate on. A bootloader
    // that an earlier run left synchronised takes it for the first byte of a
    // command: it answers NACK at once, or, when a stray byte came first,
    // nothing until a second 0x7F completes the pair. So no answer is
    // followed by a second 0x7F, and a NACK to either means "synchronised
    // already" (`alreadySynced`); the result is an ACK then.
    void sync(std::function<void(const Result &, bool alreadySynced)> done);
    // Get: on success the data are the protocol version and the codes of
    // the commands the bootloader takes.
    void get(DoneWithData done);
    // Get ID: on success the data are the product-ID bytes (two on STM32).
    void getId(DoneWithData done);
    // The erase command: 43 BC, or 44 BB for Extended Erase.
    void eraseCommand(bool extended, Done done);
    // After the command's ACK: the whole flash (FF 00, or FF FF 00).
    void globalErase(bool extended, Done done);
    // After the command's ACK: the pages of the list, at most
    // kMaxPagesPerErase (one byte each, or two with Extended Erase).
    void erasePages(bool extended, const QList<int> &pages, Done done);
    // 1..256 bytes. `dataSent` runs once the data part is on its way: the
    // bootloader takes a while to receive it, the caller's time to spare.
    void writeBlock(quint32 address, const QByteArray &data, Done done, std::function<void()> dataSent = {});
    // Read Memory: on success the data are the `length` (1..256) bytes.
    // `requested` runs once the bytes have been asked for: they take a while
    // to come, the caller's time to spare.
    void readMemory(quint32 address, int length, DoneWithData done, std::function<void()> requested = {});
    void go(quint32 address, Done done);

    // Ends the exchange in progress: its function is never called.
    void stop();

private:
    // What follows the ACK of a part.
    enum class Tail {
        None,
        Counted, // N, then N + 1 data bytes, then a closing ACK (Get, Get ID)
        Fixed,   // a known number of data bytes (Read Memory)
    };

    // Sends the part, then waits for ACK or NACK received after it. Other
    // bytes (line noise, the 0x00 some adapters produce when the line
    // changes) are skipped.
    void exchange(Step step, quint32 address, const QByteArray &part, int timeoutMs, Tail tail,
                  DoneWithData done, int fixedBytes = 0);
    // The exchange, but its function takes the result alone.
    void exchange(Step step, quint32 address, const QByteArray &part, int timeoutMs, Done done);
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
