#include "cameraframes.h"

#include <array>

namespace CameraFrames {

namespace {

constexpr quint8 kPelcoDSync = 0xFF;
constexpr quint8 kPelcoPStart = 0xA0;
constexpr quint8 kPelcoPEnd = 0xAF;
constexpr quint8 kViscaAddressBase = 0x80;
constexpr quint8 kViscaTerminator = 0xFF;

// Pelco-P numbers cameras from 0 on the wire, the address switch from 1.
constexpr int kPelcoPAddressOffset = -1;

constexpr int kDecimal = 10;
constexpr int kHexadecimal = 16;

// Where a frame byte comes from.
enum class Source : quint8 {
    End,          // past the last byte of the pattern
    Fixed,        // the byte itself
    PanTiltSpeed, // the pan/tilt speed field
    Preset,       // the preset number field
    ZoomSpeed,    // the zoom speed field plus an offset (VISCA 2p tele, 3p wide)
};

struct Slot
{
    constexpr Slot() = default;
    // Not explicit: the tables below write fixed bytes as plain numbers.
    constexpr Slot(quint8 fixed) : source(Source::Fixed), value(fixed) {}
    constexpr Slot(Source from, quint8 offset) : source(from), value(offset) {}

    Source source = Source::End;
    quint8 value = 0;
};

constexpr Slot S{Source::PanTiltSpeed, 0};
constexpr Slot N{Source::Preset, 0};
constexpr Slot ZoomTeleSpeed{Source::ZoomSpeed, 0x20};
constexpr Slot ZoomWideSpeed{Source::ZoomSpeed, 0x30};

// Pelco: the four bytes between the address and the check byte (Pelco-D
// cmd1 cmd2 data1 data2, Pelco-P data1..data4). Left at End for a command
// that only VISCA has.
using PelcoBytes = std::array<Slot, 4>;
// VISCA: the message between the header and the terminator.
using ViscaMessage = std::array<Slot, 7>;

struct Row
{
    Command command;
    PelcoBytes pelcoD;
    PelcoBytes pelcoP;
    ViscaMessage visca;
    // Home takes its address text as hexadecimal, and is a VISCA frame
    // whatever protocol is chosen (its button is locked under Pelco).
    int addressBase = kDecimal;
    bool viscaInEveryProtocol = false;
};

// The camera's command list. Pelco direction bits: 02 right, 04 left,
// 08 up, 10 down, 20 zoom tele, 40 zoom wide; the all-zero command stops
// every motion. VISCA pan/tilt drive: 01 06 01 VV WW 0p 0t with the one
// speed as both pan and tilt speed.
const Row kCommands[] = {
    {Command::Left, {0x00, 0x04, S, 0x00}, {0x00, 0x04, S, 0x00},
     {0x01, 0x06, 0x01, S, S, 0x01, 0x03}},
    {Command::Right, {0x00, 0x02, S, 0x00}, {0x00, 0x02, S, 0x00},
     {0x01, 0x06, 0x01, S, S, 0x02, 0x03}},
    {Command::Up, {0x00, 0x08, 0x00, S}, {0x00, 0x08, 0x00, S},
     {0x01, 0x06, 0x01, S, S, 0x03, 0x01}},
    {Command::Down, {0x00, 0x10, 0x00, S}, {0x00, 0x10, 0x00, S},
     {0x01, 0x06, 0x01, S, S, 0x03, 0x02}},
    {Command::UpLeft, {0x00, 0x0C, S, S}, {0x00, 0x0C, S, S},
     {0x01, 0x06, 0x01, S, S, 0x01, 0x01}},
    {Command::UpRight, {0x00, 0x0A, S, S}, {0x00, 0x0A, S, S},
     {0x01, 0x06, 0x01, S, S, 0x02, 0x01}},
    {Command::DownLeft, {0x00, 0x14, S, S}, {0x00, 0x14, S, S},
     {0x01, 0x06, 0x01, S, S, 0x01, 0x02}},
    {Command::DownRight, {0x00, 0x12, S, S}, {0x00, 0x12, S, S},
     {0x01, 0x06, 0x01, S, S, 0x02, 0x02}},
    {Command::PanTiltStop, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
     {0x01, 0x06, 0x01, 0x01, 0x01, 0x03, 0x03}},
    {Command::Home, {}, {}, {0x01, 0x06, 0x04}, kHexadecimal, true},
    {Command::CallPreset, {0x00, 0x07, 0x00, N}, {0x00, 0x07, 0x00, N},
     {0x01, 0x04, 0x3F, 0x02, N}},
    {Command::SetPreset, {0x00, 0x03, 0x00, N}, {0x00, 0x03, 0x00, N},
     {0x01, 0x04, 0x3F, 0x01, N}},
    {Command::ClearPreset, {0x00, 0x05, 0x00, N}, {0x00, 0x05, 0x00, N},
     {0x01, 0x04, 0x3F, 0x00, N}},
    // Pelco zooms at the camera's own speed; VISCA carries the speed 0..7.
    {Command::ZoomTele, {0x00, 0x20, 0x00, 0x00}, {0x00, 0x20, 0x00, 0x00},
     {0x01, 0x04, 0x07, ZoomTeleSpeed}},
    {Command::ZoomWide, {0x00, 0x40, 0x00, 0x00}, {0x00, 0x40, 0x00, 0x00},
     {0x01, 0x04, 0x07, ZoomWideSpeed}},
    {Command::ZoomStop, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
     {0x01, 0x04, 0x07, 0x00}},
    // Focus sits apart from the direction bits: Pelco-D far is cmd2 bit 7
    // and near cmd1 bit 0; Pelco-P far is data1 bit 0 and near bit 1.
    {Command::FocusFar, {0x00, 0x80, 0x00, 0x00}, {0x01, 0x00, 0x00, 0x00},
     {0x01, 0x04, 0x08, 0x02}},
    {Command::FocusNear, {0x01, 0x00, 0x00, 0x00}, {0x02, 0x00, 0x00, 0x00},
     {0x01, 0x04, 0x08, 0x03}},
    {Command::FocusStop, {0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00},
     {0x01, 0x04, 0x08, 0x00}},
    {Command::AutoFocus, {}, {}, {0x01, 0x04, 0x38, 0x02}},
    {Command::ManualFocus, {}, {}, {0x01, 0x04, 0x38, 0x03}},
    {Command::PowerOn, {}, {}, {0x01, 0x04, 0x00, 0x02}},
    {Command::PowerOff, {}, {}, {0x01, 0x04, 0x00, 0x03}},
    {Command::PictureFlip, {}, {}, {0x01, 0x06, 0x43, 0x57}},
    {Command::PictureNormal, {}, {}, {0x01, 0x06, 0x44, 0x56}},
    {Command::PanTiltReset, {}, {}, {0x01, 0x06, 0x05}},
    {Command::ZoomReset, {}, {}, {0x01, 0x06, 0x41, 0x63}},
    // Inquiries: the camera answers y0 50 0p 0q 0r 0s FF.
    {Command::ZoomPositionInquiry, {}, {}, {0x09, 0x04, 0x47}},
    {Command::FocusPositionInquiry, {}, {}, {0x09, 0x04, 0x48}},
};

const Row *rowOf(Command command)
{
    for (const Row &row : kCommands) {
        if (row.command == command)
            return &row;
    }
    return nullptr;
}

// A frame byte keeps the low 8 bits of a field's value after its offset;
// the sum is taken wide so that no field value can overflow it.
quint8 lowByte(qint64 value)
{
    return quint8(value & 0xFF);
}

struct Values
{
    int panTiltSpeed;
    int preset;
    int zoomSpeed;
};

quint8 byteOf(const Slot &slot, const Values &values)
{
    switch (slot.source) {
    case Source::Fixed:
        return slot.value;
    case Source::PanTiltSpeed:
        return lowByte(values.panTiltSpeed);
    case Source::Preset:
        return lowByte(values.preset);
    case Source::ZoomSpeed:
        return lowByte(qint64(values.zoomSpeed) + slot.value);
    case Source::End:
        break;
    }
    return 0;
}

template <std::size_t Size>
QByteArray bytesOf(const std::array<Slot, Size> &pattern, const Values &values)
{
    QByteArray bytes;
    for (const Slot &slot : pattern) {
        if (slot.source == Source::End)
            break;
        bytes.append(char(byteOf(slot, values)));
    }
    return bytes;
}

QByteArray pelcoD(quint8 address, const QByteArray &body)
{
    QByteArray frame;
    frame.append(char(kPelcoDSync));
    frame.append(char(address));
    frame.append(body);
    unsigned sum = 0;
    for (int i = 1; i < frame.size(); ++i)
        sum += quint8(frame.at(i));
    frame.append(char(lowByte(sum)));
    return frame;
}

QByteArray pelcoP(quint8 address, const QByteArray &body)
{
    QByteArray frame;
    frame.append(char(kPelcoPStart));
    frame.append(char(address));
    frame.append(body);
    frame.append(char(kPelcoPEnd));
    quint8 check = 0;
    for (const char byte : qAsConst(frame))
        check ^= quint8(byte);
    frame.append(char(check));
    return frame;
}

} // namespace

QByteArray visca(quint8 header, const QByteArray &message)
{
    QByteArray frame;
    frame.append(char(header));
    frame.append(message);
    frame.append(char(kViscaTerminator));
    return frame;
}

int fieldValue(const QString &text)
{
    return text.toInt(nullptr, kDecimal);
}

quint8 viscaHeader(const QString &addressText)
{
    return lowByte(qint64(fieldValue(addressText)) + kViscaAddressBase);
}

QByteArray build(Protocol protocol, Command command, const Fields &fields)
{
    const Row *row = rowOf(command);
    if (!row)
        return {};
    if (row->viscaInEveryProtocol)
        protocol = Protocol::Visca;

    const int address = fields.address.toInt(nullptr, row->addressBase);
    const Values values{fieldValue(fields.panTiltSpeed), fieldValue(fields.preset),
                        fieldValue(fields.zoomSpeed)};
    switch (protocol) {
    case Protocol::PelcoD: {
        const QByteArray body = bytesOf(row->pelcoD, values);
        return body.isEmpty() ? QByteArray() : pelcoD(lowByte(address), body);
    }
    case Protocol::PelcoP: {
        const QByteArray body = bytesOf(row->pelcoP, values);
        return body.isEmpty() ? QByteArray()
                              : pelcoP(lowByte(qint64(address) + kPelcoPAddressOffset), body);
    }
    case Protocol::Visca:
        return visca(lowByte(qint64(address) + kViscaAddressBase), bytesOf(row->visca, values));
    }
    return {};
}

} // namespace CameraFrames
