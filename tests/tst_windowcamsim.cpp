// The window against camsim, the camera simulator, over a pseudo-terminal:
// the way a newcomer meets the tool. The port is typed into the port box,
// the replies show as lines of the receive pane, a serial number read comes
// back into its field, and a camera that drops the line is reported.

#include "boxanswerer.h"
#include "camsimprocess.h"
#include "link/portlist.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "testenv.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

using TestEnv::control;

namespace {

const QByteArray kZoomTele = QByteArray::fromHex("8101040702ff");
const QByteArray kZoomInquiry = QByteArray::fromHex("81090447ff");
const QByteArray kReadSerialNumber = QByteArray::fromHex("81096c3eff");

QStringList paneLines(MyWidget &w)
{
    return TestEnv::paneLines(&w);
}

// Waits as the window itself does, with its event loop running all the time
// (QTRY_ and qWait sleep between rounds of events, which blurs the 10 ms
// silence that separates two replies).
bool waitForLines(MyWidget &w, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (paneLines(w).size() < count && clock.elapsed() < kReplyTimeoutMs)
        Wait::sleep(5);
    Wait::sleep(100); // and nothing more comes
    return paneLines(w).size() == count;
}

// Types the camera's port into the box, as the README tells, and opens it.
bool openTyped(MyWidget &w, const QString &path)
{
    auto *box = control<QComboBox>(&w, "comboBoxCom");
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), path);
    control<QPushButton>(&w, "pushButtonOpen")->click();
    return MyWidgetTestAccess::serialOpen(w);
}

} // namespace

class WindowCamsimTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { PortList::setSource([] { return QList<PortList::Port>{}; }); }
    void cleanup() { PortList::setSource({}); }
    void newcomerSession_data();
    void newcomerSession();
    void cameraDropsTheLine();
};

void WindowCamsimTest::newcomerSession_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("instant line") << QStringList{};
    QTest::newRow("wire time at 9600 baud") << QStringList{"--wire-time"};
}

void WindowCamsimTest::newcomerSession()
{
    QFETCH(QStringList, options);
    TestEnv::ScratchDir scratch;
    BoxAnswerer boxes;
    const QString link = QDir::current().filePath(QStringLiteral("camera"));
    Camsim camera;
    QVERIFY(camera.start(QStringList{"--link", link, "--sn", "QD7700001234"} + options));

    MyWidget w;
    QCOMPARE(control<QComboBox>(&w, "comboBoxCom")->currentText(), QStringLiteral("No Com"));
    QVERIFY(openTyped(w, link));
    QCOMPARE(control<QPushButton>(&w, "pushButtonOpen")->text(), QStringLiteral("Close"));

    // A command: the camera acknowledges, then reports completion; two
    // replies, two lines.
    MyWidgetTestAccess::writeSerial(w, kZoomTele);
    QVERIFY(waitForLines(w, 2));
    QCOMPARE(paneLines(w), (QStringList{"9041ff", "9051ff"}));
    QVERIFY(camera.waitFor({{"dir", "rx"}, {"protocol", "visca"}, {"command", "zoom-tele"},
                            {"hex", "8101040702ff"}}) >= 0);

    // An inquiry: one reply, one line, and it is the fresh reply.
    MyWidgetTestAccess::writeSerial(w, kZoomInquiry);
    QVERIFY(waitForLines(w, 3));
    QVERIFY2(paneLines(w).constLast().startsWith(QLatin1String("9050")),
             qPrintable(paneLines(w).constLast()));
    QCOMPARE(MyWidgetTestAccess::replyHex(w), paneLines(w).constLast().toLatin1());

    // A serial-number read: the camera's number lands in its field.
    MyWidgetTestAccess::writeSerial(w, kReadSerialNumber);
    MyWidgetTestAccess::expectSerialNumberReply(w);
    QTRY_COMPARE(control<QLineEdit>(&w, "lineEditSN")->text(), QStringLiteral("QD7700001234"));
    QCOMPARE(scratch.storedText(QStringLiteral("section5/SN")), QStringLiteral("QD7700001234"));

    control<QPushButton>(&w, "pushButtonOpen")->click();
    QCOMPARE(control<QPushButton>(&w, "pushButtonOpen")->text(), QStringLiteral("Open"));
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
    QVERIFY(boxes.seen().isEmpty());
    QVERIFY(camera.unreadable.isEmpty());
}

void WindowCamsimTest::cameraDropsTheLine()
{
    TestEnv::ScratchDir scratch;
    BoxAnswerer boxes;
    const QString link = QDir::current().filePath(QStringLiteral("camera"));
    Camsim camera;
    QVERIFY(camera.start({"--link", link, "--close-after", "1500"}));

    MyWidget w;
    QVERIFY(openTyped(w, link));
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen(), QStringList{"Tip: Serial Port Error,Please restart."},
                              5000);
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
    QCOMPARE(control<QPushButton>(&w, "pushButtonOpen")->text(), QStringLiteral("Open"));
    QVERIFY(control<QWidget>(&w, "comboBoxCom")->isEnabled());
    QVERIFY(!control<QWidget>(&w, "widgetPT")->isEnabled());
}

QTEST_MAIN(WindowCamsimTest)
#include "tst_windowcamsim.moc"
