#include "firmware.h"

#include "eventlog.h"

#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

namespace {

// A byte that starts nothing and is followed by silence this long is given
// up as garbage; so is an unfinished frame.
constexpr int kIdleFlushMs = 100;

// VISCA: header byte 8x (x = camera address), message, terminator FF.
constexpr quint8 kViscaTerminator = 0xFF;
constexpr quint8 kViscaCommand = 0x01;
// Replies: header z0 (z = address + 8), then
constexpr quint8 kViscaAck = 0x41;        // z0 41 FF, socket 1
constexpr quint8 kViscaCompletion = 0x51; // z0 51 FF, socket 1
constexpr quint8 kViscaAnswer = 0x50;     // z0 50 ... FF, inquiry answer
constexpr quint8 kViscaError = 0x60;      // z0 60 02 FF, syntax error
constexpr quint8 kViscaSyntaxError = 0x02;

// The answer to the communication test is the camera's version block:
// vendor, model, ROM version, socket count.
constexpr quint16 kVendorId = 0x0020;
constexpr quint16 kModelId = 0x0511;
constexpr quint16 kRomVersion = 0x0100;
constexpr quint8 kSocketCount = 0x02;

// Factory service frames: 8x 01 06 61 Ck 93 a b FF writes serial-number
// characters 2k and 2k+1; 8x 01 06 61 Dk 87 a b FF writes logo bytes.
constexpr quint8 kServiceWrite = 0x61;
constexpr quint8 kSerialNumberIndexBase = 0xC0;
constexpr quint8 kSerialNumberTag = 0x93;
constexpr quint8 kLogoIndexBase = 0xD0;
constexpr quint8 kLogoTag = 0x87;
constexpr int kServiceFramesMax = 8;      // 16 bytes of memory each
constexpr int kSerialNumberMaxLength = 15; // the 16th byte is padding
constexpr int kServiceMemoryBytes = 2 * kServiceFramesMax;

// Pelco: the same direction bits in Pelco-D command 2 and Pelco-P data 2.
constexpr quint8 kPelcoRight = 0x02;
constexpr quint8 kPelcoLeft = 0x04;
constexpr quint8 kPelcoUp = 0x08;
constexpr quint8 kPelcoDown = 0x10;
constexpr quint8 kPelcoZoomTele = 0x20;
constexpr quint8 kPelcoZoomWide = 0x40;
constexpr quint8 kPelcoDFocusFar = 0x80; // command 2
constexpr quint8 kPelcoDFocusNear = 0x01; // command 1
constexpr quint8 kPelcoPFocusFar = 0x01; // data 1
constexpr quint8 kPelcoPFocusNear = 0x02; // data 1
constexpr quint8 kPelcoPresetSet = 0x03;
constexpr quint8 kPelcoPresetClear = 0x05;
constexpr quint8 kPelcoPresetCall = 0x07;

QString text(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

quint8 replyHeaderFor(int address)
{
    // Addresses 0 to 7 answer with (address + 8) in the high nibble; the
    // header has no room for more.
    return quint8(((address & 0x07) + 8) << 4);
}

QByteArray bytesOf(std::initializer_list<quint8> values)
{
    QByteArray bytes;
    for (quint8 value : values)
        bytes.append(char(value));
    return bytes;
}

QString latin1Text(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray upToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

enum class ViscaKind {
    Command,          // acknowledged, then completed
    ZoomInquiry,
    FocusInquiry,
    CommTest,
    ReadVersion,
    ReadSerialNumber,
    WriteSerialNumber,
    WriteLogo,
    EnterIap,
    ExitIap,
    UnknownCommand,   // 8x 01 ...: acknowledged and completed all the same
    Unknown,          // anything else: syntax error
};

struct ViscaDecoded
{
    ViscaKind kind = ViscaKind::Unknown;
    QString name = text("unknown");
    QJsonObject fields;
    int index = -1;   // service frames: frame number k
    QByteArray pair;  // service frames: the two data bytes
};

// The messages without parameters: the bytes between the header and the
// terminator, as the camera's command list gives them.
struct FixedMessage
{
    const char *hex;
    ViscaKind kind;
    const char *name;
    const char *corner; // limit clear: which corner, else nullptr
};

const FixedMessage kFixedMessages[] = {
    {"090447", ViscaKind::ZoomInquiry, "inquiry-zoom-position", nullptr},
    {"090448", ViscaKind::FocusInquiry, "inquiry-focus-position", nullptr},
    {"090002", ViscaKind::CommTest, "comm-test", nullptr},
    {"096c3e", ViscaKind::ReadSerialNumber, "read-sn", nullptr},
    {"01064555", ViscaKind::ReadVersion, "read-version", nullptr},
    {"01040700", ViscaKind::Command, "zoom-stop", nullptr},
    {"01040702", ViscaKind::Command, "zoom-tele", nullptr},
    {"01040703", ViscaKind::Command, "zoom-wide", nullptr},
    {"01040800", ViscaKind::Command, "focus-stop", nullptr},
    {"01040802", ViscaKind::Command, "focus-far", nullptr},
    {"01040803", ViscaKind::Command, "focus-near", nullptr},
    {"01043802", ViscaKind::Command, "focus-auto", nullptr},
    {"01043803", ViscaKind::Command, "focus-manual", nullptr},
    {"01040002", ViscaKind::Command, "power-on", nullptr},
    {"01040003", ViscaKind::Command, "power-off", nullptr},
    {"010604", ViscaKind::Command, "home", nullptr},
    {"010605", ViscaKind::Command, "pan-tilt-reset", nullptr},
    {"01064357", ViscaKind::Command, "picture-flip", nullptr},
    {"01064456", ViscaKind::Command, "picture-normal", nullptr},
    {"01064163", ViscaKind::Command, "zoom-reset", nullptr},
    {"01060701 01 070f0f0f 070f0f0f", ViscaKind::Command, "limit-clear", "up-right"},
    {"01060701 00 070f0f0f 070f0f0f", ViscaKind::Command, "limit-clear", "down-left"},
};

// The IAP frames are fixed, header 89 included: they carry no camera address.
const FixedMessage kIapFrames[] = {
    {"89 02076358 ff", ViscaKind::EnterIap, "enter-iap", nullptr},
    {"89 02076357 ff", ViscaKind::ExitIap, "exit-iap", nullptr},
};

ViscaDecoded decodeVisca(const QByteArray &frame)
{
    ViscaDecoded decoded;
    const auto named = [&decoded](const FixedMessage &row) {
        decoded.kind = row.kind;
        decoded.name = text(row.name);
        if (row.corner)
            decoded.fields.insert(text("corner"), text(row.corner));
    };

    for (const FixedMessage &row : kIapFrames) {
        if (frame == QByteArray::fromHex(row.hex)) {
            named(row);
            return decoded;
        }
    }

    // The message between the header and the terminator.
    const QByteArray m = frame.mid(1, frame.size() - 2);
    for (const FixedMessage &row : kFixedMessages) {
        if (m == QByteArray::fromHex(row.hex)) {
            named(row);
            return decoded;
        }
    }
    if (m.isEmpty() || quint8(m.at(0)) != kViscaCommand)
        return decoded; // unknown inquiry or category: syntax error

    decoded.kind = ViscaKind::UnknownCommand;
    const auto at = [&m](int i) { return quint8(m.at(i)); };
    const auto startsWith = [&m](std::initializer_list<quint8> pattern, int length) {
        return m.size() == length && m.startsWith(bytesOf(pattern));
    };
    const auto command = [&decoded](const char *name) {
        decoded.kind = ViscaKind::Command;
        decoded.name = text(name);
    };

    // Pan/tilt drive: 01 06 01 VV WW 0p 0t (p: 1 left, 2 right, 3 stop;
    // t: 1 up, 2 down, 3 stop).
    if (startsWith({kViscaCommand, 0x06, 0x01}, 7)) {
        static const char *const kDrive[4][4] = {
            {nullptr, nullptr, nullptr, nullptr},
            {nullptr, "up-left", "down-left", "pan-left"},
            {nullptr, "up-right", "down-right", "pan-right"},
            {nullptr, "tilt-up", "tilt-down", "pan-tilt-stop"},
        };
        const quint8 pan = at(5);
        const quint8 tilt = at(6);
        if (pan >= 1 && pan <= 3 && tilt >= 1 && tilt <= 3) {
            command(kDrive[pan][tilt]);
            decoded.fields.insert(text("pan_speed"), at(3));
            decoded.fields.insert(text("tilt_speed"), at(4));
        }
        return decoded;
    }
    // Presets: 01 04 3F 0x NN (x: 0 clear, 1 set, 2 call).
    if (startsWith({kViscaCommand, 0x04, 0x3F}, 5) && at(3) <= 2) {
        static const char *const kPreset[] = {"preset-clear", "preset-set", "preset-call"};
        command(kPreset[at(3)]);
        decoded.fields.insert(text("preset"), at(4));
        return decoded;
    }
    // Zoom at a speed: 01 04 07 2p (tele) or 3p (wide), p = 0 to 7.
    if (startsWith({kViscaCommand, 0x04, 0x07}, 4)) {
        const quint8 direction = at(3) & 0xF0;
        if ((direction == 0x20 || direction == 0x30) && (at(3) & 0x0F) <= 7) {
            command(direction == 0x20 ? "zoom-tele" : "zoom-wide");
            decoded.fields.insert(text("speed"), at(3) & 0x0F);
        }
        return decoded;
    }
    // Service writes: 01 06 61 Ck 93 a b and 01 06 61 Dk 87 a b.
    if (startsWith({kViscaCommand, 0x06, kServiceWrite}, 7)) {
        const quint8 slot = at(3);
        const int index = slot & 0x0F;
        if (index < kServiceFramesMax) {
            if ((slot & 0xF0) == kSerialNumberIndexBase && at(4) == kSerialNumberTag) {
                decoded.kind = ViscaKind::WriteSerialNumber;
                decoded.name = text("write-sn");
            } else if ((slot & 0xF0) == kLogoIndexBase && at(4) == kLogoTag) {
                decoded.kind = ViscaKind::WriteLogo;
                decoded.name = text("write-logo");
            }
        }
        if (decoded.kind != ViscaKind::UnknownCommand) {
            decoded.index = index;
            decoded.pair = m.mid(5, 2);
            decoded.fields.insert(text("index"), index);
            decoded.fields.insert(text("data"), hexOf(decoded.pair));
        }
    }
    return decoded;
}

// Pelco pan/tilt direction from the four direction bits; empty for a
// contradiction (left and right together).
QString directionName(quint8 bits)
{
    const bool left = bits & kPelcoLeft;
    const bool right = bits & kPelcoRight;
    const bool up = bits & kPelcoUp;
    const bool down = bits & kPelcoDown;
    if ((left && right) || (up && down))
        return QString();
    const QString horizontal = left ? text("left") : right ? text("right") : QString();
    const QString vertical = up ? text("up") : down ? text("down") : QString();
    if (!horizontal.isEmpty() && !vertical.isEmpty())
        return vertical + QLatin1Char('-') + horizontal;
    if (!horizontal.isEmpty())
        return text("pan-") + horizontal;
    if (!vertical.isEmpty())
        return text("tilt-") + vertical;
    return QString();
}

// Shared by Pelco-D and Pelco-P, which differ only in where the bits sit.
void decodePelco(quint8 motion, bool focusFar, bool focusNear, bool unknownBits, quint8 panSpeed,
                 quint8 tiltSpeed, QJsonObject &entry)
{
    QString command;
    const bool moving = motion & (kPelcoLeft | kPelcoRight | kPelcoUp | kPelcoDown);
    const bool tele = motion & kPelcoZoomTele;
    const bool wide = motion & kPelcoZoomWide;
    QStringList parts;
    bool contradiction = (tele && wide) || (focusFar && focusNear);
    if (moving) {
        const QString direction = directionName(motion);
        if (direction.isEmpty())
            contradiction = true;
        parts.append(direction);
        if (motion & (kPelcoLeft | kPelcoRight))
            entry.insert(text("pan_speed"), panSpeed);
        if (motion & (kPelcoUp | kPelcoDown))
            entry.insert(text("tilt_speed"), tiltSpeed);
    }
    if (tele)
        parts.append(text("zoom-tele"));
    if (wide)
        parts.append(text("zoom-wide"));
    if (focusFar)
        parts.append(text("focus-far"));
    if (focusNear)
        parts.append(text("focus-near"));
    if (unknownBits || contradiction)
        command = text("unknown");
    else if (parts.isEmpty())
        command = text("stop");
    else
        command = parts.join(QLatin1Char('+'));
    entry.insert(text("command"), command);
}

bool decodePelcoPreset(quint8 zeroA, quint8 code, quint8 zeroB, quint8 preset, QJsonObject &entry)
{
    if (zeroA != 0 || zeroB != 0)
        return false;
    const char *name = code == kPelcoPresetSet     ? "preset-set"
                       : code == kPelcoPresetClear ? "preset-clear"
                       : code == kPelcoPresetCall  ? "preset-call"
                                                   : nullptr;
    if (!name)
        return false;
    entry.insert(text("command"), text(name));
    entry.insert(text("preset"), preset);
    return true;
}

} // namespace

FirmwarePersonality::FirmwarePersonality(EventLog &eventLog, CameraState &cameraState,
                                         int completionDelay, QObject *parent)
    : Personality(parent),
      log(eventLog),
      state(cameraState),
      completionDelayMs(completionDelay),
      framer(&FirmwarePersonality::knows)
{
    idleTimer.setSingleShot(true);
    idleTimer.setInterval(kIdleFlushMs);
    connect(&idleTimer, &QTimer::timeout, this, [this] { drain(true); });
}

bool FirmwarePersonality::knows(const QByteArray &viscaFrame)
{
    const ViscaKind kind = decodeVisca(viscaFrame).kind;
    return kind != ViscaKind::Unknown && kind != ViscaKind::UnknownCommand;
}

void FirmwarePersonality::bytesArrived(const QByteArray &bytes)
{
    framer.append(bytes);
    drain(false);
}

void FirmwarePersonality::messageEnded()
{
    drain(true);
}

void FirmwarePersonality::drain(bool final)
{
    while (std::optional<Framer::Item> item = framer.next(final))
        handle(*item);
    if (framer.hasPending())
        idleTimer.start();
    else
        idleTimer.stop();
}

void FirmwarePersonality::handle(const Framer::Item &item)
{
    QJsonObject entry{{text("dir"), text("rx")}, {text("hex"), hexOf(item.bytes)}};
    if (!via.isEmpty())
        entry.insert(text("via"), via);
    if (item.garbage) {
        entry.insert(text("protocol"), text("unknown"));
        entry.insert(text("checksum"), text("none"));
        log.write(entry);
        return;
    }

    const auto byte = [&item](int i) { return quint8(item.bytes.at(i)); };
    switch (item.protocol) {
    case Framer::Protocol::PelcoD:
        // FF addr cmd1 cmd2 data1 data2 sum. Command 1 bit 0 is focus near;
        // a frame with its other bits (iris, camera on/off, scan) or with
        // command 2 bit 0 (extended commands other than the presets) is not
        // one this camera knows.
        entry.insert(text("protocol"), text("pelco-d"));
        entry.insert(text("checksum"), text(item.checkOk ? "ok" : "bad"));
        entry.insert(text("address"), byte(1));
        if (!decodePelcoPreset(byte(2), byte(3), byte(4), byte(5), entry))
            decodePelco(byte(3), byte(3) & kPelcoDFocusFar, byte(2) & kPelcoDFocusNear,
                        (byte(2) & ~kPelcoDFocusNear) != 0 || (byte(3) & 0x01) != 0,
                        byte(4), byte(5), entry);
        log.write(entry); // Pelco is never answered.
        return;
    case Framer::Protocol::PelcoP:
        // A0 addr d1 d2 d3 d4 AF xor. The address byte is the camera address
        // minus one.
        entry.insert(text("protocol"), text("pelco-p"));
        entry.insert(text("checksum"), text(item.checkOk ? "ok" : "bad"));
        entry.insert(text("address"), (byte(1) + 1) & 0xFF);
        if (!decodePelcoPreset(byte(2), byte(3), byte(4), byte(5), entry))
            decodePelco(byte(3), byte(2) & kPelcoPFocusFar, byte(2) & kPelcoPFocusNear,
                        (byte(2) & ~(kPelcoPFocusFar | kPelcoPFocusNear)) != 0
                            || (byte(3) & 0x81) != 0,
                        byte(4), byte(5), entry);
        log.write(entry);
        return;
    case Framer::Protocol::Visca:
        entry.insert(text("protocol"), text("visca"));
        entry.insert(text("checksum"), text("none"));
        entry.insert(text("address"), byte(0) & 0x0F);
        handleVisca(item.bytes, entry);
        return;
    }
}

void FirmwarePersonality::handleVisca(const QByteArray &frame, QJsonObject &entry)
{
    const ViscaDecoded decoded = decodeVisca(frame);
    entry.insert(text("command"), decoded.name);
    for (auto it = decoded.fields.constBegin(); it != decoded.fields.constEnd(); ++it)
        entry.insert(it.key(), it.value());

    const quint8 header = replyHeaderFor(quint8(frame.at(0)) & 0x0F);
    const auto answer = [this, header](const QByteArray &data) {
        QByteArray bytes;
        bytes.append(char(header));
        bytes.append(char(kViscaAnswer));
        bytes.append(data);
        bytes.append(char(kViscaTerminator));
        emit reply(bytes);
    };
    const auto positionDigits = [](quint16 position) {
        // Four nibbles, most significant first, one per byte: 0p 0q 0r 0s.
        return bytesOf({quint8((position >> 12) & 0x0F), quint8((position >> 8) & 0x0F),
                        quint8((position >> 4) & 0x0F), quint8(position & 0x0F)});
    };

    switch (decoded.kind) {
    case ViscaKind::WriteSerialNumber:
        storeSerialNumberPair(decoded.index, decoded.pair);
        entry.insert(text("sn"), latin1Text(state.serialNumber));
        break;
    case ViscaKind::WriteLogo:
        storeLogoPair(decoded.index, decoded.pair);
        entry.insert(text("logo"), latin1Text(upToZero(state.logo)));
        break;
    case ViscaKind::ReadSerialNumber:
        entry.insert(text("sn"), latin1Text(state.serialNumber));
        break;
    case ViscaKind::ReadVersion:
        entry.insert(text("version"), state.softwareVersion);
        break;
    case ViscaKind::ZoomInquiry:
        entry.insert(text("position"), state.zoomPosition);
        break;
    case ViscaKind::FocusInquiry:
        entry.insert(text("position"), state.focusPosition);
        break;
    default:
        break;
    }
    // The frame is on record before anything is answered.
    log.write(entry);

    switch (decoded.kind) {
    case ViscaKind::Command:
    case ViscaKind::UnknownCommand:
    case ViscaKind::WriteSerialNumber:
    case ViscaKind::WriteLogo:
        acknowledgeAndComplete(header);
        break;
    case ViscaKind::ZoomInquiry:
        answer(positionDigits(state.zoomPosition));
        break;
    case ViscaKind::FocusInquiry:
        answer(positionDigits(state.focusPosition));
        break;
    case ViscaKind::CommTest:
        // z0 50 GG GG HH HH JJ JJ KK FF: vendor, model, ROM version, sockets.
        answer(bytesOf({quint8(kVendorId >> 8), quint8(kVendorId & 0xFF), quint8(kModelId >> 8),
                        quint8(kModelId & 0xFF), quint8(kRomVersion >> 8),
                        quint8(kRomVersion & 0xFF), kSocketCount}));
        break;
    case ViscaKind::ReadVersion:
        // z0 50 00 VV FF: the version byte is the fourth byte of the answer.
        answer(bytesOf({0x00, state.softwareVersion}));
        break;
    case ViscaKind::ReadSerialNumber:
        // z0 50 s0 ... sN-1 FF, as many characters as were written (12 or 15).
        answer(state.serialNumber);
        break;
    case ViscaKind::EnterIap:
        emit modeRequested(Mode::Bootloader);
        break;
    case ViscaKind::ExitIap:
        // The firmware is already running: nothing to leave.
        break;
    case ViscaKind::Unknown:
        emit reply(bytesOf({header, kViscaError, kViscaSyntaxError, kViscaTerminator}));
        break;
    }
}

void FirmwarePersonality::acknowledgeAndComplete(quint8 replyHeader)
{
    emit reply(bytesOf({replyHeader, kViscaAck, kViscaTerminator}));
    QTimer::singleShot(completionDelayMs, this, [this, replyHeader] {
        emit reply(bytesOf({replyHeader, kViscaCompletion, kViscaTerminator}));
    });
}

void FirmwarePersonality::storeSerialNumberPair(int index, const QByteArray &pair)
{
    // Frame 0 starts a new number. The number is as long as the frames
    // written so far reach: 6 frames give 12 characters, 8 frames give 15
    // (the last frame carries the 15th character and a padding zero).
    if (index == 0 || serialNumberBuffer.isEmpty()) {
        serialNumberBuffer = QByteArray(kServiceMemoryBytes, '\0');
        serialNumberFrames = 0;
    }
    serialNumberBuffer.replace(2 * index, 2, pair);
    serialNumberFrames = std::max(serialNumberFrames, index + 1);
    state.serialNumber =
        serialNumberBuffer.left(std::min(2 * serialNumberFrames, kSerialNumberMaxLength));
}

void FirmwarePersonality::storeLogoPair(int index, const QByteArray &pair)
{
    if (index == 0 || logoBuffer.isEmpty()) {
        logoBuffer = QByteArray(kServiceMemoryBytes, '\0');
        logoFrames = 0;
    }
    logoBuffer.replace(2 * index, 2, pair);
    logoFrames = std::max(logoFrames, index + 1);
    state.logo = logoBuffer.left(2 * logoFrames);
}
