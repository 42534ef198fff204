// The firmware upgrade through the window, against camsim's emulated STM32
// bootloader: what reaches the flash, what the window says at every end, and
// that a bad file never reaches the camera. The bytes on the wire, the trace
// order and the progress steps of a run are tabled in tst_bootloader.

#include "camsimprocess.h"
#include "isp/hexwriter.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using TestEnv::control;
using TestEnv::firmware;

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kBlock = 256;

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(text), qint64(text.size()));
}

// The data of a gap-free HEX file, in file order.
QByteArray dataOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QByteArray record = QByteArray::fromHex(line.trimmed().mid(1));
        if (record.size() > 4 && record.at(3) == 0)
            data.append(record.mid(4, quint8(record.at(0))));
    }
    return data;
}

QString lastLine(MyWidget &w)
{
    const QStringList lines = TestEnv::paneLines(&w);
    return lines.isEmpty() ? QString() : lines.constLast();
}

// The window and a camera on camsim, its port typed into the port box.
struct Bench
{
    TestEnv::ScratchDir scratch;
    BoxAnswerer boxes;
    Camsim camera;
    std::unique_ptr<MyWidget> window;
    const QString flashPath = QDir::current().absoluteFilePath(QStringLiteral("flash.bin"));

    bool start(const QStringList &options)
    {
        if (!camera.start(QStringList{"--flash-out", flashPath, "--erase-ms", "50"} + options))
            return false;
        window = std::make_unique<MyWidget>();
        typePort(camera.slavePath);
        return true;
    }
    // Writes the firmware as ./fw.hex and chooses it with "...".
    QString choose(const QByteArray &data)
    {
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("fw.hex"));
        writeFile(path, HexWriter::write(kFlashStart, data));
        chooseFile(path);
        return path;
    }
    void chooseFile(const QString &path) { boxes.pickFile(path); click("pushButtonChooseHex"); }
    void click(const char *button) { control<QPushButton>(window.get(), button)->click(); }
    void upgrade() { click("pushButtonUpdata"); }
    bool open() { click("pushButtonOpen"); return MyWidgetTestAccess::serialOpen(*window); }
    void typePort(const QString &path) { control<QComboBox>(window.get(), "comboBoxCom")->lineEdit()->setText(path); }

    int framesReceived() const { return camera.count({{"dir", "rx"}}, 0, int(camera.lines.size())); }
    // The flash as camsim leaves it when it ends.
    QByteArray flash()
    {
        QFile file(flashPath);
        if (!camera.signal(SIGTERM) || !camera.waitForExit() || !file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }
    // The port is closed and the window is back where a user can try again.
    void verifyReadyForNextTry()
    {
        QVERIFY(!MyWidgetTestAccess::serialOpen(*window));
        QCOMPARE(control<QWidget>(window.get(), "pushButtonOpen")->styleSheet(),
                 QStringLiteral("background-color:yellow"));
        for (const char *name : {"pushButton_2", "comboBoxCom", "pushButtonUpdata"})
            QVERIFY2(control<QWidget>(window.get(), name)->isEnabled(), name);
    }
};

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { PortList::setSource([] { return QList<PortList::Port>{}; }); }
    void cleanup() { PortList::setSource({}); }
    void upgradeEnds_data();
    void upgradeEnds();
    void nothingReachesTheCamera_data();
    void nothingReachesTheCamera();
    void closingTheWindowStopsTheUpgrade();
    void singleSteps();
    void staleAckNeverAcknowledges();
    void choosingTheFile();
};

void UpgradeTest::upgradeEnds_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("data"); // empty: the shipped demo firmware
    QTest::addColumn<int>("blocks");      // written, when the upgrade succeeds
    QTest::addColumn<QString>("trace");   // the pane's last line
    QTest::addColumn<QString>("box");
    const auto fault = [](const char *name, const QStringList &options, const char *trace, const char *box) {
        QTest::newRow(name) << options << firmware(1000) << 0 << trace
                            << QStringLiteral("Error: %1,Please restart.").arg(box);
    };
    const QString go = QStringLiteral("Go 0x08000000");
    // Three full blocks, then 232 data bytes padded with 24 x 0xFF.
    QTest::newRow("1000 bytes") << QStringList() << firmware(1000) << 4 << go << QString();
    // Whole blocks: one block of 0xFF follows, as the camera's sequence ends.
    QTest::newRow("512 bytes") << QStringList() << firmware(512) << 3 << go << QString();
    // 24 KiB: 96 full blocks and the block of 0xFF.
    QTest::newRow("shipped demo firmware") << QStringList() << QByteArray() << 97 << go << QString();
    // A NACK, silence and a lost line each end a middle block the same way.
    fault("no bootloader", {"--no-bootloader"}, "no answer to the sync byte 0x7F",
          "Serial port error or machine failure");
    fault("erase refused", {"--fail-erase"}, "NACK to the global erase", "Erase All Error");
    fault("final block refused", {"--nack-block", "4"}, "NACK to the data of the block at 0x08000300",
          "Download Error1");
    fault("silent after block 1", {"--silent-after-block", "1"},
          "no answer to the Write Memory command of the block at 0x08000100", "Download Error2");
    fault("line closed after block 2", {"--close-after-block", "2"},
          "no answer to the Write Memory command of the block at 0x08000200", "Download Error2");
}

void UpgradeTest::upgradeEnds()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, data);
    QFETCH(int, blocks);
    QFETCH(QString, trace);
    QFETCH(QString, box);
    Bench bench;
    QVERIFY(bench.start(options));
    if (data.isEmpty()) {
        data = dataOf(QStringLiteral(QUILLON_DEMO_FIRMWARE));
        bench.chooseFile(QStringLiteral(QUILLON_DEMO_FIRMWARE));
    } else {
        bench.choose(data);
    }

    bench.upgrade();
    QCOMPARE(bench.boxes.seen(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(lastLine(*bench.window), trace);
    bench.verifyReadyForNextTry();
    if (!box.isEmpty())
        return;
    const auto *bar = control<QProgressBar>(bench.window.get(), "progressBar");
    QVERIFY(bar->value() == blocks * kBlock && bar->maximum() == blocks * kBlock);
    // The bootloader was met at 57600 baud; the camera firmware got the line
    // back at 9600 baud and heard Exit IAP.
    QVERIFY(bench.camera.find({{"command", "sync"}, {"baud", 57600}}) >= 0);
    const int go = bench.camera.waitFor({{"event", "go"}});
    const int exitIap = bench.camera.waitFor({{"hex", "8902076357ff"}}, go);
    QVERIFY(go >= 0 && exitIap >= 0);
    QCOMPARE(bench.camera.count({{"event", "line"}, {"baud", 9600}}, go, exitIap), 1);

    // Past the data the flash is erased: the final block's padding and every
    // block beyond it.
    const QByteArray flash = bench.flash();
    QCOMPARE(flash.left(data.size()), data);
    QCOMPARE(flash.mid(data.size()), QByteArray(flash.size() - data.size(), char(0xFF)));
}

void UpgradeTest::nothingReachesTheCamera_data()
{
    QTest::addColumn<QByteArray>("text"); // the file at the upgrade; empty: gone
    QTest::addColumn<QString>("port");    // camsim's, a missing one, or camsim's already open
    QTest::addColumn<QString>("trace");   // how the pane's last line begins
    QTest::addColumn<QStringList>("boxes");
    const QByteArray good = HexWriter::write(kFlashStart, firmware(64));
    const QStringList fileError{"Error: Hex File Error,Please restart."};
    const QStringList portError{"Tip: Serial Port Error,Please restart."};

    // Any fault the HEX reader finds takes one path here (tst_hexfile has them all).
    QByteArray badChecksum = good;
    const int digit = badChecksum.indexOf("\r\n", 20) - 1;
    badChecksum[digit] = badChecksum.at(digit) == '0' ? '1' : '0';
    QTest::newRow("bad checksum on line 2") << badChecksum << "camsim" << "Hex File Error: line 2" << fileError;
    QTest::newRow("missing file") << QByteArray() << "camsim" << "File Open Fail,Please restart." << QStringList();
    QTest::newRow("bad checksum, in Chinese") << badChecksum << "camsim" << "Hex File Error: line 2"
                                              << QStringList{"错误: 文件错误,请重试."};
    QTest::newRow("port that cannot open") << good << "missing" << "Load Byte:64bytes" << portError;
    // The open link is left alone.
    QTest::newRow("port already open") << good << "open" << "Load Byte:64bytes" << portError;
}

void UpgradeTest::nothingReachesTheCamera()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, port);
    QFETCH(QString, trace);
    QFETCH(QStringList, boxes);
    Bench bench;
    QVERIFY(bench.start({}));
    if (QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("Chinese")))
        bench.window->findChild<QAction *>(QStringLiteral("languageAction"))->trigger();
    const QString path = bench.choose(firmware(64));
    // The file changes (or goes) between the choice and the upgrade.
    if (text.isEmpty())
        QVERIFY(QFile::remove(path));
    else
        writeFile(path, text);
    if (port == QLatin1String("missing"))
        bench.typePort(QDir::current().absoluteFilePath(QStringLiteral("no-such-tty")));
    QVERIFY(port != QLatin1String("open") || bench.open());

    bench.upgrade();
    QVERIFY2(lastLine(*bench.window).startsWith(trace), qPrintable(lastLine(*bench.window)));
    QCOMPARE(bench.boxes.seen(), boxes);
    Wait::sleep(100);
    QCOMPARE(bench.framesReceived(), 0);
    if (port == QLatin1String("open"))
        QVERIFY(MyWidgetTestAccess::serialOpen(*bench.window));
    else
        bench.verifyReadyForNextTry();
}

void UpgradeTest::closingTheWindowStopsTheUpgrade()
{
    Bench bench;
    QVERIFY(bench.start({"--wire-time"}));
    bench.choose(firmware(16 * kBlock));
    bench.window->show();
    auto *bar = control<QProgressBar>(bench.window.get(), "progressBar");
    int framesAtClose = -1;
    QObject::connect(bar, &QProgressBar::valueChanged, bench.window.get(), [&](int value) {
        // A camera button pressed meanwhile must not reach the bootloader.
        if (value == kBlock)
            bench.click("pushButtonLeft");
        if (value >= 2 * kBlock && framesAtClose < 0) {
            framesAtClose = bench.framesReceived();
            bench.window->close();
        }
    });

    bench.upgrade();
    QVERIFY(framesAtClose > 0);
    QVERIFY(!bench.window->isVisible());
    QVERIFY(!MyWidgetTestAccess::serialOpen(*bench.window));
    Wait::sleep(300);
    QCOMPARE(bench.framesReceived(), framesAtClose);
    QCOMPARE(bench.boxes.seen(), QStringList());
    QCOMPARE(bench.camera.find({{"result", "nack"}}), -1);
    QCOMPARE(bench.camera.find({{"command", "ignored"}}), -1);
}

void UpgradeTest::singleSteps()
{
    Bench bench;
    QVERIFY(bench.start({}));
    MyWidget &w = *bench.window;
    QVERIFY(bench.open());
    bench.click("pushButtonEnterIAP");
    QVERIFY(bench.camera.waitFor({{"event", "bootloader"}}) >= 0);
    control<QComboBox>(&w, "comboBoxBaudrate")->setCurrentText(QStringLiteral("57600"));
    control<QComboBox>(&w, "comboBoxParity")->setCurrentIndex(2);

    // Each step and the pane's last line after it. After Go the program runs
    // again: the bootloader is gone, nothing acknowledges.
    const struct { const char *button, *line; } steps[] = {
        {"pushButtonSend7f", "79"}, {"pushButtonGetID", "Product ID: 0410"},
        {"pushButtonEraseAll", "Just a few seconds, please."}, {"pushButtonGo", "Go 0x08000000"},
        {"pushButtonGetID", "Get ID Fail"}, {"pushButtonEraseAll", "no answer to the Erase command"}};
    for (const auto &step : steps) {
        bench.click(step.button);
        QTRY_COMPARE(lastLine(w), QString::fromLatin1(step.line));
    }
    QVERIFY(bench.camera.find({{"event", "go"}}) >= 0);
    QCOMPARE(bench.boxes.seen(), QStringList{"Error: Erase Command Error2,Please restart."});
}

void UpgradeTest::staleAckNeverAcknowledges()
{
    SerialWindow rig;
    QVERIFY(rig.open());
    // An acknowledge that came before the command is no answer to it: the
    // global erase never goes out.
    rig.device().write(QByteArray(1, char(0x79)));
    QTRY_COMPARE(rig.paneLines(), QStringList{"79"});
    control<QPushButton>(&rig.window(), "pushButtonEraseAll")->click();
    QCOMPARE(rig.device().received(), QByteArray::fromHex("43bc"));
    QCOMPARE(rig.boxesSeen(), QStringList{"Error: Erase Command Error2,Please restart."});
}

void UpgradeTest::choosingTheFile()
{
    TestEnv::ScratchDir scratch;
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("camera.hex"));
    writeFile(path, HexWriter::write(kFlashStart, firmware(5000)));
    TestEnv::writeSettings({{"section10/FileAdd", path}});
    BoxAnswerer boxes;
    MyWidget w;
    auto *upgrade = control<QPushButton>(&w, "pushButtonUpdata");

    boxes.pickFile(QString());
    control<QPushButton>(&w, "pushButtonChooseHex")->click();
    QCOMPARE(boxes.fileDialogStart(), path);
    QCOMPARE(TestEnv::paneLines(&w), QStringList{"Please Choose Hex File"});
    QVERIFY(!upgrade->isEnabled());

    boxes.pickFile(path);
    control<QPushButton>(&w, "pushButtonChooseHex")->click();
    QCOMPARE(TestEnv::paneLines(&w).mid(1),
             (QStringList{"File Path:" + path, QStringLiteral("Hex File: %1 byte").arg(QFileInfo(path).size()),
                          "Load Byte:5000bytes"}));
    QCOMPARE(control<QProgressBar>(&w, "progressBar")->maximum(), 5120);
    QVERIFY(upgrade->isEnabled());
    QCOMPARE(control<QLineEdit>(&w, "lineEditPath")->text(), path);
    QCOMPARE(scratch.storedText(QStringLiteral("section10/FileAdd")), path);
}

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
