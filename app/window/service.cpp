// The window's factory service panel: the serial number (step, write, read
// back), the logo text, the communication test, the software version, and
// the free command line. The frames come from ServiceFrames and
// SerialNumber; these slots read the form, write the line and show the
// result.
//
// The service frames go to the serial line only: the firmware takes them
// from its service port, never from the network.

#include "mywidget.h"

#include "app/styles.h"
#include "link/serialline.h"
#include "protocol/cameraframes.h"
#include "protocol/viscareply.h"
#include "service/serialnumber.h"
#include "service/serviceframes.h"
#include "ui_mywidget.h"

#include <QCursor>
#include <QMessageBox>
#include <QToolTip>

#include <iterator>

namespace {

// The firmware stores a pair of characters per frame and needs a moment
// between two of them.
constexpr int kServiceFrameGapMs = 12;

// A camera answers a serial-number read within a few tens of milliseconds;
// a reply that comes later belongs to something else.
constexpr int kSerialNumberReplyMs = 500;

constexpr int kShortSerialNumber = SerialNumber::kShortLength;
constexpr int kLongSerialNumber = SerialNumber::kLongLength;
constexpr int kShortLogo = ServiceFrames::kVn620LogoLength;
constexpr int kLongLogo = ServiceFrames::kRm410LogoLength;

// What the canned entries of the command line do (shown as they are, in
// every language).
const char *const kCannedCommandTips[] = {"Enter Boot", "Clear UpRight", "Clear DownLeft"};

} // namespace

bool MyWidget::viscaSelected() const
{
    return protocolIndex == int(CameraFrames::Protocol::Visca);
}

quint8 MyWidget::serviceHeader() const
{
    return CameraFrames::viscaHeader(ui->lineEditAddress->text());
}

void MyWidget::askOnServiceLine(const QByteArray &frame, AnswerHandler handler)
{
    ask(viscaSelected() ? frame : QByteArray(), kInquiryReplyMs, std::move(handler));
}

bool MyWidget::serialNumberLengthOk()
{
    if (ui->lineEditSN->text().size() == snLength)
        return true;
    QMessageBox::information(this, tr("Tip"),
                             snLength == kLongSerialNumber
                                 ? tr("The serial number is less than 15 bits")
                                 : tr("The serial number is less than 12 bits"));
    return false;
}

void MyWidget::on_radioButton15Bit_clicked()
{
    ui->lineEditSN->setMaxLength(kLongSerialNumber);
    snLength = kLongSerialNumber;
}

void MyWidget::on_radioButton12Bit_clicked()
{
    ui->lineEditSN->setMaxLength(kShortSerialNumber);
    snLength = kShortSerialNumber;
}

void MyWidget::on_radioButtonRM410_clicked()
{
    ui->lineEditLogo->setMaxLength(kLongLogo);
    logoLength = kLongLogo;
}

void MyWidget::on_radioButtonVN620_clicked()
{
    ui->lineEditLogo->setMaxLength(kShortLogo);
    logoLength = kShortLogo;
}

void MyWidget::on_pushButtonAdd_clicked()
{
    if (serialNumberLengthOk())
        ui->lineEditSN->setText(SerialNumber::stepUp(ui->lineEditSN->text(), snLength));
}

void MyWidget::on_pushButtonMinus_clicked()
{
    if (serialNumberLengthOk())
        ui->lineEditSN->setText(SerialNumber::stepDown(ui->lineEditSN->text(), snLength));
}

void MyWidget::on_pushButtonSetSN_clicked()
{
    if (!serialNumberLengthOk() || !viscaSelected())
        return;
    serialLine->writePaced(ServiceFrames::serialNumberWrite(
                               serviceHeader(), ServiceFrames::textBytes(ui->lineEditSN->text()), snLength),
                           kServiceFrameGapMs);
}

void MyWidget::on_pushButtonReadSN_clicked()
{
    // A request that never went out waits for nothing; an answer that does
    // not end the way a serial number does leaves the field as it is.
    if (!viscaSelected())
        return;
    ask(ServiceFrames::serialNumberRead(serviceHeader()), kSerialNumberReplyMs,
        [this](const std::optional<QByteArray> &answer) {
        if (const auto number = answer ? ViscaReply::serialNumber(*answer, snLength) : std::nullopt)
            ui->lineEditSN->setText(*number);
    });
}

void MyWidget::on_pushButton_3_clicked()
{
    if (!viscaSelected())
        return;
    serialLine->writePaced(ServiceFrames::logoWrite(serviceHeader(),
                                                    ServiceFrames::textBytes(ui->lineEditLogo->text()),
                                                    logoLength),
                           kServiceFrameGapMs);
}

void MyWidget::on_pushButtonComm_clicked()
{
    askOnServiceLine(ServiceFrames::communicationTest(serviceHeader()),
                     [this](const std::optional<QByteArray> &answer) {
        const bool passed = answer && ServiceFrames::communicationTestPassed(*answer);
        ui->pushButtonComm->setStyleSheet(passed ? Styles::kCommPassed : Styles::kCommFailed);
    });
}

void MyWidget::on_pushButtonReadSW_clicked()
{
    askOnServiceLine(ServiceFrames::versionRead(serviceHeader()), [this](const std::optional<QByteArray> &answer) {
        ui->lineEditSW->setText(answer ? ServiceFrames::versionBits(*answer) : QString());
    });
}

void MyWidget::on_pushButton_clicked()
{
    // The command line goes out as it is spelled, on every link that is up;
    // no protocol rule applies.
    sendFrame(CommandLine::bytes(ui->comboBoxSend->currentText()));
}

void MyWidget::on_comboBoxSend_highlighted(int index)
{
    if (index < 0 || index >= int(std::size(kCannedCommandTips)))
        return;
    QToolTip::showText(QCursor::pos(), QString::fromLatin1(kCannedCommandTips[index]),
                       ui->comboBoxSend);
}
