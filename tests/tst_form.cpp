// The main window apart from its links: the controls' start-up states, the
// upgrade strip and the whole form, the port list, the texts kept in
// ./setting.ini, and the menu with its language switch and about window.

#include "link/portlist.h"
#include "mywidget.h"
#include "boxanswerer.h"
#include "testenv.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

#include <optional>

#include <sys/stat.h>

using TestEnv::control;

namespace {

// The only controls inside the 561 x 110 window, and what start-up disables
// (their children follow, so enabling a panel later enables its buttons).
const QStringList kVisible{"label_10", "label_2", "comboBoxCom", "pushButton_2", "lineEditPath",
                           "pushButtonChooseHex", "pushButtonUpdata", "progressBar"};
const QStringList kDisabled{"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial",
                            "widgetSW", "widgetSN", "pushButton", "pushButtonUpdata"};

// Every control of the form in sight when `all`, else the strip's only.
void expectInSight(QWidget *window, bool all)
{
    for (QWidget *w : control<QWidget>(window, "frameBack")->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect onWindow(w->mapTo(window, QPoint(0, 0)), w->size());
        if (all || kVisible.contains(w->objectName()))
            QVERIFY2(window->rect().contains(onWindow), qPrintable(w->objectName()));
        else
            QVERIFY2(!window->rect().intersects(onWindow), qPrintable(w->objectName()));
    }
}

// A combo box's items, '*' before the selected one.
QString shownText(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append((i == box->currentIndex() ? "*" : "") + box->itemText(i));
    return items.join(QLatin1Char('|'));
}

void offerPorts(const QStringList &names)
{
    PortList::setSource([names] {
        QList<PortList::Port> ports;
        for (const QString &name : names)
            ports.append({name, QStringLiteral("/dev/null"), QString()});
        return ports;
    });
}

struct StartedWindow
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    template <typename T = QWidget>
    T *get(const char *name) { return control<T>(&window, name); }
    bool showActive()
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
    void switchLanguage() { get<QAction>("languageAction")->trigger(); }
};

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { offerPorts({"COM1"}); }

    // Title, a fixed size that shows only the upgrade strip, and the states the
    // controls start in: the line settings the camera talks (9600 8N1), VISCA,
    // the canned commands, the panels off until a link is up, the fields only
    // the program writes, and no button that repeats while held (press and
    // release are separate commands).
    void startUp()
    {
        StartedWindow s;
        QCOMPARE(s.window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
        s.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.window));
        for (const QSize &attempt : {QSize(1001, 751), QSize(300, 60)}) {
            s.window.resize(attempt);
            QCOMPARE(s.window.size(), QSize(561, 110));
        }
        expectInSight(&s.window, false);

        // The item index of the protocol box is the protocol: Pelco-D 0, Pelco-P 1, VISCA 2.
        const char *const boxes[][2] = {
            {"comboBoxBaudrate", "2400|*9600|19200|38400|57600|115200"}, {"comboBoxDatabit", "5|6|7|*8"},
            {"comboBoxStopbit", "*1|2"}, {"comboBoxParity", "*No|Odd|Even"},
            {"comboBoxProtocol", "Pelco D|Pelco P|*Visca"},
            {"comboBoxSend", "*89 02 07 63 58 ff|81 01 06 07 01 01 07 0F 0F 0F 07 0F 0F 0F FF |"
                             "81 01 06 07 01 00 07 0F 0F 0F 07 0F 0F 0F FF "}};
        for (const auto &[name, items] : boxes) {
            QCOMPARE(shownText(s.get<QComboBox>(name)), QString::fromLatin1(items));
            QCOMPARE(s.get<QComboBox>(name)->isEditable(), !qstrcmp(name, "comboBoxSend")); // the free command line
        }
        for (QWidget *w : s.window.findChildren<QWidget *>()) {
            bool usable = true;
            for (QWidget *up = w; up != &s.window; up = up->parentWidget())
                usable = usable && !kDisabled.contains(up->objectName());
            QVERIFY2(w->isEnabled() == usable, qPrintable(w->objectName()));
            if (auto *button = qobject_cast<QAbstractButton *>(w))
                QVERIFY2(!button->autoRepeat(), qPrintable(button->objectName()));
        }
        // " r": read-only, a field only the program writes.
        const char *const fields[][2] = {
            {"lineEditPTSpeed", "24 r"}, {"lineEditZoomSpeed", "7 r"}, {"lineEditFPos", "0 r"}, {"lineEditSW", "0 r"},
            {"lineEditZPos", "0"}, {"lineEditAddress", "1"}, {"lineEditPresetAdd", "1"}, {"txt_ip", ""},
            {"lineEditSN", ""}};
        for (const auto &[name, shown] : fields) {
            auto *edit = s.get<QLineEdit>(name);
            QCOMPARE(edit->text() + (edit->isReadOnly() ? " r" : ""), QString::fromLatin1(shown));
        }
        const auto range = [](QSlider *x) { return QList<int>{x->minimum(), x->maximum(), x->value()}; };
        QCOMPARE(range(s.get<QSlider>("horizontalSliderPTSpeed")), (QList<int>{1, 24, 24}));
        QCOMPARE(range(s.get<QSlider>("horizontalSliderZoomSpeed")), (QList<int>{1, 7, 7}));
        QVERIFY(s.get<QRadioButton>("radioButtonVN620")->isChecked());
    }

    void portList_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("no port") << QStringList{} << QStringList{"No Com"};
        // "COM" + a decimal number, listed by number; no number reads as 0, and
        // two ports of one number stay two items.
        QTest::newRow("COM names") << QStringList{"COM10", "COM3", "COMX", "COM007", "COM5", "COM5"}
                                   << QStringList{"COM0", "COM3", "COM5", "COM5", "COM7", "COM10"};
        QTest::newRow("other names after them, in natural order")
            << QStringList{"ttyUSB10", "ttyS0", "COM12", "ttyUSB2", "ttyACM0", "rfcomm10", "rfcomm9", "COM3"}
            << QStringList{"COM3", "COM12", "rfcomm9", "rfcomm10", "ttyACM0", "ttyS0", "ttyUSB2", "ttyUSB10"};
    }

    void portList()
    {
        QFETCH(QStringList, present);
        QFETCH(QStringList, listed);
        offerPorts(present);
        StartedWindow s;
        QCOMPARE(shownText(s.get<QComboBox>("comboBoxCom")), QLatin1Char('*') + listed.join(QLatin1Char('|')));
        QCOMPARE(s.get("pushButtonOpen")->isEnabled(), !present.isEmpty());
    }

    void settings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("stored"); // null: no file at all
        QTest::addColumn<QString>("shown");
        QTest::newRow("camera address") << "section3/Cam_Addr" << "txt_ip" << "192.168.1.64" << "192.168.1.64";
        QTest::newRow("camera port") << "section6/IP_Port" << "txt_port_tx" << "1259" << "1259";
        // Start-up cuts them to the fields' maximum lengths.
        QTest::newRow("serial number of 20") << "section5/SN" << "lineEditSN" << "ABCDEFGHIJKLMNOPQRST"
                                             << "ABCDEFGHIJKLMNO";
        QTest::newRow("logo of 10") << "section4/Logo" << "lineEditLogo" << "LOGO123456" << "LOGO123";
        QTest::newRow("no file") << "section5/SN" << "lineEditSN" << QString() << "";
    }

    // Shown at start-up and stored back as shown (start-up alone creates no file);
    // every keystroke is on disk at once; a cleared field keeps its key with an
    // empty text, and the next start shows it empty.
    void settings()
    {
        QFETCH(QString, key);
        QFETCH(QString, field);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        TestEnv::ScratchDir scratch;
        if (!stored.isNull())
            TestEnv::writeSettings({{key, stored}});
        std::optional<MyWidget> window(std::in_place);
        const auto edit = [&] { return control<QLineEdit>(&*window, qPrintable(field)); };
        window->show();
        QCOMPARE(edit()->text(), shown);
        QCOMPARE(scratch.storedText(key), shown);
        window.reset();
        QCOMPARE(scratch.hasSettingsFile(), !stored.isNull());

        window.emplace();
        edit()->parentWidget()->setEnabled(true); // the serial number's panel starts disabled
        edit()->clear();
        // Read from the file itself: QSettings objects of one process share what
        // has not reached the disk yet.
        QFile ini(scratch.settingsFile());
        for (const QString typed : {"1", "12"}) {
            QTest::keyClick(edit(), typed.back().toLatin1());
            QVERIFY(ini.open(QIODevice::ReadOnly));
            QVERIFY(QString::fromUtf8(ini.readAll()).contains(
                QStringLiteral("[%1]\n%2=%3\n").arg(key.section('/', 0, 0), key.section('/', 1), typed)));
            ini.close();
        }
        edit()->clear();
        QSettings file(scratch.settingsFile(), QSettings::IniFormat);
        QCOMPARE(file.value(key, QStringLiteral("no key")).toString(), QString());
        window.emplace();
        QCOMPARE(edit()->text(), QString());
    }

    void unwritableSettingsToldOnce_data()
    {
        QTest::addColumn<bool>("storedBefore"); // a settings file this user may read, not write; else a folder
                                                // this user may not write
        QTest::newRow("folder it may not write") << false;
        QTest::newRow("settings file it may not write") << true;
    }

    // Once the settings cannot be written, the window says so once, naming the
    // file (at start-up already when it loads stored texts, which it writes
    // back); the texts stay in the form.
    void unwritableSettingsToldOnce()
    {
        QFETCH(bool, storedBefore);
        TestEnv::ScratchDir scratch;
        BoxAnswerer boxes;
        const QByteArray folder = QFile::encodeName(QDir::currentPath());
        const QByteArray file = QFile::encodeName(scratch.settingsFile());
        if (storedBefore)
            TestEnv::writeSettings({{"section3/Cam_Addr", "192.168.1.64"}});
        QVERIFY(::chmod(folder.constData(), storedBefore ? 0755 : 0555) == 0
                && (!storedBefore || ::chmod(file.constData(), 0444) == 0));
        {
            TestEnv::Unprivileged user;
            MyWidget window;
            auto *ip = control<QLineEdit>(&window, "txt_ip");
            QTest::keyClicks(ip, QStringLiteral(".7"));
            QTRY_COMPARE(boxes.seen(), QStringList{QStringLiteral("Tip: The settings cannot be saved.")});
            QTest::keyClicks(control<QLineEdit>(&window, "txt_port_tx"), QStringLiteral("1259"));
            QTest::qWait(50);
            QCOMPARE(boxes.details(), QStringList{scratch.settingsFile()
                                                  + " cannot be written: what you type into the window is lost when it "
                                                    "closes. Start Quillon Desk from a folder you may write to."});
            QCOMPARE(ip->text(), storedBefore ? QStringLiteral("192.168.1.64.7") : QStringLiteral(".7"));
        }
        QVERIFY(::chmod(folder.constData(), 0700) == 0 && (!storedBefore || ::chmod(file.constData(), 0644) == 0));
        // Read from the file itself: QSettings objects of one process share what
        // has not reached the disk.
        QFile stored(scratch.settingsFile());
        QCOMPARE(stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray(),
                 storedBefore ? QByteArray("[section3]\nCam_Addr=192.168.1.64\n") : QByteArray());
    }

    void allPanels_data()
    {
        QTest::addColumn<bool>("byKey"); // F2, or the menu's entry
        QTest::addColumn<bool>("chinese");
        QTest::newRow("F2") << true << false;
        QTest::newRow("menu entry, in Chinese") << false << true;
    }

    // The strip and the whole form, each at its fixed size, back and forth; the
    // panels keep their own states (the factory serial-number group stays
    // locked), and keys never go to a control out of sight.
    void allPanels()
    {
        QFETCH(bool, byKey);
        QFETCH(bool, chinese);
        StartedWindow s;
        QVERIFY(s.showActive());
        if (chinese)
            s.switchLanguage();
        auto *entry = s.get<QAction>("panelsAction");
        QVERIFY(s.get<QMenu>("mainMenu")->actions().contains(entry));
        QCOMPARE(entry->text(), chinese ? QStringLiteral("全部面板") : QStringLiteral("All panels"));
        for (const bool all : {true, false, true, false}) {
            if (byKey)
                QTest::keyClick(&s.window, Qt::Key_F2);
            else
                entry->trigger();
            const QSize expected = all ? QSize(1001, 751) : QSize(561, 110);
            QTRY_COMPARE(s.window.size(), expected);
            s.window.resize(800, 400);
            QCOMPARE(s.window.size(), expected);
            QCOMPARE(entry->isChecked(), all);
            expectInSight(&s.window, all);
            QVERIFY(!s.get("widgetSN")->isEnabled() && !s.get("widgetPT")->isEnabled());
            if (all)
                s.get("txt_ip")->setFocus();
            else
                QVERIFY(s.window.rect().contains(s.window.focusWidget()->mapTo(&s.window, QPoint(0, 0))));
        }
    }

    void menuOpensOnlyFromHeading_data()
    {
        QTest::addColumn<QString>("target"); // the control right-clicked, or "F1" for the key
        QTest::addColumn<bool>("opens");
        QTest::newRow("right-click on heading") << "label_10" << true;
        QTest::newRow("F1") << "F1" << true;
        QTest::newRow("port label") << "label_2" << false;
        QTest::newRow("window itself") << "MyWidget" << false;
    }

    void menuOpensOnlyFromHeading()
    {
        QFETCH(QString, target);
        QFETCH(bool, opens);
        StartedWindow s;
        QVERIFY(s.showActive());
        auto *heading = s.get("label_10");
        auto *menu = s.get<QMenu>("mainMenu");
        QVERIFY(!menu->isVisible());

        const QPoint at(12, 9);
        if (target == QLatin1String("F1")) {
            QTest::keyClick(&s.window, Qt::Key_F1);
        } else {
            QWidget *widget = target == QLatin1String("MyWidget") ? &s.window : s.get(qPrintable(target));
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
            QCoreApplication::sendEvent(widget, &event);
        }
        if (!opens) {
            QTest::qWait(50);
            QVERIFY(!menu->isVisible() && !QApplication::activePopupWidget());
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
            texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts.join('|'), QStringLiteral("All panels|中/English|about|-|Erase only the pages the firmware needs|"
                                                 "Read the firmware back after writing|Bootloader at 115200 baud"));
    }

    // Shown modal beside the main window, hidden by its button, and the same
    // window again the next time, in English even after the switch to Chinese.
    // Closing the main window then asks no question.
    void aboutWindowComesAndGoes()
    {
        StartedWindow s;
        s.window.move(120, 90);
        QVERIFY(s.showActive());
        QWidget *first = nullptr;
        for (int round = 0; round < 2; ++round) {
            s.get<QAction>("aboutAction")->trigger();
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(dialog && dialog->isVisible() && (dialog->windowFlags() & Qt::FramelessWindowHint));
            QCOMPARE(control<QLabel>(dialog, "label")->text(), QStringLiteral("Quillon Desk"));
            QCOMPARE(dialog->pos(), s.window.pos() + QPoint(167, 175));
            QVERIFY(!first || dialog == first);
            first = dialog;

            QTest::mouseClick(control<QPushButton>(dialog, "pushButton"), Qt::LeftButton);
            QVERIFY(!dialog->isVisible());
            s.window.move(s.window.pos() + QPoint(40, 30));
            s.switchLanguage();
        }
        QVERIFY(s.window.close());
        QVERIFY(!s.window.isVisible() && !QApplication::activeModalWidget());
    }

    // Four switches, starting in English. Each one brings the line settings, the
    // command line and the fields below back to the form's start (the first item
    // of the data-bit box, not its default 8) and clears the serial number.
    void languageSwitch()
    {
        // The Open label is set by the program, not the form; texts ending in
        // blanks and texts without a Chinese entry must still be found.
        const struct { const char *name, *english, *chinese; } texts[] = {
            {"label_7", "Address:", "地址:"}, {"pushButtonZTele", "Zoom Tele", "拉近"},
            {"pushButtonOpen", "Open", "打开"}, {"label_5", "Stopbit:  ", "停止位:"},
            {"label_2", "Port：", "Port："}};
        // What each field is set to before the switch (a combo box's item), and
        // what it shows after it: a combo box its item and the number of items.
        const struct { const char *name, *set, *after; } reset[] = {
            {"comboBoxProtocol", "0", "Visca/3"}, {"comboBoxBaudrate", "5", "9600/6"}, {"comboBoxDatabit", "", "5/4"},
            {"comboBoxStopbit", "1", "1/2"}, {"comboBoxParity", "2", "No/3"},
            {"comboBoxSend", "3", "89 02 07 63 58 ff/3"},
            {"lineEditAddress", "7", "1"}, {"lineEditZPos", "1234", "0"}, {"lineEditPTSpeed", "", "24"},
            {"lineEditSN", "Q217MXTA0001", ""}};
        StartedWindow s;
        auto shown = [&](const char *name) {
            if (auto *box = qobject_cast<QComboBox *>(s.get(name)))
                return QStringLiteral("%1/%2").arg(box->currentText()).arg(box->count());
            return s.get(name)->property("text").toString();
        };
        for (int round = 0; round < 4; ++round) {
            for (const auto &t : texts)
                QCOMPARE(shown(t.name), QString::fromUtf8(round % 2 ? t.chinese : t.english));
            QCOMPARE(s.window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
            // Without a font that covers Chinese the labels would show empty boxes.
            for (const char *name : {"label_2", "label_7"})
                for (QChar c : shown(name))
                    QVERIFY2(QFontMetrics(s.get(name)->font()).inFont(c), qPrintable(QString(c)));
            s.get<QComboBox>("comboBoxSend")->addItem(QStringLiteral("81 09 04 00 FF"));
            for (const auto &field : reset) {
                if (auto *box = qobject_cast<QComboBox *>(s.get(field.name)); box && *field.set)
                    box->setCurrentIndex(QByteArray(field.set).toInt());
                else if (*field.set)
                    s.get<QLineEdit>(field.name)->setText(QString::fromLatin1(field.set));
            }
            QCOMPARE(s.scratch.storedText(QStringLiteral("section5/SN")), QStringLiteral("Q217MXTA0001"));
            s.switchLanguage();
            for (const auto &field : reset)
                QCOMPARE(shown(field.name), QString::fromLatin1(field.after));
            QCOMPARE(s.scratch.storedText(QStringLiteral("section5/SN")), QString());
        }
    }
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
