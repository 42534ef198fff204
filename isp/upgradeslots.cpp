// The window's firmware-upgrade controls: the single bootloader steps, the
// HEX file choice, and the download that runs them all.

#include "mywidget.h"

#include "app/appsettings.h"
#include "isp/bootloader.h"
#include "isp/download.h"
#include "isp/hexfile.h"
#include "link/replyreceiver.h"
#include "link/serialbootlink.h"
#include "ui_mywidget.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>
#include <QSettings>

#include <memory>

namespace {

const QString kHexFileFilter = QStringLiteral("Hex File (*.hex)");

QString productIdLine(quint16 productId)
{
    return QStringLiteral("Product ID: %1").arg(productId, 4, 16, QLatin1Char('0'));
}

} // namespace

// While a bootloader exchange runs, the window knows its link so that
// closing the window or losing the line ends every wait at once.
class MyWidget::BootLinkScope
{
public:
    explicit BootLinkScope(MyWidget &window)
        : owner(window),
          link(*window.serialPort, *window.receiver,
               [&window](const QByteArray &bytes) { window.writeSerial(bytes); })
    {
        owner.bootLink = &link;
    }
    ~BootLinkScope() { owner.bootLink = nullptr; }
    BootLinkScope(const BootLinkScope &) = delete;
    BootLinkScope &operator=(const BootLinkScope &) = delete;

    SerialBootLink &get() { return link; }

private:
    MyWidget &owner;
    SerialBootLink link;
};

void MyWidget::writeSerialIfOpen(const QByteArray &bytes)
{
    // The camera and bootloader bytes go to the serial line only; with the
    // port closed there is nobody to hear them.
    if (serialPort->isOpen())
        writeSerial(bytes);
}

void MyWidget::on_pushButtonEnterIAP_clicked()
{
    if (bootLink)
        return;
    writeSerialIfOpen(Stm32Boot::enterIapFrame());
}

void MyWidget::ExitIAP_clicked()
{
    if (bootLink)
        return;
    writeSerialIfOpen(Stm32Boot::exitIapFrame());
}

void MyWidget::on_pushButtonSend7f_clicked()
{
    if (bootLink)
        return;
    // The answer shows in the receive pane like any reply.
    writeSerialIfOpen(QByteArray(1, char(Stm32Boot::kSync)));
}

void MyWidget::on_pushButtonGetID_clicked()
{
    // A bootloader step in the middle of a download would break its
    // dialogue: the steps wait until it has ended.
    if (bootLink)
        return;
    BootLinkScope scope(*this);
    quint16 productId = 0;
    const Stm32Boot::Result result = Stm32Boot::Dialogue(scope.get()).getId(&productId);
    if (result.answer == Stm32Boot::Answer::Aborted)
        return;
    appendTrace(result.ok() ? productIdLine(productId) : QStringLiteral("Get ID Fail"));
}

void MyWidget::on_pushButtonEraseAll_clicked()
{
    if (bootLink)
        return;
    BootLinkScope scope(*this);
    reportDownloadEnd(Download::eraseAll(scope.get(), traceObserver()));
}

void MyWidget::on_pushButtonGo_clicked()
{
    if (bootLink)
        return;
    BootLinkScope scope(*this);
    // Whether the program starts shows on the camera, not in the answer.
    // A line that goes meanwhile is reported by the port's error handler.
    Download::startProgram(scope.get(), traceObserver());
}

void MyWidget::on_pushButtonOpenHex_clicked()
{
    const QString start = AppSettings::read(*settings, AppSettings::kHexFileKey);
    hexFilePath = QFileDialog::getOpenFileName(nullptr, tr("Open File"), start, kHexFileFilter);
    if (hexFilePath.isEmpty()) {
        appendTrace(QStringLiteral("Please Choose Hex File"));
        ui->pushButtonUpdata->setEnabled(false);
        return;
    }
    AppSettings::store(AppSettings::kHexFileKey, hexFilePath);
    settings->sync();
    ui->lineEditPath->setText(hexFilePath);
    appendTrace(QStringLiteral("File Path:") + hexFilePath);
    appendTrace(QStringLiteral("Hex File: %1 byte").arg(QFileInfo(hexFilePath).size()));
    ui->pushButtonUpdata->setEnabled(true);
}

void MyWidget::on_pushButtonChooseHex_clicked()
{
    on_pushButtonOpenHex_clicked();
    if (!hexFilePath.isEmpty())
        on_pushButtonLoadByte_clicked();
}

void MyWidget::on_pushButtonLoadByte_clicked()
{
    if (hexFilePath.isEmpty())
        return;
    const HexReadResult file = HexFile::readFile(hexFilePath);
    if (!file.image) {
        traceHexFault(file.error);
        return;
    }
    hexByteCount = file.image->dataByteCount();
    ui->progressBar->setMaximum(FirmwareImage::kBlockBytes * file.image->blockCount());
    ui->progressBar->setValue(0);
    appendTrace(QStringLiteral("Load Byte:%1bytes").arg(hexByteCount));
}

void MyWidget::on_pushButtonUpdata_clicked()
{
    // The whole file is read and checked before the camera is touched: a
    // file that is cut short or damaged must never reach the flash.
    const HexReadResult file = HexFile::readFile(hexFilePath);
    if (!file.image) {
        traceHexFault(file.error);
        if (file.error.kind != HexError::Kind::OpenFailed)
            QMessageBox::warning(this, tr("Error"), tr("Hex File Error,Please restart."));
        return;
    }

    if (!openSerial(Download::kCameraBaud))
        return;
    ui->pushButtonUpdata->setEnabled(false);
    // The bar counts to this file's blocks, whether or not it was loaded.
    ui->progressBar->setMaximum(FirmwareImage::kBlockBytes * file.image->blockCount());
    replyHex.clear();

    Download::Outcome outcome;
    {
        upgradeRunning = true;
        BootLinkScope scope(*this);
        Download::Observer observer = traceObserver();
        observer.progress = [this](int bytes) {
            downloadProgress = bytes;
            ui->progressBar->setValue(bytes);
        };
        outcome = Download::run(scope.get(), *file.image, observer);
        upgradeRunning = false;
    }
    // The window is closing: it has closed the port, and says nothing more.
    if (outcome.end == Download::End::Aborted)
        return;

    // The port closes before the message: a line that was lost must not
    // raise more errors while the user reads it.
    closePort();
    ui->pushButton_2->setEnabled(true);
    ui->pushButtonUpdata->setEnabled(true);
    reportDownloadEnd(outcome);
}

Download::Observer MyWidget::traceObserver()
{
    Download::Observer observer;
    observer.trace = [this](const QString &line) { appendTrace(line); };
    return observer;
}

void MyWidget::traceHexFault(const HexError &error)
{
    appendTrace(error.kind == HexError::Kind::OpenFailed
                    ? QStringLiteral("File Open Fail,Please restart.")
                    : QStringLiteral("Hex File Error: ") + error.text());
}

void MyWidget::reportDownloadEnd(const Download::Outcome &outcome)
{
    const char *message = nullptr;
    switch (outcome.end) {
    case Download::End::NoSync:
        message = QT_TR_NOOP("Serial port error or machine failure,Please restart.");
        break;
    case Download::End::EraseCommandFailed:
        message = QT_TR_NOOP("Erase Command Error2,Please restart.");
        break;
    case Download::End::EraseFailed:
        message = QT_TR_NOOP("Erase All Error,Please restart.");
        break;
    case Download::End::BlockFailed:
        message = QT_TR_NOOP("Download Error2,Please restart.");
        break;
    case Download::End::FinalBlockFailed:
        message = QT_TR_NOOP("Download Error1,Please restart.");
        break;
    case Download::End::LineLostBeforeGo:
        // The flash holds the new program, but the camera never heard Go:
        // the same word as for any line that goes away.
        appendTrace(outcome.failure.text());
        QMessageBox::information(this, tr("Tip"), tr("Serial Port Error,Please restart."));
        return;
    case Download::End::Success:
    case Download::End::Aborted:
        return;
    }
    // What exactly failed, for whoever reads the pane; the box keeps the
    // camera's own short texts.
    appendTrace(outcome.failure.text());
    QMessageBox::warning(this, tr("Error"), tr(message));
}
