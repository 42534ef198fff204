#include "serialbootlink.h"

#include "replyreceiver.h"
#include "wait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSerialPort>

SerialBootLink::SerialBootLink(QSerialPort &serialPort, ReplyReceiver &replyReceiver,
                               Writer writer, QObject *parent)
    : QObject(parent), port(serialPort), receiver(replyReceiver), write(std::move(writer))
{
}

void SerialBootLink::send(const QByteArray &bytes)
{
    if (stopped || lost || !port.isOpen())
        return;
    write(bytes);
    // Hand the bytes to the driver now: a close or a line change right after
    // must not find them still in Qt's buffer.
    port.flush();
}

std::optional<quint8> SerialBootLink::receive(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    while (!stopped && !lost && port.isOpen()) {
        if (receiver.hasFreshByte())
            return receiver.takeFreshByte();
        if (deadline.hasExpired())
            break;
        QEventLoop loop;
        connect(&receiver, &ReplyReceiver::bytesFed, &loop, &QEventLoop::quit);
        connect(this, &SerialBootLink::stopRequested, &loop, &QEventLoop::quit);
        if (!Wait::runLoopUntilQuit(loop, int(qMax<qint64>(deadline.remainingTime(), 0)))
            && !receiver.hasFreshByte())
            break;
    }
    return std::nullopt;
}

void SerialBootLink::configure(qint32 baud, Parity parity)
{
    if (stopped || lost || !port.isOpen())
        return;
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(parity == Parity::Even ? QSerialPort::EvenParity : QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

void SerialBootLink::pause(int ms)
{
    if (stopped || lost)
        return;
    QEventLoop loop;
    connect(this, &SerialBootLink::stopRequested, &loop, &QEventLoop::quit);
    Wait::runLoopUntilQuit(loop, ms);
}

void SerialBootLink::abort()
{
    stopped = true;
    emit stopRequested();
}

void SerialBootLink::lineLost()
{
    lost = true;
    emit stopRequested();
}
