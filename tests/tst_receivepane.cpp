// What the camera sends, as the window shows and judges it: replies as
// lines of the receive pane, a stream that never rests, the acknowledge wait
// that counts only replies to our own write, the serial-number reply, and
// the pane's "claer" menu. The camera is the far end of a pseudo-terminal.

#include "app/tracepane.h"
#include "link/wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

using TestEnv::control;

class ReceivePaneTest : public QObject
{
    Q_OBJECT

    // One window, its port opened once (an open waits a second for the line
    // to settle), serves every test; each starts with an empty pane.
    std::unique_ptr<SerialWindow> s;
    MyWidget &w() { return s->window(); }
    QTextBrowser *pane() { return control<QTextBrowser>(&w(), "textBrowserReceive"); }

private slots:
    void initTestCase()
    {
        s = std::make_unique<SerialWindow>();
        QVERIFY(s->open());
    }
    void init()
    {
        QCoreApplication::processEvents(); // lines still on their way land first
        pane()->clear();
    }
    void cleanupTestCase() { s.reset(); }
    void bytesAFewMsApartAreOneLine();
    void streamKeepsWindowResponsive_data();
    void streamKeepsWindowResponsive();
    void waitAckCountsOnlyFreshReplies_data();
    void waitAckCountsOnlyFreshReplies();
    void serialNumberReply_data();
    void serialNumberReply();
    void claerEmptiesPaneOnly();
    void paneParagraphsAreBounded();
};

void ReceivePaneTest::bytesAFewMsApartAreOneLine()
{
    // (Two replies 20 ms apart are two lines: tst_windowcamsim.)
    for (const char byte : {'\x90', '\x50', '\x01', '\xff'}) {
        s->device().write(QByteArray(1, byte));
        Wait::sleep(3);
    }
    QTRY_COMPARE(s->paneLines().size(), 1);
    Wait::sleep(50);
    QCOMPARE(s->paneLines(), QStringList{"905001ff"});
}

void ReceivePaneTest::streamKeepsWindowResponsive_data()
{
    QTest::addColumn<int>("bytesPerTick");
    // Two bytes every 2 ms is the pace of a 9600-baud line that never rests.
    QTest::newRow("9600 baud") << 2;
    QTest::newRow("a flood of 1 KiB every 2 ms") << 1024;
}

void ReceivePaneTest::streamKeepsWindowResponsive()
{
    QFETCH(int, bytesPerTick);
    QByteArray sent;
    QTimer source;
    source.setTimerType(Qt::PreciseTimer);
    connect(&source, &QTimer::timeout, [&] {
        QByteArray bytes;
        while (bytes.size() < bytesPerTick)
            bytes.append(static_cast<char>(sent.size() + bytes.size()));
        sent.append(bytes);
        s->device().write(bytes);
    });
    // The window's own timers keep running throughout.
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    sinceTick.start();
    source.start(2);
    ticker.start(20);
    Wait::sleep(1000);
    source.stop();
    ticker.stop();
    Wait::sleep(300);

    // Every byte shows once, in order, in lines of at most 4096 bytes, and
    // no gathering ran much longer than 200 ms.
    const QStringList lines = s->paneLines();
    QCOMPARE(lines.join(QString()), QString::fromLatin1(sent.toHex()));
    for (const QString &line : lines)
        QVERIFY(line.size() <= 2 * 4096);
    QVERIFY2(lines.size() >= 4, qPrintable(QString::number(lines.size())));
    QVERIFY2(longestGap < 150, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
}

void ReceivePaneTest::waitAckCountsOnlyFreshReplies_data()
{
    QTest::addColumn<QByteArray>("before"); // sent by the device just before the write
    QTest::addColumn<QByteArray>("reply");  // sent after the write
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("NACK") << QByteArray() << QByteArray("\x1f") << false;
    QTest::newRow("stray 0x00 before the ACK") << QByteArray() << QByteArray("\x00\x79", 2) << true;
    // Still in the driver when we write: an old reply, however it ended.
    QTest::newRow("ACK still arriving at the write, no reply")
        << QByteArray("\x79") << QByteArray() << false;
}

void ReceivePaneTest::waitAckCountsOnlyFreshReplies()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, reply);
    QFETCH(bool, acknowledged);

    s->device().write(before);
    MyWidgetTestAccess::writeSerial(w(), "\x7f");
    if (!reply.isEmpty())
        QTimer::singleShot(5, &s->device(), [this, reply] { s->device().write(reply); });
    // Nothing new: asking again gives the same answer. (Asked once when no
    // reply comes: each ask then waits the full second.)
    for (int ask = reply.isEmpty() ? 1 : 0; ask < 2; ++ask) {
        bool acked = !acknowledged;
        QMetaObject::invokeMethod(&w(), "waitAck", Qt::DirectConnection, Q_RETURN_ARG(bool, acked));
        QCOMPARE(acked, acknowledged);
    }
}

void ReceivePaneTest::serialNumberReply_data()
{
    QTest::addColumn<int>("snLength");
    QTest::addColumn<QByteArray>("number"); // the reply after its two header bytes
    QTest::addColumn<int>("replyAfterMs");
    QTest::addColumn<QString>("shown");

    QTest::newRow("12 characters") << 12 << QByteArray("QD1234567890\xff") << 20 << "QD1234567890";
    QTest::newRow("no final FF") << 12 << QByteArray("QD1234567890") << 20 << "OLD";
    QTest::newRow("too late: after 500 ms") << 12 << QByteArray("QD1234567890\xff") << 700 << "OLD";
    QTest::newRow("15 characters") << 15 << QByteArray("QD1234567890123\xff") << 20
                                   << "QD1234567890123";
    QTest::newRow("15 expected, 12 sent: the FF is no character")
        << 15 << QByteArray("QD1234567890\xff") << 20 << "QD1234567890";
    QTest::newRow("UTF-8 inside")
        << 12 << QByteArray("AB\xc3\xa9\xff") << 20 << QStringLiteral("AB\u00e9");
    QTest::newRow("a zero byte ends the text")
        << 12 << QByteArray("QD12") + '\0' + "3456789\xff" << 20 << "QD12";
}

void ReceivePaneTest::serialNumberReply()
{
    QFETCH(int, snLength);
    QFETCH(QByteArray, number);
    QFETCH(int, replyAfterMs);
    QFETCH(QString, shown);

    auto *field = control<QLineEdit>(&w(), "lineEditSN");
    field->setText(QStringLiteral("OLD"));
    MyWidgetTestAccess::setSnLength(w(), snLength);
    MyWidgetTestAccess::writeSerial(w(), QByteArray::fromHex("81090407ff"));
    MyWidgetTestAccess::expectSerialNumberReply(w());
    Wait::sleep(replyAfterMs);
    s->device().write("\x90\x50" + number);
    QTRY_COMPARE(s->paneLines().size(), 1);

    QCOMPARE(field->text(), shown);
    // The next reply is no serial number.
    s->device().write("\x90\x50" + QByteArray("XX0000000000") + "\xff");
    QTRY_COMPARE(s->paneLines().size(), 2);
    QCOMPARE(field->text(), shown);
}

void ReceivePaneTest::claerEmptiesPaneOnly()
{
    // The menu opens at the mouse cursor, not at the clicked text; the same
    // menu serves every right-click.
    w().show();
    QCursor::setPos(w().mapToGlobal(QPoint(200, 60)));
    for (const QByteArray &reply : {QByteArray("\x90\x41\xff"), QByteArray("\x90\x51\xff")}) {
        s->device().write(reply);
        QTRY_COMPARE(s->paneLines(), QStringList{QString::fromLatin1(reply.toHex())});
        QPoint menuAt;
        QTimer::singleShot(50, [&menuAt] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            menuAt = menu->pos();
            for (QAction *action : menu->actions()) {
                if (action->text() == QLatin1String("claer"))
                    action->trigger();
            }
            menu->close();
        });
        const QPoint local(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, pane()->viewport()->mapToGlobal(local));
        QCoreApplication::sendEvent(pane()->viewport(), &event);
        QVERIFY(pane()->toPlainText().isEmpty());
        QCOMPARE(MyWidgetTestAccess::replyHex(w()), reply.toHex());
        QCOMPARE(menuAt, QCursor::pos());
    }
    QCOMPARE(pane()->findChildren<QMenu *>().size(), 1);
}

void ReceivePaneTest::paneParagraphsAreBounded()
{
    // A line break stays inside its paragraph. (Markup shows as it is:
    // tst_camera's datagrams.)
    TracePane::appendPlain(pane(), QStringLiteral("a\nb"));
    QCOMPARE(pane()->document()->blockCount(), 1);

    for (int i = 0; i < TracePane::kMaxParagraphs + 5; ++i)
        TracePane::appendPlain(pane(), QString::number(i));
    QCOMPARE(pane()->document()->blockCount(), TracePane::kMaxParagraphs);
    QCOMPARE(pane()->document()->firstBlock().text(), QStringLiteral("5"));
}

QTEST_MAIN(ReceivePaneTest)
#include "tst_receivepane.moc"
