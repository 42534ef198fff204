// The window against camsim, the camera simulator, over a pseudo-terminal:
// the way a newcomer meets the tool. The port is typed into the port box,
// the replies show as lines of the receive pane, and a serial number read
// comes back into its field. (A camera that drops the line is the pulled
// adapter of tst_seriallink.)

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
#include <QtTest>

using TestEnv::control;
using TestEnv::paneLines;

namespace {

// Waits as the window itself does, with its event loop running all the time
// (QTRY_ and qWait sleep between rounds of events, which blurs the 10 ms
// silence that separates two replies).
bool waitForLines(MyWidget &w, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (paneLines(&w).size() < count && clock.elapsed() < kReplyTimeoutMs)
        Wait::sleep(5);
    Wait::sleep(100); // and nothing more comes
    return paneLines(&w).size() == count;
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

    // No port is listed: the camera's port is typed into the box, as the
    // README tells.
    MyWidget w;
    auto *box = control<QComboBox>(&w, "comboBoxCom");
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), link);
    auto *openButton = control<QPushButton>(&w, "pushButtonOpen");
    openButton->click();
    QVERIFY(MyWidgetTestAccess::serialOpen(w));

    // A command: the camera acknowledges, then reports completion; two
    // replies, two lines.
    MyWidgetTestAccess::writeSerial(w, QByteArray::fromHex("8101040702ff"));
    QVERIFY(waitForLines(w, 2));
    QCOMPARE(paneLines(&w), (QStringList{"9041ff", "9051ff"}));

    // An inquiry: one reply, one line, and it is the fresh reply.
    MyWidgetTestAccess::writeSerial(w, QByteArray::fromHex("81090447ff"));
    QVERIFY(waitForLines(w, 3));
    const QString last = paneLines(&w).constLast();
    QVERIFY2(last.startsWith(QLatin1String("9050")), qPrintable(last));
    QCOMPARE(MyWidgetTestAccess::replyHex(w), last.toLatin1());

    // A serial-number read: the camera's number lands in its field.
    MyWidgetTestAccess::writeSerial(w, QByteArray::fromHex("81096c3eff"));
    MyWidgetTestAccess::expectSerialNumberReply(w);
    QTRY_COMPARE(control<QLineEdit>(&w, "lineEditSN")->text(), QStringLiteral("QD7700001234"));
    QCOMPARE(scratch.storedText(QStringLiteral("section5/SN")), QStringLiteral("QD7700001234"));

    openButton->click();
    QVERIFY(!MyWidgetTestAccess::serialOpen(w));
    QVERIFY(boxes.seen().isEmpty());
    QVERIFY(camera.unreadable.isEmpty());
}

QTEST_MAIN(WindowCamsimTest)
#include "tst_windowcamsim.moc"
