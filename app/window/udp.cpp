// The UDP link to a camera on the network, as the window switches it: Connect
// records the camera's address and port and unlocks the camera controls;
// every frame then also goes out as one datagram (see sendFrame). The
// camera's replies come back to the port the frames leave from and are
// shown as text; nothing from another address is, and nothing after
// Disconnect.

#include "mywidget.h"

#include "app/styles.h"
#include "app/tracepane.h"
#include "link/udplink.h"
#include "ui_mywidget.h"

#include <QHostAddress>

void MyWidget::on_btn_cfg_clicked()
{
    if (!udpLink->isConnected()) {
        // A datagram carries the low 16 bits of the port: 70000 reaches 4464.
        udpLink->connectTo(QHostAddress(ui->txt_ip->text()), ui->txt_port_tx->text().toInt(nullptr, 10));
        connect(udpLink, &UdpLink::datagramsPending, this, &MyWidget::rx_udp, Qt::UniqueConnection);
        ui->btn_cfg->setStyleSheet(Styles::kLinkUp);
        ui->btn_cfg->setText(tr("Disconnect"));
        ui->txt_ip->setEnabled(false);
        ui->txt_port_tx->setEnabled(false);
        if (!serialOpen())
            setCommandGroupsEnabled(true);
        return;
    }

    udpLink->disconnectFrom();
    ui->btn_cfg->setStyleSheet(Styles::kLinkDown);
    ui->btn_cfg->setText(tr("Connect"));
    ui->txt_ip->setEnabled(true);
    ui->txt_port_tx->setEnabled(true);
    if (serialOpen())
        return;
    setCommandGroupsEnabled(false);
    ui->pushButtonComm->setStyleSheet(Styles::kCommUntested);
    ui->pushButton_2->setEnabled(true);
}

void MyWidget::rx_udp()
{
    TracePane::appendPlain(ui->textBrowserReceive, udpLink->readTurn());
}
