// The factory service panel through the window: the serial-number length
// check and counter, the service frames on the line in each protocol, which
// answers count for the inquiries, and the whole panel against camsim. The
// Send box's typed command is tst_camera's.
//
// The serial-number group and "Set Logo" are locked on the form (the factory
// unlocks them on its own benches), so those slots are called by name, the
// way the form binds them.

#include "camsimprocess.h"
#include "wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using TestEnv::control;

namespace {

constexpr int kPelcoD = 0, kPelcoP = 1, kVisca = 2; // the items of the protocol box
const QString kGreen = QStringLiteral("background: green"), kRed = QStringLiteral("background: red");

bool invoke(MyWidget &w, const char *slot)
{
    return !*slot || QMetaObject::invokeMethod(&w, slot, Qt::DirectConnection);
}

QLineEdit *edit(MyWidget &w, const char *name) { return control<QLineEdit>(&w, name); }

// A command of the panel at address 2: the serial number in the field, the
// slot called before (a length or model choice) and the command's slot; what
// the user is told, the number after it, and the bytes on the line.
struct Command
{
    const char *name;
    int protocol;
    const char *number, *setup, *slot, *box, *after, *wire;
};
const char *const kTip12 = "Tip: The serial number is less than 12 bits";
const char *const kTip15 = "Tip: The serial number is less than 15 bits";
const char *const kSetSn = "on_pushButtonSetSN_clicked";
const char *const kSetLogo = "on_pushButton_3_clicked"; // logo "Z!"
const Command kCommands[] = {
    // At start-up "15 Bits" is shown checked, yet 12 characters are meant.
    {"start-up, 15 characters", kVisca, "Q217MXTA0001234", "", kSetSn, kTip12, "Q217MXTA0001234", ""},
    {"start-up, 11 characters, +", kVisca, "Q217MXTA001", "", "on_pushButtonAdd_clicked", kTip12,
     "Q217MXTA001", ""},
    {"15 Bits, 12 characters, -", kVisca, "Q217MXTA0001", "on_radioButton15Bit_clicked",
     "on_pushButtonMinus_clicked", kTip15, "Q217MXTA0001", ""},
    {"12 Bits cuts 15 characters, then +", kVisca, "Q217MXTA0001234", "on_radioButton12Bit_clicked",
     "on_pushButtonAdd_clicked", "", "Q217MXTA0002", ""},
    {"Set SN", kVisca, "Q217MXTA0001", "", kSetSn, "", "Q217MXTA0001",
     "82010661c0935132ff82010661c1933137ff82010661c2934d58ff"
     "82010661c3935441ff82010661c4933030ff82010661c5933031ff"},
    {"Set SN, Pelco-D", kPelcoD, "Q217MXTA0001", "", kSetSn, "", "Q217MXTA0001", ""},
    {"Set Logo, VN620", kVisca, "", "", kSetLogo, "", "",
     "82010661d0875a21ff82010661d1870000ff82010661d2870000ff82010661d3870000ff"},
    // Under Pelco an inquiry goes nowhere: no answer is awaited, the test fails.
    {"Read SN, Pelco-P", kPelcoP, "", "", "on_pushButtonReadSN_clicked", "", "", ""},
    {"Communication, Pelco-D", kPelcoD, "", "", "on_pushButtonComm_clicked", "", "", ""},
};

// An inquiry and the camera's answer to it. The answer may come after the
// request, be on its way before it (stale), come behind the late completion
// of an earlier command, in two pieces with a pause between (as a USB
// adapter's latency timer cuts it), or after the inquiry gave up waiting
// (late).
enum When { Fresh, Stale, AfterLateCompletion, InTwoPieces, Late };
struct Inquiry
{
    const char *name, *slot, *shownIn, *answer; // answer in hexadecimal
    When when;
    const char *shown;
};
const char *const kComm = "on_pushButtonComm_clicked";
const char *const kReadSw = "on_pushButtonReadSW_clicked";
const char *const kReadSn = "on_pushButtonReadSN_clicked";
const char *const kCommAnswer = "905000200511010002ff";
const char *const kSnAnswer = "9050514437373030303031323334ff"; // QD7700001234
// A fresh answer to each is read from camsim in wholePanelAgainstCamsim.
const Inquiry kInquiries[] = {
    {"comm, stale answer", kComm, "pushButtonComm", kCommAnswer, Stale, "background: red"},
    {"comm, after a late completion", kComm, "pushButtonComm", kCommAnswer, AfterLateCompletion,
     "background: green"},
    {"comm, behind confirmations in one reply", kComm, "pushButtonComm", "9041ff9051ff905000200511010002ff",
     Fresh, "background: green"},
    {"comm, error answer", kComm, "pushButtonComm", "906002ff", Fresh, "background: red"},
    {"comm, no answer", kComm, "pushButtonComm", "", Fresh, "background: red"},
    {"version, too late", kReadSw, "lineEditSW", "90500012ff", Late, ""},
    {"version, three bytes", kReadSw, "lineEditSW", "9050ff", Fresh, ""},
    {"version, no answer", kReadSw, "lineEditSW", "", Fresh, ""},
    {"serial number, after a late completion", kReadSn, "lineEditSN", kSnAnswer, AfterLateCompletion,
     "QD7700001234"},
    {"serial number, stale answer", kReadSn, "lineEditSN", kSnAnswer, Stale, "OLD"},
    {"serial number, no FF", kReadSn, "lineEditSN", "9050514437373030303031323334", Fresh, "OLD"},
    {"serial number, too late", kReadSn, "lineEditSN", kSnAnswer, Late, "OLD"},
    // The position inquiries wait for their answers the same way.
    {"zoom position, after a late completion", "on_pushButtonGetZPos_clicked", "lineEditZPos",
     "9050010a0304ff", AfterLateCompletion, "1a34"},
    {"zoom position, in two pieces", "on_pushButtonGetZPos_clicked", "lineEditZPos", "9050010a0304ff",
     InTwoPieces, "1a34"},
    {"serial number, in two pieces", kReadSn, "lineEditSN", kSnAnswer, InTwoPieces, "QD7700001234"},
};

template <typename Row, std::size_t N>
void addRows(const Row (&rows)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(rows[i].name) << int(i);
}

} // namespace

class ServiceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        s = std::make_unique<SerialWindow>();
        QVERIFY(s->open());
    }

    void init()
    {
        if (!s)
            return;
        control<QComboBox>(&w(), "comboBoxProtocol")->setCurrentIndex(kVisca);
        edit(w(), "lineEditAddress")->setText(QStringLiteral("2"));
        QVERIFY(invoke(w(), "on_radioButton12Bit_clicked"));
        edit(w(), "lineEditSN")->setMaxLength(15);
        QVERIFY(invoke(w(), "on_radioButtonVN620_clicked"));
        control<QPushButton>(&w(), "pushButtonComm")->setStyleSheet(QString());
        edit(w(), "lineEditSW")->setText(QStringLiteral("0"));
        wireAtStart = int(s->device().received().size());
        boxesAtStart = int(s->boxesSeen().size());
        paneAtStart = int(s->paneLines().size());
    }

    void cleanup()
    {
        // An inquiry left waiting expires before the next test.
        if (s)
            QTRY_VERIFY(!MyWidgetTestAccess::inquiryPending(w()));
    }

    void panelCommands_data() { addRows(kCommands); }

    void panelCommands()
    {
        QFETCH(int, row);
        const Command &c = kCommands[row];
        control<QComboBox>(&w(), "comboBoxProtocol")->setCurrentIndex(c.protocol);
        edit(w(), "lineEditSN")->setText(QString::fromLatin1(c.number));
        edit(w(), "lineEditLogo")->setText(QStringLiteral("Z!"));
        QVERIFY(invoke(w(), c.setup));

        // The firmware stores one frame at a time: each comes 12 ms after the
        // one before (the first 12 ms after the click). A frame is noted when
        // the event loop reads it, which a busy machine may delay, so frame k
        // is checked against the click: never before 12 k ms.
        constexpr int kFrameBytes = 9;
        QElapsedTimer clock;
        QList<qint64> arrivals{0};
        const auto noteArrivals = QObject::connect(&s->device(), &PtyDevice::bytesReceived, [&] {
            while (s->device().received().size() - wireAtStart >= kFrameBytes * arrivals.size())
                arrivals.append(clock.elapsed());
        });
        clock.start();
        QVERIFY(invoke(w(), c.slot));
        const QByteArray wire(c.wire);
        QVERIFY(s->device().waitForReceived(wireAtStart + int(wire.size() / 2), kReplyTimeoutMs));
        Wait::sleep(30);
        QObject::disconnect(noteArrivals);
        QCOMPARE(wireSinceStart(), wire); // a refused number never reaches the camera
        // Read late, frames may seem to come closer; none comes before its time.
        for (int k = 1; k < arrivals.size(); ++k)
            QVERIFY2(arrivals.at(k) >= 12 * k - 1, qPrintable(QStringLiteral("frame %1 at %2 ms").arg(k).arg(arrivals.at(k))));
        QCOMPARE(s->boxesSeen().mid(boxesAtStart), *c.box ? QStringList{c.box} : QStringList());
        QCOMPARE(edit(w(), "lineEditSN")->text(), QString::fromLatin1(c.after));
        QCOMPARE(s->storedText(QStringLiteral("section5/SN")), QString::fromLatin1(c.after));
        QVERIFY(!MyWidgetTestAccess::inquiryPending(w()));
        if (QByteArray(c.slot) == kComm)
            QCOMPARE(control<QPushButton>(&w(), "pushButtonComm")->styleSheet(), kRed);
    }

    void onlyAnswersToTheRequestCount_data() { addRows(kInquiries); }

    void onlyAnswersToTheRequestCount()
    {
        QFETCH(int, row);
        const Inquiry &q = kInquiries[row];
        const QByteArray answer = QByteArray::fromHex(q.answer);
        PtyDevice &device = s->device();
        edit(w(), "lineEditSN")->setText(QStringLiteral("OLD"));
        edit(w(), "lineEditZPos")->setText(QStringLiteral("0"));
        // A good answer to an earlier inquiry is the last reply the window has.
        device.write(QByteArray::fromHex(QByteArray(q.slot) == kReadSn ? "905000a5ff" : kCommAnswer));
        QTRY_COMPARE(s->paneLines().size(), paneAtStart + 1);

        QMetaObject::Connection answering;
        if (q.when == Stale) {
            device.write(answer); // still in the driver when the request goes out
        } else if (!answer.isEmpty() && q.when != Late) {
            const When when = q.when;
            answering = QObject::connect(&device, &PtyDevice::bytesReceived, &device, [&device, answer, when] {
                if (when == Fresh)
                    return device.write(answer);
                const int cut = when == InTwoPieces ? int(answer.size()) / 2 : 0;
                device.write(when == InTwoPieces ? answer.left(cut) : QByteArray::fromHex("9051ff"));
                QTimer::singleShot(30, &device, [&device, rest = answer.mid(cut)] { device.write(rest); });
            });
        }
        QVERIFY(invoke(w(), q.slot));
        QVERIFY(device.waitForReceived(wireAtStart + 1, kReplyTimeoutMs));
        if (q.when == Late) { // past the 250 ms of an inquiry and the 500 ms of the serial number's
            Wait::sleep(600);
            device.write(answer);
        }
        QTRY_VERIFY(!MyWidgetTestAccess::inquiryPending(w())); // answered, or its time is up
        const int replies = (answer.isEmpty() ? 0 : 1) + (q.when == AfterLateCompletion || q.when == InTwoPieces ? 1 : 0);
        QTRY_COMPARE(s->paneLines().size(), paneAtStart + 1 + replies);
        QObject::disconnect(answering);

        auto *field = w().findChild<QWidget *>(QLatin1String(q.shownIn));
        auto *line = qobject_cast<QLineEdit *>(field);
        QCOMPARE(line ? line->text() : field->styleSheet(), QString::fromLatin1(q.shown));
        QCOMPARE(s->storedText(QStringLiteral("section5/SN")), edit(w(), "lineEditSN")->text());
    }


    void wholePanelAgainstCamsim()
    {
        // A silent camera is the inquiry table's "no answer".
        s.reset(); // this test's window has camsim at the end of its line
        SerialWindow bench;
        Camsim camera;
        QVERIFY(camera.start({"--sn", "QD0000000000", "--version", "0xa5"}));
        SerialWindow::listPorts({{QStringLiteral("ttyCAM"), camera.slavePath, QString()}});
        MyWidget &w = bench.window();
        QVERIFY(bench.open());

        // The next camera's number, written as 15 characters, then read back
        // over a field that says otherwise.
        QVERIFY(invoke(w, "on_radioButton15Bit_clicked"));
        edit(w, "lineEditSN")->setText(QStringLiteral("QD7700000000999"));
        QVERIFY(invoke(w, "on_pushButtonAdd_clicked"));
        QCOMPARE(edit(w, "lineEditSN")->text(), QStringLiteral("QD7700000000000"));
        QVERIFY(invoke(w, "on_pushButtonSetSN_clicked"));
        QVERIFY(camera.waitFor({{"command", "write-sn"}, {"index", 7}, {"sn", "QD7700000000000"}}) >= 0);
        edit(w, "lineEditSN")->setText(QStringLiteral("QD7700000000123"));
        QVERIFY(invoke(w, "on_pushButtonReadSN_clicked"));
        QVERIFY(camera.waitFor({{"command", "read-sn"}}) >= 0);
        QTRY_COMPARE(edit(w, "lineEditSN")->text(), QStringLiteral("QD7700000000000"));
        QCOMPARE(bench.storedText(QStringLiteral("section5/SN")), QStringLiteral("QD7700000000000"));

        control<QRadioButton>(&w, "radioButtonRM410")->click();
        edit(w, "lineEditLogo")->setText(QStringLiteral("PTZ-OPTICS-2026"));
        QVERIFY(invoke(w, "on_pushButton_3_clicked"));
        QVERIFY(camera.waitFor({{"command", "write-logo"}, {"index", 7}, {"logo", "PTZ-OPTICS-2026"}}) >= 0);

        control<QPushButton>(&w, "pushButtonComm")->click();
        control<QPushButton>(&w, "pushButtonReadSW")->click();
        QTRY_VERIFY(!MyWidgetTestAccess::inquiryPending(w));
        QCOMPARE(control<QPushButton>(&w, "pushButtonComm")->styleSheet(), kGreen);
        QCOMPARE(edit(w, "lineEditSW")->text(), QStringLiteral("10100101"));

        QVERIFY(bench.boxesSeen().isEmpty());
        QVERIFY(camera.unreadable.isEmpty());
    }

private:

    // One window with its port open serves the tests on the pseudo-terminal;

    // each starts from the form's start-up state and looks only at what

    // happens after its start.

    MyWidget &w() { return s->window(); }

    QByteArray wireSinceStart() const { return s->device().received().mid(wireAtStart).toHex(); }

    std::unique_ptr<SerialWindow> s;

    int wireAtStart = 0;

    int boxesAtStart = 0;

    int paneAtStart = 0;
};

QTEST_MAIN(ServiceWindowTest)
#include "tst_servicewindow.moc"
