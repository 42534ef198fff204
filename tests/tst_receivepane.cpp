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

using TestEnv::control;

// One step of what the device sends: wait this long, then send these bytes.
struct Step
{
    int delayMs;
    QByteArray bytes;
};

Q_DECLARE_METATYPE(Step)

class ReceivePaneTest : public QObject
{
    Q_OBJECT

private slots:
    void repliesAreLines_data();
    void repliesAreLines();
    void streamKeepsWindowResponsive_data();
    void streamKeepsWindowResponsive();
    void waitAckCountsOnlyFreshReplies_data();
    void waitAckCountsOnlyFreshReplies();
    void serialNumberReply_data();
    void serialNumberReply();
    void claerEmptiesPaneOnly();
    void paneIsPlainTextAndBounded();
};

void ReceivePaneTest::repliesAreLines_data()
{
    QTest::addColumn<QList<Step>>("script");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("a reply is one line of lower-case hex")
        << QList<Step>{{0, QByteArray::fromHex("9041FF")}} << QStringList{"9041ff"};
    QTest::newRow("bytes a few ms apart are one line")
        << QList<Step>{{0, "\x90"}, {3, "\x50"}, {3, "\x01"}, {3, "\xff"}}
        << QStringList{"905001ff"};
    QTest::newRow("bursts 50 ms apart are two lines")
        << QList<Step>{{0, QByteArray::fromHex("9041ff")}, {50, QByteArray::fromHex("9051ff")}}
        << QStringList{"9041ff", "9051ff"};
}

void ReceivePaneTest::repliesAreLines()
{
    QFETCH(QList<Step>, script);
    QFETCH(QStringList, lines);
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    for (const Step &step : script) {
        Wait::sleep(step.delayMs);
        s.device().write(step.bytes);
    }
    QTRY_COMPARE(s.paneLines().size(), lines.size());
    Wait::sleep(50);
    QCOMPARE(s.paneLines(), lines);
    QCOMPARE(MyWidgetTestAccess::replyHex(w), lines.constLast().toLatin1());
}

void ReceivePaneTest::streamKeepsWindowResponsive_data()
{
    QTest::addColumn<int>("bytesPerTick");
    QTest::addColumn<int>("durationMs");
    // Two bytes every 2 ms is the pace of a 9600-baud line that never rests.
    QTest::newRow("9600 baud for 3 s") << 2 << 3000;
    QTest::newRow("a flood of 1 KiB every 2 ms") << 1024 << 1000;
}

void ReceivePaneTest::streamKeepsWindowResponsive()
{
    QFETCH(int, bytesPerTick);
    QFETCH(int, durationMs);
    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());

    QByteArray sent;
    QTimer source;
    source.setTimerType(Qt::PreciseTimer);
    connect(&source, &QTimer::timeout, [&] {
        QByteArray bytes(bytesPerTick, '\0');
        for (char &byte : bytes)
            byte = static_cast<char>(sent.size() + (&byte - bytes.data()));
        sent.append(bytes);
        s.device().write(bytes);
    });
    QElapsedTimer clock;
    QList<qint64> tickTimes;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { tickTimes.append(clock.elapsed()); });
    clock.start();
    source.start(2);
    ticker.start(20);
    int largestReply = 0;
    while (clock.elapsed() < durationMs) {
        Wait::sleep(20);
        largestReply = qMax(largestReply, MyWidgetTestAccess::replyHex(w).size());
    }
    source.stop();
    ticker.stop();
    Wait::sleep(300);

    // Every byte shows once, in order, in lines of at most 4096 bytes.
    const QStringList lines = s.paneLines();
    QCOMPARE(lines.join(QString()), QString::fromLatin1(sent.toHex()));
    for (const QString &line : lines)
        QVERIFY(line.size() <= 2 * 4096);
    QVERIFY(largestReply <= 2 * 4096);
    // No gathering ran longer than 200 ms.
    QVERIFY2(lines.size() >= durationMs / 250, qPrintable(QString::number(lines.size())));
    // The window's own timers kept running throughout.
    qint64 longestGap = 0;
    for (int i = 1; i < tickTimes.size(); ++i)
        longestGap = qMax(longestGap, tickTimes.at(i) - tickTimes.at(i - 1));
    QVERIFY2(longestGap < 150, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
}

void ReceivePaneTest::waitAckCountsOnlyFreshReplies_data()
{
    QTest::addColumn<QByteArray>("before");     // sent by the device before the write
    QTest::addColumn<int>("beforeAgeMs");       // how long before the write
    QTest::addColumn<QByteArray>("reply");      // sent after the write
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("ACK") << QByteArray() << 0 << QByteArray("\x79") << true;
    QTest::newRow("NACK") << QByteArray() << 0 << QByteArray("\x1f") << false;
    QTest::newRow("ACK after other bytes") << QByteArray() << 0 << QByteArray("\x00\x79", 2) << true;
    QTest::newRow("no reply") << QByteArray() << 0 << QByteArray() << false;
    QTest::newRow("old ACK, no reply") << QByteArray("\x79") << 100 << QByteArray() << false;
    QTest::newRow("ACK still arriving at the write, no reply")
        << QByteArray("\x79") << 0 << QByteArray() << false;
    QTest::newRow("old ACK, then NACK") << QByteArray("\x79") << 100 << QByteArray("\x1f") << false;
}

void ReceivePaneTest::waitAckCountsOnlyFreshReplies()
{
    QFETCH(QByteArray, before);
    QFETCH(int, beforeAgeMs);
    QFETCH(QByteArray, reply);
    QFETCH(bool, acknowledged);

    SerialWindow s;
    MyWidget &w = s.window();
    QVERIFY(s.open());
    if (!before.isEmpty()) {
        s.device().write(before);
        Wait::sleep(beforeAgeMs);
    }
    MyWidgetTestAccess::writeSerial(w, "\x7f");
    if (!reply.isEmpty())
        QTimer::singleShot(5, &s.device(), [&s, reply] { s.device().write(reply); });

    bool first = false;
    QMetaObject::invokeMethod(&w, "waitAck", Qt::DirectConnection, Q_RETURN_ARG(bool, first));
    QCOMPARE(first, acknowledged);
    // Nothing new: asking again gives the same answer.
    bool second = !first;
    QMetaObject::invokeMethod(&w, "waitAck", Qt::DirectConnection, Q_RETURN_ARG(bool, second));
    QCOMPARE(second, first);
}

void ReceivePaneTest::serialNumberReply_data()
{
    QTest::addColumn<int>("snLength");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("replyAfterMs");
    QTest::addColumn<QString>("shown");

    const QByteArray twelve = "\x90\x50" + QByteArray("QD1234567890");
    QTest::newRow("12 characters") << 12 << twelve + "\xff" << 20 << "QD1234567890";
    QTest::newRow("no final FF") << 12 << twelve << 20 << "OLD";
    QTest::newRow("too late: after 500 ms") << 12 << twelve + "\xff" << 700 << "OLD";
}

void ReceivePaneTest::serialNumberReply()
{
    QFETCH(int, snLength);
    QFETCH(QByteArray, reply);
    QFETCH(int, replyAfterMs);
    QFETCH(QString, shown);

    SerialWindow s;
    MyWidget &w = s.window();
    auto *field = control<QLineEdit>(&w, "lineEditSN");
    field->setText(QStringLiteral("OLD"));
    QVERIFY(s.open());
    MyWidgetTestAccess::setSnLength(w, snLength);
    MyWidgetTestAccess::writeSerial(w, QByteArray::fromHex("81090407ff"));
    MyWidgetTestAccess::expectSerialNumberReply(w);
    QVERIFY(MyWidgetTestAccess::snReadPending(w));
    Wait::sleep(replyAfterMs);
    s.device().write(reply);
    QTRY_COMPARE(s.paneLines().size(), 1);

    QCOMPARE(field->text(), shown);
    QCOMPARE(s.storedText(QStringLiteral("section5/SN")), shown);
    QVERIFY(!MyWidgetTestAccess::snReadPending(w));
    // The next reply is no serial number.
    s.device().write("\x90\x50" + QByteArray("XX0000000000") + "\xff");
    QTRY_COMPARE(s.paneLines().size(), 2);
    QCOMPARE(field->text(), shown);
}

void ReceivePaneTest::claerEmptiesPaneOnly()
{
    SerialWindow s;
    MyWidget &w = s.window();
    w.show();
    QVERIFY(s.open());
    s.device().write(QByteArray::fromHex("9041ff"));
    QTRY_COMPARE(s.paneLines(), QStringList{"9041ff"});

    auto *pane = control<QTextBrowser>(&w, "textBrowserReceive");
    QPoint menuAt;
    auto rightClickAndChoose = [&](const QString &text) {
        QTimer::singleShot(50, [&menuAt, text] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            menuAt = menu->pos();
            for (QAction *action : menu->actions()) {
                if (action->text() == text)
                    action->trigger();
            }
            menu->close();
        });
        const QPoint local(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, pane->viewport()->mapToGlobal(local));
        QCoreApplication::sendEvent(pane->viewport(), &event);
    };
    QCursor::setPos(w.mapToGlobal(QPoint(200, 60)));
    rightClickAndChoose(QStringLiteral("claer"));

    QVERIFY(pane->toPlainText().isEmpty());
    QCOMPARE(MyWidgetTestAccess::replyHex(w), QByteArray("9041ff"));
    QCOMPARE(menuAt, QCursor::pos());

    // The same menu serves every later right-click.
    s.device().write(QByteArray::fromHex("9051ff"));
    QTRY_COMPARE(s.paneLines(), QStringList{"9051ff"});
    rightClickAndChoose(QStringLiteral("claer"));
    QVERIFY(pane->toPlainText().isEmpty());
    QCOMPARE(pane->findChildren<QMenu *>().size(), 1);
}

void ReceivePaneTest::paneIsPlainTextAndBounded()
{
    SerialWindow s;
    MyWidget &w = s.window();
    auto *pane = control<QTextBrowser>(&w, "textBrowserReceive");
    TracePane::appendPlain(pane, QStringLiteral("<b>x</b>"));
    TracePane::appendPlain(pane, QStringLiteral("a\nb & <i>c</i>"));
    QCOMPARE(pane->document()->blockCount(), 2);
    QCOMPARE(pane->document()->firstBlock().text(), QStringLiteral("<b>x</b>"));
    QVERIFY(!pane->document()->firstBlock().charFormat().font().bold());

    pane->clear();
    for (int i = 0; i < TracePane::kMaxParagraphs + 5; ++i)
        TracePane::appendPlain(pane, QString::number(i));
    QCOMPARE(pane->document()->blockCount(), TracePane::kMaxParagraphs);
    QCOMPARE(pane->document()->firstBlock().text(), QStringLiteral("5"));
}

QTEST_MAIN(ReceivePaneTest)
#include "tst_receivepane.moc"
