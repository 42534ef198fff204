// The window's menu (language switch and about window): where it opens,
// where it does not, and the about window it leads to.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

class MenuAboutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void rightClickOnHeadingOpensMenu();
    void rightClickElsewhereOpensNothing_data();
    void rightClickElsewhereOpensNothing();
    void f1OpensMenuAtHeading();
    void aboutWindowShowsHidesAndShowsAgain();
    void closingTheWindowAsksNothing();

private:
    static QWidget *aboutWindow()
    {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("aboutme"))
                return top;
        return nullptr;
    }
    static void rightClick(QWidget *widget, QPoint local)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, widget->mapToGlobal(local));
        QCoreApplication::sendEvent(widget, &event);
    }
};

void MenuAboutTest::initTestCase()
{
    PortList::setSource([] { return QList<PortList::Port>{}; });
}

void MenuAboutTest::cleanupTestCase()
{
    PortList::setSource({});
}

void MenuAboutTest::cleanup()
{
    if (QWidget *popup = QApplication::activePopupWidget())
        popup->close();
}

void MenuAboutTest::rightClickOnHeadingOpensMenu()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *heading = TestEnv::control<QLabel>(&window, "label_10");
    auto *menu = TestEnv::control<QMenu>(&window, "mainMenu");

    const QPoint at(12, 9);
    rightClick(heading, at);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->pos(), heading->mapToGlobal(at));
    QStringList texts;
    for (QAction *action : menu->actions())
        texts.append(action->text());
    QCOMPARE(texts, (QStringList{QStringLiteral("中/English"), QStringLiteral("about")}));
}

void MenuAboutTest::rightClickElsewhereOpensNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("port label") << "label_2";
    QTest::newRow("background frame") << "frameBack";
    QTest::newRow("path field") << "lineEditPath";
    QTest::newRow("window itself") << "";
}

void MenuAboutTest::rightClickElsewhereOpensNothing()
{
    QFETCH(QString, target);
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget *widget = target.isEmpty()
        ? static_cast<QWidget *>(&window)
        : TestEnv::control<QWidget>(&window, target.toLatin1().constData());
    // The path field has a menu of its own (cut, copy, paste): only the
    // window's menu must stay closed.
    if (target == QLatin1String("lineEditPath"))
        widget->setContextMenuPolicy(Qt::PreventContextMenu);
    rightClick(widget, QPoint(3, 3));
    QTest::qWait(50);
    QVERIFY(!TestEnv::control<QMenu>(&window, "mainMenu")->isVisible());
    QVERIFY(!QApplication::activePopupWidget());
}

void MenuAboutTest::f1OpensMenuAtHeading()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *heading = TestEnv::control<QLabel>(&window, "label_10");
    auto *menu = TestEnv::control<QMenu>(&window, "mainMenu");
    QVERIFY(!menu->isVisible());

    QTest::keyClick(&window, Qt::Key_F1);
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(heading->geometry().adjusted(-1, -1, 1, 1)
                .contains(heading->parentWidget()->mapFromGlobal(menu->pos())));
}

void MenuAboutTest::aboutWindowShowsHidesAndShowsAgain()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.move(120, 90);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *about = TestEnv::control<QAction>(&window, "aboutAction");

    for (int round = 0; round < 2; ++round) {
        about->trigger();
        QWidget *dialog = aboutWindow();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->isWindow());
        QVERIFY(dialog->isModal());
        QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("About"));
        QCOMPARE(dialog->pos(), window.pos() + QPoint(167, 175));
        QCOMPARE(dialog->size(), QSize(332, 210));

        QTest::mouseClick(TestEnv::control<QPushButton>(dialog, "pushButton"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(aboutWindow(), dialog); // the same window is reused
        window.move(window.pos() + QPoint(40, 30));
    }
}

void MenuAboutTest::closingTheWindowAsksNothing()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(MenuAboutTest)
#include "tst_menu_about.moc"
