#ifndef QUILLON_MYWIDGETTESTACCESS_H
#define QUILLON_MYWIDGETTESTACCESS_H

#include "link/serialline.h"
#include "link/udplink.h"
#include "mywidget.h"

// The few inner states of the window that no control shows.
class MyWidgetTestAccess
{
public:
    static bool serialOpen(const MyWidget &w) { return w.serialOpen(); }
    // The port the system gave the UDP socket: frames leave from it, the
    // camera's replies come back to it (0 while disconnected).
    static quint16 udpLocalPort(const MyWidget &w) { return w.udpLink->localPort(); }
    // A bootloader job (an upgrade or a single step) holds the line.
    static bool jobRunning(const MyWidget &w) { return w.job != nullptr; }
    static SerialLine &serialLine(MyWidget &w) { return *w.serialLine; }
    // An inquiry waits for its answer, or for its turn.
    static bool inquiryPending(const MyWidget &w) { return w.pendingAnswer || !w.queuedInquiries.isEmpty(); }
};

#endif // QUILLON_MYWIDGETTESTACCESS_H
