#include "framer.h"

#include <algorithm>
#include <utility>

namespace {

bool isViscaHeader(quint8 byte)
{
    return (byte & 0xF0) == 0x80;
}

bool canStartFrame(quint8 byte)
{
    return byte == Framer::kPelcoDSync || byte == Framer::kPelcoPStart || isViscaHeader(byte);
}

} // namespace

Framer::Framer(ViscaKnown known) : viscaKnown(std::move(known)) {}

Framer::Parse Framer::parseAt(int at) const
{
    Parse parse;
    const int available = buffer.size() - at;
    const auto byteAt = [this, at](int i) { return quint8(buffer.at(at + i)); };
    const quint8 first = byteAt(0);

    if (first == kPelcoDSync) {
        parse.protocol = Protocol::PelcoD;
        if (available < kPelcoDLength) {
            parse.shape = Shape::Incomplete;
            return parse;
        }
        unsigned sum = 0;
        for (int i = 1; i <= 5; ++i)
            sum += byteAt(i);
        parse.shape = Shape::Complete;
        parse.length = kPelcoDLength;
        parse.checkOk = quint8(sum & 0xFF) == byteAt(6);
        parse.good = parse.checkOk;
        return parse;
    }

    if (first == kPelcoPStart) {
        parse.protocol = Protocol::PelcoP;
        if (available >= 7 && byteAt(6) != kPelcoPEnd)
            return parse; // no end byte where it belongs: not a Pelco-P frame
        if (available < kPelcoPLength) {
            parse.shape = Shape::Incomplete;
            return parse;
        }
        quint8 check = 0;
        for (int i = 0; i <= 6; ++i)
            check ^= byteAt(i);
        parse.shape = Shape::Complete;
        parse.length = kPelcoPLength;
        parse.checkOk = check == byteAt(7);
        parse.good = parse.checkOk;
        return parse;
    }

    if (isViscaHeader(first)) {
        parse.protocol = Protocol::Visca;
        const int limit = std::min(available, kViscaMaxLength);
        for (int i = 1; i < limit; ++i) {
            const quint8 byte = byteAt(i);
            if (byte == kViscaTerminator) {
                parse.shape = Shape::Complete;
                parse.length = i + 1;
                parse.checkOk = true;
                parse.good = viscaKnown(buffer.mid(at, parse.length));
                return parse;
            }
        }
        if (available < kViscaMaxLength)
            parse.shape = Shape::Incomplete;
        return parse; // too long without a terminator: not a frame
    }

    return parse;
}

int Framer::goodFrameInside(int end, bool &undecided) const
{
    undecided = false;
    for (int at = 1; at < end; ++at) {
        if (!canStartFrame(quint8(buffer.at(at))))
            continue;
        const Parse inner = parseAt(at);
        if (inner.shape == Shape::Complete && inner.good)
            return at;
        if (inner.shape == Shape::Incomplete)
            undecided = true;
    }
    return -1;
}

std::optional<Framer::Item> Framer::next(bool final)
{
    QByteArray garbage;
    const auto takeGarbage = [&garbage, this](int count) {
        garbage.append(buffer.left(count));
        buffer.remove(0, count);
    };

    while (!buffer.isEmpty()) {
        const Parse parse = parseAt(0);
        if (parse.shape == Shape::NotAFrame) {
            takeGarbage(1);
            continue;
        }

        bool undecided = false;
        if (parse.shape == Shape::Incomplete) {
            // A good frame already complete further on means this start byte
            // was a stray one; otherwise wait for the rest of the frame.
            const int good = goodFrameInside(buffer.size(), undecided);
            if (good > 0) {
                takeGarbage(good);
                continue;
            }
            if (final) {
                takeGarbage(1);
                continue;
            }
            break;
        }

        if (!parse.good) {
            const int good = goodFrameInside(parse.length, undecided);
            if (good > 0) {
                takeGarbage(good);
                continue;
            }
            if (undecided && !final)
                break;
        }

        // A frame: report the garbage in front of it first.
        if (!garbage.isEmpty())
            break;
        Item item;
        item.protocol = parse.protocol;
        item.checkOk = parse.checkOk;
        item.bytes = buffer.left(parse.length);
        buffer.remove(0, parse.length);
        return item;
    }

    if (garbage.isEmpty())
        return std::nullopt;
    Item item;
    item.garbage = true;
    item.bytes = garbage;
    return item;
}
