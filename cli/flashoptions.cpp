#include "flashoptions.h"

#include <QCommandLineParser>
#include <QSet>

namespace Flash {

namespace {

// What the help says after the options: what a script reads back.
const char *const kHelpEpilogue =
    "\n"
    "Every port runs the whole upgrade at once and on its own: Enter IAP at 9600 8N1, the\n"
    "STM32 bootloader at the chosen baud rate 8E1, erase, write, read-back (--verify), Go\n"
    "0x08000000, Exit IAP. A camera that fails stops no other. The firmware file is read\n"
    "and checked before any port opens.\n"
    "\n"
    "Exit status:\n"
    "  0        every camera took the firmware\n"
    "  1..100   the number of cameras that did not (a port that does not open counts)\n"
    "  2        also: a wrong command line, or a firmware file that cannot be read or is\n"
    "           damaged; no port was opened (with --json the report's \"error\" says why)\n"
    "  130      stopped by Ctrl-C (143: by SIGTERM); each port's state is printed\n"
    "\n"
    "The --json report: {\"firmware\", \"image_bytes\", \"baud\", \"erase\", \"verify\", \"iap\",\n"
    "\"retries\", \"interrupted\", \"exit_status\", \"error\", \"ports\": [one record per port:\n"
    "\"port\", \"result\" (success, failed, stopped), \"part\", \"bytes\", \"total_bytes\",\n"
    "\"seconds\", \"tries\", \"end\", \"step\", \"address\", \"page\", \"answer\", \"detail\",\n"
    "\"state\", \"earlier_failures\"]}.\n";

std::optional<int> number(const QString &text, int lowest, int highest)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

ParseResult usageError(const QString &text)
{
    ParseResult result;
    result.kind = ParseResult::Kind::UsageError;
    result.text = text;
    return result;
}

} // namespace

QString eraseName(Download::EraseMode mode)
{
    return mode == Download::EraseMode::WholeChip ? QStringLiteral("all") : QStringLiteral("pages");
}

ParseResult parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades the firmware of many PTZ cameras at once, one serial port each, through the\n"
        "STM32 ROM bootloader of each camera's controller."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption baudOption(
        {QStringLiteral("b"), QStringLiteral("baud")},
        QStringLiteral("Baud rate of the bootloader dialogue: 57600 or 115200 (default: %1).")
            .arg(Download::kBootloaderBaud),
        QStringLiteral("rate"), QString::number(Download::kBootloaderBaud));
    const QCommandLineOption verifyOption({QStringLiteral("v"), QStringLiteral("verify")},
                                          QStringLiteral("Read every block back after writing (default: off)."));
    const QCommandLineOption eraseOption(
        {QStringLiteral("e"), QStringLiteral("erase")},
        QStringLiteral("What to erase: all (the whole flash) or pages (only the pages the firmware needs, for "
                       "a camera with a resident bootloader or calibration in its flash) (default: all)."),
        QStringLiteral("what"), eraseName(Download::EraseMode::WholeChip));
    const QCommandLineOption noIapOption(
        QStringLiteral("no-iap"),
        QStringLiteral("Send neither Enter IAP nor Exit IAP: the camera is in its bootloader already (left "
                       "there by an earlier run), or the board has no camera firmware (default: off)."));
    const QCommandLineOption retriesOption(
        {QStringLiteral("r"), QStringLiteral("retries")},
        QStringLiteral("Try a failed camera again up to <n> times (0 to %1), from the sync: its bootloader "
                       "is still listening (default: 0).")
            .arg(kMaxRetries),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption jsonOption(
        {QStringLiteral("j"), QStringLiteral("json")},
        QStringLiteral("Write the report to <file>: one record per port (see below)."), QStringLiteral("file"));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("No progress: print only the cameras that failed."));
    parser.addOptions({helpOption, baudOption, verifyOption, eraseOption, noIapOption, retriesOption, jsonOption,
                       quietOption});
    parser.addPositionalArgument(QStringLiteral("FIRMWARE.hex"), QStringLiteral("The firmware, an Intel HEX file."));
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("A serial port per camera (/dev/ttyUSB0, /dev/serial/by-id/..., COM3)."),
                                 QStringLiteral("PORT..."));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        ParseResult help;
        help.kind = ParseResult::Kind::Help;
        help.text = parser.helpText() + QLatin1String(kHelpEpilogue);
        return help;
    }

    CommandLine line;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 2)
        return usageError(QStringLiteral("give the firmware file and at least one port"));
    line.firmwarePath = positional.constFirst();
    line.ports = positional.mid(1);
    QSet<QString> seen;
    for (const QString &port : qAsConst(line.ports)) {
        if (seen.contains(port))
            return usageError(QStringLiteral("the port %1 is named twice").arg(port));
        seen.insert(port);
    }

    const QString baud = parser.value(baudOption);
    if (baud == QString::number(Download::kBootloaderBaud))
        line.upgrade.bootloaderBaud = Download::kBootloaderBaud;
    else if (baud == QString::number(Download::kFastBootloaderBaud))
        line.upgrade.bootloaderBaud = Download::kFastBootloaderBaud;
    else
        return usageError(QStringLiteral("--baud takes %1 or %2, not %3")
                              .arg(Download::kBootloaderBaud)
                              .arg(Download::kFastBootloaderBaud)
                              .arg(baud));

    const QString erase = parser.value(eraseOption);
    if (erase == eraseName(Download::EraseMode::WholeChip))
        line.upgrade.erase = Download::EraseMode::WholeChip;
    else if (erase == eraseName(Download::EraseMode::Pages))
        line.upgrade.erase = Download::EraseMode::Pages;
    else
        return usageError(QStringLiteral("--erase takes all or pages, not %1").arg(erase));

    const std::optional<int> retries = number(parser.value(retriesOption), 0, kMaxRetries);
    if (!retries)
        return usageError(QStringLiteral("--retries takes a number from 0 to %1, not %2")
                              .arg(kMaxRetries)
                              .arg(parser.value(retriesOption)));
    line.retries = *retries;

    line.upgrade.verify = parser.isSet(verifyOption);
    line.upgrade.enterIap = !parser.isSet(noIapOption);
    line.upgrade.exitIap = line.upgrade.enterIap;
    line.jsonPath = parser.value(jsonOption);
    if (parser.isSet(jsonOption) && line.jsonPath.isEmpty())
        return usageError(QStringLiteral("--json needs a file name"));
    line.quiet = parser.isSet(quietOption);

    ParseResult result;
    result.kind = ParseResult::Kind::Run;
    result.commandLine = line;
    return result;
}

} // namespace Flash
