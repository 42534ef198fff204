#include "serialwindow.h"

#include "mywidgettestaccess.h"

#include <QPushButton>
#include <QTextBrowser>

const QString SerialWindow::kAdapterName = QStringLiteral("ttyQD0");
const QString SerialWindow::kAdapterDescription = QStringLiteral("Quillon <b>bench</b> adapter & co");

SerialWindow::SerialWindow()
    : pty(std::make_unique<PtyDevice>()), boxes(std::make_unique<BoxAnswerer>())
{
    listPorts({{kAdapterName, pty->slavePath(), kAdapterDescription}});
}

SerialWindow::~SerialWindow()
{
    widget.reset();
    PortList::setSource({});
}

MyWidget &SerialWindow::window()
{
    if (!widget)
        widget = std::make_unique<MyWidget>();
    return *widget;
}

void SerialWindow::listPorts(const QList<PortList::Port> &ports)
{
    PortList::setSource([ports] { return ports; });
}

bool SerialWindow::open()
{
    TestEnv::control<QPushButton>(&window(), "pushButtonOpen")->click();
    return MyWidgetTestAccess::serialOpen(window());
}

QStringList SerialWindow::paneLines()
{
    return TestEnv::paneLines(&window());
}
