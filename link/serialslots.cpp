// The window's serial link: the port list, Open/Close, the line settings,
// the receive path with the receive pane, and the two waiting helpers that
// every command expecting an answer relies on.

#include "mywidget.h"

#include "app/styles.h"
#include "app/tracepane.h"
#include "link/lineparams.h"
#include "link/portlist.h"
#include "link/replyreceiver.h"
#include "link/replytext.h"
#include "link/serialbootlink.h"
#include "link/wait.h"
#include "ui_mywidget.h"

#include <QAction>
#include <QCursor>
#include <QDeadlineTimer>
#include <QMenu>
#include <QMessageBox>
#include <QSerialPort>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

#include <climits>

namespace {

const QString kTraceMenuName = QStringLiteral("traceMenu");

// After the port opens, the line gets a second to settle before the user
// sends anything; the window stays responsive meanwhile.
constexpr uint kSettleAfterOpenMs = 1000;

// How long an acknowledge may take to come back. The bootloader answers a
// command within a few milliseconds; a batch completes after a short silence.
constexpr int kAckTimeoutMs = 1000;
constexpr int kAckByte = 0x79;

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
    ui->comboBoxCom->clear();
    fillPortList();
    ui->pushButtonOpen->setEnabled(!noPortListed());
}

bool MyWidget::noPortListed() const
{
    return ui->comboBoxCom->count() == 1 && ui->comboBoxCom->itemText(0) == tr("No Com");
}

void MyWidget::onPortBoxEdited(const QString &text)
{
    // With no port listed, a device path typed into the box can still be
    // opened.
    if (noPortListed())
        ui->pushButtonOpen->setEnabled(PortList::locationFor(text, {}).has_value());
}

void MyWidget::on_pushButtonOpen_clicked()
{
    if (ui->pushButtonOpen->text() == tr("Open"))
        openPort();
    else
        closePort();
}

void MyWidget::openPort()
{
    if (!openSerial(LineParams::baudRate(ui->comboBoxBaudrate->currentIndex()))) {
        ui->pushButtonUpdata->setEnabled(false);
        return;
    }
    if (!udpConnected)
        sleep(kSettleAfterOpenMs);
}

bool MyWidget::openSerial(std::optional<qint32> baud)
{
    // The port cannot be opened twice. The link that is up stays as it is:
    // marking it closed would leave the port open with no way to close it.
    if (serialPort->isOpen()) {
        QMessageBox::information(this, tr("Tip"), tr("Serial Port Error,Please restart."));
        return false;
    }
    // A name that matches no listed port and is no device path leaves the
    // port name of the previous open in place.
    if (const auto location = PortList::locationFor(ui->comboBoxCom->currentText(),
                                                    PortList::available()))
        serialPort->setPortName(*location);
    if (baud)
        serialPort->setBaudRate(*baud);
    // The camera talks 8N1 without flow control; the data-bit and stop-bit
    // boxes are for show, and parity only changes through its own box.
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);

    serialOpen = serialPort->open(QIODevice::ReadWrite);
    if (!serialOpen) {
        ui->pushButtonOpen->setText(tr("Open"));
        QMessageBox::information(this, tr("Tip"), tr("Serial Port Error,Please restart."));
        ui->comboBoxCom->setEnabled(true);
        return false;
    }

    ui->pushButtonOpen->setStyleSheet(Styles::kLinkUp);
    ui->pushButtonOpen->setText(tr("Close"));
    if (!udpConnected) {
        ui->comboBoxCom->setEnabled(false);
        setCommandGroupsEnabled(true);
        ui->pushButton_2->setEnabled(false);
    }
    return true;
}

void MyWidget::closePort()
{
    // What came before the close still counts as a reply.
    if (serialPort->isOpen())
        readComDataSlot();
    serialPort->close();
    serialOpen = false;
    receiver->flush();

    ui->pushButtonOpen->setStyleSheet(Styles::kLinkDown);
    ui->comboBoxCom->setEnabled(true);
    ui->pushButtonOpen->setText(tr("Open"));
    ui->pushButtonUpdata->setEnabled(false);
    if (udpConnected)
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

void MyWidget::onSerialError(int error)
{
    // The line is gone: a pulled USB adapter reports a resource error; a
    // terminal that was hung up keeps reporting read errors, as often as the
    // event loop asks, until the port is closed. Any other error (a line
    // setting the device refuses, a failed open that the Open button
    // reports itself) leaves the link as it is.
    const bool lineGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!lineGone || !serialOpen)
        return;
    // A bootloader exchange waiting for an answer gives up at once; a whole
    // upgrade reports the failure itself and closes the port.
    if (bootLink) {
        bootLink->lineLost();
        if (upgradeRunning)
            return;
    }
    closePort();
    QMessageBox::information(this, tr("Tip"), tr("Serial Port Error,Please restart."));
}

void MyWidget::on_comboBoxBaudrate_currentIndexChanged(int index)
{
    if (const auto rate = LineParams::baudRate(index))
        serialPort->setBaudRate(*rate);
}

void MyWidget::on_comboBoxParity_currentIndexChanged(int index)
{
    if (const auto parity = LineParams::parity(index))
        serialPort->setParity(*parity);
}

void MyWidget::on_comboBoxCom_highlighted(int index)
{
    if (ui->comboBoxCom->count() == 0)
        return;
    const QString description =
        PortList::descriptionOf(ui->comboBoxCom->itemText(index), PortList::available());
    // The description comes from the adapter: shown as plain text. An empty
    // text hides the tooltip.
    QToolTip::showText(QCursor::pos(),
                       description.isEmpty()
                           ? QString()
                           : Qt::convertFromPlainText(description, Qt::WhiteSpaceNoWrap),
                       ui->comboBoxCom);
}

qint64 MyWidget::writeSerial(const QByteArray &bytes)
{
    // Bytes the camera sent before this write may still wait in the driver:
    // take them in now, so that they are not mistaken for the reply.
    if (serialPort->isOpen()) {
        serialPort->waitForReadyRead(0);
        readComDataSlot();
    }
    receiver->markWrite();
    return serialPort->write(bytes);
}

void MyWidget::readComDataSlot()
{
    receiver->feed(serialPort->readAll());
}

void MyWidget::onReplyStarted()
{
    replyHex.clear();
}

void MyWidget::onReplyBatch(const QByteArray &batch)
{
    replyHex = ReplyText::fromBytes(batch);
    if (!replyHex.isEmpty())
        TracePane::appendSoon(ui->textBrowserReceive, QString::fromLatin1(replyHex));

    if (!snReadPending)
        return;
    // The camera may still be confirming the serial-number writes: that is
    // no answer to the read.
    const QByteArray answer = ReplyText::withoutCommandReplies(replyHex);
    if (answer.isEmpty())
        return;
    snReadPending = false;
    snReadExpiry->stop();
    if (const auto number = ReplyText::serialNumber(answer, snLength))
        ui->lineEditSN->setText(*number);
}

std::optional<QByteArray> MyWidget::awaitAnswer(int timeoutMs)
{
    // Only a reply that completed after the inquiry went out answers it: an
    // older one, or none, is no answer. Late confirmations of earlier
    // commands are passed over while the time lasts.
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    if (!receiver->waitForFreshBatch(timeoutMs))
        return std::nullopt;
    for (;;) {
        const QByteArray answer = ReplyText::withoutCommandReplies(replyHex);
        if (!answer.isEmpty())
            return answer;
        const int left = int(deadline.remainingTime());
        if (left <= 0 || !Wait::forSignal(receiver, &ReplyReceiver::batchReady, left))
            return std::nullopt;
    }
}

void MyWidget::expectSerialNumberReply()
{
    snReadPending = true;
    snReadExpiry->start();
}

bool MyWidget::waitAck()
{
    // Only a reply that completed after our last write counts; the previous
    // reply, however it ended, is no acknowledge of this command.
    return receiver->waitForFreshBatch(kAckTimeoutMs)
        && ReplyText::lastByte(replyHex) == kAckByte;
}

void MyWidget::sleep(uint msec)
{
    Wait::sleep(static_cast<int>(qMin<uint>(msec, INT_MAX)));
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
