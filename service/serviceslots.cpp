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
#include "protocol/cameraframes.h"
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
constexpr uint kServiceFrameGapMs = 12;

// The firmware answers an inquiry within a few milliseconds.
constexpr int kInquiryReplyTimeoutMs = 100;

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

bool MyWidget::writeServiceFrame(const QByteArray &frame)
{
    // While the bootloader has the line a service frame would land in the
    // middle of its dialogue.
    if (!serialOpen || frame.isEmpty() || bootLink)
        return false;
    return writeSerial(frame) == frame.size();
}

void MyWidget::writeServiceFrames(const QList<QByteArray> &frames)
{
    // The pauses are kept whether or not a frame goes out, so that a command
    // takes the same time on every protocol.
    for (const QByteArray &frame : frames) {
        sleep(kServiceFrameGapMs);
        writeServiceFrame(viscaSelected() ? frame : QByteArray());
    }
}

std::optional<QByteArray> MyWidget::askOnServiceLine(const QByteArray &frame)
{
    if (!writeServiceFrame(viscaSelected() ? frame : QByteArray()))
        return std::nullopt;
    return awaitAnswer(kInquiryReplyTimeoutMs);
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
    if (!serialNumberLengthOk())
        return;
    writeServiceFrames(ServiceFrames::serialNumberWrite(
        serviceHeader(), ServiceFrames::textBytes(ui->lineEditSN->text()), snLength));
}

void MyWidget::on_pushButtonReadSN_clicked()
{
    // The answer is decoded by the receive path when it comes; a request
    // that never went out waits for nothing.
    if (writeServiceFrame(viscaSelected() ? ServiceFrames::serialNumberRead(serviceHeader())
                                          : QByteArray()))
        expectSerialNumberReply();
}

void MyWidget::on_pushButton_3_clicked()
{
    writeServiceFrames(ServiceFrames::logoWrite(
        serviceHeader(), ServiceFrames::textBytes(ui->lineEditLogo->text()), logoLength));
}

void MyWidget::on_pushButtonComm_clicked()
{
    const auto answer = askOnServiceLine(ServiceFrames::communicationTest(serviceHeader()));
    const bool passed = answer && ServiceFrames::communicationTestPassed(*answer);
    ui->pushButtonComm->setStyleSheet(passed ? Styles::kCommPassed : Styles::kCommFailed);
}

void MyWidget::on_pushButtonReadSW_clicked()
{
    const auto answer = askOnServiceLine(ServiceFrames::versionRead(serviceHeader()));
    ui->lineEditSW->setText(answer ? ServiceFrames::versionBits(*answer) : QString());
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
