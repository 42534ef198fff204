#include "udplink.h"

#include <QElapsedTimer>
#include <QUdpSocket>

UdpLink::UdpLink(QObject *parent) : QObject(parent), socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, &UdpLink::datagramsPending);
}

void UdpLink::connectTo(const QHostAddress &address, int port)
{
    peerAddress = address;
    peerPort = quint16(port);
    // Every local address, so that the camera's replies come back whichever
    // interface leads to it; a port of the system's choice, the source port
    // of every frame.
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->bind(QHostAddress::Any, 0);
    connected = true;
}

void UdpLink::disconnectFrom()
{
    // The port is given back: datagrams that still come find nothing
    // listening, and the kernel drops them.
    socket->close();
    connected = false;
}

void UdpLink::send(const QByteArray &frame)
{
    if (connected)
        socket->writeDatagram(frame, peerAddress, peerPort);
}

QStringList UdpLink::readTurn()
{
    QStringList texts;
    int characters = 0;
    int datagrams = 0;
    QElapsedTimer reading;
    reading.start();
    while (connected && datagrams < kMaxDatagramsPerTurn && characters < kMaxCharactersPerTurn
           && !reading.hasExpired(kMaxReadMsPerTurn) && socket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(socket->pendingDatagramSize(), 0)), Qt::Uninitialized);
        QHostAddress sender;
        const qint64 read = socket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (read < 0)
            break; // the socket failed; what is left is not readable
        ++datagrams;
        // The camera may answer from another port than the one its frames
        // went to (some answer from a socket of their own), so its address
        // alone tells its replies. A socket on every address sees IPv4
        // senders as IPv4-mapped IPv6 on some systems.
        if (!sender.isEqual(peerAddress, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        datagram.truncate(int(read));
        texts.append(textOf(datagram));
        characters += int(texts.constLast().size());
    }
    return texts;
}

quint16 UdpLink::localPort() const
{
    return socket->localPort();
}

QString UdpLink::textOf(const QByteArray &datagram)
{
    const int end = datagram.indexOf('\0');
    return QString::fromUtf8(end >= 0 ? datagram.left(end) : datagram);
}
