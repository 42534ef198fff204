#include "parts.h"

namespace {

constexpr int kKib = 1024;
constexpr quint8 kErase = 0x43;
constexpr quint8 kExtendedErase = 0x44;

// The parts camsim can play. The page and sector layouts are the ones in the
// parts' reference manuals. The protocol versions are what these ROMs answer
// to Get: 2.2 on the STM32F10x, whose bootloader still erases with 0x43; 3.1
// on the later ones, which erase with Extended Erase (AN3155 brought in 0x44
// with protocol 3.0). 3.1 has been seen from F405/F407, G071 and L05x ROMs;
// for the F05x and L43x it is a guess from the same generation, as is their
// use of 0x44.
const Part kParts[] = {
    // camsim's default, unchanged: 128 KiB in 1 KiB pages.
    {0x0410, "STM32F10x medium density", 128, {{{128, kKib}}}, 0x22, kErase, 0x1FFFF7E0},
    {0x0414, "STM32F10x high density", 512, {{{256, 2 * kKib}}}, 0x22, kErase, 0x1FFFF7E0},
    // Sectors 0-3 of 16 KiB, sector 4 of 64 KiB, sectors 5-11 of 128 KiB.
    {0x0413, "STM32F40x/41x", 1024, {{{4, 16 * kKib}, {1, 64 * kKib}, {7, 128 * kKib}}}, 0x31,
     kExtendedErase, 0x1FFF7A22},
    {0x0440, "STM32F030x8/F05x", 64, {{{64, kKib}}}, 0x31, kExtendedErase, 0x1FFFF7CC},
    {0x0417, "STM32L05x/06x", 64, {{{512, 128}}}, 0x31, kExtendedErase, 0x1FF8007C},
    {0x0435, "STM32L43x/44x", 256, {{{128, 2 * kKib}}}, 0x31, kExtendedErase, 0x1FFF75E0},
    {0x0460, "STM32G07x/08x", 128, {{{64, 2 * kKib}}}, 0x31, kExtendedErase, 0x1FFF75E0},
};

} // namespace

Part partFor(quint16 productId)
{
    for (const Part &part : kParts) {
        if (part.productId == productId)
            return part;
    }
    Part fallback = kParts[0];
    fallback.productId = productId;
    fallback.name = "unknown";
    return fallback;
}
