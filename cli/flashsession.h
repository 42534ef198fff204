#ifndef QUILLON_FLASHSESSION_H
#define QUILLON_FLASHSESSION_H

#include "flashoptions.h"
#include "flashreport.h"
#include "isp/hexfile.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

class QSaveFile;
class QSocketNotifier;

namespace Flash {

class PortRun;

// The whole of one quillon-flash command: the command line, the firmware
// read and checked once, a run on every port at once on this thread's event
// loop, the progress, Ctrl-C, the report and the exit status.
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    // Reads the command line and the firmware. Returns the exit status when
    // the program ends here, before any port opens (the help, a usage
    // error, a bad file); otherwise the ports open once the event loop
    // runs, and the loop ends with QCoreApplication::exit(status).
    std::optional<int> begin(const QStringList &arguments);

private:
    void startPorts();
    void onPortFinished();
    void onSignal();
    void finish();
    // Writes the report file, when one was asked for; false when it could not.
    bool writeReport(const QJsonObject &report);

    CommandLine commandLine;
    std::optional<FirmwareImage> image;
    std::unique_ptr<QSaveFile> reportFile;
    QList<PortRun *> runs;
    ProgressPrinter *printer = nullptr;
    QSocketNotifier *signalNotifier = nullptr;
    int interruptingSignal = 0;
    bool finished = false;
};

} // namespace Flash

#endif // QUILLON_FLASHSESSION_H
