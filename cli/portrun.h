#ifndef QUILLON_PORTRUN_H
#define QUILLON_PORTRUN_H

#include "flashreport.h"
#include "isp/download.h"
#include "isp/hexfile.h"
#include "link/serialline.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace Flash {

// One camera's upgrade on its own port: opens the port at the camera's 9600
// baud, runs the upgrade job on it, and, when the job fails in a way a new
// try can mend, runs a new job from the sync (the camera's bootloader is
// still listening, synchronised: the job's recovery finds it so). The port
// stays open from the first try to the last, so no other program can take
// it in between, and closes when the run ends.
class PortRun : public QObject
{
    Q_OBJECT

public:
    // `image` must outlive the run.
    PortRun(const QString &port, const FirmwareImage &image, const Download::Options &options, int retries,
            QObject *parent = nullptr);
    ~PortRun() override;

    void start();
    // Stops at once (Ctrl-C): nothing more is sent, the port closes, and the
    // record says where the camera was left. finished() comes before this
    // returns, unless the run had ended already.
    void stop();

    const PortRecord &record() const { return rec; }

signals:
    void phaseChanged(Download::Job::Phase phase);
    void progress(int bytes, int total);
    // News a person wants in the log: the part, a bootloader found
    // synchronised, a failed try and the next one.
    void note(const QString &text);
    void finished();

private:
    void startTry();
    void onTrace(const QString &line);
    void onProgress(int bytes, int total);
    void onJobFinished(const Download::Outcome &outcome);
    bool worthRetrying(const Download::Outcome &outcome) const;
    // What the camera is left with when the run ends in the current phase.
    QString leftWith() const;
    // Where the job was, for a stop: "while writing the block at 0x08004000".
    QString where() const;
    void end(PortRecord::Result result);

    SerialLine line;
    const FirmwareImage &image;
    const Download::Options firstTry;
    int retriesLeft;
    Download::Job *job = nullptr; // owns the line's hold
    QTimer retryTimer;
    QElapsedTimer clock;
    Download::Job::Phase phase = Download::Job::Phase::EnterBootloader; // of the try in progress, or the last
    Download::Job::Phase furthest = Download::Job::Phase::EnterBootloader; // of all tries
    bool anyBlockWritten = false;
    bool lineLost = false;
    int progressBytes = 0; // as the job reports it: written, then read back
    PortRecord rec;
};

} // namespace Flash

#endif // QUILLON_PORTRUN_H
