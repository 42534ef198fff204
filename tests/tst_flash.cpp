// quillon-flash as a line controller meets it: the command line, the exit
// status, the lines on stdout and the JSON report, with cameras played by
// camsim (what each received, and the flash it was left with).

#include "camsimprocess.h"
#include "isp/hexwriter.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kBlock = 256;
constexpr int kRunTimeoutMs = 30000;
const char *const kPart = "STM32F10x medium density, 128 KiB flash, bootloader 2.2";

// quillon-flash in the test's folder; waits with the event loop running, so
// that the simulators' records keep coming in.
struct Flasher
{
    QProcess process;
    int status = -1; // -1: it crashed or did not end in time
    QString out, err;

    void start(const QStringList &arguments)
    {
        process.start(QStringLiteral(QUILLON_FLASH_PATH), arguments);
        QVERIFY(process.waitForStarted(kStartTimeoutMs));
    }
    void wait(int timeoutMs = kRunTimeoutMs)
    {
        const bool ended = QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        if (ended && process.exitStatus() == QProcess::NormalExit)
            status = process.exitCode();
        out = QString::fromLocal8Bit(process.readAllStandardOutput());
        err = QString::fromLocal8Bit(process.readAllStandardError());
    }
};

QJsonObject readReport(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

// The record of the n-th port given, which names it.
QJsonObject portRecord(const QJsonObject &report, int n, const Camsim &camera)
{
    const QJsonObject record = report.value(QStringLiteral("ports")).toArray().at(n).toObject();
    return record.value(QStringLiteral("port")) == camera.slavePath ? record : QJsonObject();
}

} // namespace

class FlashTest : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments"); // {good}, {bad}, {dir} and {port} replaced
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");       // on stdout or stderr
        QTest::addColumn<QString>("reportError");    // the --json report's "error"; empty: not asked
        const auto row = [](const char *name, const QStringList &arguments, int status, const QStringList &said,
                            const char *reportError = "") {
            QTest::newRow(name) << arguments << status << said << QString(reportError);
        };
        row("help", {"--help"}, 0,
            {"--baud <rate>", "(default: 57600)", "--verify", "--erase <what>", "(default: all)", "--no-iap",
             "--retries <n>", "--json <file>", "--quiet", "FIRMWARE.hex", "PORT...", "Exit status:"});
        const QString usage = QStringLiteral("give the firmware file and at least one port");
        row("no port", {"{good}"}, 2, {usage});
        row("baud the bootloader does not take", {"--baud", "9600", "{good}", "{port}"}, 2,
            {"--baud takes 57600 or 115200, not 9600"});
        row("erase of another kind", {"--erase", "sectors", "{good}", "{port}"}, 2,
            {"--erase takes all or pages, not sectors"});
        row("too many retries", {"--retries", "11", "{good}", "{port}"}, 2,
            {"--retries takes a number from 0 to 10, not 11"});
        row("a port named twice", {"{good}", "{port}", "{port}"}, 2, {"is named twice"});
        row("report where no folder is", {"--json", "{dir}/no/report.json", "{good}", "{port}"}, 2,
            {"cannot write the report"});
        // The file is read and checked before any port opens.
        row("missing file", {"--json", "{dir}/report.json", "{dir}/missing.hex", "{port}"}, 2,
            {"missing.hex: the file cannot be opened"}, "{dir}/missing.hex: the file cannot be opened");
        row("damaged file", {"--json", "{dir}/report.json", "{bad}", "{port}"}, 2, {"bad.hex: line 2: bad checksum"},
            "{bad}: line 2: bad checksum");
        // A port that does not open is that camera's failure, not a usage error.
        row("a port that does not open", {"{good}", "{dir}/no-such-tty"}, 1,
            {"no-such-tty: FAILED: cannot open the port: No such file or directory", "0 of 1 cameras upgraded"});
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        QFETCH(QString, reportError);
        QTemporaryDir dir;
        Camsim camera;
        QVERIFY(camera.startFlashing(dir.filePath(QStringLiteral("camera.bin")), {}));
        const QString good = dir.filePath(QStringLiteral("good.hex"));
        const QString bad = dir.filePath(QStringLiteral("bad.hex"));
        QByteArray file = HexWriter::write(0x08000000, TestEnv::firmware(1000));
        QVERIFY(TestEnv::writeFile(good, file));
        const int digit = file.indexOf("\r\n", 20) - 1; // line 2's last digit
        file[digit] = file.at(digit) == '0' ? '1' : '0';
        QVERIFY(TestEnv::writeFile(bad, file));
        const auto fill = [&](QString text) {
            return text.replace(QLatin1String("{good}"), good)
                .replace(QLatin1String("{bad}"), bad)
                .replace(QLatin1String("{dir}"), dir.path())
                .replace(QLatin1String("{port}"), camera.slavePath);
        };
        for (QString &argument : arguments)
            argument = fill(argument);

        Flasher run;
        run.start(arguments);
        run.wait();
        QCOMPARE(run.status, status);
        for (const QString &text : qAsConst(said))
            QVERIFY2(run.out.contains(text) || run.err.contains(text), qPrintable(run.out + run.err));
        if (status == 2) {
            // Nothing reached a camera, and stdout names no port.
            QVERIFY2(run.out.isEmpty() || said.contains(QStringLiteral("Exit status:")), qPrintable(run.out));
            Wait::sleep(50);
            QCOMPARE(camera.count({{"dir", "rx"}}), 0);
        }
        if (!reportError.isEmpty()) {
            const QJsonObject report = readReport(dir.filePath(QStringLiteral("report.json")));
            QCOMPARE(report.value(QStringLiteral("error")).toString(), fill(reportError));
            QCOMPARE(report.value(QStringLiteral("exit_status")).toInt(), 2);
            QCOMPARE(report.value(QStringLiteral("ports")).toArray().size(), 0);
        }
    }

    void twoCameras_data()
    {
        QTest::addColumn<QStringList>("options");      // quillon-flash's
        QTest::addColumn<QStringList>("faulty");       // camsim's for the second camera (both get `both`)
        QTest::addColumn<QStringList>("both");
        QTest::addColumn<int>("status");
        QTest::addColumn<QJsonObject>("second");       // fields of the second camera's record
        QTest::addColumn<QJsonArray>("heard");         // records the second camsim must have logged
        QTest::addColumn<QString>("line");             // the second camera's line on stdout
        // What the second camera refused: the fault, and the sync of a
        // bootloader already synchronised; any other NACK is a byte that
        // should not have reached the bootloader (Enter IAP on a retry).
        QTest::addColumn<int>("nacks");
        const QJsonObject refused{{"result", "failed"}, {"end", "block-failed"}, {"step", "write-data"},
                                  {"address", "0x08000200"}, {"answer", "nack"}, {"bytes", 2 * kBlock},
                                  {"tries", 1}, {"detail", "NACK to the data of the block at 0x08000200"},
                                  {"state", "the flash is erased and half-written; the camera is in its "
                                            "bootloader: run again"}};
        QTest::newRow("a refused block stops only its camera")
            << QStringList{} << QStringList{"--nack-block", "3"} << QStringList{} << 1 << refused
            << QJsonArray{QJsonObject{{"command", "write"}, {"block", 3}, {"result", "nack"}}}
            << "FAILED: NACK to the data of the block at 0x08000200; the flash is erased and half-written" << 1;
        // camsim refuses only the third Write Memory since it started: the
        // retry, from the sync of a bootloader still synchronised, succeeds.
        QTest::newRow("a retry from the sync mends it")
            << QStringList{"--retries", "1"} << QStringList{"--nack-block", "3"} << QStringList{} << 0
            << QJsonObject{{"result", "success"}, {"tries", 2}, {"step", QJsonValue()},
                           {"earlier_failures", QJsonArray{"NACK to the data of the block at 0x08000200"}}}
            << QJsonArray{QJsonObject{{"command", "write"}, {"block", 7}, {"result", "ack"}}}
            << "try 1 failed: NACK to the data of the block at 0x08000200; trying again from the sync" << 2;
        QTest::newRow("115200, read-back, page erase")
            << QStringList{"--baud", "115200", "--verify", "--erase", "pages"} << QStringList{}
            << QStringList{"--wire-time"} << 0 << QJsonObject{{"result", "success"}, {"tries", 1}}
            << QJsonArray{QJsonObject{{"command", "sync"}, {"baud", 115200}},
                          QJsonObject{{"command", "erase"}, {"pages", QJsonArray{0}}, {"result", "ack"}},
                          QJsonObject{{"command", "read"}, {"address", "0x08000300"}, {"result", "ack"}}}
            << "done, 1024 bytes" << 0;
        // Cameras left in their bootloader: no camera frames at all.
        QTest::newRow("--no-iap: cameras already in their bootloader")
            << QStringList{"--no-iap"} << QStringList{} << QStringList{"--start-synced"} << 0
            << QJsonObject{{"result", "success"}} << QJsonArray{QJsonObject{{"event", "go"}, {"vector", "programmed"}}}
            << "the bootloader was already synchronised" << 1;
    }

    void twoCameras()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, faulty);
        QFETCH(QStringList, both);
        QFETCH(int, status);
        QFETCH(QJsonObject, second);
        QFETCH(QJsonArray, heard);
        QFETCH(QString, line);
        QFETCH(int, nacks);
        QTemporaryDir dir;
        Camsim cameras[2];
        QVERIFY(cameras[0].startFlashing(dir.filePath(QStringLiteral("one.bin")), both));
        QVERIFY(cameras[1].startFlashing(dir.filePath(QStringLiteral("two.bin")), both + faulty));
        const QByteArray image = TestEnv::firmware(4 * kBlock - 24); // four blocks, the last not full
        const QString hexPath = dir.filePath(QStringLiteral("fw.hex"));
        const QString reportPath = dir.filePath(QStringLiteral("report.json"));
        QVERIFY(TestEnv::writeFile(hexPath, HexWriter::write(0x08000000, image)));

        Flasher run;
        run.start(options + QStringList{"--json", reportPath, hexPath, cameras[0].slavePath,
                                            cameras[1].slavePath});
        run.wait();
        QCOMPARE(run.status, status);
        QVERIFY2(run.out.contains(cameras[1].slavePath + QStringLiteral(": ") + line), qPrintable(run.out));
        QVERIFY2(run.out.contains(cameras[0].slavePath + QStringLiteral(": done, 1024 bytes in ")),
                 qPrintable(run.out));
        for (const QJsonValue &record : qAsConst(heard))
            QVERIFY2(cameras[1].waitFor(record.toObject()) >= 0, QJsonDocument(record.toObject()).toJson().constData());
        QCOMPARE(cameras[1].count({{"result", "nack"}}), nacks);
        const bool iap = !options.contains(QStringLiteral("--no-iap"));
        for (Camsim &camera : cameras) {
            QCOMPARE(camera.count({{"hex", "8902076358ff"}}), iap ? 1 : 0); // Enter IAP
        }

        const QJsonObject report = readReport(reportPath);
        QCOMPARE(report.value(QStringLiteral("exit_status")).toInt(), status);
        QCOMPARE(report.value(QStringLiteral("interrupted")).toBool(), false);
        QCOMPARE(report.value(QStringLiteral("image_bytes")).toInt(), image.size());
        QCOMPARE(report.value(QStringLiteral("ports")).toArray().size(), 2);
        const QJsonObject first = portRecord(report, 0, cameras[0]);
        const QJsonObject good{{"result", "success"}, {"end", "success"}, {"part", kPart}, {"bytes", 4 * kBlock},
                               {"total_bytes", 4 * kBlock}, {"tries", 1}, {"step", QJsonValue()},
                               {"address", QJsonValue()}, {"detail", QJsonValue()}};
        QVERIFY2(matches(first, good), QJsonDocument(first).toJson().constData());
        const QJsonObject other = portRecord(report, 1, cameras[1]);
        QVERIFY2(matches(other, second) && other.value(QStringLiteral("part")) == QLatin1String(kPart),
                 QJsonDocument(other).toJson().constData());
        for (const QJsonObject &record : {first, other}) {
            const double seconds = record.value(QStringLiteral("seconds")).toDouble();
            QVERIFY2(seconds > 0 && seconds < 20, qPrintable(QString::number(seconds)));
        }

        // What each camera is left with: the image, and Exit IAP after Go; or
        // no Go at all.
        for (int i = 0; i < 2; ++i) {
            Camsim &camera = cameras[i];
            const bool upgraded = portRecord(report, i, camera).value("result") == QLatin1String("success");
            QCOMPARE(camera.count({{"event", "go"}}), upgraded ? 1 : 0);
            QCOMPARE(camera.count({{"hex", "8902076357ff"}}), upgraded && iap ? 1 : 0); // Exit IAP
            QCOMPARE(camera.flash().left(image.size()) == image, upgraded);
        }
    }

    void ctrlCStopsEveryCamera()
    {
        QTemporaryDir dir;
        Camsim cameras[2];
        for (int i = 0; i < 2; ++i)
            QVERIFY(cameras[i].startFlashing(dir.filePath(QStringLiteral("%1.bin").arg(i)), {"--wire-time"}));
        // 64 blocks: some 3.3 s on the wire at 57600 baud.
        const QByteArray image = TestEnv::firmware(64 * kBlock);
        const QString hexPath = dir.filePath(QStringLiteral("fw.hex"));
        const QString reportPath = dir.filePath(QStringLiteral("report.json"));
        QVERIFY(TestEnv::writeFile(hexPath, HexWriter::write(0x08000000, image)));

        Flasher run;
        run.start({"--json", reportPath, hexPath, cameras[0].slavePath, cameras[1].slavePath});
        for (Camsim &camera : cameras)
            QVERIFY(camera.waitFor({{"command", "write"}, {"block", 4}, {"result", "ack"}}, 0, 10000) >= 0);
        QVERIFY(::kill(pid_t(run.process.processId()), SIGINT) == 0);
        run.wait(2000);
        QCOMPARE(run.status, 130);
        QVERIFY2(run.out.contains(QStringLiteral("0 of 2 cameras upgraded, 2 stopped (interrupted)")),
                 qPrintable(run.out));

        const QJsonObject report = readReport(reportPath);
        QVERIFY(report.value(QStringLiteral("interrupted")).toBool());
        QCOMPARE(report.value(QStringLiteral("exit_status")).toInt(), 130);
        // The cameras hear nothing more; the block a camera acknowledged last
        // is the one the state names (its ACK was on the way), or the one
        // before it.
        Wait::sleep(300);
        for (int i = 0; i < 2; ++i) {
            Camsim &camera = cameras[i];
            QJsonObject lastWrite;
            for (const QJsonObject &record : qAsConst(camera.lines)) {
                if (matches(record, {{"command", "write"}, {"result", "ack"}}))
                    lastWrite = record;
            }
            const quint32 last = lastWrite.value(QStringLiteral("address")).toString().toUInt(nullptr, 16);
            const QJsonObject record = portRecord(report, i, camera);
            const QString state = record.value(QStringLiteral("state")).toString();
            const auto named = [](quint32 address) {
                return QStringLiteral("stopped while writing the block at 0x%1 ")
                    .arg(QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0')));
            };
            QVERIFY2(state.startsWith(named(last)) || state.startsWith(named(last + kBlock)), qPrintable(state));
            QVERIFY2(state.endsWith(QLatin1String("the flash is erased and half-written; the camera is in its "
                                                  "bootloader: run again")), qPrintable(state));
            QVERIFY2(run.out.contains(camera.slavePath + QStringLiteral(": ") + state), qPrintable(run.out));
            QCOMPARE(record.value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
            const int bytes = record.value(QStringLiteral("bytes")).toInt();
            QVERIFY(bytes >= 4 * kBlock && bytes < image.size());
            QCOMPARE(camera.count({{"event", "go"}}), 0);
            QCOMPARE(camera.count({{"hex", "8902076357ff"}}), 0);
        }
    }
};

QTEST_GUILESS_MAIN(FlashTest)
#include "tst_flash.moc"
