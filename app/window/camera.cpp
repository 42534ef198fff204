// The window's camera controls: the protocol choice, the two speed sliders,
// every camera button, the position inquiries, and the fan-out of a frame to
// the serial port and the UDP peer. The frames themselves come from
// CameraFrames; these slots only read the form and send.

#include "mywidget.h"

#include "link/serialline.h"
#include "link/udplink.h"
#include "protocol/cameraframes.h"
#include "protocol/positionreply.h"
#include "ui_mywidget.h"

namespace {

using CameraFrames::Command;
using CameraFrames::Protocol;

// Pan/tilt speed ranges: Pelco speeds run 00..3F, VISCA pan speeds 01..18.
constexpr int kPanTiltSpeedMin = 1;
constexpr int kPelcoPanTiltSpeedMax = 63;
constexpr int kViscaPanTiltSpeedMax = 24;

} // namespace

void MyWidget::on_comboBoxProtocol_currentIndexChanged(int index)
{
    // The buttons of commands only VISCA has, or that only make sense with
    // a VISCA camera's answers. (Flip, normal and the resets stay usable and
    // send nothing under Pelco.)
    QWidget *const viscaButtons[] = {ui->pushButtonHome,     ui->pushButtonGetZPos,
                                     ui->pushButtonGetFPos,  ui->pushButtonDirZPos,
                                     ui->pushButtonDirFPos,  ui->pushButtonMF,
                                     ui->pushButtonAF,       ui->pushButtonPowerOff,
                                     ui->pushButtonPowerOn};
    const bool pelco = index == int(Protocol::PelcoD) || index == int(Protocol::PelcoP);
    const bool visca = index == int(Protocol::Visca);
    // While the box is refilled (index -1) the form stays as it is.
    if (pelco || visca) {
        QSlider *speed = ui->horizontalSliderPTSpeed;
        speed->setMinimum(kPanTiltSpeedMin);
        speed->setMaximum(pelco ? kPelcoPanTiltSpeedMax : kViscaPanTiltSpeedMax);
        speed->setValue(pelco ? kPelcoPanTiltSpeedMax : kViscaPanTiltSpeedMax);
        for (QWidget *button : viscaButtons)
            button->setEnabled(visca);
    }
    protocolIndex = index;
}

void MyWidget::on_horizontalSliderPTSpeed_valueChanged(int value)
{
    ui->lineEditPTSpeed->setText(QString::number(value, 10));
}

void MyWidget::on_horizontalSliderZoomSpeed_valueChanged(int value)
{
    ui->lineEditZoomSpeed->setText(QString::number(value, 10));
}

void MyWidget::sendFrame(const QByteArray &frame)
{
    // A command the chosen protocol does not have is an empty frame: nothing
    // for the line, an empty datagram for the network. While a bootloader
    // job holds the line, the line refuses the frame: it would land in the
    // middle of the job's dialogue.
    serialLine->write(frame);
    udpLink->send(frame);
}

void MyWidget::sendCommand(Command command)
{
    const CameraFrames::Fields fields{ui->lineEditAddress->text(), ui->lineEditPTSpeed->text(),
                                      ui->lineEditZoomSpeed->text(),
                                      ui->lineEditPresetAdd->text()};
    sendFrame(CameraFrames::build(Protocol(protocolIndex), command, fields));
}

void MyWidget::queryPosition(Command inquiry, QLineEdit *result)
{
    const CameraFrames::Fields fields{ui->lineEditAddress->text(), {}, {}, {}};
    const QByteArray frame = CameraFrames::build(Protocol(protocolIndex), inquiry, fields);
    // Only the serial line brings answers back, and only a reply that came
    // after this inquiry went out tells the position: an older reply, or
    // none, leaves the field empty.
    ask(frame, kInquiryReplyMs, [result](const std::optional<QByteArray> &answer) {
        result->setText(answer ? PositionReply::digits(*answer) : QString());
    });
    udpLink->send(frame);
}

// Pan/tilt: each direction moves while its button is held.
void MyWidget::on_pushButtonLeft_pressed() { sendCommand(Command::Left); }
void MyWidget::on_pushButtonRight_pressed() { sendCommand(Command::Right); }
void MyWidget::on_pushButtonUp_pressed() { sendCommand(Command::Up); }
void MyWidget::on_pushButtonDown_pressed() { sendCommand(Command::Down); }
void MyWidget::on_pushButtonUpLeft_pressed() { sendCommand(Command::UpLeft); }
void MyWidget::on_pushButtonUpRight_pressed() { sendCommand(Command::UpRight); }
void MyWidget::on_pushButtonDownLeft_pressed() { sendCommand(Command::DownLeft); }
void MyWidget::on_pushButtonDownRight_pressed() { sendCommand(Command::DownRight); }
void MyWidget::on_pushButtonLeft_released() { PTStop(); }
void MyWidget::on_pushButtonRight_released() { PTStop(); }
void MyWidget::on_pushButtonUp_released() { PTStop(); }
void MyWidget::on_pushButtonDown_released() { PTStop(); }
void MyWidget::on_pushButtonUpLeft_released() { PTStop(); }
void MyWidget::on_pushButtonUpRight_released() { PTStop(); }
void MyWidget::on_pushButtonDownLeft_released() { PTStop(); }
void MyWidget::on_pushButtonDownRight_released() { PTStop(); }
void MyWidget::PTStop() { sendCommand(Command::PanTiltStop); }

void MyWidget::on_pushButtonHome_clicked() { sendCommand(Command::Home); }

void MyWidget::on_pushButtonCallPreset_clicked() { sendCommand(Command::CallPreset); }
void MyWidget::on_pushButtonSetPreset_clicked() { sendCommand(Command::SetPreset); }
void MyWidget::on_pushButtonClearPreset_clicked() { sendCommand(Command::ClearPreset); }

// Zoom and focus also move while held.
void MyWidget::on_pushButtonZTele_pressed() { sendCommand(Command::ZoomTele); }
void MyWidget::on_pushButtonZWide_pressed() { sendCommand(Command::ZoomWide); }
void MyWidget::on_pushButtonZTele_released() { ZStop(); }
void MyWidget::on_pushButtonZWide_released() { ZStop(); }
void MyWidget::ZStop() { sendCommand(Command::ZoomStop); }

void MyWidget::on_pushButtonFar_pressed() { sendCommand(Command::FocusFar); }
void MyWidget::on_pushButtonNear_pressed() { sendCommand(Command::FocusNear); }
void MyWidget::on_pushButtonFar_released() { sendCommand(Command::FocusStop); }
void MyWidget::on_pushButtonNear_released() { on_pushButtonFar_released(); }

void MyWidget::on_pushButtonAF_clicked() { sendCommand(Command::AutoFocus); }
void MyWidget::on_pushButtonMF_clicked() { sendCommand(Command::ManualFocus); }
void MyWidget::on_pushButtonPowerOn_clicked() { sendCommand(Command::PowerOn); }
void MyWidget::on_pushButtonPowerOff_clicked() { sendCommand(Command::PowerOff); }
void MyWidget::on_pushButtonPictureFilp_clicked() { sendCommand(Command::PictureFlip); }
void MyWidget::on_pushButtonPictureNormal_clicked() { sendCommand(Command::PictureNormal); }
void MyWidget::on_pushButtonPTReset_clicked() { sendCommand(Command::PanTiltReset); }
void MyWidget::on_pushButtonZoomReset_clicked() { sendCommand(Command::ZoomReset); }

void MyWidget::on_pushButtonGetZPos_clicked()
{
    queryPosition(Command::ZoomPositionInquiry, ui->lineEditZPos);
}

void MyWidget::on_pushButtonGetFPos_clicked()
{
    queryPosition(Command::FocusPositionInquiry, ui->lineEditFPos);
}

void MyWidget::on_pushButtonDirZPos_clicked()
{
    // The cameras have no agreed frame for driving the zoom to a position;
    // the button does nothing.
}
