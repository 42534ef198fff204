// camsim: a PTZ camera on a pseudo-terminal, for testing the window without
// hardware. It prints the slave's path on its first line, then one JSON object
// per line for every frame it receives, every reply it sends and every line
// event. It shares no code with the window: each checks the other.

#include "eventlog.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <type_traits>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr int kSerialNumberMaxLength = 15;
// Up to 16 MiB of flash from 0x08000000: the STM32 parts stop well below.
constexpr uint kFlashKibMax = 16384;
constexpr uint kUdpPortMax = 65535;

int fail(int code, const QString &message)
{
    std::fprintf(stderr, "camsim: %s\n", qPrintable(message));
    return code;
}

// A decimal number (milliseconds, a count), at least `minimum`.
std::optional<int> decimalAtLeast(const QString &value, int minimum)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (!ok || number < minimum)
        return std::nullopt;
    return number;
}

// A register value: decimal, or hexadecimal with 0x, up to `maximum`.
std::optional<uint> registerValue(const QString &value, uint maximum)
{
    bool ok = false;
    const uint number = value.toUInt(&ok, 0);
    if (!ok || number > maximum)
        return std::nullopt;
    return number;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("camsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated PTZ camera on a pseudo-terminal. Prints the slave's path, then one JSON "
        "line per received frame, reply and event."));
    parser.addHelpOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Keep a symbolic link at <path> pointing to the slave."),
        QStringLiteral("path"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Also append every JSON line to <file>."), QStringLiteral("file"));
    const QCommandLineOption wireTimeOption(QStringLiteral("wire-time"),
        QStringLiteral("Emulate the time bytes take on the wire at the line's baud rate."));
    const QCommandLineOption parityOption(QStringLiteral("parity"),
        QStringLiteral("Parity to assume instead of the line's: even, odd or none."),
        QStringLiteral("parity"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
        QStringLiteral("Never answer (still logs what arrives)."));
    const QCommandLineOption garbageOption(QStringLiteral("garbage-every"),
        QStringLiteral("Write one noise byte every <ms> milliseconds."), QStringLiteral("ms"));
    const QCommandLineOption closeOption(QStringLiteral("close-after"),
        QStringLiteral("Close the line after <ms> milliseconds and exit."), QStringLiteral("ms"));
    const QCommandLineOption completionOption(QStringLiteral("completion-delay"),
        QStringLiteral("Milliseconds between a VISCA command's ACK and its completion."),
        QStringLiteral("ms"), QStringLiteral("20"));
    const QCommandLineOption snOption(QStringLiteral("sn"),
        QStringLiteral("Serial number stored in the camera (Latin-1, up to 15 characters)."),
        QStringLiteral("text"));
    const QCommandLineOption versionOption(QStringLiteral("version"),
        QStringLiteral("Software version byte, 0 to 255 (0x.. for hex)."), QStringLiteral("n"));
    const QCommandLineOption zoomOption(QStringLiteral("zoom"),
        QStringLiteral("Zoom position, 0 to 65535 (0x.. for hex)."), QStringLiteral("n"));
    const QCommandLineOption focusOption(QStringLiteral("focus"),
        QStringLiteral("Focus position, 0 to 65535 (0x.. for hex)."), QStringLiteral("n"));
    const QCommandLineOption pidOption(QStringLiteral("pid"),
        QStringLiteral("Product ID the bootloader gives for Get ID, 0 to 0xFFFF (default 0x0410). "
                       "It also picks the part: flash size and pages, protocol version, erase "
                       "command. Known: 0x410 and 0x414 (STM32F10x medium and high density), "
                       "0x413 (F40x/41x), 0x440 (F030x8/F05x), 0x417 (L05x/06x), 0x435 "
                       "(L43x/44x), 0x460 (G07x/08x); any other ID plays the 0x410."),
        QStringLiteral("n"));
    const QCommandLineOption flashKibOption(QStringLiteral("flash-kib"),
        QStringLiteral("Flash size in KiB from 0x08000000 (default: the part's); past the "
                       "part's pages, pages of its last size go on."),
        QStringLiteral("n"));
    const QCommandLineOption commandsOption(QStringLiteral("commands"),
        QStringLiteral("The commands the bootloader takes and Get lists, instead of the part's: "
                       "comma separated, of get, get-version, get-id, read, go, write, erase "
                       "(0x43), ext-erase (0x44). Any other is refused like an unknown one."),
        QStringLiteral("list"));
    const QCommandLineOption bootloaderVersionOption(QStringLiteral("bootloader-version"),
        QStringLiteral("Protocol version byte Get and Get Version report, instead of the "
                       "part's (0x22 or 0x31)."),
        QStringLiteral("n"));
    const QCommandLineOption eraseMsOption(QStringLiteral("erase-ms"),
        QStringLiteral("Milliseconds an erase of the whole flash takes before its ACK (default "
                       "300); an erase of some pages takes their share by size."),
        QStringLiteral("ms"), QStringLiteral("300"));
    const QCommandLineOption startSyncedOption(QStringLiteral("start-synced"),
        QStringLiteral("Start in the bootloader, already synchronised, as a failed upgrade "
                       "leaves the camera: a 0x7F gets NACK."));
    const QCommandLineOption residentKibOption(QStringLiteral("resident-kib"),
        QStringLiteral("The first <n> KiB of the flash hold a resident bootloader (a vector "
                       "table, then the text \"camsim resident bootloader\") before the old "
                       "program."),
        QStringLiteral("n"));
    const QCommandLineOption readProtectedOption(QStringLiteral("read-protected"),
        QStringLiteral("Read-out protection: Read Memory is refused (NACK) after its command "
                       "bytes; everything else works."));
    const QCommandLineOption flashOutOption(QStringLiteral("flash-out"),
        QStringLiteral("Write the whole flash to <file> when Go is acknowledged and at exit."),
        QStringLiteral("file"));
    const QCommandLineOption nackBlockOption(QStringLiteral("nack-block"),
        QStringLiteral("Refuse the data of the <n>th Write Memory (counted from 1)."),
        QStringLiteral("n"));
    const QCommandLineOption silentAfterBlockOption(QStringLiteral("silent-after-block"),
        QStringLiteral("Acknowledge <n> Write Memory commands, then never answer again."),
        QStringLiteral("n"));
    const QCommandLineOption closeAfterBlockOption(QStringLiteral("close-after-block"),
        QStringLiteral("Acknowledge the <n>th Write Memory, then close the line and exit."),
        QStringLiteral("n"));
    const QCommandLineOption failEraseOption(QStringLiteral("fail-erase"),
        QStringLiteral("The bootloader refuses every erase (NACK)."));
    const QCommandLineOption noBootloaderOption(QStringLiteral("no-bootloader"),
        QStringLiteral("Ignore Enter IAP: nobody answers 0x7F."));
    const QCommandLineOption udpPortOption(QStringLiteral("udp-port"),
        QStringLiteral("Also take frames as UDP datagrams on 127.0.0.1:<port> (0: any free port)."),
        QStringLiteral("port"));
    parser.addOptions({linkOption, logOption, wireTimeOption, parityOption, silentOption,
                       garbageOption, closeOption, completionOption, snOption, versionOption,
                       zoomOption, focusOption, pidOption, flashKibOption, commandsOption,
                       bootloaderVersionOption, eraseMsOption, startSyncedOption,
                       residentKibOption, readProtectedOption, flashOutOption, nackBlockOption,
                       silentAfterBlockOption, closeAfterBlockOption, failEraseOption,
                       noBootloaderOption, udpPortOption});
    parser.process(app);

    if (!parser.positionalArguments().isEmpty())
        return fail(kExitUsage, QStringLiteral("unexpected argument ")
                                    + parser.positionalArguments().constFirst());

    SimulatorOptions options;
    options.linkPath = parser.value(linkOption);
    options.wireTime = parser.isSet(wireTimeOption);
    options.silent = parser.isSet(silentOption);

    if (parser.isSet(parityOption)) {
        const QString parity = parser.value(parityOption);
        if (parity == QLatin1String("even"))
            options.parity = ParityChoice::Even;
        else if (parity == QLatin1String("odd"))
            options.parity = ParityChoice::Odd;
        else if (parity == QLatin1String("none"))
            options.parity = ParityChoice::None;
        else
            return fail(kExitUsage, QStringLiteral("--parity takes even, odd or none"));
    }
    // The numeric options, each read into its field when it is given or has
    // a default; the first one out of range ends the program.
    QString usage;
    const auto reject = [&usage](const QCommandLineOption &option, const char *range) {
        if (usage.isEmpty())
            usage = QStringLiteral("--") + option.names().constFirst() + QStringLiteral(" takes ")
                    + QLatin1String(range);
    };
    const auto given = [&parser](const QCommandLineOption &option) {
        return parser.isSet(option) || !option.defaultValues().isEmpty();
    };
    const auto decimal = [&](const QCommandLineOption &option, int minimum, int *target,
                             const char *range) {
        if (!given(option))
            return;
        if (const std::optional<int> number = decimalAtLeast(parser.value(option), minimum))
            *target = *number;
        else
            reject(option, range);
    };
    const auto registerOption = [&](const QCommandLineOption &option, uint minimum, uint maximum,
                                    auto *target, const char *range) {
        if (!given(option))
            return;
        const std::optional<uint> value = registerValue(parser.value(option), maximum);
        if (value && *value >= minimum)
            *target = std::remove_pointer_t<decltype(target)>(*value);
        else
            reject(option, range);
    };
    decimal(garbageOption, 1, &options.garbageEveryMs, "milliseconds > 0");
    decimal(closeOption, 0, &options.closeAfterMs, "milliseconds >= 0");
    decimal(completionOption, 0, &options.completionDelayMs, "milliseconds >= 0");
    decimal(eraseMsOption, 0, &options.bootloader.eraseMs, "milliseconds >= 0");
    // Block numbers count from 1 (from 0 for --silent-after-block).
    decimal(nackBlockOption, 1, &options.bootloader.nackBlock, "a block number >= 1");
    decimal(silentAfterBlockOption, 0, &options.bootloader.silentAfterBlock, "a count >= 0");
    decimal(closeAfterBlockOption, 1, &options.bootloader.closeAfterBlock, "a block number >= 1");
    registerOption(versionOption, 0, 0xFF, &options.camera.softwareVersion, "0 to 255");
    registerOption(zoomOption, 0, 0xFFFF, &options.camera.zoomPosition, "0 to 65535");
    registerOption(focusOption, 0, 0xFFFF, &options.camera.focusPosition, "0 to 65535");
    registerOption(pidOption, 0, 0xFFFF, &options.bootloader.productId, "0 to 0xFFFF");
    // The part the ID names gives what the options below do not override.
    options.part = partFor(options.bootloader.productId);
    options.flashKib = options.part.flashKib;
    options.bootloader.protocolVersion = options.part.protocolVersion;
    options.bootloader.commands = defaultBootloaderCommands(options.part.eraseCommand);
    options.bootloader.flashSizeRegister = options.part.flashSizeRegister;
    registerOption(flashKibOption, 1, kFlashKibMax, &options.flashKib, "1 to 16384");
    registerOption(bootloaderVersionOption, 0, 0xFF, &options.bootloader.protocolVersion,
                   "0 to 0xFF");
    decimal(residentKibOption, 0, &options.residentKib, "KiB >= 0");
    if (options.residentKib > options.flashKib)
        reject(residentKibOption, "0 to the flash size in KiB");
    if (parser.isSet(commandsOption)) {
        if (const auto commands = bootloaderCommands(parser.value(commandsOption)))
            options.bootloader.commands = *commands;
        else
            reject(commandsOption, "a comma-separated list of get, get-version, get-id, read, "
                                   "go, write, erase, ext-erase");
    }
    registerOption(udpPortOption, 0, kUdpPortMax, &options.udpPort, "0 to 65535");
    if (parser.isSet(snOption)) {
        const QString sn = parser.value(snOption);
        const bool latin1 = std::all_of(sn.cbegin(), sn.cend(),
                                        [](QChar c) { return c.unicode() <= 0xFF; });
        if (sn.isEmpty() || sn.size() > kSerialNumberMaxLength || !latin1)
            usage = QStringLiteral("--sn takes 1 to 15 Latin-1 characters");
        options.camera.serialNumber = sn.toLatin1();
    }
    if (!usage.isEmpty())
        return fail(kExitUsage, usage);
    options.bootloader.failErase = parser.isSet(failEraseOption);
    options.bootloader.startSynced = parser.isSet(startSyncedOption);
    options.bootloader.readProtected = parser.isSet(readProtectedOption);
    options.bootloaderPresent = !parser.isSet(noBootloaderOption);
    if (options.bootloader.startSynced && !options.bootloaderPresent)
        return fail(kExitUsage, QStringLiteral("--start-synced needs the bootloader that "
                                               "--no-bootloader takes away"));
    options.flashOutPath = parser.value(flashOutOption);

    EventLog log;
    QString error;
    if (parser.isSet(logOption) && !log.openFile(parser.value(logOption), &error))
        return fail(kExitFailure, parser.value(logOption) + QStringLiteral(": ") + error);
    if (!Simulator::catchTerminationSignals(&error))
        return fail(kExitFailure, error);

    Simulator simulator(log, options);
    if (!simulator.start(&error))
        return fail(kExitFailure, error);
    return app.exec();
}
