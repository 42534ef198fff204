// What the camera sends, as the receive path cuts it and the window shows and
// judges it: replies cut from the stream, a stream that never rests, the
// inquiries that count only the answer to their own write, the serial-number
// reply, the pane's "claer" menu and its caps, and a flood of datagrams. The
// camera is the far end of a pseudo-terminal.

#include "app/tracepane.h"
#include "link/replyreceiver.h"
#include "wait.h"
#include "mywidgettestaccess.h"
#include "serialwindow.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUdpSocket>
#include <QtTest>

#include <ctime>
#include <memory>
#include <thread>

using TestEnv::control;

class ReceivePaneTest : public QObject
{
    Q_OBJECT

    // One window, its port opened once, serves every window test; each starts
    // with an empty pane.
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
        QTRY_VERIFY(!MyWidgetTestAccess::inquiryPending(w()));
        QCoreApplication::processEvents(); // lines still on their way land first
        pane()->clear();
    }
    void cleanupTestCase() { s.reset(); }
    void receiverCutsReplies();
    void streamKeepsWindowResponsive_data();
    void streamKeepsWindowResponsive();
    void inquiryCountsOnlyItsOwnAnswer_data();
    void inquiryCountsOnlyItsOwnAnswer();
    void serialNumberReply_data();
    void serialNumberReply();
    void claerEmptiesPaneOnly();
    void paneParagraphs_data();
    void paneParagraphs();
    void paneParagraphsAreBounded_data();
    void paneParagraphsAreBounded();
    void datagramFloodKeepsWindowResponsive_data();
    void datagramFloodKeepsWindowResponsive();
};

void ReceivePaneTest::receiverCutsReplies()
{
    ReplyReceiver r;
    QList<QByteArray> batches;
    connect(&r, &ReplyReceiver::batchReady, [&batches](const QByteArray &b) { batches.append(b); });
    // One chunk every gapMs, the event loop running meanwhile, or not at all
    // (the window busy in a long slot: the timers that end a batch are then
    // due but not yet delivered).
    const auto feed = [&](const QVector<QByteArray> &chunks, int gapMs, bool busy) {
        batches.clear();
        for (const QByteArray &chunk : chunks) {
            r.feed(chunk);
            busy ? QThread::msleep(gapMs) : Wait::sleep(gapMs);
        }
    };
    feed({QByteArray(10000, 'x')}, 0, false);
    QTRY_COMPARE(batches, (QList<QByteArray>{QByteArray(4096, 'x'), QByteArray(4096, 'x'), QByteArray(1808, 'x')}));
    QVERIFY(!r.isGathering());
    // Bytes a few ms apart are one reply; 12 ms apart, two.
    feed({"\x90", "\x50", "\x01", "\xff"}, 3, false);
    QTRY_COMPARE(batches, QList<QByteArray>{"\x90\x50\x01\xff"});
    feed({"\x90\x41\xff", "\x90\x51\xff"}, 12, true);
    QTRY_COMPARE(batches, (QList<QByteArray>{"\x90\x41\xff", "\x90\x51\xff"}));
    // A stream with no event delivered at all is still cut after 200 ms.
    feed(QVector<QByteArray>(60, "x"), 5, true);
    QCOMPARE(batches.size(), 1);
    QVERIFY(batches.constFirst().size() < 50);
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
        const QByteArray bytes(bytesPerTick, static_cast<char>(sent.size() / bytesPerTick));
        sent.append(bytes);
        s->device().write(bytes);
    });
    // The window's own timers keep running throughout, and taking the stream
    // in costs little processor time.
    qint64 longestGap = 0;
    QElapsedTimer sinceTick, clock;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    sinceTick.start();
    source.start(2);
    ticker.start(20);
    clock.start();
    const std::clock_t cpuBefore = std::clock();
    Wait::sleep(1000);
    const qint64 cpuMs = qint64(std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC, wallMs = clock.elapsed();
    source.stop();
    ticker.stop();
    Wait::sleep(300);
    QVERIFY2(wallMs >= 1000 && wallMs < 1300, qPrintable(QString::number(wallMs)));
    QVERIFY2(longestGap < 150, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
    QVERIFY2(bytesPerTick > 2 || cpuMs < 500, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpuMs)));

    // Every byte shows once, in order, in lines of at most 4096 bytes, and
    // no gathering ran much longer than 200 ms.
    const QStringList lines = s->paneLines();
    QCOMPARE(lines.join(QString()), QString::fromLatin1(sent.toHex()));
    for (const QString &line : lines)
        QVERIFY(line.size() <= 2 * 4096);
    QVERIFY2(lines.size() >= 4, qPrintable(QString::number(lines.size())));
}

void ReceivePaneTest::inquiryCountsOnlyItsOwnAnswer_data()
{
    QTest::addColumn<QByteArray>("shownBefore"); // a position reply the pane already shows
    QTest::addColumn<QByteArray>("inDriver");    // sent by the device just before the inquiry
    QTest::addColumn<QByteArray>("reply");       // sent after the inquiry
    QTest::addColumn<QString>("position");
    const QByteArray answer = QByteArray::fromHex("905001020304ff");
    QTest::newRow("its answer") << QByteArray() << QByteArray() << answer << "1234";
    QTest::newRow("late completions, then its answer")
        << QByteArray() << QByteArray() << QByteArray::fromHex("9041ff9051ff") + answer << "1234";
    QTest::newRow("no answer: not the reply shown last") << answer << QByteArray() << QByteArray() << "";
    QTest::newRow("no answer: not the reply still arriving") << QByteArray() << answer << QByteArray() << "";
    QTest::newRow("an error reply") << QByteArray() << QByteArray() << QByteArray::fromHex("906002ff") << "";
}

void ReceivePaneTest::inquiryCountsOnlyItsOwnAnswer()
{
    QFETCH(QByteArray, shownBefore);
    QFETCH(QByteArray, inDriver);
    QFETCH(QByteArray, reply);
    QFETCH(QString, position);
    // A focus position inquiry (VISCA, the start-up choice).
    auto *field = control<QLineEdit>(&w(), "lineEditFPos");
    field->setText(QStringLiteral("0"));
    if (!shownBefore.isEmpty()) {
        s->device().write(shownBefore);
        QTRY_COMPARE(s->paneLines().size(), 1);
    }
    s->device().write(inDriver);
    const int written = int(s->device().received().size());
    control<QPushButton>(&w(), "pushButtonGetFPos")->click();
    QVERIFY(s->device().waitForReceived(written + 5, 1000));
    QCOMPARE(s->device().received().right(5).toHex(), QByteArray("81090448ff"));
    s->device().write(reply);
    QTRY_COMPARE_WITH_TIMEOUT(field->text(), position, 1000);
    // Whatever comes later changes nothing.
    s->device().write(QByteArray::fromHex("905009090909ff"));
    QTRY_VERIFY(s->paneLines().join(QString()).endsWith(QLatin1String("905009090909ff")));
    QCOMPARE(field->text(), position);
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
    QTest::newRow("15 characters") << 15 << QByteArray("QD1234567890123\xff") << 20 << "QD1234567890123";
    QTest::newRow("15 expected, 12 sent: the FF is no character")
        << 15 << QByteArray("QD1234567890\xff") << 20 << "QD1234567890";
    QTest::newRow("UTF-8 inside") << 12 << QByteArray("AB\xc3\xa9\xff") << 20 << QStringLiteral("AB\u00e9");
    QTest::newRow("a zero byte ends the text") << 12 << QByteArray("QD12") + '\0' + "3456789\xff" << 20 << "QD12";
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
    // The factory group is locked on the form; its slot is what it runs.
    const int written = int(s->device().received().size());
    QMetaObject::invokeMethod(&w(), "on_pushButtonReadSN_clicked", Qt::DirectConnection);
    QVERIFY(s->device().waitForReceived(written + 5, 1000));
    QCOMPARE(s->device().received().right(5).toHex(), QByteArray("81096c3eff"));
    Wait::sleep(replyAfterMs);
    // The reply, then one that is no serial number.
    for (const QByteArray &reply : {number, QByteArray("XX0000000000\xff")}) {
        s->device().write("\x90\x50" + reply);
        QTRY_COMPARE(s->paneLines().size(), reply == number ? 1 : 2);
        QCOMPARE(field->text(), shown);
    }
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
        QCOMPARE(menuAt, QCursor::pos());
    }
    QCOMPARE(pane()->findChildren<QMenu *>().size(), 1);
}

void ReceivePaneTest::paneParagraphs_data()
{
    // What was added, and the paragraphs the pane holds then. (Markup shows
    // as it is: tst_camera's datagrams.)
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("paragraphs");
    const QString lineBreak(QChar::LineSeparator);
    QTest::newRow("line breaks stay inside")
        << QStringList{"a\nb", "c\r\nd\re"} << QStringList{"a" + lineBreak + "b", "c" + lineBreak + "d" + lineBreak + "e"};
    QTest::newRow("paragraph separator") << QStringList{QStringLiteral("a\u2029b")} << QStringList{"a" + lineBreak + "b"};
    QTest::newRow("the document's frame marks")
        << QStringList{QStringLiteral("a\ufdd0b\ufdd1")} << QStringList{QStringLiteral("a\ufffdb\ufffd")};
    QTest::newRow("empty first paragraphs") << QStringList{"", "", "x"} << QStringList{"", "", "x"};
    // A line past the character budget alone leaves nothing else: no empty
    // paragraph in front of it either.
    const QString huge(TracePane::kMaxCharacters + 10, QLatin1Char('h'));
    QTest::newRow("one line over the budget") << QStringList{"x", "", huge} << QStringList{huge};
}

void ReceivePaneTest::paneParagraphs()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, paragraphs);
    for (const QString &text : added)
        TracePane::appendPlain(pane(), text);
    QStringList shown;
    for (QTextBlock block = pane()->document()->begin(); block.isValid(); block = block.next())
        shown.append(block.text());
    QCOMPARE(shown, paragraphs);
}

void ReceivePaneTest::paneParagraphsAreBounded_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("batched"); // added in one call, or one call each
    QTest::addColumn<int>("paragraphs");
    QStringList counted;
    for (int i = 0; i < TracePane::kMaxParagraphs + 5; ++i)
        counted.append(QString::number(i));
    QTest::newRow("short lines beyond the cap") << counted << false << TracePane::kMaxParagraphs;
    QTest::newRow("short lines beyond the cap, in one call") << counted << true << TracePane::kMaxParagraphs;
    // Forty datagrams of 64 KiB would hold 2.6 million characters.
    QStringList large;
    for (int i = 0; i < 40; ++i)
        large.append(QString(65000, QLatin1Char('a' + i % 26)));
    QTest::newRow("64 KiB lines") << large << false << -1;
    QTest::newRow("64 KiB lines, in one call") << large << true << -1;
}

void ReceivePaneTest::paneParagraphsAreBounded()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, batched);
    QFETCH(int, paragraphs); // -1: as many as the character budget leaves
    if (batched) {
        TracePane::appendPlain(pane(), lines);
    } else {
        for (const QString &line : lines)
            TracePane::appendPlain(pane(), line);
    }
    // The newest lines stay, whole and in order; the oldest go.
    QTextDocument *document = pane()->document();
    QVERIFY(document->characterCount() <= TracePane::kMaxCharacters);
    if (paragraphs >= 0)
        QCOMPARE(document->blockCount(), paragraphs);
    QVERIFY(document->blockCount() > 1);
    int line = int(lines.size());
    for (QTextBlock block = document->lastBlock(); block.isValid(); block = block.previous())
        QCOMPARE(block.text(), lines.at(--line));
}

void ReceivePaneTest::datagramFloodKeepsWindowResponsive_data()
{
    QTest::addColumn<QByteArray>("payload"); // after the datagram's number
    QTest::addColumn<int>("burst");          // datagrams between pauses
    QTest::addColumn<int>("pauseUs");
    QTest::newRow("short datagrams, as fast as they go")
        << QByteArray(" camera 90 41 ff <b>x</b>\r\n" + QByteArray(600, 'z')) << 20 << 1000;
    // A line with no place to break it must cost no more to lay out than
    // other text.
    QTest::newRow("64 KiB without a blank, ten a second")
        << QByteArray(' ' + QByteArray(65000, 'r')) << 1 << 100000;
}

void ReceivePaneTest::datagramFloodKeepsWindowResponsive()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, burst);
    QFETCH(int, pauseUs);
    // Datagrams faster than the pane can show them (a camera gone wild
    // may send them) into a full pane, where each edit also drops the
    // oldest: the window keeps handling its events, and what it shows comes
    // in the order sent, each datagram once.
    w().show();
    QStringList old;
    for (int i = -TracePane::kMaxParagraphs; i < 0; ++i)
        old.append(QStringLiteral("%1 old").arg(i));
    TracePane::appendPlain(pane(), old);
    control<QLineEdit>(&w(), "txt_ip")->setText(QStringLiteral("127.0.0.1"));
    control<QPushButton>(&w(), "btn_cfg")->click();
    const quint16 port = MyWidgetTestAccess::udpLocalPort(w());
    // The sender stops by itself: a window that never returns to its event
    // loop would otherwise never tell it to.
    std::thread sender([port, payload, burst, pauseUs] {
        QUdpSocket socket;
        QElapsedTimer sending;
        sending.start();
        for (int n = 0; !sending.hasExpired(1500); ++n) {
            socket.writeDatagram(QByteArray::number(n) + payload, QHostAddress::LocalHost, port);
            if (n % burst == 0)
                QThread::usleep(ulong(pauseUs));
        }
    });
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(10);
    Wait::sleep(1500);
    sender.join();
    ticker.stop();
    Wait::sleep(300);
    control<QPushButton>(&w(), "btn_cfg")->click();
    QVERIFY2(longestGap < 500, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
    QVERIFY(pane()->document()->blockCount() > 100);
    int previous = -TracePane::kMaxParagraphs - 1;
    for (QTextBlock block = pane()->document()->firstBlock(); block.isValid(); block = block.next()) {
        const int n = block.text().section(QLatin1Char(' '), 0, 0).toInt();
        QVERIFY2(n > previous, qPrintable(block.text().left(20)));
        previous = n;
    }
}

QTEST_MAIN(ReceivePaneTest)
#include "tst_receivepane.moc"
