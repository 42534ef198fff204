// The factory service panel through the window: the serial-number length
// check and counter, the exact service frames on the line in each protocol,
// fresh and stale answers to the inquiries, the free command line on the
// line and over UDP, the canned commands' tips, and the whole panel against
// camsim, answering and silent.
//
// The serial-number group and "Set Logo" are locked on the form (the factory
// unlocks them on its own benches), so those slots are called by name, the
// way the form binds them.

#include "camsimprocess.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QRadioButton>
#include <QToolTip>
#include <QUdpSocket>
#include <QtTest>

using TestEnv::control;

namespace {

constexpr int kPelcoD = 0, kPelcoP = 1, kVisca = 2; // the items of the protocol box
constexpr int kServiceGapMs = 12;

// When the camera's answer comes: after the request, already on its way
// before it, or after the late completion of an earlier command.
enum AnswerTime { Fresh, Stale, AfterLateCompletion };

bool invoke(MyWidget &w, const QByteArray &slot)
{
    return QMetaObject::invokeMethod(&w, slot.constData(), Qt::DirectConnection);
}

QLineEdit *edit(MyWidget &w, const char *name)
{
    return control<QLineEdit>(&w, name);
}

QString commStyle(MyWidget &w)
{
    return control<QPushButton>(&w, "pushButtonComm")->styleSheet();
}

} // namespace

class ServiceWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void lengthCheckAndCounter_data();
    void lengthCheckAndCounter();
    void framesOnTheLine_data();
    void framesOnTheLine();
    void onlyFreshAnswersCount_data();
    void onlyFreshAnswersCount();
    void commandLine_data();
    void commandLine();
    void cannedCommandTips();
    void wholePanelAgainstCamsim_data();
    void wholePanelAgainstCamsim();

private:
    // One window with its port open serves the tests on the pseudo-terminal;
    // each starts from the form's start-up state and looks only at what
    // happens after its start.
    MyWidget &w() { return s->window(); }
    QByteArray wireSinceStart() const { return s->device().received().mid(wireAtStart).toHex(); }
    QStringList boxesSinceStart() const { return s->boxesSeen().mid(boxesAtStart); }

    std::unique_ptr<SerialWindow> s;
    int wireAtStart = 0;
    int boxesAtStart = 0;
    int paneAtStart = 0;
};

void ServiceWindowTest::initTestCase()
{
    s = std::make_unique<SerialWindow>();
    QVERIFY(s->open());
}

void ServiceWindowTest::init()
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

void ServiceWindowTest::cleanup()
{
    // A serial-number read left waiting expires before the next test.
    if (s)
        QTRY_VERIFY(!MyWidgetTestAccess::snReadPending(w()));
}

void ServiceWindowTest::lengthCheckAndCounter_data()
{
    QTest::addColumn<QByteArray>("mode"); // the length slot called first, if any
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("after");
    const QString tip12 = QStringLiteral("Tip: The serial number is less than 12 bits");
    const QString tip15 = QStringLiteral("Tip: The serial number is less than 15 bits");
    // At start-up "15 Bits" is shown checked, yet 12 characters are meant.
    QTest::newRow("start-up, 15 characters, Set SN")
        << QByteArray() << "Q217MXTA0001234" << QByteArray("on_pushButtonSetSN_clicked")
        << tip12 << "Q217MXTA0001234";
    QTest::newRow("start-up, 11 characters, +")
        << QByteArray() << "Q217MXTA001" << QByteArray("on_pushButtonAdd_clicked") << tip12
        << "Q217MXTA001";
    QTest::newRow("15 Bits, 12 characters, -")
        << QByteArray("on_radioButton15Bit_clicked") << "Q217MXTA0001"
        << QByteArray("on_pushButtonMinus_clicked") << tip15 << "Q217MXTA0001";
    QTest::newRow("12 Bits cuts 15 characters to 12, then +")
        << QByteArray("on_radioButton12Bit_clicked") << "Q217MXTA0001234"
        << QByteArray("on_pushButtonAdd_clicked") << QString() << "Q217MXTA0002";
    QTest::newRow("15 Bits, + wraps the last three")
        << QByteArray("on_radioButton15Bit_clicked") << "Q217MXTA0000999"
        << QByteArray("on_pushButtonAdd_clicked") << QString() << "Q217MXTA0000000";
    QTest::newRow("start-up, - zero-pads")
        << QByteArray() << "Q217MXTA1000" << QByteArray("on_pushButtonMinus_clicked")
        << QString() << "Q217MXTA0999";
}

void ServiceWindowTest::lengthCheckAndCounter()
{
    QFETCH(QByteArray, mode);
    QFETCH(QString, number);
    QFETCH(QByteArray, slot);
    QFETCH(QString, box);
    QFETCH(QString, after);
    edit(w(), "lineEditSN")->setText(number);
    if (!mode.isEmpty())
        QVERIFY(invoke(w(), mode));
    QVERIFY(invoke(w(), slot));

    QCOMPARE(boxesSinceStart(), box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(edit(w(), "lineEditSN")->text(), after);
    QCOMPARE(s->storedText(QStringLiteral("section5/SN")), after);
    Wait::sleep(30);
    QCOMPARE(wireSinceStart(), QByteArray()); // a refused number never reaches the camera
}

void ServiceWindowTest::framesOnTheLine_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArrayList>("setup"); // slots called before
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QByteArray>("wire"); // hexadecimal
    QTest::addColumn<int>("pauses");     // of 12 ms, kept under every protocol
    const QByteArray setSn("on_pushButtonSetSN_clicked"), setLogo("on_pushButton_3_clicked");
    const QByteArrayList mode15{"on_radioButton15Bit_clicked"};
    const QByteArrayList rm410{"on_radioButtonRM410_clicked"};
    QTest::newRow("Set SN, 12") << kVisca << QByteArrayList() << setSn
                                << QByteArray("82010661c0935132ff82010661c1933137ff"
                                              "82010661c2934d58ff82010661c3935441ff"
                                              "82010661c4933030ff82010661c5933031ff") << 6;
    QTest::newRow("Set SN, 12, Pelco-D") << kPelcoD << QByteArrayList() << setSn << QByteArray() << 6;
    QTest::newRow("Set SN, 15, Pelco-P") << kPelcoP << mode15 << setSn << QByteArray() << 8;
    QTest::newRow("Set Logo, VN620")
        << kVisca << QByteArrayList() << setLogo
        << QByteArray("82010661d0875a21ff82010661d1870000ff82010661d2870000ff82010661d3870000ff")
        << 4;
    QTest::newRow("Set Logo, RM410, Pelco-D") << kPelcoD << rm410 << setLogo << QByteArray() << 8;
    QTest::newRow("Read SN") << kVisca << QByteArrayList() << QByteArray("on_pushButtonReadSN_clicked")
                             << QByteArray("82096c3eff") << 0;
    QTest::newRow("Read SN, Pelco-P") << kPelcoP << QByteArrayList()
                                      << QByteArray("on_pushButtonReadSN_clicked") << QByteArray() << 0;
    QTest::newRow("Communication") << kVisca << QByteArrayList()
                                   << QByteArray("on_pushButtonComm_clicked") << QByteArray("82090002ff") << 0;
    QTest::newRow("Communication, Pelco-D") << kPelcoD << QByteArrayList()
                                            << QByteArray("on_pushButtonComm_clicked") << QByteArray() << 0;
    QTest::newRow("Read SW") << kVisca << QByteArrayList() << QByteArray("on_pushButtonReadSW_clicked")
                             << QByteArray("8201064555ff") << 0;
}

void ServiceWindowTest::framesOnTheLine()
{
    QFETCH(int, protocol);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, slot);
    QFETCH(QByteArray, wire);
    QFETCH(int, pauses);
    MyWidget &w = this->w();
    control<QComboBox>(&w, "comboBoxProtocol")->setCurrentIndex(protocol);
    edit(w, "lineEditSN")->setText(QStringLiteral("Q217MXTA0001"));
    // More than the logo field holds: it keeps 7 (VN620) or 15 (RM410).
    edit(w, "lineEditLogo")->setText(QStringLiteral("Z!"));
    for (const QByteArray &call : setup)
        QVERIFY(invoke(w, call));
    if (setup.contains("on_radioButton15Bit_clicked"))
        edit(w, "lineEditSN")->setText(QStringLiteral("Q217MXTA0001234"));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(invoke(w, slot));
    QVERIFY(clock.elapsed() >= pauses * kServiceGapMs);
    if (!wire.isEmpty())
        QVERIFY(s->device().waitForReceived(wireAtStart + int(wire.size() / 2), kReplyTimeoutMs));
    Wait::sleep(30);
    QCOMPARE(wireSinceStart(), wire);
    QVERIFY(boxesSinceStart().isEmpty());
    // A request that never went out waits for no answer, and under Pelco the
    // test fails at once.
    if (wire.isEmpty())
        QVERIFY(!MyWidgetTestAccess::snReadPending(w));
    if (slot == "on_pushButtonComm_clicked")
        QCOMPARE(commStyle(w), QStringLiteral("background: red"));
}

void ServiceWindowTest::onlyFreshAnswersCount_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("when");
    QTest::addColumn<QString>("shown");
    const QByteArray comm("on_pushButtonComm_clicked"), sw("on_pushButtonReadSW_clicked"),
        sn("on_pushButtonReadSN_clicked"), zoom("on_pushButtonGetZPos_clicked");
    const QByteArray commAnswer = QByteArray::fromHex("905000200511010002ff");
    const QByteArray snAnswer = QByteArray::fromHex("9050") + "QD7700001234" + '\xff';
    const QString green = QStringLiteral("background: green"), red = QStringLiteral("background: red");
    QTest::newRow("comm, answered") << comm << commAnswer << int(Fresh) << green;
    QTest::newRow("comm, stale answer") << comm << commAnswer << int(Stale) << red;
    QTest::newRow("comm, after a late completion") << comm << commAnswer << int(AfterLateCompletion) << green;
    QTest::newRow("comm, completion and answer in one reply")
        << comm << QByteArray::fromHex("9041ff9051ff") + commAnswer << int(Fresh) << green;
    QTest::newRow("comm, error answer") << comm << QByteArray::fromHex("906002ff") << int(Fresh) << red;
    QTest::newRow("comm, no answer") << comm << QByteArray() << int(Fresh) << red;
    QTest::newRow("version a5") << sw << QByteArray::fromHex("905000a5ff") << int(Fresh) << "10100101";
    QTest::newRow("version 12, after a late completion")
        << sw << QByteArray::fromHex("90500012ff") << int(AfterLateCompletion) << "01001000";
    QTest::newRow("version, stale answer") << sw << QByteArray::fromHex("90500012ff") << int(Stale) << "";
    QTest::newRow("version, three bytes") << sw << QByteArray::fromHex("9050ff") << int(Fresh) << "";
    QTest::newRow("version, no answer") << sw << QByteArray() << int(Fresh) << "";
    QTest::newRow("serial number") << sn << snAnswer << int(Fresh) << "QD7700001234";
    QTest::newRow("serial number, after a late completion")
        << sn << snAnswer << int(AfterLateCompletion) << "QD7700001234";
    QTest::newRow("serial number, stale answer") << sn << snAnswer << int(Stale) << "OLD";
    QTest::newRow("serial number, no FF") << sn << snAnswer.chopped(1) << int(Fresh) << "OLD";
    QTest::newRow("serial number, no answer") << sn << QByteArray() << int(Fresh) << "OLD";
    // The position inquiries wait for their answers the same way.
    QTest::newRow("zoom position, after a late completion")
        << zoom << QByteArray::fromHex("9050010a0304ff") << int(AfterLateCompletion) << "1a34";
}

void ServiceWindowTest::onlyFreshAnswersCount()
{
    QFETCH(QByteArray, slot);
    QFETCH(QByteArray, answer);
    QFETCH(int, when);
    QFETCH(QString, shown);
    MyWidget &w = this->w();
    PtyDevice &device = s->device();
    edit(w, "lineEditSN")->setText(QStringLiteral("OLD"));
    edit(w, "lineEditZPos")->setText(QStringLiteral("0"));
    // A good answer from an earlier inquiry is the last reply the window has.
    device.write(slot == "on_pushButtonReadSN_clicked" ? QByteArray::fromHex("905000a5ff")
                                                        : QByteArray::fromHex("905000200511010002ff"));
    QTRY_COMPARE(s->paneLines().size(), paneAtStart + 1);

    // The camera's side: the answer, possibly behind the completion of an
    // earlier command that comes just after the request.
    const QByteArray lateCompletion = QByteArray::fromHex("9051ff");
    QMetaObject::Connection answering;
    if (when == Stale) {
        device.write(answer); // still in the driver when the request goes out
    } else if (!answer.isEmpty()) {
        answering = QObject::connect(&device, &PtyDevice::bytesReceived, &device,
                                     [&device, answer, when, lateCompletion] {
            if (when == AfterLateCompletion) {
                device.write(lateCompletion);
                QTimer::singleShot(30, &device, [&device, answer] { device.write(answer); });
            } else {
                device.write(answer);
            }
        });
    }
    QVERIFY(invoke(w, slot));
    QVERIFY(device.waitForReceived(wireAtStart + 1, kReplyTimeoutMs));
    const int replies = (answer.isEmpty() ? 0 : 1) + (when == AfterLateCompletion ? 1 : 0);
    QTRY_COMPARE(s->paneLines().size(), paneAtStart + 1 + replies);
    Wait::sleep(50); // whatever else might change, has
    QObject::disconnect(answering);

    QString result;
    if (slot == "on_pushButtonComm_clicked")
        result = commStyle(w);
    else if (slot == "on_pushButtonReadSW_clicked")
        result = edit(w, "lineEditSW")->text();
    else if (slot == "on_pushButtonReadSN_clicked")
        result = edit(w, "lineEditSN")->text();
    else
        result = edit(w, "lineEditZPos")->text();
    QCOMPARE(result, shown);
    QCOMPARE(s->storedText(QStringLiteral("section5/SN")), edit(w, "lineEditSN")->text());
}

void ServiceWindowTest::commandLine_data()
{
    QTest::addColumn<int>("canned"); // the entry chosen, or -1 for the typed text
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // hexadecimal
    QTest::newRow("typed, an invalid part") << -1 << "1 zz 100" << QByteArray("010000");
    QTest::newRow("Clear DownLeft, trailing blank")
        << 2 << QString() << QByteArray("810106070100070f0f0f070f0f0fff");
    QTest::newRow("Enter Boot") << 0 << QString() << QByteArray("8902076358ff");
    QTest::newRow("empty: an empty datagram") << -1 << "" << QByteArray();
}

void ServiceWindowTest::commandLine()
{
    QFETCH(int, canned);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    MyWidget &w = this->w();
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    edit(w, "txt_ip")->setText(QStringLiteral("127.0.0.1"));
    edit(w, "txt_port_tx")->setText(QString::number(peer.localPort()));
    control<QPushButton>(&w, "btn_cfg")->click();
    QVERIFY(MyWidgetTestAccess::udpConnected(w));

    // The protocol plays no part.
    control<QComboBox>(&w, "comboBoxProtocol")->setCurrentIndex(kPelcoP);
    auto *box = control<QComboBox>(&w, "comboBoxSend");
    if (canned >= 0)
        box->setCurrentIndex(canned);
    else
        box->setEditText(text);
    control<QPushButton>(&w, "pushButton")->click();

    QVERIFY(QTest::qWaitFor([&peer] { return peer.hasPendingDatagrams(); }, kReplyTimeoutMs));
    QCOMPARE(peer.receiveDatagram().data().toHex(), bytes);
    if (!bytes.isEmpty())
        QVERIFY(s->device().waitForReceived(wireAtStart + int(bytes.size() / 2), kReplyTimeoutMs));
    Wait::sleep(30);
    QCOMPARE(wireSinceStart(), bytes);
    QVERIFY(!peer.hasPendingDatagrams());
    control<QPushButton>(&w, "btn_cfg")->click();
    QVERIFY(!MyWidgetTestAccess::udpConnected(w));
}

void ServiceWindowTest::cannedCommandTips()
{
    MyWidget &w = this->w();
    w.show();
    auto *box = control<QComboBox>(&w, "comboBoxSend");
    box->addItem(QStringLiteral("81 09 04 47 ff")); // typed and entered by the user
    const QStringList tips{"Enter Boot", "Clear UpRight", "Clear DownLeft", QString()};
    for (int index = 0; index < tips.size(); ++index) {
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QVERIFY(QMetaObject::invokeMethod(box, "highlighted", Q_ARG(int, index)));
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), tips.at(index));
    }
}

void ServiceWindowTest::wholePanelAgainstCamsim_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("answering") << false;
    QTest::newRow("silent") << true;
}

void ServiceWindowTest::wholePanelAgainstCamsim()
{
    QFETCH(bool, silent);
    s.reset(); // this test's window has camsim at the end of its line
    SerialWindow bench;
    Camsim camera;
    QStringList options{"--sn", "QD0000000000", "--version", "0xa5"};
    if (silent)
        options.append(QStringLiteral("--silent"));
    QVERIFY(camera.start(options));
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
    const QString number = silent ? QStringLiteral("QD7700000000123") : QStringLiteral("QD7700000000000");
    Wait::sleep(200);
    QTRY_COMPARE(edit(w, "lineEditSN")->text(), number);
    QCOMPARE(bench.storedText(QStringLiteral("section5/SN")), number);

    control<QRadioButton>(&w, "radioButtonRM410")->click();
    edit(w, "lineEditLogo")->setText(QStringLiteral("PTZ-OPTICS-2026"));
    QVERIFY(invoke(w, "on_pushButton_3_clicked"));
    QVERIFY(camera.waitFor({{"command", "write-logo"}, {"index", 7}, {"logo", "PTZ-OPTICS-2026"}}) >= 0);

    control<QPushButton>(&w, "pushButtonComm")->click();
    QCOMPARE(commStyle(w), silent ? QStringLiteral("background: red") : QStringLiteral("background: green"));
    control<QPushButton>(&w, "pushButtonReadSW")->click();
    QCOMPARE(edit(w, "lineEditSW")->text(), silent ? QString() : QStringLiteral("10100101"));

    // A typed command reaches the camera as it is spelled.
    control<QComboBox>(&w, "comboBoxSend")->setEditText(QStringLiteral("81 01 04 07 02 ff"));
    control<QPushButton>(&w, "pushButton")->click();
    QVERIFY(camera.waitFor({{"command", "zoom-tele"}, {"address", 1}}) >= 0);
    QVERIFY(bench.boxesSeen().isEmpty());
    QVERIFY(camera.unreadable.isEmpty());
}

QTEST_MAIN(ServiceWindowTest)
#include "tst_servicewindow.moc"
