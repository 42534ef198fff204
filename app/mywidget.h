#ifndef QUILLON_MYWIDGET_H
#define QUILLON_MYWIDGET_H

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QButtonGroup;
class QCloseEvent;
class QComboBox;
class QContextMenuEvent;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QTimer;
class QSettings;
class QTranslator;
class SerialLine;
class UdpLink;
class Ui_MyWidget;
class aboutme;
class BootLink;
class FirmwareImage;
struct HexError;

namespace Download {
class Job;
struct Outcome;
}

namespace CameraFrames {
enum class Command;
}

// The application window: one form over the serial line and the UDP link to
// the camera. Every control of the form reaches its slot by object name
// (QMetaObject::connectSlotsByName at the end of setupUi), so the slot names
// below are part of the form's interface. The slots read the form, call the
// protocol code and the links, and show the result; long exchanges with the
// camera's bootloader run as jobs that report by signals, so no slot ever
// waits.
class MyWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MyWidget(QWidget *parent = nullptr);
    ~MyWidget() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private slots:
    void on_pushButtonOpen_clicked();
    // Every reply the serial line brings: shown, and handed to the inquiry
    // that waits for an answer.
    void readComDataSlot(const QByteArray &batch);
    void on_pushButton_2_clicked();
    void on_choiceLanguage();
    void on_aboutMe();
    void on_btn_tx_clicked();
    void on_comboBoxBaudrate_currentIndexChanged(int index);
    void on_comboBoxParity_currentIndexChanged(int index);
    void on_textBrowserReceive_customContextMenuRequested(QPoint pos);
    void on_comboBoxCom_highlighted(int index);

    void on_lineEditSN_textChanged(QString arg1);
    void on_txt_ip_textChanged(QString arg1);
    void on_txt_port_tx_textChanged(QString arg1);
    void on_lineEditLogo_textChanged(QString arg1);

    void on_pushButtonEnterIAP_clicked();
    void on_pushButtonSend7f_clicked();
    void on_pushButtonGetID_clicked();
    void on_pushButtonEraseAll_clicked();
    void on_pushButtonGo_clicked();
    void on_pushButtonOpenHex_clicked();
    void on_pushButtonChooseHex_clicked();
    void on_pushButtonLoadByte_clicked();
    void on_pushButtonUpdata_clicked();

    // Camera control: the protocol, the speeds and every camera button.
    void on_comboBoxProtocol_currentIndexChanged(int index);
    void on_horizontalSliderPTSpeed_valueChanged(int value);
    void on_horizontalSliderZoomSpeed_valueChanged(int value);
    void on_pushButtonLeft_pressed();
    void on_pushButtonRight_pressed();
    void on_pushButtonUp_pressed();
    void on_pushButtonDown_pressed();
    void on_pushButtonUpLeft_pressed();
    void on_pushButtonUpRight_pressed();
    void on_pushButtonDownLeft_pressed();
    void on_pushButtonDownRight_pressed();
    void on_pushButtonLeft_released();
    void on_pushButtonRight_released();
    void on_pushButtonUp_released();
    void on_pushButtonDown_released();
    void on_pushButtonUpLeft_released();
    void on_pushButtonUpRight_released();
    void on_pushButtonDownLeft_released();
    void on_pushButtonDownRight_released();
    void PTStop();
    void on_pushButtonHome_clicked();
    void on_pushButtonCallPreset_clicked();
    void on_pushButtonSetPreset_clicked();
    void on_pushButtonClearPreset_clicked();
    void on_pushButtonZTele_pressed();
    void on_pushButtonZWide_pressed();
    void on_pushButtonZTele_released();
    void on_pushButtonZWide_released();
    void ZStop();
    void on_pushButtonFar_pressed();
    void on_pushButtonNear_pressed();
    void on_pushButtonFar_released();
    void on_pushButtonNear_released();
    void on_pushButtonAF_clicked();
    void on_pushButtonMF_clicked();
    void on_pushButtonPowerOn_clicked();
    void on_pushButtonPowerOff_clicked();
    void on_pushButtonPictureFilp_clicked();
    void on_pushButtonPictureNormal_clicked();
    void on_pushButtonPTReset_clicked();
    void on_pushButtonZoomReset_clicked();
    void on_pushButtonGetZPos_clicked();
    void on_pushButtonGetFPos_clicked();
    void on_pushButtonDirZPos_clicked();

    // The UDP link.
    void on_btn_cfg_clicked();
    void rx_udp();

    // Factory service: serial number, logo, communication test, software
    // version and the free command line.
    void on_radioButton15Bit_clicked();
    void on_radioButton12Bit_clicked();
    void on_radioButtonRM410_clicked();
    void on_radioButtonVN620_clicked();
    void on_pushButtonAdd_clicked();
    void on_pushButtonMinus_clicked();
    void on_pushButtonSetSN_clicked();
    void on_pushButtonReadSN_clicked();
    void on_pushButton_3_clicked();
    void on_pushButtonComm_clicked();
    void on_pushButtonReadSW_clicked();
    void on_pushButton_clicked();
    void on_comboBoxSend_highlighted(int index);

private:
    friend class MyWidgetTestAccess;

    using AnswerHandler = std::function<void(const std::optional<QByteArray> &answer)>;

    // Between the upgrade strip (the start-up state) and the whole form with
    // camera control, service, the single bootloader steps and the receive
    // pane; the controls keep their places.
    void showAllPanels(bool all);

    // Stores one text in ./setting.ini; the first time that fails, the user
    // is told which file could not be written.
    void keepSetting(const char *key, const QString &value);

    void fillPortList();
    bool noPortListed() const;
    void retranslateForm();
    void popUpMainMenu(const QPoint &globalPos);

    // The serial link.
    bool serialOpen() const;
    // Opens the port 8N1 at `baud` and shows the link up; false (after
    // telling the user) when it cannot be opened.
    bool openSerial(qint32 baud);
    void closePort();
    void setCommandGroupsEnabled(bool enabled);
    void onLineLost();
    // "Serial Port Error,Please restart.", with what went wrong below it.
    void showPortError(const QString &detail);
    void onPortBoxEdited(const QString &text);
    void showPortAsTip(const QString &text);
    // Writes an inquiry and hands the answer to `handler` when it comes: what
    // the camera sends after the write, past the confirmations of earlier
    // commands, up to a message's terminator; what came by then when
    // timeoutMs runs out; nothing when nothing came (or the inquiry could
    // not be written). Inquiries go out one after another.
    void ask(const QByteArray &frame, int timeoutMs, AnswerHandler handler);
    // The firmware answers an inquiry within a few milliseconds; the bound
    // leaves room for a USB adapter's latency timer (16 ms on many) and a
    // busy machine.
    static constexpr int kInquiryReplyMs = 250;
    void answerExpired();
    void answerWith(const std::optional<QByteArray> &answer);
    void appendTrace(const QString &line);

    // The upgrade's choices in the menu: erase only the pages the firmware
    // needs, read it back, the bootloader at 115200 baud (kept in
    // ./setting.ini).
    void addUpgradeOptions();
    void retranslateUpgradeOptions();

    // Bootloader jobs. While one runs it holds the line alone, and the
    // controls that would start another or change the line are off.
    void runJob(std::unique_ptr<BootLink> link, Download::Job *job);
    void onJobFinished(const Download::Outcome &outcome);
    void setBusy(bool busy);
    void traceHexFault(const HexError &error);
    // The file field names the file Upgrade and LoadByte use, chosen or
    // typed; Upgrade is off while it is empty.
    void onHexPathEdited(const QString &text);
    // The file dialog; false when it was cancelled.
    bool chooseHexFile();
    void reportDownloadEnd(const Download::Outcome &outcome);

    // Camera control. A frame goes to every link that is up: the serial
    // port first, then one datagram to the UDP peer.
    void sendFrame(const QByteArray &frame);
    void sendCommand(CameraFrames::Command command);
    void queryPosition(CameraFrames::Command inquiry, QLineEdit *result);

    // Factory service. Its frames go to the serial line only, and only in
    // VISCA; under Pelco they are left out.
    bool viscaSelected() const;
    quint8 serviceHeader() const;
    // Asks on the service line (see ask); nothing under Pelco.
    void askOnServiceLine(const QByteArray &frame, AnswerHandler handler);
    // Tells the user when the serial number has not the chosen length.
    bool serialNumberLengthOk();

    Ui_MyWidget *ui;
    SerialLine *serialLine = nullptr;
    UdpLink *udpLink = nullptr;
    QString hexFilePath;
    int protocolIndex = 2;
    QSettings *settings = nullptr;
    int snLength = 12;
    int logoLength = 7;
    QMenu *mainMenu = nullptr;
    QAction *languageAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *erasePagesAction = nullptr;
    QAction *verifyAction = nullptr;
    QAction *fastBaudAction = nullptr;
    QAction *panelsAction = nullptr;
    QSize stripSize;
    QSize formSize;
    QTranslator *translator = nullptr;
    int languageIndex = 0;
    aboutme *aboutDialog = nullptr;
    QButtonGroup *logoModelGroup = nullptr;
    bool settingsFailureShown = false;

    // The six combo boxes whose items the form fixes, with the number of
    // items the form gave each; the language switch rebuilds them from this.
    struct FixedCombo
    {
        QComboBox *box;
        int itemCount;
    };
    std::array<FixedCombo, 6> fixedCombos{};

    // The inquiry waiting for its answer, if any, and those after it.
    struct Inquiry
    {
        QByteArray frame;
        int timeoutMs;
        AnswerHandler handler;
    };
    AnswerHandler pendingAnswer;
    QByteArray gatheredAnswer; // what came for the pending inquiry so far
    QList<Inquiry> queuedInquiries;
    QTimer *answerExpiry = nullptr;

    // The bootloader job in progress, if any, and the controls it turned off
    // with the state to give them back.
    Download::Job *job = nullptr;
    QList<QPair<QPointer<QWidget>, bool>> busyControls;
};

#endif // QUILLON_MYWIDGET_H
