// The main window's form as the user and the other parts of the program see
// it right after start-up: object names, classes, places, texts, fixed
// settings, the enabled state, fonts and the focus order.

#include "link/portlist.h"
#include "mywidget.h"
#include "testenv.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QTextBrowser>
#include <QtTest>

namespace {

// Controls placed directly on frameBack, at fixed rectangles.
struct Placed { const char *name, *cls, *text; QRect rect; };
const Placed kPlaced[] = {
    {"label_10", "QLabel", "Vellmar", {20, 5, 151, 41}},
    {"label_2", "QLabel", u8"Port\uFF1A", {198, 10, 41, 28}},
    {"comboBoxCom", "QComboBox", nullptr, {238, 11, 92, 26}},
    {"pushButton_2", "QPushButton", "EnumPort", {350, 10, 92, 28}},
    {"lineEditPath", "QLineEdit", nullptr, {10, 51, 391, 26}},
    {"pushButtonChooseHex", "QPushButton", "...", {411, 50, 31, 28}},
    {"pushButtonUpdata", "QPushButton", "Upgrade", {460, 10, 92, 68}},
    {"progressBar", "QProgressBar", nullptr, {10, 90, 541, 16}},
    {"pushButtonOpen", "QPushButton", "Open", {180, 160, 75, 23}},
    {"label_20", "QLabel", "Receive", {40, 360, 71, 20}},
    {"textBrowserReceive", "QTextBrowser", nullptr, {40, 380, 271, 101}},
    {"label_19", "QLabel", "Updata", {520, 370, 111, 20}},
    {"pushButtonEnterIAP", "QPushButton", "Enter IAP", {740, 300, 80, 20}},
    {"pushButtonGetID", "QPushButton", "Get ID", {840, 300, 80, 20}},
    {"pushButtonSend7f", "QPushButton", "Send 7f", {740, 330, 80, 20}},
    {"pushButtonEraseAll", "QPushButton", "Erase All", {840, 330, 80, 20}},
    {"pushButtonLoadByte", "QPushButton", "LoadByte", {740, 360, 80, 20}},
    {"pushButtonOpenHex", "QPushButton", "Open Hex", {840, 360, 80, 20}},
    {"pushButtonGo", "QPushButton", "Go", {840, 380, 80, 20}},
    {"layoutWidget_3", "QWidget", nullptr, {780, 430, 140, 24}},
    {"layoutWidget_2", "QWidget", nullptr, {780, 460, 98, 24}},
    {"layoutWidget", "QWidget", nullptr, {780, 490, 104, 24}},
    {"label_14", "QLabel", "Lens", {650, 70, 41, 20}},
    {"frame_4", "QFrame", nullptr, {650, 90, 211, 201}},
    {"label_15", "QLabel", "Preset", {870, 0, 51, 20}},
    {"frame_5", "QFrame", nullptr, {870, 30, 131, 74}},
    {"label_16", "QLabel", "Special", {870, 100, 61, 20}},
    {"frame_9", "QFrame", nullptr, {870, 120, 131, 171}},
    {"label_17", "QLabel", "Communication", {890, 510, 111, 20}},
    {"frame_6", "QFrame", nullptr, {830, 530, 171, 71}},
    {"label_13", "QLabel", "Pan/Tilt", {730, 570, 71, 20}},
    {"frame_2", "QFrame", nullptr, {730, 600, 271, 121}},
    {"label_18", "QLabel", "SN", {540, 580, 111, 20}},
    {"frame_7", "QFrame", nullptr, {540, 600, 171, 131}},
    {"btn_tx", "QPushButton", "PushButton", {530, 550, 75, 23}},
    {"comboBoxSend", "QComboBox", nullptr, {80, 590, 161, 22}},
    {"pushButton", "QPushButton", "Send", {270, 590, 61, 21}},
    {"radioButtonRM410", "QRadioButton", "RM410", {360, 605, 89, 16}},
    {"radioButtonVN620", "QRadioButton", "VN620", {425, 605, 89, 16}},
    {"lineEditLogo", "QLineEdit", nullptr, {360, 625, 113, 20}},
    {"pushButton_3", "QPushButton", "Set Logo", {360, 650, 113, 23}},
    {"layoutWidget1", "QWidget", nullptr, {210, 620, 124, 22}},
    {"layoutWidget2", "QWidget", nullptr, {90, 650, 114, 22}},
    {"layoutWidget3", "QWidget", nullptr, {210, 650, 128, 22}},
    {"label_21", "QLabel", u8"CAM IP\uFF1A", {270, 700, 51, 24}},
    {"txt_ip", "QLineEdit", nullptr, {330, 700, 181, 21}},
    {"label_22", "QLabel", u8"CAM Port\uFF1A", {270, 730, 61, 20}},
    {"txt_port_tx", "QLineEdit", nullptr, {330, 730, 61, 21}},
    {"btn_cfg", "QPushButton", "Connect", {420, 730, 91, 21}},
};

// Everything else, grouped by the widget it sits on.
struct Child { const char *name, *cls, *text; };
struct Family { const char *parent; QVector<Child> children; };
const Family kNested[] = {
    {"MyWidget", {{"frameBack", "QFrame", nullptr}}},
    {"layoutWidget_3", {
         {"label_4", "QLabel", "Parity:   "}, {"comboBoxParity", "QComboBox", nullptr}}},
    {"layoutWidget_2", {
         {"label_3", "QLabel", "Databit: "}, {"comboBoxDatabit", "QComboBox", nullptr}}},
    {"layoutWidget", {
         {"label_5", "QLabel", "Stopbit:  "}, {"comboBoxStopbit", "QComboBox", nullptr}}},
    {"layoutWidget1", {
         {"label", "QLabel", "Baudrate:"}, {"comboBoxBaudrate", "QComboBox", nullptr}}},
    {"layoutWidget2", {
         {"label_7", "QLabel", "Address:"}, {"lineEditAddress", "QLineEdit", nullptr}}},
    {"layoutWidget3", {
         {"label_6", "QLabel", "Protocol:"}, {"comboBoxProtocol", "QComboBox", nullptr}}},
    {"frame_2", {{"widgetPT", "QWidget", nullptr}}},
    {"frame_4", {{"widgetZoom", "QWidget", nullptr}}},
    {"frame_5", {{"widgetPrest", "QWidget", nullptr}}},
    {"frame_6", {{"widgetSW", "QWidget", nullptr}}},
    {"frame_7", {{"widgetSN", "QWidget", nullptr}}},
    {"frame_9", {{"widgetSpecial", "QWidget", nullptr}}},
    {"widgetPT", {
         {"label_8", "QLabel", "Speed"}, {"horizontalSliderPTSpeed", "QSlider", nullptr},
         {"lineEditPTSpeed", "QLineEdit", nullptr}, {"pushButtonUpLeft", "QPushButton", "Up-Left"},
         {"pushButtonUp", "QPushButton", "Up"}, {"pushButtonUpRight", "QPushButton", "Up-Right"},
         {"pushButtonLeft", "QPushButton", "Left"}, {"pushButtonHome", "QPushButton", "Home"},
         {"pushButtonRight", "QPushButton", "Right"},
         {"pushButtonDownLeft", "QPushButton", "Down-Left"},
         {"pushButtonDown", "QPushButton", "Down"},
         {"pushButtonDownRight", "QPushButton", "Down-Right"}}},
    {"widgetZoom", {
         {"label_9", "QLabel", "Speed"}, {"horizontalSliderZoomSpeed", "QSlider", nullptr},
         {"lineEditZoomSpeed", "QLineEdit", nullptr},
         {"pushButtonGetZPos", "QPushButton", "Get ZoomPos"},
         {"label_11", "QLabel", "Zoom Position"},
         {"pushButtonDirZPos", "QPushButton", "Direct ZoomPos"},
         {"lineEditZPos", "QLineEdit", nullptr}, {"pushButtonZTele", "QPushButton", "Zoom Tele"},
         {"pushButtonZWide", "QPushButton", "Zoom Wide"},
         {"pushButtonGetFPos", "QPushButton", "Get FocuPos"},
         {"label_12", "QLabel", "Focus Position"},
         {"pushButtonDirFPos", "QPushButton", "Direct FocusPos"},
         {"lineEditFPos", "QLineEdit", nullptr}, {"pushButtonFar", "QPushButton", "Far"},
         {"pushButtonNear", "QPushButton", "Near"}, {"pushButtonAF", "QPushButton", "AF"},
         {"pushButtonMF", "QPushButton", "MF"}}},
    {"widgetPrest", {
         {"lineEditPresetAdd", "QLineEdit", nullptr},
         {"pushButtonCallPreset", "QPushButton", "Call"},
         {"pushButtonSetPreset", "QPushButton", "Set"},
         {"pushButtonClearPreset", "QPushButton", "Clear"}}},
    {"widgetSW", {
         {"pushButtonComm", "QPushButton", "Communication "},
         {"pushButtonReadSW", "QPushButton", "Read SW"}, {"lineEditSW", "QLineEdit", nullptr}}},
    {"widgetSN", {
         {"radioButton12Bit", "QRadioButton", "12 Bits"},
         {"radioButton15Bit", "QRadioButton", "15 Bits"}, {"lineEditSN", "QLineEdit", nullptr},
         {"pushButtonAdd", "QPushButton", "+"}, {"pushButtonMinus", "QPushButton", "-"},
         {"pushButtonSetSN", "QPushButton", "Set SN"},
         {"pushButtonReadSN", "QPushButton", "Read SN"}}},
    {"widgetSpecial", {
         {"pushButtonPowerOn", "QPushButton", "Power On"},
         {"pushButtonPowerOff", "QPushButton", "Power Off"},
         {"pushButtonPTReset", "QPushButton", "PT Reset"},
         {"pushButtonZoomReset", "QPushButton", "Zoom Reset"},
         {"pushButtonPictureNormal", "QPushButton", "Normal"},
         {"pushButtonPictureFilp", "QPushButton", "Filp"}}},
};

// The only controls inside the 561 x 110 window, and what start-up disables.
const QStringList kVisible{"label_10", "label_2", "comboBoxCom", "pushButton_2", "lineEditPath",
                           "pushButtonChooseHex", "pushButtonUpdata", "progressBar"};
const QStringList kDisabled{"widgetPT", "widgetPrest", "widgetZoom", "widgetSpecial",
                            "widgetSW", "widgetSN", "pushButton", "pushButtonUpdata"};

// The order in which the form creates its widgets, which is the focus order.
const char kCreationOrder[] =
    "frameBack frame_2 widgetPT pushButtonUpLeft pushButtonUpRight pushButtonHome pushButtonDown "
    "pushButtonDownRight pushButtonLeft pushButtonUp pushButtonDownLeft pushButtonRight label_8 "
    "horizontalSliderPTSpeed lineEditPTSpeed layoutWidget label_5 comboBoxStopbit pushButtonGetID "
    "label_19 pushButtonGo frame_6 widgetSW pushButtonReadSW lineEditSW pushButtonComm label_20 "
    "pushButtonEnterIAP frame_4 widgetZoom pushButtonGetFPos pushButtonNear pushButtonMF "
    "pushButtonGetZPos pushButtonAF pushButtonFar pushButtonZTele label_11 lineEditZPos label_12 "
    "pushButtonDirFPos pushButtonZWide pushButtonDirZPos label_9 horizontalSliderZoomSpeed "
    "lineEditZoomSpeed lineEditFPos pushButtonOpenHex frame_5 widgetPrest lineEditPresetAdd "
    "pushButtonCallPreset pushButtonSetPreset pushButtonClearPreset label_17 label_13 label_18 "
    "pushButton label_15 pushButtonSend7f frame_7 widgetSN lineEditSN pushButtonMinus "
    "pushButtonAdd radioButton15Bit radioButton12Bit pushButtonSetSN pushButtonReadSN label_14 "
    "pushButtonLoadByte label_16 layoutWidget_2 label_3 comboBoxDatabit progressBar layoutWidget_3 "
    "label_4 comboBoxParity textBrowserReceive pushButtonEraseAll frame_9 widgetSpecial "
    "pushButtonPowerOn pushButtonPowerOff pushButtonPTReset pushButtonZoomReset "
    "pushButtonPictureFilp pushButtonPictureNormal comboBoxSend btn_tx lineEditLogo pushButton_3 "
    "radioButtonRM410 radioButtonVN620 label_21 txt_port_tx label_22 txt_ip btn_cfg layoutWidget1 "
    "label comboBoxBaudrate layoutWidget2 label_7 lineEditAddress layoutWidget3 label_6 "
    "comboBoxProtocol pushButtonUpdata pushButtonChooseHex label_2 comboBoxCom pushButtonOpen "
    "pushButton_2 lineEditPath label_10";

const int kCentred = Qt::AlignHCenter | Qt::AlignVCenter;
const int kPlain = Qt::AlignLeft | Qt::AlignVCenter;
const int kNoLimit = 32767;

// Line edits after start-up; an invalid size is left to the layout.
struct Edit
{
    const char *name, *text;
    bool readOnly;
    int alignment, maxLength;
    QSize fixed, maximum;
};
const Edit kEdits[] = {
    {"lineEditPTSpeed", "24", true, kCentred, kNoLimit, {25, 22}, {}},
    {"lineEditZoomSpeed", "7", true, kCentred, kNoLimit, {25, 22}, {}},
    {"lineEditZPos", "0", false, kCentred, kNoLimit, {60, 22}, {}},
    {"lineEditFPos", "0", true, kCentred, kNoLimit, {60, 22}, {}},
    {"lineEditSW", "0", true, kCentred, kNoLimit, {60, 22}, {}},
    {"lineEditPresetAdd", "1", false, kCentred, kNoLimit, {}, {}},
    {"lineEditAddress", "1", false, kCentred, kNoLimit, {58, 20}, {}},
    {"lineEditSN", "", false, Qt::AlignRight | Qt::AlignVCenter, 15, {}, {180, 22}},
    // Empty: nothing is stored in a fresh working directory.
    {"lineEditLogo", "", false, kPlain, 7, {}, {}},
    {"txt_ip", "", false, kPlain, kNoLimit, {}, {}},
    {"txt_port_tx", "", false, kPlain, kNoLimit, {}, {}},
    {"lineEditPath", "", false, kPlain, kNoLimit, {}, {}},
};

#ifdef Q_OS_WIN
constexpr bool kPortBoxEditable = false;
#else
constexpr bool kPortBoxEditable = true;
#endif

struct Combo
{
    const char *name;
    QStringList items;
    int current;
    bool editable;
    int maxVisible;
    QSize minimum, maximum;
};
const Combo kCombos[] = {
    {"comboBoxStopbit", {"1", "2"}, 0, false, 10, {}, {}},
    {"comboBoxDatabit", {"5", "6", "7", "8"}, 3, false, 10, {}, {}},
    {"comboBoxParity", {"No", "Odd", "Even"}, 0, false, 10, {}, {}},
    {"comboBoxBaudrate", {"2400", "9600", "19200", "38400", "57600", "115200"}, 1, false, 10,
     {62, 20}, {62, 20}},
    {"comboBoxProtocol", {"Pelco D", "Pelco P", "Visca"}, 2, false, 10, {66, 20}, {66, 20}},
    {"comboBoxSend", {"89 02 07 63 58 ff", "81 01 06 07 01 01 07 0F 0F 0F 07 0F 0F 0F FF ",
                      "81 01 06 07 01 00 07 0F 0F 0F 07 0F 0F 0F FF "}, 0, true, 6, {}, {}},
    // The two ports installed by initTestCase, in display order.
    // Outside Windows the port box also takes a typed device path.
    {"comboBoxCom", {"COM1", "COM3"}, 0, kPortBoxEditable, 5, {60, 20}, {600, 200}},
};

// Fonts of the visible strip.
struct Font { const char *name, *family; int pointSize; bool bold; };
const Font kFonts[] = {
    {"pushButtonUpdata", "Times New Roman", 12, false}, {"label_2", "Times New Roman", 12, false},
    {"pushButtonChooseHex", "Times New Roman", 11, true},
    {"pushButton_2", "Times New Roman", 11, false}, {"comboBoxCom", "Tahoma", 10, false},
    {"label_10", "Times New Roman", 20, true},
};

// One data row per table entry, named after the entry; the test reads the entry back.
template <typename Entry, std::size_t N>
void rowsOf(const Entry (&table)[N])
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(table[i].name) << int(i);
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
    void frameBackHoldsOnlyTheListedControls();
    void window();
    void comboBoxes_data() { rowsOf(kCombos); }
    void comboBoxes();
    void lineEdits_data() { rowsOf(kEdits); }
    void lineEdits();
    void startUpSettings();
    void radioButtons();
    void fonts_data() { rowsOf(kFonts); }
    void fonts();
    void headingColours();
    void focusOrderFollowsCreationOrder();
};

void FormTest::initTestCase()
{
    PortList::setSource([] {
        return QList<PortList::Port>{{"COM3", "/dev/null", QString()},
                                     {"COM1", "/dev/null", QString()}};
    });
}

void FormTest::cleanupTestCase()
{
    PortList::setSource({});
}

void FormTest::controls_data()
{
    QTest::addColumn<QString>("cls");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("text"); // null: the control shows no text of its own
    QTest::addColumn<QRect>("rect");   // null: placed by a layout
    for (const Placed &c : kPlaced)
        QTest::newRow(c.name) << c.cls << "frameBack" << QString::fromUtf8(c.text) << c.rect;
    for (const Family &f : kNested)
        for (const Child &c : f.children)
            QTest::newRow(c.name) << c.cls << f.parent << QString::fromUtf8(c.text) << QRect();
}

// Class, parent, text, enabled state and, for the controls on frameBack, the
// rectangle and whether it lies inside the window.
void FormTest::controls()
{
    QFETCH(QString, cls);
    QFETCH(QString, parent);
    QFETCH(QString, text);
    QFETCH(QRect, rect);
    StartedWindow s;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = s.window.findChild<QWidget *>(name);
    QVERIFY2(w, "no widget of this name");
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), cls);
    QVERIFY(w->parentWidget());
    QCOMPARE(w->parentWidget()->objectName(), parent);
    if (!text.isNull()) {
        auto *label = qobject_cast<QLabel *>(w);
        auto *button = qobject_cast<QAbstractButton *>(w);
        QCOMPARE(label ? label->text() : button ? button->text() : QString(), text);
    }

    // Start-up disables the listed controls themselves; their children follow.
    QCOMPARE(w->testAttribute(Qt::WA_ForceDisabled), kDisabled.contains(name));
    bool usable = true;
    for (QWidget *up = w; up && up != &s.window; up = up->parentWidget())
        usable = usable && !kDisabled.contains(up->objectName());
    QCOMPARE(w->isEnabled(), usable);

    if (rect.isNull())
        return;
    QCOMPARE(w->geometry(), rect);
    s.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.window));
    const QRect onWindow(w->mapTo(&s.window, QPoint(0, 0)), w->size());
    if (kVisible.contains(name))
        QVERIFY2(s.window.rect().contains(onWindow), "cut off by the window's edge");
    else
        QVERIFY2(!s.window.rect().intersects(onWindow), "shows in the window");
}

void FormTest::frameBackHoldsOnlyTheListedControls()
{
    StartedWindow s;
    QStringList found, listed;
    const auto children = s.get("frameBack")->findChildren<QWidget *>(QString(),
                                                                      Qt::FindDirectChildrenOnly);
    for (QWidget *w : children)
        found.append(w->objectName());
    for (const Placed &c : kPlaced)
        listed.append(QString::fromLatin1(c.name));
    found.sort();
    listed.sort();
    QCOMPARE(found, listed);
}

void FormTest::window()
{
    StartedWindow s;
    const QSize fixed(561, 110);
    QCOMPARE(s.window.size(), fixed);
    QCOMPARE(s.window.minimumSize(), fixed);
    QCOMPARE(s.window.maximumSize(), fixed);
    QCOMPARE(s.window.windowTitle(), QStringLiteral("Vellmar Loader V0.606"));
    QCOMPARE(s.window.objectName(), QStringLiteral("MyWidget"));
    QVERIFY(s.window.autoFillBackground());
    QCOMPARE(s.window.contextMenuPolicy(), Qt::DefaultContextMenu);
    QVERIFY(s.window.styleSheet().isEmpty());

    // The icon is the tool image from the resources.
    const QPixmap tool(QStringLiteral(":/images/images/tool.png"));
    QVERIFY2(!tool.isNull(), "tool.png is missing from the resources");
    QVERIFY(!s.window.windowIcon().isNull());
    const auto argb = [](const QPixmap &p) {
        return p.toImage().convertToFormat(QImage::Format_ARGB32);
    };
    QCOMPARE(argb(s.window.windowIcon().pixmap(tool.size())), argb(tool));

    // frameBack fills the window through a margin-less grid.
    auto *grid = qobject_cast<QGridLayout *>(s.window.layout());
    QVERIFY(grid);
    QCOMPARE(grid->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(grid->horizontalSpacing(), 6);
    QCOMPARE(grid->verticalSpacing(), 0);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(grid->count(), 1);
    QWidget *back = s.get("frameBack");
    QCOMPARE(grid->itemAtPosition(0, 0)->widget(), back);

    s.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.window));
    QCOMPARE(back->geometry(), QRect(QPoint(0, 0), fixed));
    for (const QSize &attempt : {QSize(1001, 751), QSize(300, 60), QSize(561, 400)}) {
        s.window.resize(attempt);
        QCOMPARE(s.window.size(), fixed);
    }
}

void FormTest::comboBoxes()
{
    QFETCH(int, index);
    const Combo &e = kCombos[index];
    StartedWindow s;
    auto *box = s.get<QComboBox>(e.name);
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown.append(box->itemText(i));
    QCOMPARE(shown, e.items);
    QCOMPARE(box->currentIndex(), e.current);
    QCOMPARE(box->currentText(), e.items.value(e.current));
    QCOMPARE(box->isEditable(), e.editable);
    QCOMPARE(box->maxVisibleItems(), e.maxVisible);
    if (e.minimum.isValid())
        QCOMPARE(box->minimumSize(), e.minimum);
    if (e.maximum.isValid())
        QCOMPARE(box->maximumSize(), e.maximum);
}

void FormTest::lineEdits()
{
    QFETCH(int, index);
    const Edit &e = kEdits[index];
    StartedWindow s;
    auto *edit = s.get<QLineEdit>(e.name);
    QCOMPARE(edit->text(), QString::fromLatin1(e.text));
    QCOMPARE(edit->isReadOnly(), e.readOnly);
    QCOMPARE(int(edit->alignment()), e.alignment);
    QCOMPARE(edit->maxLength(), e.maxLength);
    QVERIFY(edit->hasFrame());
    if (e.fixed.isValid()) {
        QCOMPARE(edit->minimumSize(), e.fixed);
        QCOMPARE(edit->maximumSize(), e.fixed);
    }
    if (e.maximum.isValid())
        QCOMPARE(edit->maximumSize(), e.maximum);
}

void FormTest::startUpSettings()
{
    StartedWindow s;
    const QList<QPair<const char *, QString>> sheets{
        {"pushButtonComm", "background: gray"}, {"btn_cfg", "background-color:yellow"},
        {"pushButtonOpen", "background-color:yellow"},
        {"frameBack", "#frameBack\n{\nbackground-image: url(:/images/images/back1.jpg);\n}"}};
    for (const auto &sheet : sheets)
        QCOMPARE(s.get(sheet.first)->styleSheet(), sheet.second);

    const QList<QPair<const char *, int>> speeds{{"horizontalSliderPTSpeed", 24},
                                                 {"horizontalSliderZoomSpeed", 7}};
    for (const auto &speed : speeds) {
        auto *slider = s.get<QSlider>(speed.first);
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QCOMPARE(QList<int>({slider->minimum(), slider->maximum(), slider->value()}),
                 QList<int>({1, speed.second, speed.second}));
    }

    auto *bar = s.get<QProgressBar>("progressBar");
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->value()}), QList<int>({0, 100, 0}));
    QCOMPARE(bar->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QVERIFY(bar->isTextVisible());
    QVERIFY(!bar->invertedAppearance());
    QCOMPARE(bar->textDirection(), QProgressBar::TopToBottom);

    auto *receive = s.get<QTextBrowser>("textBrowserReceive");
    QCOMPARE(receive->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(receive->frameShape(), QFrame::Box);
    QCOMPARE(receive->frameShadow(), QFrame::Plain);

    auto *back = s.get<QFrame>("frameBack");
    QCOMPARE(back->frameShape(), QFrame::NoFrame);
    QCOMPARE(back->frameShadow(), QFrame::Plain);
    QCOMPARE(back->lineWidth(), 0);
    QCOMPARE(back->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QCOMPARE(back->contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(back->actions().isEmpty());

    // No button repeats while held: press and release are separate commands.
    for (QAbstractButton *button : s.window.findChildren<QAbstractButton *>())
        QVERIFY2(!button->autoRepeat(), qPrintable(button->objectName()));
}

void FormTest::radioButtons()
{
    StartedWindow s;
    auto *bits12 = s.get<QRadioButton>("radioButton12Bit");
    auto *bits15 = s.get<QRadioButton>("radioButton15Bit");
    auto *rm410 = s.get<QRadioButton>("radioButtonRM410");
    auto *vn620 = s.get<QRadioButton>("radioButtonVN620");
    QVERIFY(bits15->isChecked());
    QVERIFY(!bits12->isChecked());
    QVERIFY(vn620->isChecked());
    QVERIFY(!rm410->isChecked());

    // The logo models form one exclusive group: RM410 is 0, VN620 is 1.
    QButtonGroup *group = rm410->group();
    QVERIFY(group);
    QCOMPARE(vn620->group(), group);
    QVERIFY(group->exclusive());
    QCOMPARE(group->id(rm410), 0);
    QCOMPARE(group->id(vn620), 1);
    QCOMPARE(group->checkedId(), 1);

    // Choosing one serial-number length gives up the other.
    bits12->setChecked(true);
    QVERIFY(!bits15->isChecked());
}

void FormTest::fonts()
{
    QFETCH(int, index);
    const Font &e = kFonts[index];
    StartedWindow s;
    const QFont font = s.get(e.name)->font();
    if (e.family)
        QCOMPARE(font.family(), QString::fromLatin1(e.family));
    QCOMPARE(font.pointSize(), e.pointSize);
    QCOMPARE(font.bold(), e.bold);
}

void FormTest::headingColours()
{
    StartedWindow s;
    const QPalette palette = s.get("label_10")->palette();
    const QList<QPair<QPalette::ColorGroup, QColor>> expected{
        {QPalette::Active, QColor(255, 0, 0)},
        {QPalette::Inactive, QColor(255, 0, 0)},
        {QPalette::Disabled, QColor(120, 120, 120)}};
    for (const auto &group : expected) {
        const QBrush brush = palette.brush(group.first, QPalette::WindowText);
        QCOMPARE(brush.style(), Qt::SolidPattern);
        QCOMPARE(brush.color(), group.second);
    }
}

// Tab moves through the controls in the order the form creates them.
void FormTest::focusOrderFollowsCreationOrder()
{
    StartedWindow s;
    const QStringList order = QString::fromLatin1(kCreationOrder).split(QLatin1Char(' '));
    const auto focusable = [&](const QString &name) {
        auto *w = s.window.findChild<QWidget *>(name);
        return order.contains(name) && w && (w->focusPolicy() & Qt::TabFocus);
    };
    QStringList expected, chain;
    for (const QString &name : order)
        if (focusable(name))
            expected.append(name);
    QVERIFY(expected.size() > 50);
    QWidget *start = s.get("frameBack");
    for (QWidget *w = start->nextInFocusChain(); w != start && chain.size() < 1000;
         w = w->nextInFocusChain())
        if (focusable(w->objectName()))
            chain.append(w->objectName());
    QCOMPARE(chain, expected);
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
