#ifndef QUILLON_UDPLINK_H
#define QUILLON_UDPLINK_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>

class QUdpSocket;

// The UDP link to a camera on the network. It is connectionless: connecting
// records the camera's address and port and opens one socket on a port of
// the system's choice; every frame goes out of that socket as one datagram,
// and the camera answers to the port its frames came from, so the replies
// come back on the same socket. Only datagrams from the camera's address
// are read as its replies; disconnecting closes the socket, and nothing
// more is received.
class UdpLink : public QObject
{
    Q_OBJECT

public:
    // A camera on a busy network, or a stranger, may send datagrams faster
    // than a window can show them. One turn takes what has come, up to these
    // limits, and returns to the event loop; the socket announces the rest
    // at once. What the kernel cannot hold meanwhile, it drops. Showing the
    // text costs most: a turn stops once it has gathered about as many
    // characters as a text pane lays out in a few tens of milliseconds.
    static constexpr int kMaxDatagramsPerTurn = 256;
    static constexpr int kMaxCharactersPerTurn = 16384;
    static constexpr qint64 kMaxReadMsPerTurn = 5;

    explicit UdpLink(QObject *parent = nullptr);

    // Records the camera; datagrams carry the low 16 bits of `port`.
    void connectTo(const QHostAddress &address, int port);
    void disconnectFrom();
    bool isConnected() const { return connected; }

    // One datagram to the camera, when connected; an empty frame is an empty
    // datagram.
    void send(const QByteArray &frame);

    // The texts of the camera's datagrams of one turn, in order. Datagrams
    // from any other address are read and dropped.
    QStringList readTurn();
    // The local port the frames leave from and the replies come back to
    // (0 while disconnected).
    quint16 localPort() const;

    // What a datagram from the camera reads as: its text up to the first zero
    // byte (the camera's string terminator), as UTF-8.
    static QString textOf(const QByteArray &datagram);

signals:
    // Datagrams wait to be read with readTurn().
    void datagramsPending();

private:
    QUdpSocket *socket;
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    bool connected = false;
};

#endif // QUILLON_UDPLINK_H
