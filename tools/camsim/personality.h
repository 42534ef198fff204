#ifndef CAMSIM_PERSONALITY_H
#define CAMSIM_PERSONALITY_H

#include <QByteArray>
#include <QObject>

// What answers on the camera's serial line. The camera is either running its
// own firmware (camera control, service and IAP frames at 9600 baud) or, after
// the Enter IAP frame, sitting in the STM32's ROM bootloader. Each is a
// personality: it is handed the bytes as they arrive and emits its replies;
// the simulator owns the line and swaps personalities when one asks for it.
class Personality : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Firmware, Bootloader };

    using QObject::QObject;

    virtual Mode mode() const = 0;
    virtual void bytesArrived(const QByteArray &bytes) = 0;

    // How many more bytes must arrive before the personality can act on what
    // it holds (the rest of a bootloader command's part). The line, pacing
    // bytes at wire speed, hands them over when that many are through.
    virtual int bytesWanted() const { return 1; }

signals:
    // One reply, written to the line as one burst.
    void reply(const QByteArray &bytes);
    // The device is switching to the other mode (the camera firmware jumps
    // into the bootloader on Enter IAP).
    void modeRequested(Personality::Mode mode);
};

#endif // CAMSIM_PERSONALITY_H
