#ifndef QUILLON_SERIALWINDOW_H
#define QUILLON_SERIALWINDOW_H

#include "boxanswerer.h"
#include "link/portlist.h"
#include "mywidget.h"
#include "ptydevice.h"
#include "testenv.h"

#include <QStringList>

#include <memory>

// A window in a scratch directory whose port list holds one adapter: the
// slave of a pseudo-terminal whose other end the test plays as the camera.
// Message boxes are noted and answered.
class SerialWindow
{
public:
    static const QString kAdapterName;
    static const QString kAdapterDescription;

    SerialWindow();
    ~SerialWindow();

    MyWidget &window();
    PtyDevice &device() { return *pty; }
    QStringList boxesSeen() const { return boxes->seen(); }
    QStringList boxDetails() const { return boxes->details(); }
    QString storedText(const QString &key) const { return scratch.storedText(key); }

    // Replaces what the machine reports as its serial ports.
    static void listPorts(const QList<PortList::Port> &ports);
    // Presses Open; false when the port did not open.
    bool open();
    // The receive pane, one entry per paragraph.
    QStringList paneLines();

private:
    TestEnv::ScratchDir scratch;
    std::unique_ptr<PtyDevice> pty;
    std::unique_ptr<BoxAnswerer> boxes;
    std::unique_ptr<MyWidget> widget;
};

#endif // QUILLON_SERIALWINDOW_H
