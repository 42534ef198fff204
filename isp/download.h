#ifndef QUILLON_DOWNLOAD_H
#define QUILLON_DOWNLOAD_H

#include "bootloader.h"
#include "hexfile.h"

#include <QObject>

// Work with the camera's bootloader that holds the line from start to end:
// the whole upgrade of a checked image (Enter IAP at 9600 8N1, the bootloader
// at 57600 8E1, sync, global erase, every block, Go 0x08000000, Exit IAP at
// 9600 8N1), and the single steps the window also offers.
namespace Download {

constexpr qint32 kCameraBaud = 9600;
constexpr qint32 kBootloaderBaud = 57600;
// The camera firmware needs this long after Enter IAP to jump into the ROM
// bootloader, which does not answer meanwhile.
constexpr int kBootloaderStartMs = 1030;
// After a line change the adapter needs a moment before the first byte.
constexpr int kLineSettleMs = 20;

enum class End {
    Success,
    LineRefused,        // the adapter did not take the line settings
    NoSync,             // no ACK to 0x7F
    EraseCommandFailed, // 43 BC not acknowledged
    EraseFailed,        // global erase not acknowledged
    BlockFailed,        // a block before the last not acknowledged
    FinalBlockFailed,   // the last block not acknowledged
    LineLostBeforeGo,   // every block written, but the line went before Go reached the device
    GetIdFailed,        // the single Get ID step
    Aborted,            // the job was told to stop: nothing more is reported
};

struct Outcome
{
    End end = End::Success;
    Stm32Boot::Result failure; // the step that failed, for the bootloader's ends
    QString detail;            // what went wrong, in a few words, for the trace

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

    Job(Kind kind, BootLink &link, QObject *parent = nullptr);
    Job(BootLink &link, const FirmwareImage &image, QObject *parent = nullptr); // an upgrade

    Kind kind() const { return jobKind; }
    void start();
    // Stops at once: nothing more is sent and finished(Aborted) comes now.
    void abort();
    bool isRunning() const { return running; }
    // The line went away while the job held it.
    bool lineLost() const { return link.isLost(); }

signals:
    // Trace lines, in order: "Enter IAP Success", "Erase Command Success",
    // "Erase All Start", "Just a few seconds, please.", "File Open Success",
    // "Go 0x08000000".
    void trace(const QString &line);
    // Bytes acknowledged so far (256 per block) of `total`, after every block.
    void progress(int bytes, int total);
    void finished(const Download::Outcome &outcome);

private:
    // The upgrade, phase by phase; each phase starts the next when its
    // answer has come.
    void enterBootloader();
    void synchronise();
    void eraseAll(std::function<void()> then);
    void writeBlocks();
    void writeNext();
    void startProgram(std::function<void()> then);
    void leaveBootloader();

    void getId();

    // Runs `then` after ms milliseconds on the link's timer.
    void after(int ms, std::function<void()> then);
    // Each false when the job has ended (refused, or stopped meanwhile).
    bool configure(qint32 baud, BootLink::Parity parity);
    bool send(const QByteArray &bytes);
    // Emits the line; false when the job was stopped meanwhile.
    bool traceLine(const char *line);
    void fail(End end, const Stm32Boot::Result &result);
    void end(const Outcome &outcome);

    const Kind jobKind;
    BootLink &link;
    Stm32Boot::Dialogue dialogue;
    QList<FirmwareImage::Block> blocks;
    int nextBlock = 0;
    bool running = false;
    // A pause in progress: what runs when the link's timer fires.
    std::function<void()> afterPause;
};

} // namespace Download

Q_DECLARE_METATYPE(Download::Outcome)

#endif // QUILLON_DOWNLOAD_H
