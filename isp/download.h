#ifndef QUILLON_DOWNLOAD_H
#define QUILLON_DOWNLOAD_H

#include "bootloader.h"
#include "hexfile.h"
#include "stm32parts.h"

#include <QObject>

// Work with the camera's bootloader that holds the line from start to end:
// the whole upgrade of a checked image, and the single steps the window also
// offers.
//
// The upgrade: Enter IAP at 9600 8N1 (the camera firmware hands over to the
// ROM bootloader), the bootloader at 57600 (or 115200) 8E1, the sync (which
// also finds a bootloader an earlier run left synchronised), Get and Get ID
// to learn the bootloader's commands and the part, a check that the chip can
// hold every byte of the image before anything is erased, the erase (the
// whole flash, or only the pages the image needs), every block, an optional
// read-back, Go 0x08000000 (both parts acknowledged), and Exit IAP at 9600.
namespace Download {

constexpr qint32 kCameraBaud = 9600;
constexpr qint32 kBootloaderBaud = 57600;
constexpr qint32 kFastBootloaderBaud = 115200;
// The camera firmware needs this long after Enter IAP to jump into the ROM
// bootloader, which does not answer meanwhile.
constexpr int kBootloaderStartMs = 1030;
// After a line change the adapter needs a moment before the first byte.
constexpr int kLineSettleMs = 20;

enum class EraseMode {
    WholeChip, // the whole flash; the image must hold the start vector
    Pages,     // only the pages (sectors) the image's blocks fall into
};

// The trace line of a bootloader that an earlier run left synchronised.
inline constexpr char kAlreadySynchronisedTrace[] = "Bootloader already synchronised (left so by an earlier run)";

struct Options
{
    qint32 bootloaderBaud = kBootloaderBaud;
    // The camera firmware's frames around the bootloader's work: false for a
    // camera already in its bootloader (or a run retried from the sync).
    bool enterIap = true;
    bool exitIap = true;
    EraseMode erase = EraseMode::WholeChip;
    bool verify = false;
};

enum class End {
    Success,
    LineRefused,        // the adapter did not take the line settings
    NoSync,             // no answer to 0x7F
    IdentifyFailed,     // Get or Get ID not answered
    ImageRefused,       // the chip cannot hold the image (or not safely): nothing erased
    EraseCommandFailed, // 43 BC / 44 BB not acknowledged
    EraseFailed,        // the erase itself not acknowledged
    BlockFailed,        // a block before the last not acknowledged
    FinalBlockFailed,   // the last block not acknowledged
    VerifyFailed,       // a block read back differs, or cannot be read
    GoUnconfirmed,      // the program is written; Go was not acknowledged
    LineLostBeforeGo,   // every block written, but the line went before Go reached the device
    GetIdFailed,        // the single Get ID step
    Aborted,            // the job was told to stop: nothing more is reported
};

struct Outcome
{
    End end = End::Success;
    Stm32Boot::Result failure; // the step that failed, for the bootloader's ends
    QString detail;            // what went wrong, in a few words

    // E.g. "NACK to the data of the block at 0x08000300".
    QString text() const { return detail.isEmpty() ? failure.text() : detail; }
};

// One job on a link it holds alone. start() returns at once; the job reports
// by its signals and ends with finished(), exactly once, after which it
// touches the link no more.
class Job : public QObject
{
    Q_OBJECT

public:
    enum class Kind {
        Upgrade,  // the whole download of the image
        GetId,    // traces "Product ID: xxxx" or "Get ID Fail"
        EraseAll, // Erase command and global erase
        Go,       // Go 0x08000000
    };
    // Where an upgrade is, for whoever shows its progress.
    enum class Phase { EnterBootloader, Identify, Erase, Write, Verify, Start, Done };

    Job(Kind kind, BootLink &link, QObject *parent = nullptr);
    // An upgrade.
    Job(BootLink &link, const FirmwareImage &image, const Options &options, QObject *parent = nullptr);

    Kind kind() const { return jobKind; }
    void start();
    // Stops at once: nothing more is sent and finished(Aborted) comes now.
    void abort();
    bool isRunning() const { return running; }
    // The line went away while the job held it.
    bool lineLost() const { return link.isLost(); }
    // The part as the trace named it, once known (e.g. "STM32F10x
    // medium density, 128 KiB flash, bootloader 2.2").
    QString partDescription() const { return description; }
    // The blocks the upgrade writes (known once the part is): each is written
    // and, with the read-back, read again.
    int blockCount() const { return int(blocks.size()); }

signals:
    // Trace lines, in order: "Enter IAP Success", (when an earlier run left
    // the bootloader synchronised) "Bootloader already synchronised", the
    // part, "Erase Command Success", "Erase All Start", "Just a few
    // seconds, please." (or the pages erased), "File Open Success", (after a
    // read-back) "Verify Success", "Go 0x08000000".
    void trace(const QString &line);
    void phaseChanged(Download::Job::Phase phase);
    // Bytes acknowledged so far of `total`: written, then read back.
    void progress(int bytes, int total);
    void finished(const Download::Outcome &outcome);

private:
    // The upgrade, phase by phase; each phase starts the next when its
    // answer has come.
    void enterBootloader();
    void synchronise();
    void identify();
    void identifyPart(const QByteArray &id);
    void readFlashSize();
    void checkImage();
    void erase();
    void eraseAll(std::function<void()> then);
    void eraseNextPages();
    void writeBlocks();
    void writeNext();
    void verifyNext();
    void startProgram(std::function<void()> then);
    void leaveBootloader();

    void getId();

    // Runs `then` after ms milliseconds on the link's timer.
    void after(int ms, std::function<void()> then);
    // Each false when the job has ended (refused, or stopped meanwhile).
    bool configure(qint32 baud, BootLink::Parity parity);
    bool send(const QByteArray &bytes);
    // Emits the line; false when the job was stopped meanwhile.
    bool traceLine(const QString &line);
    bool enter(Phase phase);
    bool offers(quint8 command) const { return commands.contains(char(command)); }
    bool extendedErase() const { return offers(Stm32Boot::kCmdExtendedErase); }
    void reportProgress(int done);
    void fail(End end, const Stm32Boot::Result &result);
    void refuse(End end, const QString &detail);
    void end(const Outcome &outcome);

    Job(Kind kind, BootLink &link, const FirmwareImage &image, const Options &options, QObject *parent);

    const Kind jobKind;
    BootLink &link;
    Stm32Boot::Dialogue dialogue;
    const FirmwareImage image;
    const Options options;
    bool running = false;
    // A pause in progress: what runs when the link's timer fires.
    std::function<void()> afterPause;

    // What the bootloader said of itself.
    quint8 version = 0;
    QByteArray commands;
    const Stm32Parts::Part *part = nullptr;
    quint16 productId = 0;
    quint32 flashBytes = 0; // 0: unknown
    QString description;

    // The work: the blocks to write, the pages to erase, where the job is.
    QList<FirmwareImage::Block> blocks;
    QList<int> pagesToErase;
    int pagesErased = 0;
    int nextBlock = 0;
};

} // namespace Download

Q_DECLARE_METATYPE(Download::Outcome)

#endif // QUILLON_DOWNLOAD_H
