// How fast the window flashes a camera, and what it costs: a 64 KiB image
// through camsim's emulated STM32 bootloader, with wire time at 57600 baud,
// 8E1 (11 bits a byte). Prints the whole run (Upgrade pressed to
// "Go 0x08000000"), the write phase (first Write Memory to the last block's
// acknowledge) against the time its bytes need on the wire, and the window's
// processor time as a share of the wall time.

#include "boxanswerer.h"
#include "camsimprocess.h"
#include "isp/hexwriter.h"
#include "link/portlist.h"
#include "mywidget.h"
#include "mywidgettestaccess.h"
#include "wait.h"
#include "testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include <csignal>
#include <cstdio>
#include <ctime>

using TestEnv::control;

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kImageBytes = 64 * 1024;
constexpr int kBlockBytes = 256;
constexpr int kEraseMs = 300;
constexpr double kBaud = 57600.0;
constexpr double kBitsPerByte = 11.0;
// A block is 31 CE, four address bytes and their checksum, the count, 256
// data bytes and their checksum: 265 bytes out, three acknowledges back.
constexpr int kBlockBytesOnWire = 265 + 3;
// Enter IAP hands over after 1030 ms; the line change settles in 20 ms.
constexpr double kFixedPausesS = 1.05;
constexpr double kWriteGoal = 1.03;
constexpr double kRunGoal = 1.10;
constexpr double kCpuGoalPercent = 10.0;

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString lastLine(QTextBrowser *pane)
{
    return pane->document()->lastBlock().text();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                   : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    TestEnv::ScratchDir scratch;
    PortList::setSource([] { return QList<PortList::Port>{}; });

    QByteArray image(kImageBytes, '\0');
    for (int i = 0; i < kImageBytes; ++i)
        image[i] = char((i * 131 + i / kBlockBytes) & 0xFF);
    const QString hexPath = QDir::current().absoluteFilePath(QStringLiteral("bench.hex"));
    QFile hexFile(hexPath);
    if (!hexFile.open(QIODevice::WriteOnly) || hexFile.write(HexWriter::write(kFlashStart, image)) < 0)
        return 1;
    hexFile.close();

    Camsim camera;
    const QString flashPath = QDir::current().absoluteFilePath(QStringLiteral("flash.bin"));
    if (!camera.start({"--wire-time", "--erase-ms", QString::number(kEraseMs), "--flash-out",
                       flashPath})) {
        std::fprintf(stderr, "camsim did not start\n");
        return 1;
    }

    BoxAnswerer boxes;
    MyWidget window;
    window.show();
    control<QComboBox>(&window, "comboBoxCom")->lineEdit()->setText(camera.slavePath);
    boxes.pickFile(hexPath);
    control<QPushButton>(&window, "pushButtonChooseHex")->click();

    auto *pane = control<QTextBrowser>(&window, "textBrowserReceive");
    auto *bar = control<QProgressBar>(&window, "progressBar");
    QElapsedTimer clock;
    qint64 writeStartNs = -1;
    qint64 writeEndNs = -1;
    qint64 goNs = -1;
    QObject::connect(pane, &QTextEdit::textChanged, [&] {
        const QString line = lastLine(pane);
        if (writeStartNs < 0 && line == QLatin1String("File Open Success"))
            writeStartNs = clock.nsecsElapsed();
        else if (goNs < 0 && line == QLatin1String("Go 0x08000000"))
            goNs = clock.nsecsElapsed();
    });
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
        if (value == bar->maximum())
            writeEndNs = clock.nsecsElapsed();
    });

    const double cpuBefore = cpuSeconds();
    clock.start();
    control<QPushButton>(&window, "pushButtonUpdata")->click();
    while (MyWidgetTestAccess::jobRunning(window))
        Wait::forSignal(pane, &QTextEdit::textChanged, 1000);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wallS = double(clock.nsecsElapsed()) / 1e9;

    if (writeStartNs < 0 || writeEndNs < 0 || goNs < 0 || !boxes.seen().isEmpty()) {
        std::fprintf(stderr, "the upgrade did not complete: %s\n",
                     qPrintable(boxes.seen().join(QLatin1String("; "))));
        return 1;
    }
    camera.signal(SIGTERM);
    camera.waitForExit();
    QFile flashFile(flashPath);
    const bool flashed = flashFile.open(QIODevice::ReadOnly) && flashFile.read(kImageBytes) == image;

    const int blocks = bar->maximum() / kBlockBytes;
    const double writeLimitS = blocks * kBlockBytesOnWire * kBitsPerByte / kBaud;
    const double writeS = double(writeEndNs - writeStartNs) / 1e9;
    const double runS = double(goNs) / 1e9;
    const double runLimitS = writeLimitS + kFixedPausesS + kEraseMs / 1000.0;
    const double cpuPercent = 100.0 * cpu / wallS;

    std::printf("64 KiB image, %d blocks, 57600 baud 8E1 with wire time, camsim erase %d ms\n",
                blocks, kEraseMs);
    std::printf("flash equals the image:       %s\n", flashed ? "yes" : "NO");
    std::printf("upgrade to Go 0x08000000:     %.2f s (limit %.2f s, ratio %.3f, goal <= %.2f)\n",
                runS, runLimitS, runS / runLimitS, kRunGoal);
    std::printf("write phase:                  %.2f s (wire limit %.2f s, ratio %.3f, goal <= %.2f)\n",
                writeS, writeLimitS, writeS / writeLimitS, kWriteGoal);
    std::printf("window processor time:        %.2f s of %.2f s wall, %.1f %% (goal < %.0f %%)\n",
                cpu, wallS, cpuPercent, kCpuGoalPercent);
    const bool met = flashed && writeS / writeLimitS <= kWriteGoal && runS / runLimitS <= kRunGoal
                     && cpuPercent < kCpuGoalPercent;
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 2;
}
