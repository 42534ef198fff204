#ifndef QUILLON_FLASHREPORT_H
#define QUILLON_FLASHREPORT_H

#include "flashoptions.h"
#include "isp/download.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdio>

// What quillon-flash tells: how each port's run ended (PortRecord), the
// lines a person watches while the cameras are flashed (ProgressPrinter),
// the JSON report a line controller reads, and the exit status.
namespace Flash {

struct PortRecord
{
    enum class Result { Running, Success, Failed, Stopped };

    QString port;
    Result result = Result::Running;
    bool opened = false;        // false: the port did not open (outcome.detail says why)
    Download::Outcome outcome;  // of the last try; Aborted when stopped
    QString part;               // as the bootloader named it, once known
    int bytes = 0;              // written and acknowledged in the last try
    int totalBytes = 0;         // what a try writes
    double seconds = 0;         // from the port's open to its end, all tries
    int tries = 0;
    QStringList earlierFailures; // the tries before the last, in order
    // What the camera is left with, for a port that failed or was stopped:
    // e.g. "stopped while writing the block at 0x08004000: ...".
    QString state;

    bool done() const { return result != Result::Running; }
};

// The text of a record's end for a person: "done, 65792 bytes in 14.6 s",
// "FAILED: NACK to the data of the block at 0x08000200", or the state of a
// stopped port.
QString resultLine(const PortRecord &record);

// One record of the JSON report.
QJsonObject toJson(const PortRecord &record);

// The report's head: the firmware and the options every port ran with.
QJsonObject reportHead(const CommandLine &commandLine, int imageBytes);

// 0 when every camera succeeded, else the number of those that did not, at
// most kMaxFailedStatus; 128 + the signal after an interruption.
int exitStatus(const QList<PortRecord> &records, int interruptingSignal);

// The phase in a few words: "entering the bootloader", "writing", ...
QString phaseText(Download::Job::Phase phase);

// Progress on stdout. Live: one line per port, redrawn in place at most ten
// times a second (for a terminal). Plain: a line when a port enters a phase
// or has news (for a log or a pipe). Quiet: only the ports that failed.
class ProgressPrinter : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Live, Plain, Quiet };

    // Live when `out` is a terminal that can move its cursor and has room
    // for every port's line; Plain otherwise; Quiet when asked.
    static Mode modeFor(std::FILE *out, int ports, bool quiet);

    ProgressPrinter(Mode mode, const QStringList &ports, std::FILE *out, QObject *parent = nullptr);

    Mode mode() const { return printMode; }
    void line(const QString &text); // a line of its own, above the live lines
    void phase(int port, Download::Job::Phase phase);
    void progress(int port, int bytes, int total);
    void note(int port, const QString &text);
    void finished(int port, const PortRecord &record);
    // After the last port: the final lines, the cameras that did not take
    // the firmware, and the count.
    void summary(const QList<PortRecord> &records, bool interrupted);

private:
    struct PortLine
    {
        QString name;
        QString status;
        int percent = 0;
    };

    void changed();
    void redraw();
    void write(const QString &text);
    QString render(const PortLine &port, int width) const;

    const Mode printMode;
    std::FILE *const out;
    QList<PortLine> lines;
    int nameWidth = 0;
    bool drawn = false; // the live lines are on the screen
    QTimer redrawTimer;
};

} // namespace Flash

#endif // QUILLON_FLASHREPORT_H
