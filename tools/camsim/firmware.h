#ifndef CAMSIM_FIRMWARE_H
#define CAMSIM_FIRMWARE_H

#include "framer.h"
#include "personality.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QTimer>

class EventLog;

// What the camera firmware keeps that the window can read back.
struct CameraState
{
    quint16 zoomPosition = 0x4000;
    quint16 focusPosition = 0x1000;
    quint8 softwareVersion = 0x12;
    QByteArray serialNumber = QByteArrayLiteral("Q217MXTA0001");
    QByteArray logo;
};

// The camera's own firmware on the serial line: Pelco-D and Pelco-P frames are
// obeyed silently; VISCA commands are acknowledged and completed; the VISCA
// inquiries and the factory service frames are answered; the IAP frames hand
// the line to the bootloader.
//
// The camera's state is shared: the serial line and the UDP link talk to one
// camera, and what it stores survives a trip through the bootloader.
class FirmwarePersonality : public Personality
{
    Q_OBJECT

public:
    FirmwarePersonality(EventLog &log, CameraState &state, int completionDelayMs,
                        QObject *parent = nullptr);

    Mode mode() const override { return Mode::Firmware; }
    void bytesArrived(const QByteArray &bytes) override;

    // The bytes so far are a whole message (a datagram): whatever forms no
    // frame is garbage now, not the start of one.
    void messageEnded();

    // Every record of this firmware carries "via": `link` (empty: none).
    void setVia(const QString &link) { via = link; }

    // Whether a VISCA-shaped frame is one this firmware understands.
    static bool knows(const QByteArray &viscaFrame);

private:
    void drain(bool final);
    void handle(const Framer::Item &item);
    void handleVisca(const QByteArray &frame, QJsonObject &entry);
    void acknowledgeAndComplete(quint8 replyHeader);
    void storeSerialNumberPair(int index, const QByteArray &pair);
    void storeLogoPair(int index, const QByteArray &pair);

    EventLog &log;
    CameraState &state;
    QString via;
    const int completionDelayMs;
    Framer framer;
    QTimer idleTimer;

    // Serial number and logo arrive two characters per frame; frame 0 starts
    // a new text.
    QByteArray serialNumberBuffer;
    int serialNumberFrames = 0;
    QByteArray logoBuffer;
    int logoFrames = 0;
};

#endif // CAMSIM_FIRMWARE_H
