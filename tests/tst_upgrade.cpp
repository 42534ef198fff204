// The firmware upgrade through the window, against camsim's emulated STM32
// bootloader: what reaches the flash, and what the window says at every end.

#include "boxanswerer.h"
#include "camsimprocess.h"
#include "isp/hexfile.h"
#include "isp/hexwriter.h"
#include "link/portlist.h"
#include "wait.h"
#include "mywidgettestaccess.h"
#include "testenv.h"

#include <QAction>
#include <QBuffer>
#include <QJsonArray>
#include <QComboBox>
#include <QDialog>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QJsonObject>
#include <QtTest>

using TestEnv::control;

namespace {

constexpr int kBlock = 256;
const QByteArray kGoodFile = HexWriter::write(0x08000000, TestEnv::firmware(1000)); // four blocks

// The window and a camera on camsim, its port typed into the port box, and
// ./old.hex as the stored choice.
struct Bench
{
    TestEnv::ScratchDir scratch;
    BoxAnswerer boxes;
    Camsim camera;
    std::unique_ptr<MyWidget> window;
    const QString hexPath = QDir::current().absoluteFilePath(QStringLiteral("fw.hex"));
    const QString oldPath = QDir::current().absoluteFilePath(QStringLiteral("old.hex"));

    bool start(const QStringList &options)
    {
        TestEnv::writeSettings({{"section10/FileAdd", oldPath}});
        if (!TestEnv::writeFile(oldPath, kGoodFile)
            || !camera.startFlashing(QDir::current().absoluteFilePath(QStringLiteral("flash.bin")), options))
            return false;
        window = std::make_unique<MyWidget>();
        typePort(camera.slavePath);
        return true;
    }
    void choose(const QByteArray &text)
    {
        QVERIFY(TestEnv::writeFile(hexPath, text));
        boxes.pickFile(hexPath);
        click("pushButtonChooseHex");
    }
    void click(const char *button) { control<QPushButton>(window.get(), button)->click(); }
    // Presses Upgrade, which returns at once, and waits for the run to end.
    bool upgrade()
    {
        click("pushButtonUpdata");
        return QTest::qWaitFor([this] { return !MyWidgetTestAccess::jobRunning(*window); }, 60000);
    }
    bool open() { click("pushButtonOpen"); return MyWidgetTestAccess::serialOpen(*window); }
    void typePort(const QString &path) { control<QComboBox>(window.get(), "comboBoxCom")->lineEdit()->setText(path); }
    QString lastLine() const { return TestEnv::paneLines(window.get()).join('\n').section('\n', -1); }
    int framesReceived() const { return camera.count({{"dir", "rx"}}); }
    // The flash, once camsim is switched off, holds every block of the file;
    // erased whole, 0xFF everywhere else; else the resident bootloader in
    // front of it is kept.
    bool flashHolds(QByteArray file, bool pages = false)
    {
        const QByteArray image = camera.flash();
        QBuffer text(&file);
        if (image.isEmpty() || !text.open(QIODevice::ReadOnly))
            return false;
        QByteArray expected = pages ? image : QByteArray(image.size(), char(0xFF));
        for (const FirmwareImage::Block &block : HexFile::read(text).image->blocks())
            expected.replace(int(block.address - 0x08000000), kBlock, block.bytes);
        expected.truncate(image.size()); // no block of 0xFF past a full flash
        return image == expected && (!pages || image.left(0x8000).contains("camsim resident bootloader"));
    }
};

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { PortList::setSource([] { return QList<PortList::Port>{}; }); }
    void cleanup() { PortList::setSource({}); }

    void upgradeEnds_data()
    {
        QTest::addColumn<QString>("before");      // what the user does first: the menu's choices (pages, verify,
                                                  // 115200), a failed run (retry), the file field or the port
        QTest::addColumn<QStringList>("options"); // camsim's
        QTest::addColumn<QByteArray>("file");     // ./fw.hex at the upgrade, chosen while good; empty: gone
        QTest::addColumn<int>("blocks");          // written on success; 0: a fault on the line; -1: nothing on
                                                  // it; -2: nothing for the bootloader; -3: refused before any erase
        QTest::addColumn<QString>("trace");       // the pane's last line; on success, any of its lines
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("detail");      // the box's informative text; null: the last line.
                                                  // %1: ./fw.hex, %2: the port typed
        QTest::addColumn<QString>("barText");     // what the bar says after the run
        QTest::addColumn<QJsonObject>("record");  // camsim's, that must be there
        const auto row = [](const char *name, const char *before, const QStringList &options, const QByteArray &file,
                            int blocks, const char *trace, const char *box, const char *bar,
                            const char *detail = nullptr, const QJsonObject &record = {}) {
            QTest::newRow(name) << before << options << file << blocks << trace << QString(box)
                                << (detail ? QString::fromUtf8(detail) : QString()) << QString::fromUtf8(bar)
                                << record;
        };
        QFile demo(QStringLiteral(QUILLON_DEMO_FIRMWARE));
        QVERIFY(demo.open(QIODevice::ReadOnly));
        QByteArray badChecksum = kGoodFile;
        const int digit = badChecksum.indexOf("\r\n", 20) - 1; // line 2's last digit
        badChecksum[digit] = badChecksum.at(digit) == '0' ? '1' : '0';
        const char *const fileError = "Error: Hex File Error,Please restart.";
        const char *const portError = "Tip: Serial Port Error,Please restart.";
        const char *const downloadError = "Error: Download Error,Please restart.";
        const auto at = [](quint32 address, int bytes) { return HexWriter::write(address, TestEnv::firmware(bytes)); };

        // 24 KiB: 96 full blocks and the block of 0xFF; the bar counts the
        // file found at the upgrade, not the one chosen.
        row("shipped demo firmware", "", {}, demo.readAll(), 97, "Go 0x08000000", "", "Done");
        row("no bootloader", "", {"--no-bootloader"}, kGoodFile, 0, "no answer to the sync byte 0x7F",
            "Error: Serial port error or machine failure,Please restart.", "Failed: sync");
        row("erase refused", "", {"--fail-erase"}, kGoodFile, 0, "NACK to the global erase",
            "Error: Erase All Error,Please restart.", "Failed: erase");
        row("final block refused", "", {"--nack-block", "4"}, kGoodFile, 0,
            "NACK to the data of the block at 0x08000300", "Error: Download Error1,Please restart.",
            "Failed: block at 0x08000300");
        row("line closed after block 2", "", {"--close-after-block", "2"}, kGoodFile, 0,
            "no answer to the Write Memory command of the block at 0x08000200",
            "Error: Download Error2,Please restart.", "Failed: block at 0x08000200");
        // Go counts only when the camera acknowledges it; a Go that never
        // left is a lost line.
        row("Go unanswered", "", {"--silent-after-block", "4"}, kGoodFile, 0,
            "no answer to the Go command to 0x08000000: the new program is written, but the camera did not confirm "
            "that it started it", downloadError, "Failed: Go");
        row("line closed before Go", "", {"--close-after-block", "4"}, kGoodFile, 0,
            "no answer to the Go command to 0x08000000", portError, "Failed: Go");
        // Any fault the HEX reader finds takes one path here (tst_hexfile has them all).
        row("bad checksum on line 2", "", {}, badChecksum, -1, "Hex File Error: line 2: bad checksum", fileError,
            "Failed: file line 2", "%1: line 2: bad checksum");
        row("bad checksum, in Chinese", "Chinese", {}, badChecksum, -1, "Hex File Error: line 2: bad checksum",
            "错误: 文件错误,请重试.", "失败: 文件第 2 行", "%1: line 2: bad checksum");
        row("missing file", "", {}, QByteArray(), -1, "File Open Fail,Please restart.", "",
            "Failed: cannot read the file");
        // The field names the file: typed, it is used; emptied, there is
        // nothing to upgrade with.
        row("typed path", "typed", {}, at(0x08000000, 8 * kBlock), 9, "Go 0x08000000", "", "Done");
        row("emptied field", "emptied", {}, kGoodFile, -1, "Load Byte:1000bytes", "", "0%");
        row("port that cannot open", "missing port", {}, kGoodFile, -1, "Load Byte:1000bytes", portError,
            "Failed: port", "There is no device %2: No such file or directory.");
        // The open link is left alone.
        row("port already open", "open port", {}, kGoodFile, -1, "Load Byte:1000bytes", portError, "Failed: port",
            "The port is open already.");
        // An adapter that keeps other settings than 57600 8E1 would garble
        // every byte: nothing goes to the bootloader.
        row("adapter refuses 8E1", "strict adapter", {}, kGoodFile, -2,
            "the adapter did not take 57600 baud, even parity:", portError, "Failed: port settings");

        // A failed run leaves the camera in its synchronised bootloader: the
        // next run finds it so, without a power cycle.
        row("retry after a refused block", "retry", {"--nack-block", "2"}, kGoodFile, 4,
            "Bootloader already synchronised (left so by an earlier run)", "", "Done");
        row("F4: Extended Erase", "", {"--pid", "0x413"}, kGoodFile, 4,
            "STM32F40xxx/41xxx, 1024 KiB flash, bootloader 3.1", "", "Done", nullptr,
            {{"command", "ext-erase"}, {"pages", "all"}});
        // The part's own flash size, read from the part; no block past it.
        row("an image that fills the flash", "", {"--flash-kib", "16"}, at(0x08000000, 16 * 1024), 64,
            "STM32F10x medium density, 16 KiB flash, bootloader 2.2", "", "Done", nullptr,
            {{"register", "flash-size"}});
        // Nothing is erased that cannot be written.
        row("refused: option bytes", "", {}, at(0x1FFFF800, 16), -3,
            "the image has data at 0x1FFFF80F, past the end of the 128 KiB flash (its last address is 0x0801FFFF)",
            downloadError, "Failed: image refused");
        row("refused: an application above a resident bootloader, whole flash", "", {"--resident-kib", "32"},
            at(0x08008000, 1000), -3,
            "the image has no data at 0x08000000 to 0x08000007, the stack pointer and reset vector Go starts from: "
            "erasing the whole flash would leave the camera without a program (an application linked above a "
            "resident bootloader needs the page erase)", downloadError, "Failed: image refused");
        row("resident bootloader kept: page erase", "pages", {"--resident-kib", "32"}, at(0x08008000, 1000), 4,
            "Erased 1 page, 0x08008000 to 0x080083FF", "", "Done", nullptr, {{"command", "erase"}, {"pages", QJsonArray{32}}});
        row("read back", "verify", {}, kGoodFile, 4, "Verify Success", "", "Done", nullptr,
            {{"command", "read"}, {"address", "0x08000300"}, {"result", "ack"}});
        row("read back refused: read-out protection", "verify", {"--read-protected"}, kGoodFile, 0,
            "the bootloader refuses Read Memory: the chip's read-out protection is on, so the flash cannot be read back",
            downloadError, "Failed: read-back");
        row("115200 baud", "115200", {"--wire-time"}, kGoodFile, 4, "Go 0x08000000", "", "Done");
    }

    void upgradeEnds()
    {
        QFETCH(QString, before);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, file);
        QFETCH(int, blocks);
        QFETCH(QString, trace);
        QFETCH(QString, box);
        QFETCH(QString, detail);
        QFETCH(QString, barText);
        QFETCH(QJsonObject, record);
        Bench bench;
        QVERIFY(bench.start(options));
        MyWidget *w = bench.window.get();
        const auto *bar = control<QProgressBar>(w, "progressBar");
        if (before == QLatin1String("Chinese"))
            w->findChild<QAction *>(QStringLiteral("languageAction"))->trigger();
        for (const auto &[choice, action] : {std::pair{"pages", "erasePagesAction"}, std::pair{"verify", "verifyAction"},
                                             std::pair{"115200", "fastBaudAction"}})
            w->findChild<QAction *>(QLatin1String(action))->setChecked(before == QLatin1String(choice));

        // Choosing ./fw.hex in the dialog that starts at the stored choice:
        // the path is stored and shown, the file counted and loaded. A
        // cancelled choice leaves the field, and so the file, as they were.
        bench.choose(kGoodFile);
        QCOMPARE(bench.boxes.fileDialogStart(), bench.oldPath);
        QCOMPARE(TestEnv::paneLines(w), (QStringList{"File Path:" + bench.hexPath,
                                                     QStringLiteral("Hex File: %1 byte").arg(kGoodFile.size()),
                                                     "Load Byte:1000bytes"}));
        auto *path = control<QLineEdit>(w, "lineEditPath");
        QVERIFY(bar->maximum() == 4 * kBlock && path->text() == bench.hexPath);
        QCOMPARE(bench.scratch.storedText(QStringLiteral("section10/FileAdd")), bench.hexPath);
        auto *upgrade = control<QPushButton>(w, "pushButtonUpdata");
        QVERIFY(upgrade->isEnabled());
        bench.boxes.pickFile(QString());
        bench.click("pushButtonChooseHex");
        QVERIFY(bench.lastLine() == "Please Choose Hex File" && upgrade->isEnabled() && path->text() == bench.hexPath);
        bench.choose(kGoodFile);

        // The file changes (or goes) before the upgrade, or the user types
        // another path into the field, or empties it.
        const QString typedPath = QDir::current().absoluteFilePath(QStringLiteral("typed.hex"));
        const QString used = before == QLatin1String("typed") ? typedPath : bench.hexPath;
        if (file.isEmpty())
            QVERIFY(QFile::remove(used));
        else
            QVERIFY(TestEnv::writeFile(used, file));
        path->selectAll();
        if (before == QLatin1String("typed"))
            QTest::keyClicks(path, typedPath);
        if (before == QLatin1String("emptied"))
            QTest::keyClick(path, Qt::Key_Delete);
        QCOMPARE(upgrade->isEnabled(), before != QLatin1String("emptied"));
        const QString missingPort = QDir::current().absoluteFilePath(QStringLiteral("no-such-tty"));
        if (before == QLatin1String("missing port"))
            bench.typePort(missingPort);
        QVERIFY(before != QLatin1String("open port") || bench.open());
        // A pseudo-terminal drops the parity bit: taken for a real adapter,
        // it refuses 8E1.
        if (before == QLatin1String("strict adapter"))
            MyWidgetTestAccess::serialLine(*w).setPseudoTerminalExempt(false);
        if (before == QLatin1String("retry")) {
            QVERIFY(bench.upgrade());
            QCOMPARE(bench.boxes.seen().size(), 1);
        }

        const int from = int(bench.camera.lines.size());
        const int boxesBefore = int(bench.boxes.seen().size());
        QVERIFY(bench.upgrade());
        QCOMPARE(bench.boxes.seen().mid(boxesBefore), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(bar->text(), barText);
        // A line ending in ':' goes on with the operating system's words.
        const QStringList pane = TestEnv::paneLines(w);
        if (barText == QLatin1String("Done"))
            QVERIFY2(pane.contains(trace) && pane.last() == "Go 0x08000000", qPrintable(pane.join('\n')));
        else if (trace.endsWith(QLatin1Char(':')))
            QVERIFY2(bench.lastLine().startsWith(trace), qPrintable(bench.lastLine()));
        else
            QCOMPARE(bench.lastLine(), trace);
        // The box's own text stays short; below it, what exactly failed.
        if (!box.isEmpty())
            QCOMPARE(bench.boxes.details().mid(boxesBefore),
                     QStringList{detail.isNull() ? bench.lastLine()
                                                 : QString(detail).replace("%1", used).replace("%2", missingPort)});
        // The port is closed and the window is back where a user can try again.
        const bool leftOpen = before == QLatin1String("open port");
        QCOMPARE(MyWidgetTestAccess::serialOpen(*w), leftOpen);
        QCOMPARE(control<QWidget>(w, "pushButtonOpen")->styleSheet() == "background-color:yellow", !leftOpen);
        for (const char *name : {"pushButton_2", "comboBoxCom"}) // ready again
            QVERIFY2(leftOpen || control<QWidget>(w, name)->isEnabled(), name);
        QVERIFY(leftOpen || upgrade->isEnabled() == (before != QLatin1String("emptied")));
        if (!record.isEmpty())
            QVERIFY(bench.camera.waitFor(record, from) >= 0);
        if (blocks == -3) { // the camera keeps its program
            for (const char *command : {"erase", "ext-erase", "write", "go"})
                QCOMPARE(bench.camera.count({{"command", command}}, from), 0);
        }
        if (blocks == -1 || blocks == -2) {
            Wait::sleep(100);
            QCOMPARE(bench.camera.count({{"protocol", "bootloader"}}), 0);
            QCOMPARE(bench.framesReceived(), blocks == -1 ? 0 : 1); // -2: Enter IAP only
        }
        if (blocks <= 0)
            return;
        // A read-back counts every block again.
        const int counted = blocks * kBlock * (before == QLatin1String("verify") ? 2 : 1);
        QVERIFY(bar->value() == counted && bar->maximum() == counted);
        // The bootloader was met at the chosen rate; the program started, and
        // heard Exit IAP before the port closed.
        QVERIFY(bench.camera.find({{"command", "sync"}, {"baud", before == "115200" ? 115200 : 57600}}) >= 0);
        const int go = bench.camera.waitFor({{"event", "go"}, {"vector", "programmed"}}, from);
        QVERIFY(go >= 0 && bench.camera.waitFor({{"hex", "8902076357ff"}}, go) > go);
        QVERIFY(bench.flashHolds(file, before == QLatin1String("pages")));
    }

    void duringARun_data()
    {
        QTest::addColumn<bool>("yes"); // the answer to the close question
        QTest::addColumn<bool>("chinese");
        QTest::newRow("the window's controls, a dialog, a close answered no") << false << false;
        QTest::newRow("a close answered yes, in Chinese") << true << true;
    }

    // While a run holds the line, nothing in the window disturbs it: the file
    // chooser and the language switch are off (and the switch's rebuilt
    // line-setting boxes would be refused), a camera button stays off the
    // bootloader's line, and a modal dialog opened meanwhile does not stop
    // the bytes. Closing mid-run would leave the camera half written: the
    // window asks; outside a run it asks nothing.
    void duringARun()
    {
        QFETCH(bool, yes);
        QFETCH(bool, chinese);
        Bench bench;
        QVERIFY(bench.start({"--wire-time"}));
        const QByteArray file = HexWriter::write(0x08000000, TestEnv::firmware(16 * kBlock));
        bench.choose(file);
        MyWidget *w = bench.window.get();
        auto *bar = control<QProgressBar>(w, "progressBar");
        auto *upgrade = control<QPushButton>(w, "pushButtonUpdata");
        auto *language = w->findChild<QAction *>(QStringLiteral("languageAction"));
        w->show();
        if (chinese)
            language->trigger();
        bench.boxes.answerWith(yes ? QMessageBox::Yes : QMessageBox::No);
        int framesAtClose = -1, framesBefore = -1, framesAfter = -1;
        bool upgradeOffThroughout = true;
        QObject::connect(bar, &QProgressBar::valueChanged, w, [&](int value) {
            upgradeOffThroughout = upgradeOffThroughout && !upgrade->isEnabled() && !language->isEnabled();
            if (value >= 4 * kBlock && framesAtClose < 0) {
                framesAtClose = bench.framesReceived();
                w->close();
            }
            if (value != kBlock || yes)
                return;
            // What the user does next comes from the event loop, as a click
            // would.
            QTimer::singleShot(0, w, [&] {
                bench.boxes.pickFile(bench.oldPath);
                bench.click("pushButtonChooseHex");
                language->trigger();
                QMetaObject::invokeMethod(w, "on_choiceLanguage", Qt::DirectConnection);
                bench.click("pushButtonLeft");
                // The dialog sits on top of everything for half a second.
                QDialog dialog(w);
                QTimer::singleShot(500, &dialog, &QDialog::accept);
                QTimer::singleShot(50, &dialog, [&] { framesBefore = bench.framesReceived(); });
                QTimer::singleShot(450, &dialog, [&] { framesAfter = bench.framesReceived(); });
                dialog.exec();
            });
        });

        const QString question = chinese ? QStringLiteral("提示: 你确定要关闭吗?")
                                         : QStringLiteral("Tip: Are you sure to close it?");
        if (yes) {
            bench.click("pushButtonUpdata");
            QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 10000);
            QVERIFY(framesAtClose > 0 && !MyWidgetTestAccess::serialOpen(*w));
            // The block whose data were on the wire when the window closed
            // lands; nothing follows it.
            Wait::sleep(300);
            QVERIFY2(bench.framesReceived() - framesAtClose <= 1, qPrintable(QString::number(bench.framesReceived())));
            const int landed = bench.framesReceived();
            Wait::sleep(300);
            QCOMPARE(bench.framesReceived(), landed);
            QCOMPARE(bench.boxes.seen(), QStringList{question});
            QVERIFY(bench.camera.find({{"result", "nack"}}) < 0 && bench.camera.find({{"command", "ignored"}}) < 0);
            return;
        }
        QVERIFY(bench.upgrade());
        QVERIFY(w->isVisible() && framesAtClose > 0 && upgradeOffThroughout && upgrade->isEnabled());
        QCOMPARE(bench.boxes.seen(), QStringList{question});
        QVERIFY(bar->text() == "Done" && bar->value() == bar->maximum());
        QCOMPARE(control<QLineEdit>(w, "lineEditPath")->text(), bench.hexPath);
        // At 57600 baud a block (one Write Memory on camsim's record) takes
        // about 50 ms on the wire: some 8 in 400 ms.
        QVERIFY2(framesAfter - framesBefore >= 5, qPrintable(QStringLiteral("%1 -> %2").arg(framesBefore).arg(framesAfter)));
        // The line stayed at the bootloader's settings from the sync to Go.
        const int sync = bench.camera.find({{"command", "sync"}, {"baud", 57600}});
        const int go = bench.camera.waitFor({{"event", "go"}});
        QVERIFY(sync >= 0 && go > sync);
        QCOMPARE(bench.camera.count({{"event", "line"}}, sync, go), 0);
        QVERIFY(bench.flashHolds(file));
        // The next run starts from an empty bar counting in percent (the
        // camera is gone: it ends at once). Closing then asks nothing.
        QString atStart;
        QObject::connect(bar, &QProgressBar::valueChanged, w, [&](int value) {
            if (value == 0 && atStart.isNull())
                atStart = bar->text();
        });
        QVERIFY(bench.upgrade());
        QCOMPARE(atStart, QStringLiteral("0%"));
        QCOMPARE(bar->text(), QStringLiteral("Failed: port"));
        QVERIFY(w->close());
        QCOMPARE(bench.boxes.seen(), (QStringList{question, "Tip: Serial Port Error,Please restart."}));
    }

    void singleSteps()
    {
        Bench bench;
        QVERIFY(bench.start({}) && bench.open());
        bench.click("pushButtonEnterIAP");
        QVERIFY(bench.camera.waitFor({{"event", "bootloader"}}) >= 0);
        control<QComboBox>(bench.window.get(), "comboBoxBaudrate")->setCurrentText(QStringLiteral("57600"));
        control<QComboBox>(bench.window.get(), "comboBoxParity")->setCurrentIndex(2);
        // Each step and the pane's last line after it. The ACK to Send 7f is
        // no answer to Get ID; after Go the program runs again: the
        // bootloader is gone, nothing acknowledges.
        const struct { const char *button, *line; } steps[] = {
            {"pushButtonSend7f", "79"}, {"pushButtonGetID", "Product ID: 0410"},
            {"pushButtonEraseAll", "Just a few seconds, please."}, {"pushButtonGo", "Go 0x08000000"},
            {"pushButtonGetID", "Get ID Fail"}, {"pushButtonEraseAll", "no answer to the Erase command"}};
        for (const auto &step : steps) {
            bench.click(step.button);
            QTRY_COMPARE(bench.lastLine(), QString::fromLatin1(step.line));
        }
        QVERIFY(bench.camera.find({{"event", "go"}}) >= 0);
        QCOMPARE(bench.boxes.seen(), QStringList{"Error: Erase Command Error2,Please restart."});
    }
};

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
