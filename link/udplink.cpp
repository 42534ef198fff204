#include "udplink.h"

#include <QElapsedTimer>
#include <QUdpSocket>

UdpLink::UdpLink(QObject *parent)
    : QObject(parent), sendSocket(new QUdpSocket(this)), receiveSocket(new QUdpSocket(this))
{
    connect(receiveSocket, &QUdpSocket::readyRead, this, &UdpLink::datagramsPending);
}

void UdpLink::connectTo(const QHostAddress &address, int port)
{
    peerAddress = address;
    peerPort = quint16(port);
    // The receive socket takes a port of the system's choice on every local
    // address, once; it stays bound for the life of the link.
    if (receiveSocket->state() == QAbstractSocket::UnconnectedState)
        receiveSocket->bind(QHostAddress::Any, 0);
    connected = true;
}

void UdpLink::disconnectFrom()
{
    // Datagrams that still come are shown: the receive side stays armed.
    connected = false;
}

void UdpLink::send(const QByteArray &frame)
{
    if (connected)
        sendSocket->writeDatagram(frame, peerAddress, peerPort);
}

QStringList UdpLink::readTurn()
{
    QStringList texts;
    int characters = 0;
    QElapsedTimer reading;
    reading.start();
    while (texts.size() < kMaxDatagramsPerTurn && characters < kMaxCharactersPerTurn
           && !reading.hasExpired(kMaxReadMsPerTurn) && receiveSocket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(receiveSocket->pendingDatagramSize(), 0)), Qt::Uninitialized);
        const qint64 read = receiveSocket->readDatagram(datagram.data(), datagram.size());
        if (read < 0)
            break; // the socket failed; what is left is not readable
        datagram.truncate(int(read));
        texts.append(textOf(datagram));
        characters += int(texts.constLast().size());
    }
    return texts;
}

quint16 UdpLink::receivePort() const
{
    return receiveSocket->localPort();
}

QString UdpLink::textOf(const QByteArray &datagram)
{
    const int end = datagram.indexOf('\0');
    return QString::fromUtf8(end >= 0 ? datagram.left(end) : datagram);
}
