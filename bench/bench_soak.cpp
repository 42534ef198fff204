// The upgrade under faults, run after run: one window performs upgrade after
// upgrade, each against a fresh camsim with one fault drawn from a seeded
// generator (none, a refused block, silence, a line that closes, a refused
// erase, noise on the line, a damaged HEX line). For every run it notes the
// end the window reported, the flash camsim was left with, whether a damaged
// file reached the camera, how long the run took and the resident memory.
//
// The window runs in a child process (this program with --child) watched by
// the parent: a child that dies is counted as a crash and the next run goes
// on in a new child; a child that stops reporting is killed and its run
// counted as hung.

#include "boxanswerer.h"
#include "camsimprocess.h"
#include "isp/hexwriter.h"
#include "link/portlist.h"
#include "wait.h"
#include "mywidget.h"
#include "mywidgettestaccess.h"
#include "testenv.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <random>

using TestEnv::control;

// AddressSanitizer keeps freed memory in quarantine: resident memory then
// says nothing about leaks.
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#ifndef SOAK_ASAN
#define SOAK_ASAN 0
#endif

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kBlockBytes = 256;
constexpr int kMinImageBytes = 4 * 1024;
constexpr int kMaxImageBytes = 16 * 1024;
constexpr int kFlashKib = 32;
constexpr int kEraseMs = 20;
// A run that has not ended by then is hung: camsim is killed to free it.
constexpr int kRunBoundMs = 30000;
// A child that reports nothing for this long is killed.
constexpr int kChildSilenceMs = kRunBoundMs + 30000;
// camsim closes its line and exits on its own after this long, so that a
// child killed in the middle of a run leaves no simulator behind for good.
constexpr int kCamsimLifetimeMs = 90000;
constexpr int kDefaultRuns = 100;
constexpr int kRssFromRun = 10;
constexpr qint64 kRssGrowthGoalKib = 2048;
const QString kEnterIapHex = QStringLiteral("8902076358ff");
const QString kGo = QStringLiteral("Go 0x08000000");

enum class Fault { None, Nack, Silence, Closed, EraseFails, Garbage, CorruptHex };
constexpr int kFaultCount = 7;
const char *const kFaultNames[kFaultCount] = {"none", "nack", "silence", "closed line", "erase fails",
                                              "garbage", "corrupt hex"};

enum class Damage { Checksum, Digit, Truncated, Length };
const char *const kDamageNames[] = {"bad checksum", "bad hex digit", "truncated line", "wrong length"};

// Everything one run does, drawn from the seed and the run's number alone,
// so a run can be repeated on its own.
struct Plan
{
    Fault fault = Fault::None;
    int block = 0;     // Nack, Silence, Closed: the Write Memory counted from 1
    int garbageMs = 0; // Garbage: one noise byte every so often
    QByteArray image;
    QByteArray hex;
    int blocks = 0;
    int badLine = 0; // CorruptHex: 1-based
    Damage damage = Damage::Checksum;
};

int uniform(std::mt19937_64 &rng, int lo, int hi)
{
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

QByteArray hexByte(int value)
{
    return QByteArray::number(value & 0xFF, 16).toUpper().rightJustified(2, '0');
}

// Damages one line of an Intel HEX text (lines end in "\r\n") so that no
// reader can take it for a good record.
QByteArray damaged(const QByteArray &text, std::mt19937_64 &rng, int *lineNumber, Damage *damage)
{
    QList<QByteArray> lines = text.split('\n');
    lines.removeLast(); // after the last "\r\n"
    const int index = uniform(rng, 0, int(lines.size()) - 1);
    QByteArray line = lines.at(index).chopped(1);
    *lineNumber = index + 1;
    *damage = Damage(uniform(rng, 0, 3));
    switch (*damage) {
    case Damage::Checksum: {
        const int old = line.right(2).toInt(nullptr, 16);
        line = line.chopped(2) + hexByte(old + uniform(rng, 1, 255));
        break;
    }
    case Damage::Digit: {
        static const char notHex[] = "GHKXZgkxz./-+ ";
        line[uniform(rng, 1, int(line.size()) - 1)] = notHex[uniform(rng, 0, int(sizeof notHex) - 2)];
        break;
    }
    case Damage::Truncated:
        // At least the ':' stays: a line cut to nothing would be a blank
        // line, which no reader can tell from a line that was never there.
        line.truncate(uniform(rng, 1, int(line.size()) - 1));
        break;
    case Damage::Length: {
        const int old = line.mid(1, 2).toInt(nullptr, 16);
        line.replace(1, 2, hexByte(old + uniform(rng, 1, 255)));
        break;
    }
    }
    lines[index] = line + '\r';
    return lines.join('\n') + '\n';
}

Plan plan(quint64 seed, int run)
{
    std::seed_seq sequence{quint32(seed), quint32(seed >> 32), quint32(run)};
    std::mt19937_64 rng(sequence);
    Plan p;
    p.image.resize(uniform(rng, kMinImageBytes, kMaxImageBytes));
    for (char &byte : p.image)
        byte = char(uniform(rng, 0, 255));
    // A full last block is followed by one block of 0xFF.
    p.blocks = (int(p.image.size()) + kBlockBytes - 1) / kBlockBytes + (p.image.size() % kBlockBytes == 0 ? 1 : 0);
    p.hex = HexWriter::write(kFlashStart, p.image, uniform(rng, 0, 1) == 0 ? 16 : 32);
    p.fault = Fault(uniform(rng, 0, kFaultCount - 1));
    switch (p.fault) {
    case Fault::Nack:
    case Fault::Silence:
    case Fault::Closed:
        p.block = uniform(rng, 1, p.blocks);
        break;
    case Fault::Garbage:
        p.garbageMs = uniform(rng, 2, 50);
        break;
    case Fault::CorruptHex:
        p.hex = damaged(p.hex, rng, &p.badLine, &p.damage);
        break;
    default:
        break;
    }
    return p;
}

QStringList camsimOptions(const Plan &p, const QString &flashPath)
{
    QStringList options{"--flash-out", flashPath, "--flash-kib", QString::number(kFlashKib), "--erase-ms",
                        QString::number(kEraseMs), "--close-after", QString::number(kCamsimLifetimeMs)};
    switch (p.fault) {
    case Fault::Nack: return options << "--nack-block" << QString::number(p.block);
    case Fault::Silence: return options << "--silent-after-block" << QString::number(p.block);
    case Fault::Closed: return options << "--close-after-block" << QString::number(p.block);
    case Fault::EraseFails: return options << "--fail-erase";
    // Noise only meets an answer the window waits for when bytes take their
    // time on the wire.
    case Fault::Garbage: return options << "--garbage-every" << QString::number(p.garbageMs) << "--wire-time";
    default: return options;
    }
}

QString blockAddress(int block)
{
    const quint32 address = kFlashStart + quint32(block - 1) * kBlockBytes;
    return QStringLiteral("0x") + QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

QString downloadBox(bool finalBlock)
{
    return finalBlock ? QStringLiteral("Error: Download Error1,Please restart.")
                      : QStringLiteral("Error: Download Error2,Please restart.");
}

// What the window must say at the end of a run: the box (empty: success,
// "Go 0x08000000" in the pane and no box) and a pane line that names the
// failed step. Garbage may end either way, so it has no expectation.
struct Expected
{
    bool any = false;
    QString box;
    QString paneStart;
};

Expected expected(const Plan &p)
{
    switch (p.fault) {
    case Fault::None:
        return {};
    case Fault::Nack:
        return {false, downloadBox(p.block == p.blocks), "NACK to the data of the block at " + blockAddress(p.block)};
    case Fault::Silence:
    case Fault::Closed:
        // After the last block only Go goes unanswered, which ends the run
        // as a success (the program shows itself on the camera) unless the
        // line is gone and Go never reached it.
        if (p.block == p.blocks && p.fault == Fault::Silence)
            return {};
        if (p.block == p.blocks)
            return {false, QStringLiteral("Tip: Serial Port Error,Please restart."),
                    QStringLiteral("no answer to the Go command to 0x08000000")};
        return {false, downloadBox(p.block + 1 == p.blocks),
                "no answer to the Write Memory command of the block at " + blockAddress(p.block + 1)};
    case Fault::EraseFails:
        return {false, QStringLiteral("Error: Erase All Error,Please restart."), QStringLiteral("NACK to the global erase")};
    case Fault::Garbage:
        return {true, {}, {}};
    case Fault::CorruptHex:
        return {false, QStringLiteral("Error: Hex File Error,Please restart."),
                QStringLiteral("Hex File Error: line %1: ").arg(p.badLine)};
    }
    return {};
}

qint64 residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

QString flashVerdict(const QString &path, const QByteArray &image)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("missing");
    const QByteArray flash = file.readAll();
    if (flash.size() < image.size())
        return QStringLiteral("missing");
    const bool erasedAfter = flash.mid(image.size()).count(char(0xFF)) == flash.size() - image.size();
    return flash.left(image.size()) == image && erasedAfter ? QStringLiteral("equal") : QStringLiteral("different");
}

// One run through the window as a user does it: type the port, "...",
// Upgrade. Returns the record the parent reads.
QJsonObject upgradeOnce(MyWidget &window, BoxAnswerer &boxes, quint64 seed, int run, bool keepPane)
{
    const Plan p = plan(seed, run);
    const QString hexPath = QDir::current().absoluteFilePath(QStringLiteral("fw.hex"));
    const QString flashPath = QDir::current().absoluteFilePath(QStringLiteral("flash.bin"));
    QFile::remove(flashPath);
    QFile hexFile(hexPath);
    if (!hexFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || hexFile.write(p.hex) != p.hex.size())
        qFatal("cannot write %s", qPrintable(hexPath));
    hexFile.close();

    Camsim camera;
    if (!camera.start(camsimOptions(p, flashPath)))
        qFatal("camsim did not start");
    // The pane keeps up to 10000 paragraphs of history (some 5 MiB): cleared
    // before each upgrade, as its "claer" action does, the memory figures
    // show what the upgrades themselves leave behind.
    auto *pane = control<QTextBrowser>(&window, "textBrowserReceive");
    if (!keepPane)
        pane->clear();
    control<QComboBox>(&window, "comboBoxCom")->lineEdit()->setText(camera.slavePath);
    boxes.pickFile(hexPath);
    control<QPushButton>(&window, "pushButtonChooseHex")->click();

    // The pane's lines as they are added during the upgrade.
    QStringList added;
    const QMetaObject::Connection watch = QObject::connect(pane, &QTextEdit::textChanged, [&] {
        const QString line = pane->document()->lastBlock().text();
        if (!line.isEmpty() && (added.isEmpty() || added.constLast() != line))
            added.append(line);
    });
    bool hung = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        hung = true;
        camera.process.kill();
    });

    const int boxesBefore = int(boxes.seen().size());
    QElapsedTimer clock;
    clock.start();
    watchdog.start(kRunBoundMs);
    control<QPushButton>(&window, "pushButtonUpdata")->click();
    while (MyWidgetTestAccess::jobRunning(window) && !hung)
        Wait::sleep(5);
    const qint64 ms = clock.elapsed();
    watchdog.stop();
    QObject::disconnect(watch);
    const QStringList newBoxes = boxes.seen().mid(boxesBefore);

    if (camera.process.state() != QProcess::NotRunning) {
        camera.signal(SIGTERM);
        if (!camera.waitForExit())
            camera.process.kill();
    }
    const int received = camera.count({{"dir", "rx"}}, 0, int(camera.lines.size()));
    const int writes = camera.count({{"dir", "rx"}, {"protocol", "bootloader"}, {"command", "write"}}, 0,
                                    int(camera.lines.size()));
    const bool entered = camera.find({{"dir", "rx"}, {"hex", kEnterIapHex}}) >= 0;
    const bool success = added.contains(kGo) && newBoxes.isEmpty();
    const bool ready = !MyWidgetTestAccess::serialOpen(window)
                       && control<QWidget>(&window, "pushButtonUpdata")->isEnabled()
                       && control<QWidget>(&window, "comboBoxCom")->isEnabled()
                       && control<QWidget>(&window, "pushButton_2")->isEnabled();

    // Is what the window said true to the fault?
    QString misleading;
    const Expected want = expected(p);
    if (!success && newBoxes.isEmpty())
        misleading = QStringLiteral("no message at all");
    else if (newBoxes.size() > 1)
        misleading = QStringLiteral("several boxes: ") + newBoxes.join(QLatin1String(" | "));
    else if (!want.any && want.box.isEmpty() && !success)
        misleading = QStringLiteral("failure reported where none happened: ") + newBoxes.join(QString());
    else if (!want.any && !want.box.isEmpty() && success)
        misleading = QStringLiteral("success reported, expected ") + want.box;
    else if (!want.any && !want.box.isEmpty() && newBoxes.constFirst() != want.box)
        misleading = QStringLiteral("box \"%1\", expected \"%2\"").arg(newBoxes.constFirst(), want.box);
    else if (!want.paneStart.isEmpty()
             && std::none_of(added.cbegin(), added.cend(),
                             [&](const QString &line) { return line.startsWith(want.paneStart); }))
        misleading = QStringLiteral("the pane does not say \"%1\"").arg(want.paneStart);

    QString detail = QString::fromLatin1(kFaultNames[int(p.fault)]);
    if (p.block > 0)
        detail += QStringLiteral(" at block %1 of %2").arg(p.block).arg(p.blocks);
    if (p.garbageMs > 0)
        detail += QStringLiteral(" every %1 ms").arg(p.garbageMs);
    if (p.fault == Fault::CorruptHex)
        detail += QStringLiteral(" (%1 on line %2)").arg(QString::fromLatin1(kDamageNames[int(p.damage)])).arg(p.badLine);

    return QJsonObject{{"run", run},
                       {"fault", int(p.fault)},
                       {"detail", detail},
                       {"success", success},
                       {"end", success ? kGo : newBoxes.join(QLatin1String(" | "))},
                       {"flash", flashVerdict(flashPath, p.image)},
                       {"received", received},
                       {"writes", writes},
                       {"entered", entered},
                       {"ms", ms},
                       {"hung", hung},
                       {"ready", ready},
                       {"misleading", misleading},
                       {"paneTail", added.mid(qMax(0, int(added.size()) - 4)).join(QLatin1String(" / "))},
                       {"paragraphs", pane->document()->blockCount()},
                       {"rssKib", residentKib()}};
}

// The offscreen platform says for every message box that it cannot pass on
// size hints; that says nothing about the upgrade.
QtMessageHandler previousHandler = nullptr;

void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    previousHandler(type, context, message);
}

int childMain(int argc, char *argv[], quint64 seed, int first, int last, bool keepPane)
{
    QApplication app(argc, argv);
    previousHandler = qInstallMessageHandler(quietOffscreen);
    TestEnv::ScratchDir scratch;
    PortList::setSource([] { return QList<PortList::Port>{}; });
    BoxAnswerer boxes;
    MyWidget window;
    window.show();
    for (int run = first; run <= last; ++run) {
        const QJsonObject record = upgradeOnce(window, boxes, seed, run, keepPane);
        std::printf("%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }
    return 0;
}

struct Tally
{
    int runs = 0;
    int successes = 0;
    int failures = 0;
    int misleading = 0;
};

int parentMain(int argc, char *argv[], quint64 seed, int runs, bool keepPane)
{
    QCoreApplication app(argc, argv);
    QElapsedTimer wall;
    wall.start();
    std::printf("upgrade soak: %d runs, seed %llu (repeat with --seed %llu)%s\n", runs,
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed),
                keepPane ? ", the pane kept" : ", the pane cleared before each upgrade");
    std::fflush(stdout);

    QMap<int, QJsonObject> records;
    QMap<int, int> childOf; // run -> the child that reported it
    QList<int> crashed;
    QList<int> killed; // runs whose child stopped reporting
    int next = 1;
    int children = 0;
    while (next <= runs) {
        ++children;
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    QStringList{"--child", "--seed", QString::number(seed), "--runs", QString::number(runs),
                                "--first", QString::number(next)}
                        + (keepPane ? QStringList{"--keep-pane"} : QStringList{}));
        if (!child.waitForStarted(kStartTimeoutMs)) {
            std::fprintf(stderr, "cannot start the child\n");
            return 1;
        }
        bool stopped = false;
        for (;;) {
            while (child.canReadLine()) {
                const QJsonObject record = QJsonDocument::fromJson(child.readLine()).object();
                if (record.value(QStringLiteral("run")).toInt() != next)
                    continue; // not a record
                records.insert(next, record);
                childOf.insert(next, children);
                if (!record.value(QStringLiteral("misleading")).toString().isEmpty()
                    || record.value(QStringLiteral("hung")).toBool() || !record.value(QStringLiteral("ready")).toBool())
                    std::printf("run %d, %s: %s; %s\n", next, qPrintable(record.value(QStringLiteral("detail")).toString()),
                                qPrintable(record.value(QStringLiteral("end")).toString()),
                                qPrintable(record.value(QStringLiteral("misleading")).toString()));
                ++next;
            }
            if (child.state() == QProcess::NotRunning)
                break;
            QEventLoop loop;
            QObject::connect(&child, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
            QObject::connect(&child, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
                             &QEventLoop::quit);
            if (!Wait::runLoopUntilQuit(loop, kChildSilenceMs) && !child.canReadLine()
                && child.state() != QProcess::NotRunning) {
                std::printf("run %d: the child reported nothing for %d s; killed\n", next, kChildSilenceMs / 1000);
                child.kill();
                child.waitForFinished(kStartTimeoutMs);
                killed.append(next++);
                stopped = true;
                break;
            }
        }
        if (stopped)
            continue;
        const bool normal = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        if (next <= runs || !normal) {
            // A child that dies in a run, or reports a fault (a sanitizer's,
            // say) as it ends after its last one.
            std::printf("%s %d: the child ended (%s, code %d)\n", next <= runs ? "run" : "after run",
                        next <= runs ? next : next - 1,
                        child.exitStatus() == QProcess::CrashExit ? "crash" : "exit", child.exitCode());
            crashed.append(next <= runs ? next++ : -1);
        }
    }

    Tally tallies[kFaultCount];
    int wrongFlash = 0;
    int hung = killed.size();
    int corruptOnLine = 0;
    int corruptWrites = 0;
    int misleading = 0;
    int notReady = 0;
    int neverStarted = 0;
    qint64 longestMs = 0;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const QJsonObject &r = it.value();
        const Fault fault = Fault(r.value("fault").toInt());
        Tally &t = tallies[int(fault)];
        const bool success = r.value("success").toBool();
        ++t.runs;
        t.successes += success ? 1 : 0;
        t.failures += success ? 0 : 1;
        const bool wrong = !r.value("misleading").toString().isEmpty();
        t.misleading += wrong ? 1 : 0;
        misleading += wrong ? 1 : 0;
        wrongFlash += success && r.value("flash").toString() != QLatin1String("equal") ? 1 : 0;
        hung += r.value("hung").toBool() ? 1 : 0;
        if (fault == Fault::CorruptHex) {
            corruptOnLine += r.value("received").toInt() > 0 ? 1 : 0;
            corruptWrites += r.value("writes").toInt() > 0 ? 1 : 0;
        } else if (!r.value("entered").toBool()) {
            ++neverStarted;
            std::printf("run %d: the upgrade never reached the camera\n", it.key());
        }
        notReady += r.value("ready").toBool() ? 0 : 1;
        longestMs = qMax(longestMs, qint64(r.value("ms").toDouble()));
    }
    for (int run : crashed) {
        if (run > 0)
            ++tallies[int(plan(seed, run).fault)].runs;
    }
    for (int run : killed)
        ++tallies[int(plan(seed, run).fault)].runs;

    std::printf("\n%-12s %5s %10s %18s %11s\n", "fault", "runs", "successes", "failures reported", "misleading");
    for (int i = 0; i < kFaultCount; ++i) {
        const Tally &t = tallies[i];
        std::printf("%-12s %5d %10d %18d %11d\n", kFaultNames[i], t.runs, t.successes, t.failures, t.misleading);
    }

    const int rssTo = runs;
    const bool rssKnown = !SOAK_ASAN && runs >= kRssFromRun && childOf.value(kRssFromRun) == 1 && childOf.value(rssTo) == 1;
    const qint64 rssGrowth = rssKnown ? records.value(rssTo).value("rssKib").toVariant().toLongLong()
                                            - records.value(kRssFromRun).value("rssKib").toVariant().toLongLong()
                                      : 0;
    std::printf("\nsuccess reported, flash different from the image: %d (goal 0)\n", wrongFlash);
    std::printf("runs hung past %d s:                              %d (goal 0)\n", kRunBoundMs / 1000, hung);
    std::printf("crashes:                                          %d (goal 0)\n", int(crashed.size()));
    std::printf("corrupt files that reached the line:              %d (goal 0; with Write Memory: %d)\n",
                corruptOnLine, corruptWrites);
    std::printf("misleading reports:                               %d (goal 0)\n", misleading);
    std::printf("runs leaving the window unable to upgrade again:  %d (goal 0; upgrades that never started: %d)\n",
                notReady, neverStarted);
    if (rssKnown) {
        std::printf("resident memory run %d -> run %d:                %lld -> %lld KiB, growth %lld KiB (goal < %lld)\n",
                    kRssFromRun, rssTo, records.value(kRssFromRun).value("rssKib").toVariant().toLongLong(),
                    records.value(rssTo).value("rssKib").toVariant().toLongLong(), rssGrowth, kRssGrowthGoalKib);
    } else if (runs < kRssFromRun) {
        std::printf("resident memory: measured from run %d on\n", kRssFromRun);
    } else if (SOAK_ASAN) {
        std::printf("resident memory: not measured under AddressSanitizer\n");
    } else {
        std::printf("resident memory: no uninterrupted child from run %d to run %d\n", kRssFromRun, rssTo);
    }
    std::printf("longest run %.1f s; wall time %.0f s; %d child process(es)\n", double(longestMs) / 1000.0,
                double(wall.elapsed()) / 1000.0, children);
    const bool met = wrongFlash == 0 && hung == 0 && crashed.isEmpty() && corruptOnLine == 0 && misleading == 0
                     && notReady == 0 && neverStarted == 0 && (!rssKnown || rssGrowth < kRssGrowthGoalKib)
                     && (rssKnown || SOAK_ASAN || runs < kRssFromRun);
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 2;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // The options are read before any application object exists: the child
    // needs a QApplication, the parent only a QCoreApplication.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    const QCommandLineOption seedOption("seed", "Seed of the fault draws (default: from the clock).", "n");
    const QCommandLineOption runsOption("runs", "Number of upgrades (default 100).", "n",
                                        QString::number(kDefaultRuns));
    const QCommandLineOption childOption("child", "Run the upgrades in this process (used by the parent).");
    const QCommandLineOption firstOption("first", "First run of a child.", "n", "1");
    const QCommandLineOption keepOption("keep-pane", "Keep the receive pane's history between upgrades.");
    parser.addOptions({seedOption, runsOption, childOption, firstOption, keepOption});
    parser.addHelpOption();
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return 1;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    bool ok = true;
    const quint64 seed = parser.isSet(seedOption) ? parser.value(seedOption).toULongLong(&ok)
                                                  : quint64(QDateTime::currentMSecsSinceEpoch());
    const int runs = parser.value(runsOption).toInt();
    if (!ok || runs < 1) {
        std::fprintf(stderr, "bad --seed or --runs\n");
        return 1;
    }
    if (parser.isSet(childOption))
        return childMain(argc, argv, seed, parser.value(firstOption).toInt(), runs, parser.isSet(keepOption));
    return parentMain(argc, argv, seed, runs, parser.isSet(keepOption));
}
