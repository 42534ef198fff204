// What waiting costs: the processor time the window spends while it sleeps
// for 5 s, and while it receives a 9600-baud stream for 5 s, as a share of
// the wall time. The stream comes from a child process through a
// pseudo-terminal, one byte every byte time (10 bits at 9600 baud), which
// is the hardest pace for the receiver: every byte wakes it on its own.

#include "benchpty.h"
#include "mywidget.h"
#include "wait.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kMeasureMs = 5000;
constexpr long kByteTimeNs = 1000000000L * 10 / 9600;
constexpr double kSleepGoalPercent = 2.0;
constexpr double kStreamGoalPercent = 10.0;

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Writes one byte per byte time until killed; never returns.
[[noreturn]] void streamBytes(int master)
{
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    unsigned char byte = 0;
    for (;;) {
        next.tv_nsec += kByteTimeNs;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        if (write(master, &byte, 1) != 1)
            _exit(0);
        ++byte;
    }
}

void report(const char *what, double wallMs, double cpu, double goalPercent)
{
    const double share = 100.0 * cpu / wallMs;
    std::printf("%-28s wall %7.1f ms  cpu %7.1f ms  %5.2f %%  (goal < %.0f %%: %s)\n", what,
                wallMs, cpu, share, goalPercent, share < goalPercent ? "met" : "MISSED");
}


} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    BenchPty pty;
    if (!pty.open(QStringLiteral("ttyBENCH")))
        return 1;

    MyWidget window;

    QElapsedTimer wall;
    double cpuBefore = cpuMs();
    wall.start();
    Wait::sleep(kMeasureMs);
    report("idle, 5 s", static_cast<double>(wall.elapsed()), cpuMs() - cpuBefore,
           kSleepGoalPercent);

    window.findChild<QPushButton *>(QStringLiteral("pushButtonOpen"))->click();
    const pid_t writer = fork();
    if (writer == 0)
        streamBytes(pty.master);
    cpuBefore = cpuMs();
    wall.restart();
    Wait::sleep(kMeasureMs);
    const double streamCpu = cpuMs() - cpuBefore;
    const auto streamWall = static_cast<double>(wall.elapsed());
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    Wait::sleep(300);

    const QString pane =
        window.findChild<QTextBrowser *>(QStringLiteral("textBrowserReceive"))->toPlainText();
    const int lines = pane.isEmpty() ? 0 : pane.count(QLatin1Char('\n')) + 1;
    const int bytes = (pane.size() - (lines > 0 ? lines - 1 : 0)) / 2;
    report("9600-baud stream, 5 s", streamWall, streamCpu, kStreamGoalPercent);
    std::printf("%-28s %d bytes received in %d lines (%.0f bytes/s)\n", "", bytes, lines,
                bytes * 1000.0 / streamWall);
    return 0;
}
