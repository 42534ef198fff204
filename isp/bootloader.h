#ifndef QUILLON_BOOTLOADER_H
#define QUILLON_BOOTLOADER_H

#include "bootlink.h"

#include <QByteArray>
#include <QString>

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
    Timeout,   // no answer byte within the bound (or the line is gone)
    Aborted,   // the link was told to stop
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

class Dialogue
{
public:
    explicit Dialogue(BootLink &link) : bootLink(link) {}

    Result sync();
    // Get ID: on success *productId holds the two product-ID bytes.
    Result getId(quint16 *productId);
    Result eraseCommand();                 // 43 BC
    Result globalErase();                  // FF 00, bounded by kMassEraseTimeoutMs
    Result writeBlock(quint32 address, const QByteArray &data); // 1..256 bytes
    Result go(quint32 address);

private:
    // Sends the part, then waits for ACK or NACK received after it. Other
    // bytes (line noise) are skipped.
    Result exchange(Step step, const QByteArray &part, int timeoutMs, quint32 address = 0);

    BootLink &bootLink;
};

} // namespace Stm32Boot

#endif // QUILLON_BOOTLOADER_H
