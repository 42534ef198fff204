#ifndef CAMSIM_BOOTLOADER_H
#define CAMSIM_BOOTLOADER_H

#include "personality.h"
#include "ptyline.h"

#include <QByteArray>
#include <QJsonObject>

#include <functional>

class EventLog;
class FlashMemory;

// How the bootloader behaves, faults included.
struct BootloaderOptions
{
    quint16 productId = 0x0410;  // answered to Get ID
    int eraseMs = 300;           // a global erase; a page list takes its share
    int nackBlock = 0;           // the data of this Write Memory (from 1) is refused; 0: none
    int silentAfterBlock = -1;   // never answers again after this many writes; negative: no
    int closeAfterBlock = 0;     // the line is closed after this write's ACK; 0: never
    bool failErase = false;      // every erase is refused
};

// The STM32's ROM bootloader on its USART, as ST's application note AN3155
// describes it. It waits for 0x7F to learn the baud rate, answers ACK (0x79),
// and from then on takes commands: a command byte and its complement, then the
// command's parts (an address of four bytes, most significant first, and the
// XOR of the four; a count and its data with their XOR; a page list). Each
// part is answered ACK or NACK (0x1F) the moment its last byte is in; after a
// NACK the bootloader waits for the next command.
//
// Commands: Get (0x00), Get ID (0x02), Read Memory (0x11), Go (0x21), Write
// Memory (0x31) and Erase (0x43: 0xFF 0x00 for all of the flash, or a list of
// 1 KiB pages). Anything else is refused.
class BootloaderPersonality : public Personality
{
    Q_OBJECT

public:
    BootloaderPersonality(EventLog &log, FlashMemory &flash, const BootloaderOptions &options,
                          std::function<LineSettings()> lineSettings, QObject *parent = nullptr);

    Mode mode() const override { return Mode::Bootloader; }
    void bytesArrived(const QByteArray &bytes) override;
    int bytesWanted() const override;

signals:
    // Go was acknowledged: the program at `address` runs from now on.
    void jumped(quint32 address);
    // The write named by closeAfterBlock was acknowledged: the line goes.
    void lineCloseRequested();

private:
    enum class Stage {
        Sync,       // after reset: waiting for 0x7F
        Command,    // command byte and complement
        Address,    // four address bytes and their XOR
        ReadCount,  // Read Memory: N and its complement
        WriteData,  // Write Memory: N, N + 1 bytes, XOR of N and the bytes
        EraseList,  // Erase: FF 00, or N, N + 1 page numbers and their XOR
        Erasing,    // busy: bytes wait until the erase is done
        Hung,       // never answers again
        Gone,       // the program is running
    };

    int partLength() const;
    void handle(const QByteArray &part);
    void handleCommand(const QByteArray &part);
    void handleAddress(const QByteArray &part);
    void handleReadCount(const QByteArray &part);
    void handleWriteData(const QByteArray &part);
    void handleEraseList(const QByteArray &part);
    void finishErase();
    void logIgnored(const QByteArray &bytes);

    // Ends the command: puts it on record and answers ACK (followed by
    // `data`) or NACK.
    void accept(const QByteArray &data = QByteArray());
    void refuse(const char *reason, bool checksumBad = false);

    EventLog &log;
    FlashMemory &flash;
    const BootloaderOptions options;
    const std::function<LineSettings()> lineSettings;

    Stage stage = Stage::Sync;
    QByteArray pending;
    quint8 opcode = 0;
    quint32 address = 0;
    QJsonObject record; // the command being received
    int writes = 0;     // Write Memory commands whose data arrived
    int writesAcked = 0;
};

#endif // CAMSIM_BOOTLOADER_H
