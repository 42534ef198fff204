// The factory line: many cameras flashed at once. Each camera is a camsim
// with wire time (64 KiB image, 57600 baud 8E1); quillon-flash runs as a
// child process on all their ports, first on one camera (the time every
// other run is compared with), then on 8 at once. Where the reference
// flasher stm32flash is installed, it runs the same way, one process per
// camera, each after the camera's Enter IAP frame at 9600 8N1 and the second
// the camera firmware needs to hand over. Then 32 cameras with quillon-flash.
//
// For every run: the wall time (from the start to the last process's end),
// its ratio to the same tool on one camera, the tool's processor time (user
// + system of the child processes, from getrusage(RUSAGE_CHILDREN) around
// the run) as a share of one core, and how many flashes equal the image.
// What limits the larger runs is measured beside them: how busy the
// machine's cores were (/proc/stat), the processor time of the simulators,
// and how long the write phase took on each simulator's own clock against
// the time its bytes need on the wire.

#include "isp/hexwriter.h"
#include "wait.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/resource.h>

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kImageBytes = 64 * 1024;
constexpr int kBlockBytes = 256;
constexpr int kBaud = 57600;
// A block on the wire: 31 CE, the address part, the count, 256 bytes and
// their checksum out (265), three acknowledges back; 11 bits a byte at 8E1.
constexpr double kBlockWireS = (265 + 3) * 11.0 / kBaud;
// The camera firmware needs this long after Enter IAP (as Download::Job waits).
constexpr int kBootloaderStartMs = 1030;
constexpr int kStartTimeoutMs = 5000;
constexpr int kRunTimeoutMs = 180000;

constexpr double kRatioGoal = 1.05;
constexpr double kCpuGoalPercent = 10.0;
// The reference's figures as measured with a shell loop: quillon-flash must
// do better on both.
constexpr double kReferenceRatio = 1.06;
constexpr double kReferenceCpuPercent = 15.0;

QByteArray benchImage()
{
    QByteArray image(kImageBytes, '\0');
    for (int i = 0; i < kImageBytes; ++i)
        image[i] = char((i * 131 + i / kBlockBytes) & 0xFF);
    return image;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The machine's processor time so far, busy and all, in clock ticks.
struct CpuTicks
{
    qint64 busy = 0, total = 0;

    static CpuTicks now()
    {
        QFile stat(QStringLiteral("/proc/stat"));
        CpuTicks ticks;
        if (!stat.open(QIODevice::ReadOnly))
            return ticks;
        const QList<QByteArray> fields = stat.readLine().simplified().split(' '); // "cpu user nice system idle iowait ..."
        for (int i = 1; i < fields.size(); ++i) {
            const qint64 value = fields.at(i).toLongLong();
            ticks.total += value;
            if (i != 4 && i != 5) // idle, iowait
                ticks.busy += value;
        }
        return ticks;
    }
};

// Cameras on camsims: each logs to a file of its own (nothing is read from
// them while a run goes on, so the bench itself takes little of the
// machine) and is found through a link in the bench's folder.
class Cameras
{
public:
    bool start(int count, const QString &folder, const QString &tag, const QStringList &options)
    {
        for (int i = 0; i < count; ++i) {
            auto camera = std::make_unique<Camera>();
            const QString base = QStringLiteral("%1/%2-cam%3").arg(folder, tag).arg(i + 1);
            camera->link = base;
            camera->logPath = base + QStringLiteral(".log");
            camera->flashPath = base + QStringLiteral(".bin");
            camera->process.setStandardOutputFile(camera->logPath);
            camera->process.setStandardErrorFile(QProcess::nullDevice());
            camera->process.start(QStringLiteral(QUILLON_CAMSIM_PATH),
                                  QStringList{"--link", camera->link, "--wire-time", "--flash-out", camera->flashPath}
                                      + options);
            if (!camera->process.waitForStarted(kStartTimeoutMs))
                return false;
            cameras.push_back(std::move(camera));
        }
        return QTest::qWaitFor([this] {
            return std::all_of(cameras.cbegin(), cameras.cend(),
                               [](const auto &camera) { return QFileInfo::exists(camera->link); });
        }, kStartTimeoutMs);
    }

    QStringList ports() const
    {
        QStringList links;
        for (const auto &camera : cameras)
            links.append(camera->link);
        return links;
    }

    // Switches the cameras off; how many flashes hold the image, and the
    // simulators' processor time over their lives.
    int stop(const QByteArray &image, double *cpuSeconds)
    {
        const double before = childrenCpuSeconds();
        for (const auto &camera : cameras)
            camera->process.terminate();
        int equal = 0;
        for (const auto &camera : cameras) {
            if (!camera->process.waitForFinished(kStartTimeoutMs))
                camera->process.kill();
            QFile flash(camera->flashPath);
            equal += flash.open(QIODevice::ReadOnly) && flash.read(image.size()) == image ? 1 : 0;
        }
        *cpuSeconds = childrenCpuSeconds() - before;
        return equal;
    }

    // The longest write phase (first to last acknowledged Write Memory) on a
    // simulator's own clock, against the wire time of its blocks.
    double slowestWriteRatio() const
    {
        double worst = 0;
        for (const auto &camera : cameras) {
            QFile log(camera->logPath);
            if (!log.open(QIODevice::ReadOnly))
                continue;
            qint64 first = -1, last = -1;
            int blocks = 0;
            while (!log.atEnd()) {
                const QByteArray line = log.readLine();
                if (!line.contains("\"command\":\"write\"") || !line.contains("\"result\":\"ack\""))
                    continue;
                const qint64 t = QJsonDocument::fromJson(line).object().value("t_ms").toVariant().toLongLong();
                first = first < 0 ? t : first;
                last = t;
                ++blocks;
            }
            if (blocks > 1)
                worst = std::max(worst, (last - first) / 1000.0 / ((blocks - 1) * kBlockWireS));
        }
        return worst;
    }

private:
    struct Camera
    {
        QProcess process;
        QString link, logPath, flashPath;
    };
    std::vector<std::unique_ptr<Camera>> cameras;
};

struct Run
{
    QString tool;
    int cameras = 0;
    bool completed = false;
    double wallS = 0, cpuS = 0, simCpuS = 0, machineBusyCores = 0, writeRatio = 0;
    int equal = 0;
    double cpuPercent() const { return wallS > 0 ? 100.0 * cpuS / wallS : 0; }
};

bool waitForAll(std::vector<std::unique_ptr<QProcess>> &processes)
{
    return QTest::qWaitFor([&] {
        return std::all_of(processes.cbegin(), processes.cend(),
                           [](const auto &process) { return process->state() == QProcess::NotRunning; });
    }, kRunTimeoutMs);
}

// quillon-flash on every camera of the farm at once; or, with `each`, one
// quillon-flash process per camera (to tell what the one event loop serving
// every port costs).
bool runQuillonFlash(const QStringList &ports, const QString &hexPath, const QString &reportPath,
                     const QProcessEnvironment &environment, bool each, Run *run)
{
    std::vector<std::unique_ptr<QProcess>> flashers;
    QElapsedTimer clock;
    clock.start();
    const QList<QStringList> groups = each ? [&ports] {
        QList<QStringList> single;
        for (const QString &port : ports)
            single.append({port});
        return single;
    }() : QList<QStringList>{ports};
    for (int i = 0; i < groups.size(); ++i) {
        flashers.push_back(std::make_unique<QProcess>());
        flashers.back()->setProcessEnvironment(environment);
        flashers.back()->setStandardOutputFile(QProcess::nullDevice());
        // The pages the image needs, as stm32flash erases them: both runs
        // wait the same erase time.
        flashers.back()->start(QStringLiteral(QUILLON_FLASH_PATH),
                               QStringList{"--erase", "pages", "--json", reportPath + QString::number(i), hexPath}
                                   + groups.at(i));
    }
    if (!waitForAll(flashers))
        return false;
    run->wallS = double(clock.nsecsElapsed()) / 1e9;
    for (const auto &flasher : flashers) {
        if (flasher->exitStatus() != QProcess::NormalExit || flasher->exitCode() != 0) {
            std::fprintf(stderr, "quillon-flash ended with %d: %s\n", flasher->exitCode(),
                         flasher->readAllStandardError().constData());
            return false;
        }
    }
    return true;
}

// stm32flash, one process per camera, each after the camera's Enter IAP frame.
bool runStm32flash(const QString &program, const QStringList &ports, const QString &hexPath, Run *run)
{
    QElapsedTimer clock;
    clock.start();
    for (const QString &port : ports) {
        QSerialPort line;
        line.setPortName(port);
        if (!line.open(QIODevice::ReadWrite))
            return false;
        line.write(QByteArray::fromHex("8902076358FF"));
        line.waitForBytesWritten(1000);
    }
    Wait::sleep(kBootloaderStartMs);
    std::vector<std::unique_ptr<QProcess>> flashers;
    for (const QString &port : ports) {
        flashers.push_back(std::make_unique<QProcess>());
        flashers.back()->setStandardOutputFile(QProcess::nullDevice());
        // A pseudo-terminal carries no parity bit and refuses one: stm32flash
        // checks what the line took, so it runs at 8N1 here. camsim's
        // bootloader counts the wire time of 8E1 all the same.
        flashers.back()->start(program, {"-m", "8n1", "-b", QString::number(kBaud), "-w", hexPath, "-g",
                                         "0x08000000", port});
    }
    if (!waitForAll(flashers))
        return false;
    run->wallS = double(clock.nsecsElapsed()) / 1e9;
    for (const auto &flasher : flashers) {
        if (flasher->exitStatus() != QProcess::NormalExit || flasher->exitCode() != 0) {
            std::fprintf(stderr, "stm32flash ended with %d\n", flasher->exitCode());
            return false;
        }
    }
    return true;
}

Run measure(const QString &tool, int count, const QString &folder, const QByteArray &image,
            const std::function<bool(const QStringList &, Run *)> &flash, const QStringList &camsimOptions = {})
{
    Run run;
    run.tool = tool;
    run.cameras = count;
    static int runs = 0;
    const QString tag = QStringLiteral("run%1").arg(++runs);
    Cameras cameras;
    if (!cameras.start(count, folder, tag, camsimOptions)) {
        std::fprintf(stderr, "camsim did not start\n");
        return run;
    }
    const double cpuBefore = childrenCpuSeconds();
    const CpuTicks ticksBefore = CpuTicks::now();
    run.completed = flash(cameras.ports(), &run);
    const CpuTicks ticksAfter = CpuTicks::now();
    run.cpuS = childrenCpuSeconds() - cpuBefore;
    const double share = ticksAfter.total > ticksBefore.total
                             ? double(ticksAfter.busy - ticksBefore.busy) / double(ticksAfter.total - ticksBefore.total)
                             : 0;
    run.machineBusyCores = share * QThread::idealThreadCount();
    run.equal = cameras.stop(image, &run.simCpuS);
    run.writeRatio = cameras.slowestWriteRatio();
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("quillon-flash on many simulated cameras at once, beside stm32flash."));
    parser.addHelpOption();
    const QCommandLineOption largeOption(QStringLiteral("large"), QStringLiteral("Cameras in the large run (default 32)."),
                                         QStringLiteral("n"), QStringLiteral("32"));
    const QCommandLineOption dispatcherOption(
        QStringLiteral("dispatchers"),
        QStringLiteral("Also run 8 cameras with each of Qt's event dispatchers (glib and Qt's own)."));
    parser.addOptions({largeOption, dispatcherOption});
    parser.process(app);
    const int large = parser.value(largeOption).toInt();

    QTemporaryDir folder;
    const QByteArray image = benchImage();
    const QString hexPath = folder.filePath(QStringLiteral("bench.hex"));
    QFile hexFile(hexPath);
    if (!hexFile.open(QIODevice::WriteOnly) || hexFile.write(HexWriter::write(kFlashStart, image)) < 0)
        return 1;
    hexFile.close();
    const QString reportPath = folder.filePath(QStringLiteral("report.json"));

    const auto quillon = [&](const QProcessEnvironment &environment, bool each = false) {
        return [&, environment, each](const QStringList &ports, Run *run) {
            return runQuillonFlash(ports, hexPath, reportPath, environment, each, run);
        };
    };
    const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    std::printf("64 KiB image, camsim with wire time at %d baud 8E1, %d cores\n\n", kBaud,
                QThread::idealThreadCount());
    std::printf("%-30s %7s %8s %7s %11s %8s %10s %10s %10s\n", "tool", "cameras", "wall s", "ratio", "cpu % core",
                "flashes", "sims cpu%", "busy cores", "write/wire");
    std::fflush(stdout);

    const auto print = [](const Run &run, double single) {
        if (!run.completed) {
            std::printf("%-30s %7d  did not complete\n", qPrintable(run.tool), run.cameras);
        } else {
            std::printf("%-30s %7d %8.2f %7.3f %11.1f %5d/%-2d %10.0f %10.2f %10.3f\n", qPrintable(run.tool),
                        run.cameras, run.wallS, single > 0 ? run.wallS / single : 1.0, run.cpuPercent(), run.equal, run.cameras,
                        100.0 * run.simCpuS / run.wallS, run.machineBusyCores, run.writeRatio);
        }
        std::fflush(stdout);
        return run;
    };

    const Run one = print(measure(QStringLiteral("quillon-flash"), 1, folder.path(), image, quillon(inherited)),
                          0);
    if (!one.completed)
        return 1;
    const Run eight = print(measure(QStringLiteral("quillon-flash"), 8, folder.path(), image,
                                    quillon(inherited)), one.wallS);
    if (parser.isSet(dispatcherOption)) {
        // QT_NO_GLIB set to anything but empty: Qt's own Unix event
        // dispatcher; set and empty: glib's.
        for (const int count : {8, large}) {
            for (const char *value : {"", "1"}) {
                QProcessEnvironment environment = inherited;
                environment.insert(QStringLiteral("QT_NO_GLIB"), QLatin1String(value));
                print(measure(QStringLiteral("quillon-flash QT_NO_GLIB=") + QLatin1String(value), count,
                              folder.path(), image, quillon(environment)), one.wallS);
            }
        }
    }

    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    std::optional<Run> referenceOne, referenceEight;
    if (stm32flash.isEmpty()) {
        std::printf("%-30s not installed (apt-get install stm32flash to compare)\n", "stm32flash");
    } else {
        const auto reference = [&](const QStringList &ports, Run *run) {
            return runStm32flash(stm32flash, ports, hexPath, run);
        };
        // stm32flash asks for Get Version, which the camera's bootloader
        // need not offer; camsim offers it here.
        const QStringList withGetVersion{"--commands", "get,get-version,get-id,read,go,write,erase"};
        referenceOne = print(measure(QStringLiteral("stm32flash"), 1, folder.path(), image, reference, withGetVersion),
                             0);
        if (referenceOne->completed)
            referenceEight = print(measure(QStringLiteral("stm32flash"), 8, folder.path(), image, reference,
                                           withGetVersion),
                                   referenceOne->wallS);
    }
    const Run many = print(measure(QStringLiteral("quillon-flash"), large, folder.path(), image, quillon(inherited)),
                           one.wallS);
    const Run apart = print(measure(QStringLiteral("quillon-flash, a process each"), large, folder.path(), image,
                                    quillon(inherited, true)), one.wallS);
    std::printf("\nratio: wall time over the same tool's on one camera (stm32flash's includes the Enter IAP frame and "
                "the %d ms hand-over, as quillon-flash's does)\n", kBootloaderStartMs);
    std::printf("cpu %% core: the tool's processes, user + system, over the wall time; sims cpu%%: the camsims'; "
                "busy cores: the whole machine, of %d\n", QThread::idealThreadCount());
    std::printf("write/wire: the slowest camera's write phase on its camsim's clock over its blocks' wire time\n\n");

    const double ratio8 = eight.wallS / one.wallS;
    bool met = eight.completed && eight.equal == 8 && ratio8 <= kRatioGoal && eight.cpuPercent() < kCpuGoalPercent;
    std::printf("8 cameras: ratio %.3f (goal <= %.2f), processor %.1f %% of a core (goal < %.0f %%), %d of 8 flashes "
                "equal: %s\n", ratio8, kRatioGoal, eight.cpuPercent(), kCpuGoalPercent, eight.equal,
                met ? "met" : "MISSED");
    if (referenceEight && referenceEight->completed) {
        const double theirs = referenceEight->wallS / referenceOne->wallS;
        const bool better = ratio8 < theirs && eight.cpuPercent() < referenceEight->cpuPercent();
        std::printf("beside stm32flash x8 here: ratio %.3f against %.3f, processor %.1f %% against %.1f %% of a core: "
                    "%s\n", ratio8, theirs, eight.cpuPercent(), referenceEight->cpuPercent(),
                    better ? "better on both" : "NOT better on both");
        met &= better;
    }
    const bool againstShellLoop = ratio8 < kReferenceRatio && eight.cpuPercent() < kReferenceCpuPercent;
    std::printf("beside the reference's figures from a shell loop (%.2f, %.0f %%): %s\n", kReferenceRatio,
                kReferenceCpuPercent, againstShellLoop ? "better on both" : "NOT better on both");
    met &= againstShellLoop;
    if (many.completed) {
        // Each block is three exchanges (command, address, data), each one
        // waiting for an answer: what the write phase takes beyond the
        // wire time is the turnaround of those exchanges.
        const auto turnaroundMs = [](const Run &run) { return (run.writeRatio - 1) * kBlockWireS * 1000 / 3; };
        std::printf("%d cameras: ratio %.3f with the machine's %d cores %.0f %% busy (camsims %.0f %% of a core, "
                    "quillon-flash %.1f %%); the slowest camera's write phase took %.3f of its wire time, %.2f ms "
                    "more per exchange (one camera: %.2f ms)\n",
                    large, many.wallS / one.wallS, QThread::idealThreadCount(),
                    100.0 * many.machineBusyCores / QThread::idealThreadCount(), 100.0 * many.simCpuS / many.wallS,
                    many.cpuPercent(), many.writeRatio, turnaroundMs(many), turnaroundMs(one));
        if (apart.completed)
            std::printf("%d cameras, one quillon-flash process each: ratio %.3f, %.2f ms more per exchange\n", large,
                        apart.wallS / one.wallS, turnaroundMs(apart));
    }
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 2;
}
