#ifndef CAMSIM_SIMULATOR_H
#define CAMSIM_SIMULATOR_H

#include "bootloader.h"
#include "firmware.h"
#include "flash.h"
#include "parts.h"
#include "personality.h"
#include "ptyline.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class EventLog;
class QSocketNotifier;
class UdpListener;

struct SimulatorOptions
{
    QString linkPath;          // symlink kept pointing at the slave; empty for none
    bool wireTime = false;
    ParityChoice parity = ParityChoice::FromLine;
    bool silent = false;
    int garbageEveryMs = 0;    // 0: no garbage
    int closeAfterMs = -1;     // negative: never
    int completionDelayMs = 20;
    CameraState camera;

    bool bootloaderPresent = true; // false: Enter IAP is ignored
    Part part = partFor(0x0410);   // the controller: its flash layout
    int flashKib = 128;
    int residentKib = 0;           // a resident bootloader in front of the old program
    QString flashOutPath;          // the flash image is written here; empty for none
    BootloaderOptions bootloader;

    int udpPort = -1;              // negative: no UDP listener
};

// The simulated camera: the pseudo-terminal line, the personality answering
// on it, the flash its bootloader writes, its UDP side, and the things a bench
// adds (line noise, a cable pulled after a while, a stable device name, the
// flash image in a file).
class Simulator : public QObject
{
    Q_OBJECT

public:
    Simulator(EventLog &log, const SimulatorOptions &options, QObject *parent = nullptr);
    ~Simulator() override;

    // Opens the line, prints its path, makes the link, starts the timers.
    bool start(QString *error);

    // SIGINT and SIGTERM end the simulator cleanly through the event loop.
    static bool catchTerminationSignals(QString *error);

private:
    void sendReply(const QByteArray &bytes);
    void sendGarbageByte();
    void closeLine();
    void onTerminationSignal();
    void switchPersonality(Personality::Mode mode, bool synced = false);
    void programStarted(quint32 address);
    void closeWhenReplySent();
    void writeFlashImage();
    bool makeLink(QString *error);
    void removeLink();

    EventLog &log;
    const SimulatorOptions options;
    PtyLine line;
    CameraState camera;
    FlashMemory flash;
    std::unique_ptr<UdpListener> udp;
    std::unique_ptr<Personality> personality;
    QTimer garbageTimer;
    QSocketNotifier *signalNotifier = nullptr;
    quint32 noiseState;
    bool linkMade = false;
};

#endif // CAMSIM_SIMULATOR_H
