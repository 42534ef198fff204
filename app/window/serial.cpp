// The window's serial link: the port list, Open/Close, the line settings,
// the receive pane, and the inquiries that wait for the camera's answer.

#include "mywidget.h"

#include "app/messages.h"
#include "app/styles.h"
#include "app/tracepane.h"
#include "link/lineparams.h"
#include "link/portlist.h"
#include "link/serialline.h"
#include "link/udplink.h"
#include "protocol/viscareply.h"
#include "ui_mywidget.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

namespace {

const QString kTraceMenuName = QStringLiteral("traceMenu");

// A tooltip that shows device text as it is; none for an empty text.
QString plainTip(const QString &text)
{
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

// What the user reads when a port would not open, beyond the box's short
// text.
QString openFailureDetail(const QString &port, const SerialLine::OpenResult &result)
{
    switch (result.error) {
    case SerialLine::OpenError::None:
        break;
    case SerialLine::OpenError::InUse:
        return MyWidget::tr("Another program holds %1 (%2). Close the port there, or choose another one.")
            .arg(port, result.reason);
    case SerialLine::OpenError::NotFound:
        return MyWidget::tr("There is no device %1: %2.").arg(port, result.reason);
    case SerialLine::OpenError::Permission:
        // Linux gives serial adapters to a group (dialout on Debian); its
        // members may use them from their next login on.
        if (!result.deviceGroup.isEmpty())
            return MyWidget::tr("This user may not open %1: %2. The device belongs to the group %3; to join "
                                "it, run \"sudo usermod -aG %3 $USER\", then log out and in again.")
                .arg(port, result.reason, result.deviceGroup);
        return MyWidget::tr("This user may not open %1: %2.").arg(port, result.reason);
    case SerialLine::OpenError::Other:
        return MyWidget::tr("%1 did not open: %2.").arg(port, result.reason);
    }
    return QString();
}

} // namespace

void MyWidget::fillPortList()
{
    const QList<PortList::Port> ports = PortList::available();
    if (ports.isEmpty()) {
        ui->comboBoxCom->addItem(tr("No Com"));
        ui->pushButtonOpen->setEnabled(false);
        return;
    }
    QStringList names;
    for (const PortList::Port &port : ports)
        names.append(port.name);
    ui->comboBoxCom->addItems(PortList::comboItems(names));
}

void MyWidget::on_pushButton_2_clicked()
{
    // A device typed into the box (a pseudo-terminal, a /dev/serial/by-id
    // link) is no item of the list: it stays while it is there.
    const QString typed = ui->comboBoxCom->currentText();
    ui->comboBoxCom->clear();
    fillPortList();
    const bool keepTyped = ui->comboBoxCom->isEditable() && PortList::typedDeviceExists(typed, PortList::available());
    if (keepTyped)
        ui->comboBoxCom->setEditText(typed);
    ui->pushButtonOpen->setEnabled(!noPortListed() || keepTyped);
}

bool MyWidget::noPortListed() const
{
    return ui->comboBoxCom->count() == 1 && ui->comboBoxCom->itemText(0) == tr("No Com");
}

void MyWidget::showPortAsTip(const QString &text)
{
    // The box is narrow and a device path long: the whole of it, as plain
    // text, comes up over the box.
    ui->comboBoxCom->setToolTip(plainTip(text));
}

void MyWidget::onPortBoxEdited(const QString &text)
{
    // With no port listed, a device path typed into the box can still be
    // opened.
    if (noPortListed())
        ui->pushButtonOpen->setEnabled(PortList::locationFor(text, {}).has_value());
}

bool MyWidget::serialOpen() const
{
    return serialLine->isOpen();
}

void MyWidget::on_pushButtonOpen_clicked()
{
    if (ui->pushButtonOpen->text() != tr("Open")) {
        closePort();
        return;
    }
    const auto baud = LineParams::baudRate(ui->comboBoxBaudrate->currentIndex());
    openSerial(baud.value_or(LineParams::kDefaultBaud));
}

bool MyWidget::openSerial(qint32 baud)
{
    const QString text = ui->comboBoxCom->currentText();
    const auto location = PortList::locationFor(text, PortList::available());
    // The port cannot be opened twice, and a text that names no port opens
    // nothing (not the port of an earlier open).
    QString failure;
    if (serialLine->isOpen())
        failure = tr("The port is open already.");
    else if (!location)
        failure = tr("No serial port is called \"%1\".").arg(text);
    else if (const SerialLine::OpenResult result = serialLine->open(*location, baud); !result.ok())
        failure = openFailureDetail(*location, result);
    if (!failure.isEmpty()) {
        // The link that is up stays as it is.
        if (!serialLine->isOpen()) {
            ui->pushButtonOpen->setText(tr("Open"));
            ui->comboBoxCom->setEnabled(true);
        }
        showPortError(failure);
        return false;
    }

    ui->pushButtonOpen->setStyleSheet(Styles::kLinkUp);
    ui->pushButtonOpen->setText(tr("Close"));
    if (!udpLink->isConnected()) {
        ui->comboBoxCom->setEnabled(false);
        setCommandGroupsEnabled(true);
        ui->pushButton_2->setEnabled(false);
    }
    return true;
}

void MyWidget::closePort()
{
    serialLine->close();
    answerWith(std::nullopt);

    ui->pushButtonOpen->setStyleSheet(Styles::kLinkDown);
    ui->comboBoxCom->setEnabled(true);
    ui->pushButtonOpen->setText(tr("Open"));
    // Upgrade goes by the file field alone.
    ui->pushButtonUpdata->setEnabled(!hexFilePath.isEmpty());
    if (udpLink->isConnected())
        return;
    setCommandGroupsEnabled(false);
    ui->pushButtonComm->setStyleSheet(Styles::kCommUntested);
    ui->pushButton_2->setEnabled(true);
}

void MyWidget::setCommandGroupsEnabled(bool enabled)
{
    ui->widgetPT->setEnabled(enabled);
    ui->widgetPrest->setEnabled(enabled);
    ui->widgetZoom->setEnabled(enabled);
    ui->widgetSpecial->setEnabled(enabled);
    ui->widgetSW->setEnabled(enabled);
    ui->pushButton->setEnabled(enabled);
    // The factory serial-number group and "Set Logo" stay locked whenever a
    // link changes.
    ui->widgetSN->setEnabled(false);
    ui->pushButton_3->setEnabled(false);
}

void MyWidget::onLineLost()
{
    // A bootloader job in progress ends on its own (its wait fails at once)
    // and reports the lost line itself.
    if (job)
        return;
    closePort();
    showPortError(QString());
}

void MyWidget::showPortError(const QString &detail)
{
    Messages::show(this, QMessageBox::Information, tr("Tip"), tr("Serial Port Error,Please restart."), detail);
}

void MyWidget::on_comboBoxBaudrate_currentIndexChanged(int index)
{
    // Refused by the line while a bootloader job holds it.
    if (const auto rate = LineParams::baudRate(index))
        serialLine->setBaudRate(*rate);
}

void MyWidget::on_comboBoxParity_currentIndexChanged(int index)
{
    if (const auto parity = LineParams::parity(index))
        serialLine->setParity(*parity);
}

void MyWidget::on_comboBoxCom_highlighted(int index)
{
    if (ui->comboBoxCom->count() == 0)
        return;
    const QString description =
        PortList::descriptionOf(ui->comboBoxCom->itemText(index), PortList::available());
    // The description comes from the adapter: shown as plain text. An empty
    // text hides the tooltip.
    QToolTip::showText(QCursor::pos(), plainTip(description), ui->comboBoxCom);
}

void MyWidget::readComDataSlot(const QByteArray &batch)
{
    TracePane::appendSoon(ui->textBrowserReceive, QString::fromLatin1(batch.toHex()));
    if (!pendingAnswer)
        return;
    // The camera may still be confirming earlier commands: that is no
    // answer to the inquiry. An answer may also come in pieces (a USB
    // adapter hands bytes over when its latency timer runs out, a busy
    // machine reads late): it is complete with its terminator, or when the
    // inquiry's time is up.
    gatheredAnswer.append(batch);
    const QByteArray answer = ViscaReply::withoutCommandReplies(gatheredAnswer);
    if (ViscaReply::isComplete(answer))
        answerWith(answer);
}

void MyWidget::ask(const QByteArray &frame, int timeoutMs, AnswerHandler handler)
{
    // One inquiry at a time on the line: a later one waits for the earlier
    // one's answer (or its time) before it goes out.
    if (pendingAnswer) {
        queuedInquiries.append({frame, timeoutMs, std::move(handler)});
        return;
    }
    // Only a reply that comes after the inquiry went out answers it: the
    // line ends the reply in progress with the write.
    if (!serialLine->write(frame)) {
        handler(std::nullopt);
        return;
    }
    pendingAnswer = std::move(handler);
    gatheredAnswer.clear();
    answerExpiry->start(timeoutMs);
}

void MyWidget::answerExpired()
{
    // Time is up: what came is read as it is; nothing is no answer.
    const QByteArray answer = ViscaReply::withoutCommandReplies(gatheredAnswer);
    answerWith(answer.isEmpty() ? std::nullopt : std::optional<QByteArray>(answer));
}

void MyWidget::answerWith(const std::optional<QByteArray> &answer)
{
    answerExpiry->stop();
    if (const AnswerHandler handler = std::exchange(pendingAnswer, AnswerHandler()))
        handler(answer);
    while (!pendingAnswer && !queuedInquiries.isEmpty()) {
        Inquiry next = queuedInquiries.takeFirst();
        ask(next.frame, next.timeoutMs, std::move(next.handler));
    }
}

void MyWidget::appendTrace(const QString &line)
{
    TracePane::appendPlain(ui->textBrowserReceive, line);
}

void MyWidget::on_textBrowserReceive_customContextMenuRequested(QPoint pos)
{
    Q_UNUSED(pos)
    // One menu per pane, built on the first right-click and kept.
    auto *menu = ui->textBrowserReceive->findChild<QMenu *>(kTraceMenuName,
                                                           Qt::FindDirectChildrenOnly);
    if (!menu) {
        menu = new QMenu(ui->textBrowserReceive);
        menu->setObjectName(kTraceMenuName);
        auto *clearAction = new QAction(QStringLiteral("claer"), ui->textBrowserReceive);
        connect(clearAction, &QAction::triggered, ui->textBrowserReceive, &QTextEdit::clear);
        menu->addAction(clearAction);
    }
    menu->exec(QCursor::pos());
}
