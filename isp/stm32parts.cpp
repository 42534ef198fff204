#include "stm32parts.h"

#include <algorithm>
#include <initializer_list>

namespace Stm32Parts {

namespace {

constexpr quint32 KB = 1024;
constexpr quint32 kFlashStart = 0x08000000;

// Flash-size data registers (F_SIZE: 16 bits, the main flash in KB), from the
// "device electronic signature" chapter of each reference manual. Read in
// RM0008, RM0041, RM0038, RM0401, RM0454 and RM0432 themselves; the others as
// the open ST-LINK tools' chip tables cite them from the manuals named.
constexpr quint32 kFSizeF0F3 = 0x1FFFF7CC;  // RM0091, RM0360, RM0316, RM0313, RM0364, RM0365
constexpr quint32 kFSizeF1 = 0x1FFFF7E0;    // RM0008 30.1.1, RM0041 26.1.1
constexpr quint32 kFSizeF2F4 = 0x1FFF7A22;  // RM0033, RM0090, RM0401 27.2 and the other F4 manuals
constexpr quint32 kFSizeF72 = 0x1FF07A22;   // RM0431 (F72x/F73x)
constexpr quint32 kFSizeF74F76 = 0x1FF0F442; // RM0385 (F74x/F75x), RM0410 (F76x/F77x)
constexpr quint32 kFSizeG0G4L4 = 0x1FFF75E0; // RM0444, RM0454 30.1, RM0440, RM0394, RM0351, RM0432 58.2
constexpr quint32 kFSizeL0 = 0x1FF8007C;    // RM0451, RM0377, RM0367, RM0376
constexpr quint32 kFSizeL1Cat1 = 0x1FF8004C; // RM0038 31.1.1, Cat.1 and Cat.2
constexpr quint32 kFSizeL1Cat3 = 0x1FF800CC; // RM0038 31.1.1, Cat.3 to Cat.6

using Runs = std::initializer_list<EraseRun>;

Part row(quint16 productId, const char *name, quint32 flashBytes, quint32 flashSizeRegister, Runs runs)
{
    Part part;
    part.productId = productId;
    part.name = name;
    part.flashStart = kFlashStart;
    part.flashBytes = flashBytes;
    part.flashSizeRegister = flashSizeRegister;
    // A row with more runs than kMaxRuns loses the rest; the units then no
    // longer add up to flashBytes, which the table test reports.
    std::copy_n(runs.begin(), std::min<size_t>(runs.size(), kMaxRuns), part.layout.begin());
    return part;
}

// One row per product ID (the part's DEV_ID), named as AN2606 names the
// parts. The flash size is the largest of the parts sharing the ID; the
// layout is the erase granularity the reference manual gives.
QVector<Part> makeTable()
{
    // The F2/F4 sector pattern of one 1 MB bank: 4 x 16 KB, 64 KB,
    // 7 x 128 KB (RM0033, RM0090).
    const Runs f4Bank = {{4, 16 * KB}, {1, 64 * KB}, {7, 128 * KB}};
    // Two such banks: sectors 0-11 in bank 1 and 12-23 in bank 2, numbered
    // as in RM0090's table for the 2 MB STM32F42xxx/43xxx (3.4).
    const Runs f4TwoBanks = {{4, 16 * KB}, {1, 64 * KB}, {7, 128 * KB}, {4, 16 * KB}, {1, 64 * KB}, {7, 128 * KB}};

    return {
        // F0: RM0091, RM0360. 1 KB pages on F03x/F04x/F05x, 2 KB pages on
        // F07x/F09x (RM0091 3.2.1).
        row(0x444, "STM32F03xx4/6", 32 * KB, kFSizeF0F3, {{32, 1 * KB}}),
        row(0x445, "STM32F04xxx/F070x6", 32 * KB, kFSizeF0F3, {{32, 1 * KB}}),
        row(0x440, "STM32F030x8/F05xxx", 64 * KB, kFSizeF0F3, {{64, 1 * KB}}),
        row(0x448, "STM32F070xB/F071xx/F072xx", 128 * KB, kFSizeF0F3, {{64, 2 * KB}}),
        row(0x442, "STM32F030xC/F09xxx", 256 * KB, kFSizeF0F3, {{128, 2 * KB}}),

        // F1: RM0008, RM0041 (value line), PM0075/PM0068. 1 KB pages on
        // low- and medium-density parts, 2 KB on high-density, XL-density
        // and connectivity line. XL-density has two banks; its pages 0-255
        // are bank 1 and 256-511 bank 2, in address order.
        row(0x412, "STM32F10x low density", 32 * KB, kFSizeF1, {{32, 1 * KB}}),
        row(0x410, "STM32F10x medium density", 128 * KB, kFSizeF1, {{128, 1 * KB}}),
        row(0x414, "STM32F10x high density", 512 * KB, kFSizeF1, {{256, 2 * KB}}),
        row(0x430, "STM32F10x XL density", 1024 * KB, kFSizeF1, {{512, 2 * KB}}),
        row(0x418, "STM32F105xx/107xx connectivity line", 256 * KB, kFSizeF1, {{128, 2 * KB}}),
        // RM0041 gives the one ID 0x420 to the low- and medium-density value line.
        row(0x420, "STM32F100 low/medium density value line", 128 * KB, kFSizeF1, {{128, 1 * KB}}),
        row(0x428, "STM32F100 high density value line", 512 * KB, kFSizeF1, {{256, 2 * KB}}),

        // F2: RM0033. Sectors as on the F40x.
        row(0x411, "STM32F2xxxx", 1024 * KB, kFSizeF2F4, f4Bank),

        // F3: RM0316, RM0313, RM0364, RM0365. 2 KB pages throughout.
        row(0x439, "STM32F301xx/F302x4(6/8)/F318xx", 64 * KB, kFSizeF0F3, {{32, 2 * KB}}),
        row(0x438, "STM32F303x4(6/8)/F334xx/F328xx", 64 * KB, kFSizeF0F3, {{32, 2 * KB}}),
        row(0x422, "STM32F302xB(C)/F303xB(C)/F358xx", 256 * KB, kFSizeF0F3, {{128, 2 * KB}}),
        row(0x432, "STM32F373xx/F378xx", 256 * KB, kFSizeF0F3, {{128, 2 * KB}}),
        row(0x446, "STM32F302xD(E)/F303xD(E)/F398xx", 512 * KB, kFSizeF0F3, {{256, 2 * KB}}),

        // F4: RM0090, RM0368, RM0401, RM0383, RM0402, RM0430, RM0390, RM0386.
        // Sectors 4 x 16 KB, 64 KB, then 128 KB up to the size of the part.
        row(0x413, "STM32F40xxx/41xxx", 1024 * KB, kFSizeF2F4, f4Bank),
        // The 1 MB F42x/F43x is single-bank (12 sectors) unless its DB1M option
        // bit is set; the row describes the 2 MB part (RM0090 3.4).
        row(0x419, "STM32F42xxx/43xxx", 2048 * KB, kFSizeF2F4, f4TwoBanks),
        row(0x423, "STM32F401xB(C)", 256 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}, {1, 128 * KB}}),
        row(0x433, "STM32F401xD(E)", 512 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}, {3, 128 * KB}}),
        row(0x458, "STM32F410xx", 128 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}}),
        row(0x431, "STM32F411xx", 512 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}, {3, 128 * KB}}),
        row(0x441, "STM32F412xx", 1024 * KB, kFSizeF2F4, f4Bank),
        row(0x463, "STM32F413xx/423xx", 1536 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}, {11, 128 * KB}}),
        row(0x421, "STM32F446xx", 512 * KB, kFSizeF2F4, {{4, 16 * KB}, {1, 64 * KB}, {3, 128 * KB}}),
        // Dual-bank like the 2 MB F42x/F43x (RM0386).
        row(0x434, "STM32F469xx/479xx", 2048 * KB, kFSizeF2F4, f4TwoBanks),

        // F7: RM0431, RM0385, RM0410.
        row(0x452, "STM32F72xxx/73xxx", 512 * KB, kFSizeF72, {{4, 16 * KB}, {1, 64 * KB}, {3, 128 * KB}}),
        row(0x449, "STM32F74xxx/75xxx", 1024 * KB, kFSizeF74F76, {{4, 32 * KB}, {1, 128 * KB}, {3, 256 * KB}}),
        // Single-bank mode (nDBANK = 1), as the parts leave the factory: 12
        // sectors. In dual-bank mode the same 2 MB is 24 sectors of 16/64/128 KB
        // and this layout is wrong. The factory default is taken from ST
        // engineers' public notes, not from RM0410 text read here.
        row(0x451, "STM32F76xxx/77xxx", 2048 * KB, kFSizeF74F76, {{4, 32 * KB}, {1, 128 * KB}, {7, 256 * KB}}),

        // G0: RM0444, RM0454. 2 KB pages.
        row(0x466, "STM32G03xxx/04xxx", 64 * KB, kFSizeG0G4L4, {{32, 2 * KB}}),
        row(0x456, "STM32G05xxx/06xxx", 64 * KB, kFSizeG0G4L4, {{32, 2 * KB}}),
        row(0x460, "STM32G07xxx/08xxx", 128 * KB, kFSizeG0G4L4, {{64, 2 * KB}}),
        // The 512 KB G0B1/G0C1 has two banks of 256 KB. Uncertain: the pages of
        // bank 2 are assumed to be numbered 128-255 after bank 1's, in address
        // order; the bootloader's numbering for bank 2 has not been confirmed.
        row(0x467, "STM32G0B0xx/B1xx/C1xx", 512 * KB, kFSizeG0G4L4, {{256, 2 * KB}}),

        // G4: RM0440.
        row(0x468, "STM32G431xx/441xx", 128 * KB, kFSizeG0G4L4, {{64, 2 * KB}}),
        // Category 3: dual-bank mode (DBANK = 1, the factory setting) with 2 KB
        // pages; single-bank mode has 4 KB pages and this layout is then wrong.
        // Uncertain: bank 2's pages are assumed to be numbered 128-255 after bank
        // 1's, in address order, as for the other dual-bank parts here.
        row(0x469, "STM32G47xxx/48xxx", 512 * KB, kFSizeG0G4L4, {{256, 2 * KB}}),
        row(0x479, "STM32G491xx/4A1xx", 512 * KB, kFSizeG0G4L4, {{256, 2 * KB}}),

        // L0: RM0451, RM0377, RM0367, RM0376. 128-byte pages (RM0367 3.3.1).
        row(0x457, "STM32L01xxx/02xxx", 16 * KB, kFSizeL0, {{128, 128}}),
        row(0x425, "STM32L031xx/041xx", 32 * KB, kFSizeL0, {{256, 128}}),
        row(0x417, "STM32L05xxx/06xxx", 64 * KB, kFSizeL0, {{512, 128}}),
        // Category 5, 192 KB in two banks (RM0367 table 6). The pages are
        // assumed to be numbered across both banks in address order.
        row(0x447, "STM32L07xxx/08xxx", 192 * KB, kFSizeL0, {{1536, 128}}),

        // L1: RM0038. The bootloader erases 256-byte pages.
        row(0x416, "STM32L1xxx6(8/B)", 128 * KB, kFSizeL1Cat1, {{512, 256}}),
        // Cat.2: only the low byte of F_SIZE is valid (RM0038 31.1.1), so no
        // address is given for a plain 16-bit read.
        row(0x429, "STM32L1xxx6(8/B)A", 128 * KB, 0, {{512, 256}}),
        row(0x427, "STM32L1xxxC", 256 * KB, kFSizeL1Cat3, {{1024, 256}}),
        // F_SIZE here is a code, 0 for 384 KB and 1 for 256 KB (RM0038 31.1.1),
        // not a count of KB: no address given.
        row(0x436, "STM32L1xxxD", 384 * KB, 0, {{1536, 256}}),
        row(0x437, "STM32L1xxxE", 512 * KB, kFSizeL1Cat3, {{2048, 256}}),

        // L4: RM0394, RM0351. 2 KB pages.
        row(0x464, "STM32L41xxx/42xxx", 128 * KB, kFSizeG0G4L4, {{64, 2 * KB}}),
        row(0x435, "STM32L43xxx/44xxx", 256 * KB, kFSizeG0G4L4, {{128, 2 * KB}}),
        row(0x462, "STM32L45xxx/46xxx", 512 * KB, kFSizeG0G4L4, {{256, 2 * KB}}),
        // 1 MB in two banks of 256 pages. Uncertain: bank 2's pages are assumed
        // to be numbered 256-511 after bank 1's, in address order.
        row(0x415, "STM32L47xxx/48xxx", 1024 * KB, kFSizeG0G4L4, {{512, 2 * KB}}),
        row(0x461, "STM32L496xx/4A6xx", 1024 * KB, kFSizeG0G4L4, {{512, 2 * KB}}),
        // L4+: RM0432. Not 2 KB: 4 KB pages in dual-bank mode (the factory
        // setting of the 2 MB parts), 8 KB in single-bank mode. Same bank 2
        // numbering assumption as above.
        row(0x470, "STM32L4Rxx/4Sxx", 2048 * KB, kFSizeG0G4L4, {{512, 4 * KB}}),
        // Uncertain: dual-bank mode with 4 KB pages is assumed to be the factory
        // setting here too, as on the L4R/L4S.
        row(0x471, "STM32L4P5xx/Q5xx", 1024 * KB, kFSizeG0G4L4, {{256, 4 * KB}}),
    };
}

} // namespace

const QVector<Part> &all()
{
    static const QVector<Part> parts = makeTable();
    return parts;
}

const Part *find(quint16 productId)
{
    for (const Part &part : all()) {
        if (part.productId == productId)
            return &part;
    }
    return nullptr;
}

int unitCount(const Part &part)
{
    int count = 0;
    for (const EraseRun &run : part.layout)
        count += run.count;
    return count;
}

std::optional<int> unitAt(const Part &part, quint32 address)
{
    if (address < part.flashStart)
        return std::nullopt;
    quint32 offset = address - part.flashStart;
    int first = 0;
    for (const EraseRun &run : part.layout) {
        if (run.count <= 0 || run.bytes == 0)
            continue;
        const quint32 runBytes = quint32(run.count) * run.bytes;
        if (offset < runBytes)
            return first + int(offset / run.bytes);
        offset -= runBytes;
        first += run.count;
    }
    return std::nullopt;
}

std::optional<Unit> unit(const Part &part, int n)
{
    if (n < 0)
        return std::nullopt;
    quint32 start = part.flashStart;
    for (const EraseRun &run : part.layout) {
        if (n < run.count)
            return Unit{start + quint32(n) * run.bytes, run.bytes};
        n -= run.count;
        start += quint32(run.count) * run.bytes;
    }
    return std::nullopt;
}

QList<int> unitsCovering(const Part &part, const QList<QPair<quint32, quint32>> &ranges)
{
    const quint32 flashEnd = part.flashStart + part.flashBytes;
    QList<int> units;
    for (const auto &range : ranges) {
        const quint32 start = std::max(range.first, part.flashStart);
        const quint32 end = std::min(range.second, flashEnd);
        if (start >= end)
            continue;
        const std::optional<int> first = unitAt(part, start);
        const std::optional<int> last = unitAt(part, end - 1);
        if (!first || !last)
            continue; // only when the layout falls short of flashBytes
        for (int n = *first; n <= *last; ++n)
            units.append(n);
    }
    std::sort(units.begin(), units.end());
    units.erase(std::unique(units.begin(), units.end()), units.end());
    return units;
}

} // namespace Stm32Parts
