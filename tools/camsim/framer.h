#ifndef CAMSIM_FRAMER_H
#define CAMSIM_FRAMER_H

#include <QByteArray>

#include <functional>
#include <optional>

// Cuts the byte stream from the window into camera frames, the way the
// camera's receive interrupt does:
//
//   Pelco-D  FF addr cmd1 cmd2 data1 data2 sum            7 bytes
//            sum = (bytes 1..5) mod 256
//   Pelco-P  A0 addr d1 d2 d3 d4 AF xor                   8 bytes
//            xor = byte 0 ^ ... ^ byte 6
//   VISCA    8x ... FF                                    up to 16 bytes
//            (the service and IAP frames have the same shape)
//
// Bytes that start no frame are handed back as garbage. After garbage the
// framer resynchronises on the next byte that can start a frame, and it
// prefers a good frame (a Pelco frame whose check byte matches, a VISCA frame
// the camera knows) that starts inside a bad one: a stray 0xFF in front of a
// VISCA frame is garbage, not the start of a Pelco-D frame with a bad sum, and
// the head of a VISCA frame cut short is garbage in front of the next header.
// A byte 8x inside a frame does not by itself start a new one: the logo frames
// carry 0x87.
class Framer
{
public:
    enum class Protocol { PelcoD, PelcoP, Visca };

    struct Item
    {
        bool garbage = false;     // bytes that formed no frame
        Protocol protocol = Protocol::Visca;
        bool checkOk = false;     // Pelco: check byte matches
        QByteArray bytes;
    };

    // Tells whether a complete VISCA-shaped frame is one the camera knows.
    using ViscaKnown = std::function<bool(const QByteArray &frame)>;

    explicit Framer(ViscaKnown known);

    void append(const QByteArray &bytes) { buffer.append(bytes); }
    bool hasPending() const { return !buffer.isEmpty(); }

    // The next frame or run of garbage, or nothing while the bytes so far may
    // still become a frame. With `final` (the line has been idle for a while)
    // an unfinished frame is given up as garbage.
    std::optional<Item> next(bool final);

    static constexpr int kPelcoDLength = 7;
    static constexpr int kPelcoPLength = 8;
    static constexpr int kViscaMaxLength = 16;
    static constexpr quint8 kPelcoDSync = 0xFF;
    static constexpr quint8 kPelcoPStart = 0xA0;
    static constexpr quint8 kPelcoPEnd = 0xAF;
    static constexpr quint8 kViscaTerminator = 0xFF;

private:
    enum class Shape { NotAFrame, Incomplete, Complete };

    struct Parse
    {
        Shape shape = Shape::NotAFrame;
        Protocol protocol = Protocol::Visca;
        int length = 0;
        bool good = false; // check byte matches, or a VISCA frame the camera knows
        bool checkOk = false;
    };

    Parse parseAt(int at) const;
    // The offset of a good frame that starts inside [1, end), or -1; sets
    // `undecided` when a frame start there still lacks bytes.
    int goodFrameInside(int end, bool &undecided) const;

    ViscaKnown viscaKnown;
    QByteArray buffer;
};

#endif // CAMSIM_FRAMER_H
