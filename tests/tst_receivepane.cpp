// What the camera sends, as the receive path cuts it and the window shows it:
// replies cut from the stream, a stream or a datagram flood that never rests
// while the window stays live, the pane's "claer" menu and its caps. Which
// answers the inquiries take is tst_servicewindow's; any text a datagram
// holds, fuzz_datagram's. The camera is the far end of a pseudo-terminal.

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
    void init() { pane()->clear(); }
    void cleanupTestCase() { s.reset(); }

    void receiverCutsReplies()
    {
        ReplyReceiver r;
        QList<QByteArray> batches;
        connect(&r, &ReplyReceiver::batchReady, [&batches](const QByteArray &b) { batches.append(b); });
        // One chunk every gapMs, the event loop running meanwhile, or not at
        // all (the window busy in a long slot: the timers that end a batch
        // are then due but not yet delivered).
        // Returns the longest gap there was between two chunks.
        const auto feed = [&](const QVector<QByteArray> &chunks, int gapMs, bool busy) {
            batches.clear();
            QElapsedTimer sinceChunk;
            qint64 longestGapMs = 0;
            for (const QByteArray &chunk : chunks) {
                if (sinceChunk.isValid())
                    longestGapMs = std::max(longestGapMs, sinceChunk.elapsed());
                r.feed(chunk);
                sinceChunk.start();
                busy ? QThread::msleep(gapMs) : Wait::sleep(gapMs);
            }
            return longestGapMs;
        };
        // Bytes a few ms apart are one reply; 12 ms apart, two. (A busy
        // machine may stretch a few ms past the silence: such a try tells
        // nothing, and is made again.)
        for (int tries = 1; feed({"\x90", "\x50", "\x01", "\xff"}, 3, false) >= ReplyReceiver::kSilenceMs; ++tries) {
            QVERIFY2(tries < 10, "the machine is too busy to feed bytes 3 ms apart");
            Wait::sleep(ReplyReceiver::kMaxGatherMs); // that try's bytes go out first
        }
        QTRY_COMPARE(batches, QList<QByteArray>{"\x90\x50\x01\xff"});
        feed({"\x90\x41\xff", "\x90\x51\xff"}, 12, true);
        QTRY_COMPARE(batches, (QList<QByteArray>{"\x90\x41\xff", "\x90\x51\xff"}));
        // A stream with no event delivered at all is still cut after 200 ms.
        feed(QVector<QByteArray>(60, "x"), 5, true);
        QCOMPARE(batches.size(), 1);
        QVERIFY(batches.constFirst().size() < 50);
    }

    void windowKeepsUp_data()
    {
        QTest::addColumn<bool>("udp");        // datagrams, else a serial stream
        QTest::addColumn<QByteArray>("bytes"); // per tick of 2 ms; per datagram after its number
        QTest::addColumn<int>("burst");       // datagrams between pauses
        QTest::addColumn<int>("pauseUs");
        // Two bytes every 2 ms is the pace of a 9600-baud line that never rests.
        QTest::newRow("9600-baud stream") << false << QByteArray(2, 'x') << 0 << 0;
        QTest::newRow("1 KiB every 2 ms on the line") << false << QByteArray(1024, 'x') << 0 << 0;
        // Datagrams faster than the pane can show them (a camera gone wild
        // may send them) into a full pane, where each edit also drops the
        // oldest.
        QTest::newRow("short datagrams, as fast as they go")
            << true << QByteArray(" camera 90 41 ff <b>x</b>\r\n" + QByteArray(600, 'z')) << 20 << 1000;
        // A line with no place to break it must cost no more to lay out than
        // other text.
        QTest::newRow("64 KiB datagrams without a blank, ten a second")
            << true << QByteArray(' ' + QByteArray(65000, 'r')) << 1 << 100000;
    }

    // The window's timers keep running throughout (its event loop never
    // stalls long), and what it shows comes in the order sent, each byte or
    // datagram once.
    void windowKeepsUp()
    {
        QFETCH(bool, udp);
        QFETCH(QByteArray, bytes);
        QFETCH(int, burst);
        QFETCH(int, pauseUs);
        w().show();
        QByteArray sent;
        QTimer source;
        source.setTimerType(Qt::PreciseTimer);
        connect(&source, &QTimer::timeout, [&] {
            const QByteArray chunk(bytes.size(), static_cast<char>(sent.size() / bytes.size()));
            sent.append(chunk);
            s->device().write(chunk);
        });
        std::thread sender;
        if (udp) {
            QStringList old;
            for (int i = -TracePane::kMaxParagraphs; i < 0; ++i)
                old.append(QStringLiteral("%1 old").arg(i));
            TracePane::appendPlain(pane(), old);
            control<QLineEdit>(&w(), "txt_ip")->setText(QStringLiteral("127.0.0.1"));
            control<QPushButton>(&w(), "btn_cfg")->click();
            // The sender stops by itself: a window that never returns to its
            // event loop would otherwise never tell it to.
            sender = std::thread([port = MyWidgetTestAccess::udpLocalPort(w()), bytes, burst, pauseUs] {
                QUdpSocket socket;
                QElapsedTimer sending;
                sending.start();
                for (int n = 0; !sending.hasExpired(1000); ++n) {
                    socket.writeDatagram(QByteArray::number(n) + bytes, QHostAddress::LocalHost, port);
                    if (n % burst == 0)
                        QThread::usleep(ulong(pauseUs));
                }
            });
        } else {
            source.start(2);
        }
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
        sinceTick.start();
        ticker.start(10);
        const std::clock_t cpuBefore = std::clock();
        Wait::sleep(1000);
        const qint64 cpuMs = qint64(std::clock() - cpuBefore) * 1000 / CLOCKS_PER_SEC;
        source.stop();
        ticker.stop();
        if (udp)
            sender.join();
        Wait::sleep(300);
        QVERIFY2(longestGap < (udp ? 500 : 150), qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
        if (!udp) {
            QVERIFY2(bytes.size() > 2 || cpuMs < 500, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpuMs)));
            // In lines of at most 4096 bytes; no gathering ran much longer
            // than 200 ms.
            const QStringList lines = s->paneLines();
            QCOMPARE(lines.join(QString()), QString::fromLatin1(sent.toHex()));
            for (const QString &line : lines)
                QVERIFY(line.size() <= 2 * 4096);
            QVERIFY2(lines.size() >= 4, qPrintable(QString::number(lines.size())));
            return;
        }
        control<QPushButton>(&w(), "btn_cfg")->click();
        QVERIFY(pane()->document()->blockCount() > 100);
        int previous = -TracePane::kMaxParagraphs - 1;
        for (QTextBlock block = pane()->document()->firstBlock(); block.isValid(); block = block.next()) {
            const int n = block.text().section(QLatin1Char(' '), 0, 0).toInt();
            QVERIFY2(n > previous, qPrintable(block.text().left(20)));
            previous = n;
        }
    }

    void claerEmptiesPaneOnly()
    {
        // The menu opens at the mouse cursor, not at the clicked text; the
        // same menu serves every right-click.
        w().show();
        QCursor::setPos(w().mapToGlobal(QPoint(200, 60)));
        for (const QByteArray &reply : {QByteArray("\x90\x41\xff"), QByteArray("\x90\x51\xff")}) {
            s->device().write(reply);
            QTRY_COMPARE(s->paneLines(), QStringList{QString::fromLatin1(reply.toHex())});
            QPoint menuAt;
            QTimer::singleShot(50, [&menuAt] {
                if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    menuAt = menu->pos();
                    for (QAction *action : menu->actions())
                        if (action->text() == QLatin1String("claer"))
                            action->trigger();
                    menu->close();
                }
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), pane()->viewport()->mapToGlobal(QPoint(5, 5)));
            QCoreApplication::sendEvent(pane()->viewport(), &event);
            QVERIFY(pane()->toPlainText().isEmpty());
            QCOMPARE(menuAt, QCursor::pos());
        }
        QCOMPARE(pane()->findChildren<QMenu *>().size(), 1);
    }

    void paneIsBounded_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("batched"); // added in one call, or one call each
        QTest::addColumn<int>("paragraphs"); // -1: as many as the character budget leaves
        // Short lines beyond the cap of paragraphs: fuzz_datagram, and the
        // flood above.
        // Forty datagrams of 64 KiB would hold 2.6 million characters.
        QStringList large;
        for (int i = 0; i < 40; ++i)
            large.append(QString(65000, QLatin1Char('a' + i % 26)));
        QTest::newRow("64 KiB lines, in one call") << large << true << -1;
        // A line past the budget alone leaves nothing else: no empty
        // paragraph in front of it either.
        QTest::newRow("one line over the budget")
            << QStringList{"x", "", QString(TracePane::kMaxCharacters + 10, QLatin1Char('h'))} << false << 1;
    }

    // The newest lines stay, whole and in order; the oldest go.
    void paneIsBounded()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, batched);
        QFETCH(int, paragraphs);
        if (batched) {
            TracePane::appendPlain(pane(), lines);
        } else {
            for (const QString &line : lines)
                TracePane::appendPlain(pane(), line);
        }
        QTextDocument *document = pane()->document();
        QVERIFY(paragraphs == 1 || document->characterCount() <= TracePane::kMaxCharacters);
        if (paragraphs >= 0)
            QCOMPARE(document->blockCount(), paragraphs);
        QVERIFY(paragraphs == 1 || document->blockCount() > 1);
        int line = int(lines.size());
        for (QTextBlock block = document->lastBlock(); block.isValid(); block = block.previous())
            QCOMPARE(block.text(), lines.at(--line));
    }
};

QTEST_MAIN(ReceivePaneTest)
#include "tst_receivepane.moc"
