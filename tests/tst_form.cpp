// The main window's form right after start-up, as the user and the rest of
// the program reach it: object names, classes, texts, the start-up state and
// the visible upgrade strip.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>

namespace {

// What a control shows: a label's or button's text, a line edit's text, or a
// combo box's items joined by '|' with '*' before the selected one. Null: not
// checked (filled at run time, or no text at all).
struct Control { const char *name, *text = nullptr; };
struct Family { const char *parent; QVector<Control> children; };
const Family kForm[] = {
    {"MyWidget", {{"frameBack"}}},
    {"frameBack", {
        {"label_10", "Vellmar"}, {"label_2", u8"Port\uFF1A"}, {"comboBoxCom"},
        {"pushButton_2", "EnumPort"}, {"lineEditPath", ""}, {"pushButtonChooseHex", "..."},
        {"pushButtonUpdata", "Upgrade"}, {"progressBar"}, {"pushButtonOpen", "Open"},
        {"label_20", "Receive"}, {"textBrowserReceive"}, {"label_19", "Updata"},
        {"pushButtonEnterIAP", "Enter IAP"}, {"pushButtonGetID", "Get ID"},
        {"pushButtonSend7f", "Send 7f"}, {"pushButtonEraseAll", "Erase All"},
        {"pushButtonLoadByte", "LoadByte"}, {"pushButtonOpenHex", "Open Hex"},
        {"pushButtonGo", "Go"}, {"layoutWidget_3"}, {"layoutWidget_2"}, {"layoutWidget"},
        {"label_14", "Lens"}, {"frame_4"}, {"label_15", "Preset"}, {"frame_5"},
        {"label_16", "Special"}, {"frame_9"}, {"label_17", "Communication"}, {"frame_6"},
        {"label_13", "Pan/Tilt"}, {"frame_2"}, {"label_18", "SN"}, {"frame_7"},
        {"btn_tx", "PushButton"}, {"pushButton", "Send"}, {"radioButtonRM410", "RM410"},
        {"radioButtonVN620", "VN620"}, {"lineEditLogo", ""}, {"pushButton_3", "Set Logo"},
        {"layoutWidget1"}, {"layoutWidget2"}, {"layoutWidget3"}, {"label_21", u8"CAM IP\uFF1A"},
        {"txt_ip", ""}, {"label_22", u8"CAM Port\uFF1A"}, {"txt_port_tx", ""},
        {"btn_cfg", "Connect"},
        {"comboBoxSend", "*89 02 07 63 58 ff|81 01 06 07 01 01 07 0F 0F 0F 07 0F 0F 0F FF |"
                         "81 01 06 07 01 00 07 0F 0F 0F 07 0F 0F 0F FF "}}},
    {"layoutWidget_3", {{"label_4", "Parity:   "}, {"comboBoxParity", "*No|Odd|Even"}}},
    {"layoutWidget_2", {{"label_3", "Databit: "}, {"comboBoxDatabit", "5|6|7|*8"}}},
    {"layoutWidget", {{"label_5", "Stopbit:  "}, {"comboBoxStopbit", "*1|2"}}},
    {"layoutWidget1", {{"label", "Baudrate:"},
                       {"comboBoxBaudrate", "2400|*9600|19200|38400|57600|115200"}}},
    {"layoutWidget2", {{"label_7", "Address:"}, {"lineEditAddress", "1"}}},
    // The item index is the protocol number: Pelco-D 0, Pelco-P 1, VISCA 2.
    {"layoutWidget3", {{"label_6", "Protocol:"}, {"comboBoxProtocol", "Pelco D|Pelco P|*Visca"}}},
    {"frame_2", {{"widgetPT"}}}, {"frame_4", {{"widgetZoom"}}}, {"frame_5", {{"widgetPrest"}}},
    {"frame_6", {{"widgetSW"}}}, {"frame_7", {{"widgetSN"}}}, {"frame_9", {{"widgetSpecial"}}},
    {"widgetPT", {
        {"label_8", "Speed"}, {"horizontalSliderPTSpeed"}, {"lineEditPTSpeed", "24"},
        {"pushButtonUpLeft", "Up-Left"}, {"pushButtonUp", "Up"}, {"pushButtonUpRight", "Up-Right"},
        {"pushButtonLeft", "Left"}, {"pushButtonHome", "Home"}, {"pushButtonRight", "Right"},
        {"pushButtonDownLeft", "Down-Left"}, {"pushButtonDown", "Down"},
        {"pushButtonDownRight", "Down-Right"}}},
    {"widgetZoom", {
        {"label_9", "Speed"}, {"horizontalSliderZoomSpeed"}, {"lineEditZoomSpeed", "7"},
        {"pushButtonGetZPos", "Get ZoomPos"}, {"label_11", "Zoom Position"},
        {"pushButtonDirZPos", "Direct ZoomPos"}, {"lineEditZPos", "0"},
        {"pushButtonZTele", "Zoom Tele"}, {"pushButtonZWide", "Zoom Wide"},
        {"pushButtonGetFPos", "Get FocuPos"}, {"label_12", "Focus Position"},
        {"pushButtonDirFPos", "Direct FocusPos"}, {"lineEditFPos", "0"},
        {"pushButtonFar", "Far"}, {"pushButtonNear", "Near"}, {"pushButtonAF", "AF"},
        {"pushButtonMF", "MF"}}},
    {"widgetPrest", {
        {"lineEditPresetAdd", "1"}, {"pushButtonCallPreset", "Call"},
        {"pushButtonSetPreset", "Set"}, {"pushButtonClearPreset", "Clear"}}},
    {"widgetSW", {
        {"pushButtonComm", "Communication "}, {"pushButtonReadSW", "Read SW"},
        {"lineEditSW", "0"}}},
    {"widgetSN", {
        {"radioButton12Bit", "12 Bits"}, {"radioButton15Bit", "15 Bits"}, {"lineEditSN", ""},
        {"pushButtonAdd", "+"}, {"pushButtonMinus", "-"}, {"pushButtonSetSN", "Set SN"},
        {"pushButtonReadSN", "Read SN"}}},
    {"widgetSpecial", {
        {"pushButtonPowerOn", "Power On"}, {"pushButtonPowerOff", "Power Off"},
        {"pushButtonPTReset", "PT Reset"}, {"pushButtonZoomReset", "Zoom Reset"},
        {"pushButtonPictureNormal", "Normal"}, {"pushButtonPictureFilp", "Filp"}}},
};

// The class follows from the object name's prefix.
const QList<QPair<QString, QString>> kClassOfPrefix{
    {"pushButton", "QPushButton"}, {"btn_", "QPushButton"}, {"label", "QLabel"},
    {"lineEdit", "QLineEdit"}, {"txt_", "QLineEdit"}, {"comboBox", "QComboBox"},
    {"radioButton", "QRadioButton"}, {"horizontalSlider", "QSlider"}, {"frame", "QFrame"},
    {"widget", "QWidget"}, {"layoutWidget", "QWidget"}, {"progressBar", "QProgressBar"},
    {"textBrowser", "QTextBrowser"}};

// The only controls inside the 561 x 110 window, what start-up disables, and
// the fields only the program writes.
const QStringList kVisible{"label_10", "label_2", "comboBoxCom", "pushButton_2", "lineEditPath",
                           "pushButtonChooseHex", "pushButtonUpdata", "progressBar"};
const QStringList kDisabled{"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial",
                            "widgetSW", "widgetSN", "pushButton", "pushButtonUpdata"};
const QStringList kReadOnly{"lineEditPTSpeed", "lineEditZoomSpeed", "lineEditFPos", "lineEditSW"};

QString shownText(QWidget *w)
{
    auto *box = qobject_cast<QComboBox *>(w);
    if (!box)
        return w->property("text").toString();
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append((i == box->currentIndex() ? "*" : "") + box->itemText(i));
    return items.join(QLatin1Char('|'));
}

// A window built the way the program builds it, in a fresh working directory.
struct StartedWindow
{
    TestEnv::ScratchDir scratch;
    MyWidget window;
    template <typename T = QWidget>
    T *get(const char *name) { return TestEnv::control<T>(&window, name); }
};

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void controls_data();
    void controls();
    void windowShowsOnlyTheStrip();
    void startUpState();
    void tabWalksTheStripInCreationOrder();
};

void FormTest::initTestCase()
{
    PortList::setSource([] { return QList<PortList::Port>{{"COM1", "/dev/null", QString()}}; });
}

void FormTest::cleanupTestCase()
{
    PortList::setSource({});
}

void FormTest::controls_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text");
    for (const Family &f : kForm)
        for (const Control &c : f.children)
            QTest::newRow(c.name) << f.parent << QString::fromUtf8(c.text);
}

// Name, class, parent, what it shows, whether it can be typed into, and
// whether it is enabled.
void FormTest::controls()
{
    QFETCH(QString, parent);
    QFETCH(QString, text);
    StartedWindow s;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = s.window.findChild<QWidget *>(name);
    QVERIFY2(w, "no widget of this name");
    QString cls;
    for (const auto &prefix : kClassOfPrefix)
        if (name.startsWith(prefix.first))
            cls = prefix.second;
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), cls);
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parent);
    if (!text.isNull())
        QCOMPARE(shownText(w), text);
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        QCOMPARE(edit->isReadOnly(), kReadOnly.contains(name));
    if (auto *box = qobject_cast<QComboBox *>(w); box && !text.isNull())
        QCOMPARE(box->isEditable(), name == QLatin1String("comboBoxSend")); // free command line

    // Start-up disables the listed controls themselves; their children follow.
    QCOMPARE(w->testAttribute(Qt::WA_ForceDisabled), kDisabled.contains(name));
    bool usable = true;
    for (QWidget *up = w; up && up != &s.window; up = up->parentWidget())
        usable = usable && !kDisabled.contains(up->objectName());
    QCOMPARE(w->isEnabled(), usable);
}

void FormTest::windowShowsOnlyTheStrip()
{
    StartedWindow s;
    QCOMPARE(s.window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
    const QPixmap tool(QStringLiteral(":/images/images/tool.png"));
    QVERIFY2(!tool.isNull(), "tool.png is missing from the resources");
    const auto argb = [](const QPixmap &p) {
        return p.toImage().convertToFormat(QImage::Format_ARGB32);
    };
    QCOMPARE(argb(s.window.windowIcon().pixmap(tool.size())), argb(tool));

    s.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.window));
    for (const QSize &attempt : {QSize(1001, 751), QSize(300, 60)}) {
        s.window.resize(attempt);
        QCOMPARE(s.window.size(), QSize(561, 110));
    }
    const auto placed = s.get("frameBack")->findChildren<QWidget *>(QString(),
                                                                    Qt::FindDirectChildrenOnly);
    for (QWidget *w : placed) {
        const QRect onWindow(w->mapTo(&s.window, QPoint(0, 0)), w->size());
        if (kVisible.contains(w->objectName()))
            QVERIFY2(s.window.rect().contains(onWindow), qPrintable(w->objectName()));
        else
            QVERIFY2(!s.window.rect().intersects(onWindow), qPrintable(w->objectName()));
    }

    // The strip's fonts and the red heading.
    const QList<std::tuple<const char *, const char *, int, bool>> fonts{
        {"label_10", "Times New Roman", 20, true}, {"label_2", "Times New Roman", 12, false},
        {"pushButtonUpdata", "Times New Roman", 12, false}, {"comboBoxCom", "Tahoma", 10, false},
        {"pushButtonChooseHex", "Times New Roman", 11, true},
        {"pushButton_2", "Times New Roman", 11, false}};
    for (const auto &[name, family, points, bold] : fonts) {
        const QFont font = s.get(name)->font();
        QCOMPARE(font.family(), QString::fromLatin1(family));
        QCOMPARE(font.pointSize(), points);
        QCOMPARE(font.bold(), bold);
    }
    QCOMPARE(s.get("label_10")->palette().color(QPalette::Active, QPalette::WindowText),
             QColor(255, 0, 0));
}

void FormTest::startUpState()
{
    StartedWindow s;
    QCOMPARE(s.get("pushButtonComm")->styleSheet(), QStringLiteral("background: gray"));
    for (const char *link : {"pushButtonOpen", "btn_cfg"})
        QCOMPARE(s.get(link)->styleSheet(), QStringLiteral("background-color:yellow"));
    const auto range = [](QSlider *x) { return QList<int>{x->minimum(), x->maximum(), x->value()}; };
    QCOMPARE(range(s.get<QSlider>("horizontalSliderPTSpeed")), (QList<int>{1, 24, 24}));
    QCOMPARE(range(s.get<QSlider>("horizontalSliderZoomSpeed")), (QList<int>{1, 7, 7}));
    QCOMPARE(s.get<QProgressBar>("progressBar")->value(), 0);

    QStringList checked;
    for (QRadioButton *radio : s.window.findChildren<QRadioButton *>())
        if (radio->isChecked())
            checked.append(radio->objectName());
    checked.sort();
    QCOMPARE(checked, (QStringList{"radioButton15Bit", "radioButtonVN620"}));
    // The logo models form one exclusive group: RM410 is 0, VN620 is 1.
    auto *rm410 = s.get<QRadioButton>("radioButtonRM410");
    QButtonGroup *group = rm410->group();
    QVERIFY(group && group->exclusive());
    QCOMPARE(group->id(rm410), 0);
    QCOMPARE(group->id(s.get<QRadioButton>("radioButtonVN620")), 1);

    // No button repeats while held: press and release are separate commands.
    for (QAbstractButton *button : s.window.findChildren<QAbstractButton *>())
        QVERIFY2(!button->autoRepeat(), qPrintable(button->objectName()));
}

void FormTest::tabWalksTheStripInCreationOrder()
{
    StartedWindow s;
    QStringList chain;
    QWidget *start = s.get("frameBack");
    for (QWidget *w = start->nextInFocusChain(); w != start && chain.size() < 1000;
         w = w->nextInFocusChain())
        if (kVisible.contains(w->objectName()) && (w->focusPolicy() & Qt::TabFocus))
            chain.append(w->objectName());
    QCOMPARE(chain, (QStringList{"pushButtonUpdata", "pushButtonChooseHex", "comboBoxCom",
                                 "pushButton_2", "lineEditPath"}));
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
