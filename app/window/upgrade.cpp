// The window's firmware-upgrade controls: the single bootloader steps, the
// HEX file choice, and the download. The bootloader work runs as a job that
// holds the line; the window shows one busy state until it ends.

#include "mywidget.h"

#include "app/appsettings.h"
#include "app/messages.h"
#include "app/runoutcome.h"
#include "isp/bootloader.h"
#include "isp/download.h"
#include "isp/hexfile.h"
#include "link/serialline.h"
#include "ui_mywidget.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace {

const QString kHexFileFilter = QStringLiteral("Hex File (*.hex)");

} // namespace

void MyWidget::addUpgradeOptions()
{
    const auto option = [this](const char *name, const char *key) {
        auto *action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setCheckable(true);
        action->setChecked(AppSettings::read(*settings, key) == QLatin1String("true"));
        connect(action, &QAction::toggled, this, [key](bool checked) {
            AppSettings::store(key, checked ? QStringLiteral("true") : QStringLiteral("false"));
        });
        return action;
    };
    // The whole flash is erased unless chosen otherwise: that leaves no old
    // code behind. Cameras with a resident bootloader or calibration in
    // their flash need the page erase.
    erasePagesAction = option("erasePagesAction", AppSettings::kErasePagesKey);
    verifyAction = option("verifyAction", AppSettings::kVerifyKey);
    fastBaudAction = option("fastBaudAction", AppSettings::kBootloaderBaudKey);
    mainMenu->addSeparator();
    mainMenu->addActions({erasePagesAction, verifyAction, fastBaudAction});
    retranslateUpgradeOptions();
}

void MyWidget::retranslateUpgradeOptions()
{
    erasePagesAction->setText(tr("Erase only the pages the firmware needs"));
    verifyAction->setText(tr("Read the firmware back after writing"));
    fastBaudAction->setText(tr("Bootloader at 115200 baud"));
}

void MyWidget::on_pushButtonEnterIAP_clicked()
{
    // The camera and bootloader bytes go to the serial line only; the line
    // refuses them while a job holds it.
    serialLine->write(Stm32Boot::enterIapFrame());
}

void MyWidget::on_pushButtonSend7f_clicked()
{
    // The answer shows in the receive pane like any reply.
    serialLine->write(QByteArray(1, char(Stm32Boot::kSync)));
}

void MyWidget::on_pushButtonGetID_clicked()
{
    if (auto link = serialLine->hold()) {
        auto *step = new Download::Job(Download::Job::Kind::GetId, *link, this);
        runJob(std::move(link), step);
    }
}

void MyWidget::on_pushButtonEraseAll_clicked()
{
    if (auto link = serialLine->hold()) {
        auto *step = new Download::Job(Download::Job::Kind::EraseAll, *link, this);
        runJob(std::move(link), step);
    }
}

void MyWidget::on_pushButtonGo_clicked()
{
    if (auto link = serialLine->hold()) {
        auto *step = new Download::Job(Download::Job::Kind::Go, *link, this);
        runJob(std::move(link), step);
    }
}

void MyWidget::on_pushButtonOpenHex_clicked()
{
    chooseHexFile();
}

bool MyWidget::chooseHexFile()
{
    const QString start = AppSettings::read(*settings, AppSettings::kHexFileKey);
    const QString chosen = QFileDialog::getOpenFileName(nullptr, tr("Open File"), start, kHexFileFilter);
    if (chosen.isEmpty()) {
        // The field, and the file Upgrade uses, stay as they were.
        appendTrace(QStringLiteral("Please Choose Hex File"));
        return false;
    }
    keepSetting(AppSettings::kHexFileKey, chosen);
    settings->sync();
    ui->lineEditPath->setText(chosen);
    onHexPathEdited(chosen);
    appendTrace(QStringLiteral("File Path:") + hexFilePath);
    appendTrace(QStringLiteral("Hex File: %1 byte").arg(QFileInfo(hexFilePath).size()));
    return true;
}

void MyWidget::onHexPathEdited(const QString &text)
{
    // A path typed or pasted may carry blanks at its ends.
    hexFilePath = text.trimmed();
    ui->pushButtonUpdata->setEnabled(!hexFilePath.isEmpty());
}

void MyWidget::on_pushButtonChooseHex_clicked()
{
    if (chooseHexFile())
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
    ui->progressBar->setMaximum(FirmwareImage::kBlockBytes * file.image->blockCount());
    ui->progressBar->setValue(0);
    appendTrace(QStringLiteral("Load Byte:%1bytes").arg(file.image->dataByteCount()));
}

void MyWidget::on_pushButtonUpdata_clicked()
{
    if (job)
        return;
    // Each run starts from an empty bar counting in percent; the words its
    // end leaves on the bar stay until the next run.
    ui->progressBar->resetFormat();
    ui->progressBar->setValue(0);
    // The whole file is read and checked before the camera is touched: a
    // file that is cut short or damaged must never reach the flash.
    const HexReadResult file = HexFile::readFile(hexFilePath);
    if (!file.image) {
        traceHexFault(file.error);
        ui->progressBar->setFormat(RunOutcome::ofHexFile(file.error));
        if (file.error.kind != HexError::Kind::OpenFailed)
            Messages::show(this, QMessageBox::Warning, tr("Error"), tr("Hex File Error,Please restart."),
                           QDir::toNativeSeparators(hexFilePath) + QStringLiteral(": ") + file.error.text());
        return;
    }

    if (!openSerial(Download::kCameraBaud)) {
        ui->progressBar->setFormat(RunOutcome::portNotOpened());
        return;
    }
    ui->pushButtonUpdata->setEnabled(false);
    // The bar counts to this file's blocks, whether or not it was loaded.
    ui->progressBar->setMaximum(FirmwareImage::kBlockBytes * file.image->blockCount());
    Download::Options options;
    options.erase = erasePagesAction->isChecked() ? Download::EraseMode::Pages : Download::EraseMode::WholeChip;
    options.verify = verifyAction->isChecked();
    options.bootloaderBaud = fastBaudAction->isChecked() ? Download::kFastBootloaderBaud : Download::kBootloaderBaud;
    auto link = serialLine->hold();
    auto *upgrade = new Download::Job(*link, *file.image, options, this);
    runJob(std::move(link), upgrade);
}

void MyWidget::runJob(std::unique_ptr<BootLink> link, Download::Job *newJob)
{
    // The job owns the line's hold: it goes with the job.
    link.release()->setParent(newJob);
    job = newJob;
    connect(job, &Download::Job::trace, this, [this](const QString &line) {
        // The reply a trace line was drawn from shows above it.
        serialLine->endReply();
        appendTrace(line);
    });
    connect(job, &Download::Job::progress, this, [this](int bytes, int total) {
        ui->progressBar->setMaximum(total);
        ui->progressBar->setValue(bytes);
    });
    connect(job, &Download::Job::finished, this, &MyWidget::onJobFinished);
    setBusy(true);
    job->start();
}

void MyWidget::onJobFinished(const Download::Outcome &outcome)
{
    const Download::Job::Kind kind = job->kind();
    const bool lineGone = job->lineLost() && serialLine->isOpen();
    // The line is everyone's again at once; the job goes once it has
    // returned from its signal.
    serialLine->release();
    job->deleteLater();
    job = nullptr;
    setBusy(false);
    // The window is closing: it closes the port, and says nothing more.
    if (outcome.end == Download::End::Aborted)
        return;

    if (kind == Download::Job::Kind::Upgrade) {
        // The port closes before the message: a line that was lost must not
        // raise more errors while the user reads it.
        closePort();
        ui->pushButton_2->setEnabled(true);
        ui->pushButtonUpdata->setEnabled(true);
        ui->progressBar->setFormat(RunOutcome::ofDownload(outcome));
        reportDownloadEnd(outcome);
        return;
    }
    // A single step whose line went away: the port closes, and the user is
    // told once, as for any line that goes.
    if (lineGone) {
        closePort();
        showPortError(outcome.text());
        return;
    }
    if (kind == Download::Job::Kind::EraseAll)
        reportDownloadEnd(outcome);
    else if (kind == Download::Job::Kind::Go && outcome.end != Download::End::Success)
        appendTrace(outcome.text());
}

void MyWidget::setBusy(bool busy)
{
    if (!busy) {
        for (const auto &[control, enabled] : qAsConst(busyControls)) {
            if (control)
                control->setEnabled(enabled);
        }
        busyControls.clear();
        languageAction->setEnabled(true);
        return;
    }
    // Everything that would start another exchange, change the line, or
    // change the file of a running upgrade.
    QWidget *const controls[] = {ui->pushButtonChooseHex, ui->pushButtonOpenHex, ui->pushButtonLoadByte,
                                 ui->lineEditPath,        ui->comboBoxCom,       ui->pushButton_2,
                                 ui->pushButtonOpen,      ui->pushButtonUpdata,  ui->pushButtonEnterIAP,
                                 ui->pushButtonSend7f,    ui->pushButtonGetID,   ui->pushButtonEraseAll,
                                 ui->pushButtonGo,        ui->comboBoxBaudrate,  ui->comboBoxParity};
    for (QWidget *control : controls) {
        busyControls.append({control, control->isEnabled()});
        control->setEnabled(false);
    }
    // The language switch rebuilds the line-setting boxes.
    languageAction->setEnabled(false);
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
    case Download::End::IdentifyFailed:
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
    case Download::End::ImageRefused:
    case Download::End::VerifyFailed:
    case Download::End::GoUnconfirmed:
        message = QT_TR_NOOP("Download Error,Please restart.");
        break;
    case Download::End::LineRefused:
    case Download::End::LineLostBeforeGo:
        // A port problem: the adapter would not take the bootloader's line
        // settings, or the line went before Go reached the camera (its flash
        // holds the new program, but it never heard Go).
        appendTrace(outcome.text());
        showPortError(outcome.text());
        return;
    case Download::End::Success:
    case Download::End::GetIdFailed:
    case Download::End::Aborted:
        return;
    }
    // What exactly failed, for whoever reads the pane; the box keeps the
    // camera's own short texts.
    appendTrace(outcome.text());
    Messages::show(this, QMessageBox::Warning, tr("Error"), tr(message), outcome.text());
}
