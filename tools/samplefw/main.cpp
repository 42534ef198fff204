// Writes the demo firmware shipped in resources/firmware/ to standard output:
// a made-up STM32F1 program image for camsim to be flashed with. It starts
// like a real one (initial stack pointer, then the reset and fault vectors,
// Thumb addresses with bit 0 set) so that it reads sensibly in a dump; the
// code behind it is filler from a fixed seed, so the file never changes.

#include "isp/hexwriter.h"

#include <cstdio>

namespace {

constexpr quint32 kFlashStart = 0x08000000;
constexpr int kImageBytes = 24 * 1024;
constexpr quint32 kInitialStack = 0x20005000;
constexpr quint32 kResetHandler = 0x08000201;
constexpr quint32 kDefaultHandler = 0x08000241;
constexpr int kVectors = 76; // Cortex-M3 core vectors plus the F103's interrupts
constexpr int kBannerOffset = 0x130;
constexpr quint32 kFillerSeed = 0x51C0FFEEu;

void putWord(QByteArray &image, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        image[offset + i] = char((value >> (8 * i)) & 0xFF);
}

} // namespace

int main()
{
    QByteArray image(kImageBytes, '\0');
    quint32 state = kFillerSeed;
    for (char &byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state >> 24);
    }
    putWord(image, 0, kInitialStack);
    putWord(image, 4, kResetHandler);
    for (int vector = 2; vector < kVectors; ++vector)
        putWord(image, 4 * vector, kDefaultHandler);
    const QByteArray banner("Quillon Desk demo firmware 1.0 for camsim");
    image.replace(kBannerOffset, banner.size(), banner);

    const QByteArray text = HexWriter::write(kFlashStart, image);
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) ? 0 : 1;
}
