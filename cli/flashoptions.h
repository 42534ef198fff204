#ifndef QUILLON_FLASHOPTIONS_H
#define QUILLON_FLASHOPTIONS_H

#include "isp/download.h"

#include <QString>
#include <QStringList>

// The command line of quillon-flash: one firmware file, any number of ports,
// and the options of the upgrade that every port runs.
namespace Flash {

// Exit statuses. A line controller acts on them: 0 when every camera took
// the firmware, otherwise the number of cameras that did not (at most
// kMaxFailedStatus), kExitUsage for a command line or a firmware file that
// let no port open, 128 + the signal's number for a run stopped by Ctrl-C
// (SIGINT: 130) or SIGTERM (143).
constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 2;
constexpr int kMaxFailedStatus = 100;
constexpr int kExitSignalBase = 128;

// A camera that fails again and again has a fault no retry mends.
constexpr int kMaxRetries = 10;

// The --erase word of each mode, also how the report and the header name it.
QString eraseName(Download::EraseMode mode);

struct CommandLine
{
    QString firmwarePath;
    QStringList ports;
    Download::Options upgrade;
    int retries = 0;    // tries after the first, each from the sync
    QString jsonPath;   // empty: no report file
    bool quiet = false; // only the cameras that failed
};

struct ParseResult
{
    enum class Kind { Run, Help, UsageError };
    Kind kind = Kind::UsageError;
    CommandLine commandLine; // for Run
    QString text;            // the help, or what is wrong with the command line
};

// `arguments` as main() gets them, the program's name first. Needs the
// application object (for the program's name in the help).
ParseResult parseCommandLine(const QStringList &arguments);

} // namespace Flash

#endif // QUILLON_FLASHOPTIONS_H
