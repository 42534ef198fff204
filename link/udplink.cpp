// The UDP link to a camera on the network. It is connectionless: Connect
// records the camera's address and port, arms the receive socket and
// unlocks the camera controls; every frame then also goes out as one
// datagram (see sendFrame). Datagrams that arrive are shown as text.

#include "mywidget.h"

#include "app/styles.h"
#include "app/tracepane.h"
#include "link/replytext.h"
#include "ui_mywidget.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QUdpSocket>

namespace {

// After the link comes up the camera gets a second before the user sends
// anything, as after opening the serial port; the window stays responsive.
constexpr uint kSettleAfterConnectMs = 1000;

// Anyone on the network may send datagrams faster than the pane can show
// them. One turn takes what has come, up to these limits, shows it in one
// edit of the pane and returns to the event loop; the socket announces the
// rest at once. What the kernel cannot hold meanwhile, it drops. Laying out
// the text costs most: a turn stops once it has gathered about as many
// characters as the pane lays out in a few tens of milliseconds.
constexpr int kMaxDatagramsPerTurn = 256;
constexpr int kMaxCharactersPerTurn = 16384;
constexpr qint64 kMaxReadMsPerTurn = 5;

} // namespace

void MyWidget::on_btn_cfg_clicked()
{
    peerAddress = QHostAddress(ui->txt_ip->text());
    // A datagram carries the low 16 bits of the port: 70000 reaches 4464.
    peerPort = ui->txt_port_tx->text().toInt(nullptr, 10);

    // The receive socket takes a port of the system's choice on every local
    // address, once; it stays bound for the life of the window.
    if (udpRxSocket->state() == QAbstractSocket::UnconnectedState)
        udpRxSocket->bind(QHostAddress::Any, 0);

    if (!udpConnected) {
        udpConnected = true;
        connect(udpRxSocket, &QUdpSocket::readyRead, this, &MyWidget::rx_udp,
                Qt::UniqueConnection);
        ui->btn_cfg->setStyleSheet(Styles::kLinkUp);
        ui->btn_cfg->setText(tr("Disconnect"));
        ui->txt_ip->setEnabled(false);
        ui->txt_port_tx->setEnabled(false);
        if (serialOpen)
            return;
        setCommandGroupsEnabled(true);
        sleep(kSettleAfterConnectMs);
        return;
    }

    udpConnected = false;
    ui->btn_cfg->setStyleSheet(Styles::kLinkDown);
    ui->btn_cfg->setText(tr("Connect"));
    ui->txt_ip->setEnabled(true);
    ui->txt_port_tx->setEnabled(true);
    if (serialOpen)
        return;
    ui->pushButtonUpdata->setEnabled(false);
    setCommandGroupsEnabled(false);
    ui->pushButtonComm->setStyleSheet(Styles::kCommUntested);
    ui->pushButton_2->setEnabled(true);
    // Datagrams that still come are shown: the receive side stays armed.
}

void MyWidget::rx_udp()
{
    QStringList texts;
    int characters = 0;
    QElapsedTimer reading;
    reading.start();
    while (texts.size() < kMaxDatagramsPerTurn && characters < kMaxCharactersPerTurn
           && !reading.hasExpired(kMaxReadMsPerTurn) && udpRxSocket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(udpRxSocket->pendingDatagramSize(), 0)),
                            Qt::Uninitialized);
        const qint64 read = udpRxSocket->readDatagram(datagram.data(), datagram.size());
        if (read < 0)
            break; // the socket failed; what is left is not readable
        datagram.truncate(int(read));
        texts.append(ReplyText::fromDatagram(datagram));
        characters += int(texts.constLast().size());
    }
    TracePane::appendPlain(ui->textBrowserReceive, texts);
}
