#ifndef QUILLON_STM32PARTS_H
#define QUILLON_STM32PARTS_H

#include <QList>
#include <QPair>
#include <QVector>

#include <array>
#include <optional>

// The STM32 parts the ROM bootloader may report, one row per product ID (the
// 12-bit PID that Get ID returns, which is the DEV_ID of the part's
// DBGMCU_IDCODE register), and the layout of each part's main flash.
//
// Before the upgrade erases anything it looks the part up here: to refuse an
// image the flash cannot hold, to erase only the pages or sectors the image
// needs, and to name the part in the trace. The IDs and names follow the
// "bootloader device-dependent parameters" of ST's AN2606; the flash layouts
// and flash-size register addresses come from each family's reference manual
// (the RM is named next to each family in stm32parts.cpp).
//
// Several parts of different flash size share one product ID. A row describes
// the largest of them; the real size of the part on the bench can be read
// from its flash-size register (F_SIZE) with Read Memory, where known.
namespace Stm32Parts {

// A run of equal erase units (pages or sectors) of the main flash.
struct EraseRun
{
    int count = 0;
    quint32 bytes = 0; // size of each unit
};

// Enough runs for the longest layout: the dual-bank F42x/F43x with
// 4 x 16 KB, 64 KB, 7 x 128 KB in each bank.
constexpr int kMaxRuns = 6;

struct Part
{
    quint16 productId = 0;        // as Get ID reports it
    const char *name = "";        // how a technician knows it, e.g. "STM32F10x medium density"
    quint32 flashStart = 0;       // 0x08000000 for every part listed
    quint32 flashBytes = 0;       // largest main flash among the parts sharing this ID
    quint32 flashSizeRegister = 0; // address of F_SIZE (16 bits, KB), 0 where it is not a plain KB count or unsure
    // The erase units from flashStart up, in address order, numbered from 0
    // as the bootloader's Erase (0x43) and Extended Erase (0x44) commands
    // number them. Runs past the last used one have count 0. The units add
    // up to flashBytes.
    std::array<EraseRun, kMaxRuns> layout{};
};

// First address and size of one erase unit.
struct Unit
{
    quint32 start = 0;
    quint32 bytes = 0;
};

// Every row, in table order.
const QVector<Part> &all();

// The row for a product ID, or nullptr for an ID the table does not know.
const Part *find(quint16 productId);

// Pages/sectors of the main flash in all.
int unitCount(const Part &part);

// The unit holding `address`, or nothing when the address is outside the
// main flash.
std::optional<int> unitAt(const Part &part, quint32 address);

// Where unit n lies, or nothing when there is no unit n.
std::optional<Unit> unit(const Part &part, int n);

// The units that hold any byte of the given [start, end) ranges, ascending,
// each once. Bytes outside the main flash are left out: the caller keeps the
// ranges inside it.
QList<int> unitsCovering(const Part &part, const QList<QPair<quint32, quint32>> &ranges);

} // namespace Stm32Parts

#endif // QUILLON_STM32PARTS_H
