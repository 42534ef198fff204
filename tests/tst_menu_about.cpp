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

using TestEnv::control;

namespace {

bool showAndActivate(QWidget &window)
{
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace

class MenuAboutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void menuOpensOnlyFromHeading_data();
    void menuOpensOnlyFromHeading();
    void aboutWindowComesAndGoes();
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

void MenuAboutTest::menuOpensOnlyFromHeading_data()
{
    QTest::addColumn<QString>("target"); // the control right-clicked, or "F1" for the key
    QTest::addColumn<bool>("opens");
    QTest::newRow("right-click on heading") << "label_10" << true;
    QTest::newRow("F1") << "F1" << true;
    QTest::newRow("port label") << "label_2" << false;
    QTest::newRow("background frame") << "frameBack" << false;
    QTest::newRow("path field") << "lineEditPath" << false;
    QTest::newRow("window itself") << "MyWidget" << false;
}

void MenuAboutTest::menuOpensOnlyFromHeading()
{
    QFETCH(QString, target);
    QFETCH(bool, opens);
    TestEnv::ScratchDir scratch;
    MyWidget window;
    QVERIFY(showAndActivate(window));
    auto *heading = control<QLabel>(&window, "label_10");
    auto *menu = control<QMenu>(&window, "mainMenu");
    QVERIFY(!menu->isVisible());

    const QPoint at(12, 9);
    if (target == QLatin1String("F1")) {
        QTest::keyClick(&window, Qt::Key_F1);
    } else {
        QWidget *widget = target == QLatin1String("MyWidget")
            ? &window : control<QWidget>(&window, target.toLatin1().constData());
        // The path field has a menu of its own (cut, copy, paste): only the
        // window's menu matters here.
        if (target == QLatin1String("lineEditPath"))
            widget->setContextMenuPolicy(Qt::PreventContextMenu);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QCoreApplication::sendEvent(widget, &event);
    }
    if (!opens) {
        QTest::qWait(50);
        QVERIFY(!menu->isVisible());
        QVERIFY(!QApplication::activePopupWidget());
        return;
    }
    QTRY_VERIFY(menu->isVisible());
    // At the click, or on the heading for the key.
    if (target != QLatin1String("F1"))
        QCOMPARE(menu->pos(), heading->mapToGlobal(at));
    QVERIFY(heading->geometry().adjusted(-1, -1, 1, 1)
                .contains(heading->parentWidget()->mapFromGlobal(menu->pos())));
    QStringList texts;
    for (QAction *action : menu->actions())
        texts.append(action->text());
    QCOMPARE(texts, (QStringList{QStringLiteral("中/English"), QStringLiteral("about")}));
}

// Shown modal beside the main window, hidden by its button, and the same
// window again the next time, in English even after the switch to Chinese.
// Closing the main window then asks no question.
void MenuAboutTest::aboutWindowComesAndGoes()
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    window.move(120, 90);
    QVERIFY(showAndActivate(window));
    QWidget *first = nullptr;
    for (int round = 0; round < 2; ++round) {
        control<QAction>(&window, "aboutAction")->trigger();
        QWidget *dialog = QApplication::activeModalWidget();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->objectName(), QStringLiteral("aboutme"));
        QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("About"));
        QCOMPARE(control<QLabel>(dialog, "label")->text(), QStringLiteral("Quillon Desk"));
        QCOMPARE(dialog->pos(), window.pos() + QPoint(167, 175));
        if (first)
            QCOMPARE(dialog, first);
        first = dialog;

        QTest::mouseClick(control<QPushButton>(dialog, "pushButton"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        window.move(window.pos() + QPoint(40, 30));
        control<QAction>(&window, "languageAction")->trigger();
    }
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(MenuAboutTest)
#include "tst_menu_about.moc"
