#ifndef CAMSIM_BOOTLOADER_H
#define CAMSIM_BOOTLOADER_H

#include "personality.h"
#include "ptyline.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

class EventLog;
class FlashMemory;

// How the bootloader behaves, faults included.
struct BootloaderOptions
{
    quint16 productId = 0x0410;  // answered to Get ID
    quint8 protocolVersion = 0x22; // answered to Get and Get Version
    // The commands it takes, in the order Get lists them; any other is
    // refused like an unknown one.
    QVector<quint8> commands = {0x00, 0x02, 0x11, 0x21, 0x31, 0x43};
    int eraseMs = 300;           // the whole flash; fewer pages take their share by size
    bool startSynced = false;    // already past the 0x7F when it starts
    bool readProtected = false;  // read-out protection level 1: Read Memory is refused
    int nackBlock = 0;           // the data of this Write Memory (from 1) is refused; 0: none
    int silentAfterBlock = -1;   // never answers again after this many writes; negative: no
    int closeAfterBlock = 0;     // the line is closed after this write's ACK; 0: never
    bool failErase = false;      // every erase is refused
    quint32 flashSizeRegister = 0; // F_SIZE: reads give the flash's size in KiB; 0: none
};

// The STM32's ROM bootloader on its USART, as ST's application note AN3155
// describes it. It waits for 0x7F to learn the baud rate, answers ACK (0x79),
// and from then on takes commands: a command byte and its complement, then the
// command's parts (an address of four bytes, most significant first, and the
// XOR of the four; a count and its data with their XOR; a page list). Each
// part is answered ACK or NACK (0x1F) the moment its last byte is in; after a
// NACK the bootloader waits for the next command.
//
// Commands: Get (0x00), Get Version (0x01), Get ID (0x02), Read Memory
// (0x11), Go (0x21), Write Memory (0x31), Erase (0x43: 0xFF 0x00 for all of
// the flash, or a list of one-byte page numbers) and Extended Erase (0x44:
// a two-byte special code, or a list of two-byte page numbers), each only
// when the options list it, as a part's ROM lists its own. Anything else is
// refused.
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
        ExtEraseList, // Extended Erase: a special code or N, then pages, then the XOR
        Erasing,    // busy: bytes wait until the erase is done
        Hung,       // never answers again
        Gone,       // the program is running
    };

    int partLength() const;
    void handle(const QByteArray &part);
    void handleCommand(const QByteArray &part);
    void handleAddress(const QByteArray &part);
    void handleReadCount(const QByteArray &part);
    bool inFlashSizeRegister(quint32 address, int length) const;
    void handleWriteData(const QByteArray &part);
    void handleEraseList(const QByteArray &part);
    void handleExtEraseList(const QByteArray &part);
    // Erases the pages (all of them when `pages` is empty) once the time
    // their size takes has passed.
    void erase(const QVector<int> &pages);
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

// The command codes named in a comma-separated list (get, get-version,
// get-id, read, go, write, erase, ext-erase) in Get's order; nothing if a
// name is not one of these.
std::optional<QVector<quint8>> bootloaderCommands(const QString &list);

// What a part's bootloader takes by default: Get, Get ID, Read Memory, Go,
// Write Memory and its erase command.
QVector<quint8> defaultBootloaderCommands(quint8 eraseCommand);

#endif // CAMSIM_BOOTLOADER_H
