// The firmware upgrade through the window, against camsim's emulated STM32
// bootloader: what reaches the flash, what the window says at every end, and
// that a bad file never reaches the camera.

#include "boxanswerer.h"
#include "camsimprocess.h"
#include "isp/hexwriter.h"
#include "link/portlist.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"
#include "testenv.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

#include <csignal>
#include <memory>

using TestEnv::control;

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kBlock = 256;

// Firmware of n bytes that no two blocks share.
QByteArray firmware(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = char((i * 7 + i / kBlock) & 0xFF);
    return bytes;
}

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
class Bench
{
public:
    bool start(const QStringList &options)
    {
        if (!camera.start(QStringList{"--flash-out", flashPath(), "--erase-ms", "50"} + options))
            return false;
        window = std::make_unique<MyWidget>();
        typePort(camera.slavePath);
        return true;
    }

    QString flashPath() const { return QDir::current().absoluteFilePath(QStringLiteral("flash.bin")); }

    // Writes the firmware as ./fw.hex and chooses it with "...".
    QString choose(const QByteArray &data)
    {
        const QString path = QDir::current().absoluteFilePath(QStringLiteral("fw.hex"));
        writeFile(path, HexWriter::write(kFlashStart, data));
        chooseFile(path);
        return path;
    }

    void chooseFile(const QString &path)
    {
        boxes.pickFile(path);
        click("pushButtonChooseHex");
    }

    void click(const char *button) { control<QPushButton>(window.get(), button)->click(); }
    void upgrade() { click("pushButtonUpdata"); }

    bool open()
    {
        click("pushButtonOpen");
        return MyWidgetTestAccess::serialOpen(*window);
    }

    void typePort(const QString &path)
    {
        control<QComboBox>(window.get(), "comboBoxCom")->lineEdit()->setText(path);
    }

    // The block addresses camsim was asked to write, in order.
    QList<quint32> writes() const
    {
        QList<quint32> addresses;
        for (const QJsonObject &line : camera.lines) {
            if (matches(line, {{"protocol", "bootloader"}, {"command", "write"}}))
                addresses.append(line.value("address").toString().toUInt(nullptr, 16));
        }
        return addresses;
    }

    int framesReceived() const { return camera.count({{"dir", "rx"}}, 0, int(camera.lines.size())); }

    // The flash as camsim leaves it when it ends.
    QByteArray flash()
    {
        camera.signal(SIGTERM);
        if (!camera.waitForExit())
            return {};
        QFile file(flashPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The window is back where a user can try again.
    void verifyReadyForNextTry()
    {
        QVERIFY(!MyWidgetTestAccess::serialOpen(*window));
        const auto *open = control<QPushButton>(window.get(), "pushButtonOpen");
        QCOMPARE(open->text(), QStringLiteral("Open"));
        QCOMPARE(open->styleSheet(), QStringLiteral("background-color:yellow"));
        QVERIFY(control<QWidget>(window.get(), "pushButton_2")->isEnabled());
        QVERIFY(control<QWidget>(window.get(), "comboBoxCom")->isEnabled());
        QVERIFY(control<QWidget>(window.get(), "pushButtonUpdata")->isEnabled());
        QVERIFY(!control<QWidget>(window.get(), "widgetPT")->isEnabled());
    }

    TestEnv::ScratchDir scratch;
    BoxAnswerer boxes;
    Camsim camera;
    std::unique_ptr<MyWidget> window;
};

const QStringList kSuccessTrace{"Enter IAP Success", "Erase Command Success", "Erase All Start",
                                "Just a few seconds, please.", "File Open Success",
                                "Go 0x08000000"};

// The lines of `expected` appear in the pane in this order.
bool inOrder(const QStringList &pane, const QStringList &expected)
{
    int at = 0;
    for (const QString &line : pane) {
        if (at < expected.size() && line == expected.at(at))
            ++at;
    }
    return at == expected.size();
}

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { PortList::setSource([] { return QList<PortList::Port>{}; }); }
    void cleanup() { PortList::setSource({}); }
    void flashesTheImage_data();
    void flashesTheImage();
    void everyFaultEndsWithItsMessage_data();
    void everyFaultEndsWithItsMessage();
    void badFileNeverReachesTheCamera_data();
    void badFileNeverReachesTheCamera();
    void portThatCannotOpen();
    void closingTheWindowStopsTheUpgrade();
    void singleSteps();
    void staleAckNeverAcknowledges();
    void choosingTheFile();
};

void UpgradeTest::flashesTheImage_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<quint32>>("blocks");
    QTest::addColumn<int>("progress");
    // 62 records of 16 bytes and one of 8: three full blocks, then 232 data
    // bytes padded with 24 x 0xFF.
    QTest::newRow("1000 bytes") << firmware(1000)
                                << QList<quint32>{kFlashStart, kFlashStart + 256,
                                                  kFlashStart + 512, kFlashStart + 768}
                                << 1024;
    // Whole blocks: one block of 0xFF follows, as the camera's sequence ends.
    QTest::newRow("512 bytes") << firmware(512)
                               << QList<quint32>{kFlashStart, kFlashStart + 256, kFlashStart + 512}
                               << 768;
    QList<quint32> demoBlocks;
    for (quint32 a = 0; a <= 24 * 1024; a += kBlock)
        demoBlocks.append(kFlashStart + a);
    // 24 KiB: 96 full blocks and the block of 0xFF.
    QTest::newRow("shipped demo firmware") << QByteArray() << demoBlocks << 97 * 256;
}

void UpgradeTest::flashesTheImage()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<quint32>, blocks);
    QFETCH(int, progress);
    Bench bench;
    QVERIFY(bench.start({}));
    if (data.isEmpty()) {
        data = dataOf(QStringLiteral(QUILLON_DEMO_FIRMWARE));
        bench.chooseFile(QStringLiteral(QUILLON_DEMO_FIRMWARE));
    } else {
        bench.choose(data);
    }
    QCOMPARE(control<QProgressBar>(bench.window.get(), "progressBar")->maximum(), progress);

    bench.upgrade();
    QCOMPARE(bench.boxes.seen(), QStringList());
    QVERIFY2(inOrder(TestEnv::paneLines(bench.window.get()), kSuccessTrace),
             qPrintable(TestEnv::paneLines(bench.window.get()).join('|')));
    QCOMPARE(control<QProgressBar>(bench.window.get(), "progressBar")->value(), progress);
    QCOMPARE(bench.writes(), blocks);
    bench.verifyReadyForNextTry();
    // The bootloader was met at 57600 baud; the camera firmware got the line
    // back at 9600 baud and heard Exit IAP.
    QVERIFY(bench.camera.find({{"command", "sync"}, {"baud", 57600}}) >= 0);
    const int go = bench.camera.waitFor({{"event", "go"}});
    QVERIFY(go >= 0);
    const int exitIap = bench.camera.waitFor({{"hex", "8902076357ff"}}, go);
    QVERIFY(exitIap >= 0);
    QVERIFY(bench.camera.count({{"event", "line"}, {"baud", 9600}}, go, exitIap) == 1);

    const QByteArray flash = bench.flash();
    QVERIFY(flash.size() >= blocks.size() * kBlock);
    QCOMPARE(flash.left(data.size()), data);
    // Past the data the flash is erased: the final block's padding and
    // every block beyond it.
    QCOMPARE(flash.mid(data.size()), QByteArray(flash.size() - data.size(), char(0xFF)));
}

void UpgradeTest::everyFaultEndsWithItsMessage_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("writes");
    const QString error = QStringLiteral("Error: ");
    QTest::newRow("no bootloader") << QStringList{"--no-bootloader"}
                                   << error + "Serial port error or machine failure,Please restart."
                                   << 0;
    QTest::newRow("erase refused") << QStringList{"--fail-erase"}
                                   << error + "Erase All Error,Please restart." << 0;
    QTest::newRow("block 2 refused") << QStringList{"--nack-block", "2"}
                                     << error + "Download Error2,Please restart." << 2;
    QTest::newRow("final block refused") << QStringList{"--nack-block", "4"}
                                         << error + "Download Error1,Please restart." << 4;
    QTest::newRow("silent after block 1") << QStringList{"--silent-after-block", "1"}
                                          << error + "Download Error2,Please restart." << 1;
    QTest::newRow("line closed after block 2") << QStringList{"--close-after-block", "2"}
                                               << error + "Download Error2,Please restart." << 2;
}

void UpgradeTest::everyFaultEndsWithItsMessage()
{
    QFETCH(QStringList, options);
    QFETCH(QString, box);
    QFETCH(int, writes);
    Bench bench;
    QVERIFY(bench.start(options));
    bench.choose(firmware(1000));

    bench.upgrade();
    QCOMPARE(bench.boxes.seen(), QStringList{box});
    QVERIFY(!TestEnv::paneLines(bench.window.get()).contains(QStringLiteral("Go 0x08000000")));
    QCOMPARE(bench.writes().size(), writes);
    bench.verifyReadyForNextTry();
}

void UpgradeTest::badFileNeverReachesTheCamera_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QStringList>("boxes");
    const QByteArray good = HexWriter::write(kFlashStart, firmware(64));
    const QStringList fileError{"Error: Hex File Error,Please restart."};

    QByteArray badChecksum = good;
    const int digit = badChecksum.indexOf("\r\n", 20) - 1;
    badChecksum[digit] = badChecksum.at(digit) == '0' ? '1' : '0';
    QTest::newRow("bad checksum on line 2") << badChecksum << "Hex File Error: line 2" << fileError;
    QByteArray truncated = good.left(good.lastIndexOf(':'));
    QTest::newRow("cut short") << truncated << "Hex File Error: " << fileError;
    QTest::newRow("missing file") << QByteArray() << "File Open Fail,Please restart."
                                  << QStringList();
    QTest::newRow("bad checksum, in Chinese") << badChecksum << "Hex File Error: line 2"
                                              << QStringList{"错误: 文件错误,请重试."};
}

void UpgradeTest::badFileNeverReachesTheCamera()
{
    QFETCH(QByteArray, text);
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

    bench.upgrade();
    QVERIFY2(lastLine(*bench.window).startsWith(trace), qPrintable(lastLine(*bench.window)));
    QCOMPARE(bench.boxes.seen(), boxes);
    Wait::sleep(100);
    QCOMPARE(bench.framesReceived(), 0);
    QVERIFY(!MyWidgetTestAccess::serialOpen(*bench.window));
}

void UpgradeTest::portThatCannotOpen()
{
    Bench bench;
    QVERIFY(bench.start({}));
    bench.choose(firmware(300));
    bench.typePort(QDir::current().absoluteFilePath(QStringLiteral("no-such-tty")));

    bench.upgrade();
    QCOMPARE(bench.boxes.seen(), QStringList{"Tip: Serial Port Error,Please restart."});
    QCOMPARE(control<QPushButton>(bench.window.get(), "pushButtonOpen")->text(), QStringLiteral("Open"));
    QVERIFY(control<QWidget>(bench.window.get(), "comboBoxCom")->isEnabled());
    QVERIFY(control<QWidget>(bench.window.get(), "pushButtonUpdata")->isEnabled());
    QCOMPARE(bench.framesReceived(), 0);

    // Upgrade while the port is open: the open link is left alone.
    bench.typePort(bench.camera.slavePath);
    QVERIFY(bench.open());
    bench.upgrade();
    QCOMPARE(bench.boxes.seen().size(), 2);
    QVERIFY(MyWidgetTestAccess::serialOpen(*bench.window));
    QCOMPARE(control<QPushButton>(bench.window.get(), "pushButtonOpen")->text(), QStringLiteral("Close"));
    QCOMPARE(bench.framesReceived(), 0);
}

void UpgradeTest::closingTheWindowStopsTheUpgrade()
{
    Bench bench;
    QVERIFY(bench.start({"--wire-time"}));
    bench.choose(firmware(16 * kBlock));
    bench.window->show();
    auto *bar = control<QProgressBar>(bench.window.get(), "progressBar");
    int writesAtClose = -1;
    QObject::connect(bar, &QProgressBar::valueChanged, bench.window.get(), [&](int value) {
        // A camera button pressed meanwhile must not reach the bootloader.
        if (value == kBlock)
            bench.click("pushButtonLeft");
        if (value >= 2 * kBlock && writesAtClose < 0) {
            writesAtClose = bench.writes().size();
            bench.window->close();
        }
    });

    bench.upgrade();
    QVERIFY(writesAtClose > 0);
    QVERIFY(!bench.window->isVisible());
    QVERIFY(!MyWidgetTestAccess::serialOpen(*bench.window));
    Wait::sleep(300);
    QCOMPARE(bench.writes().size(), writesAtClose);
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

    bench.click("pushButtonSend7f");
    QTRY_COMPARE(lastLine(w), QStringLiteral("79"));
    bench.click("pushButtonGetID");
    QCOMPARE(lastLine(w), QStringLiteral("Product ID: 0410"));
    bench.click("pushButtonEraseAll");
    QVERIFY(inOrder(TestEnv::paneLines(&w), {"Product ID: 0410", "Erase Command Success", "Erase All Start",
                                   "Just a few seconds, please."}));
    bench.click("pushButtonGo");
    QCOMPARE(lastLine(w), QStringLiteral("Go 0x08000000"));
    QVERIFY(bench.camera.waitFor({{"event", "go"}}) >= 0);
    QCOMPARE(bench.boxes.seen(), QStringList());

    // The program runs again: the bootloader is gone, nothing acknowledges.
    bench.click("pushButtonGetID");
    QCOMPARE(lastLine(w), QStringLiteral("Get ID Fail"));
    bench.click("pushButtonEraseAll");
    QCOMPARE(bench.boxes.seen(), QStringList{"Error: Erase Command Error2,Please restart."});
}

void UpgradeTest::staleAckNeverAcknowledges()
{
    SerialWindow rig;
    QVERIFY(rig.open());
    // An acknowledge that came before the command is no answer to it.
    rig.device().write(QByteArray(1, char(0x79)));
    QTRY_COMPARE(rig.paneLines(), QStringList{"79"});
    control<QPushButton>(&rig.window(), "pushButtonGetID")->click();
    QCOMPARE(rig.device().received(), QByteArray::fromHex("02fd"));
    QCOMPARE(lastLine(rig.window()), QStringLiteral("Get ID Fail"));
    control<QPushButton>(&rig.window(), "pushButtonGo")->click();
    QCOMPARE(lastLine(rig.window()), QStringLiteral("Go 0x08000000"));
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
    auto *bar = control<QProgressBar>(&w, "progressBar");

    boxes.pickFile(QString());
    control<QPushButton>(&w, "pushButtonChooseHex")->click();
    QCOMPARE(boxes.fileDialogStart(), path);
    QCOMPARE(TestEnv::paneLines(&w), QStringList{"Please Choose Hex File"});
    QVERIFY(!upgrade->isEnabled());

    boxes.pickFile(path);
    control<QPushButton>(&w, "pushButtonChooseHex")->click();
    QCOMPARE(TestEnv::paneLines(&w).mid(1),
             (QStringList{"File Path:" + path,
                          QStringLiteral("Hex File: %1 byte").arg(QFileInfo(path).size()),
                          "Load Byte:5000bytes"}));
    QCOMPARE(bar->maximum(), 5120);
    QVERIFY(upgrade->isEnabled());
    QCOMPARE(control<QLineEdit>(&w, "lineEditPath")->text(), path);
    QCOMPARE(scratch.storedText(QStringLiteral("section10/FileAdd")), path);

    // A damaged file is named with its line by Load Byte too.
    QByteArray text = HexWriter::write(kFlashStart, firmware(64));
    text.replace(text.indexOf("\r\n:") + 2, 1, "#"); // line 2 loses its ':' 
    writeFile(path, text);
    control<QPushButton>(&w, "pushButtonLoadByte")->click();
    QVERIFY2(lastLine(w).startsWith(QLatin1String("Hex File Error: line 2")),
             qPrintable(lastLine(w)));
    QCOMPARE(boxes.seen(), QStringList());
}

QTEST_MAIN(UpgradeTest)
#include "tst_upgrade.moc"
