#ifndef QUILLON_MYWIDGETTESTACCESS_H
#define QUILLON_MYWIDGETTESTACCESS_H

#include "mywidget.h"

#include <QUdpSocket>

// The few inner states of the window that no control shows, and the write
// path that only later commands use.
class MyWidgetTestAccess
{
public:
    static QByteArray replyHex(const MyWidget &w) { return w.replyHex; }
    static bool snReadPending(const MyWidget &w) { return w.snReadPending; }
    static bool serialOpen(const MyWidget &w) { return w.serialOpen; }
    static void setSnLength(MyWidget &w, int length) { w.snLength = length; }
    static void setUdpConnected(MyWidget &w, bool up) { w.udpConnected = up; }
    static void expectSerialNumberReply(MyWidget &w) { w.expectSerialNumberReply(); }
    static qint64 writeSerial(MyWidget &w, const QByteArray &bytes) { return w.writeSerial(bytes); }
    static bool udpConnected(const MyWidget &w) { return w.udpConnected; }
    // The port the system gave the UDP receive socket (0 before Connect).
    static quint16 udpReceivePort(const MyWidget &w) { return w.udpRxSocket->localPort(); }
};

#endif // QUILLON_MYWIDGETTESTACCESS_H
