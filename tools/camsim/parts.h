#ifndef CAMSIM_PARTS_H
#define CAMSIM_PARTS_H

#include <QtGlobal>

#include <array>

// A run of equal erase units (pages or sectors) in a part's main flash.
struct EraseRun
{
    int count;
    int bytes;
};

// What the camera's controller is, as far as its ROM bootloader shows it:
// the product ID it gives for Get ID, its main flash from 0x08000000, how
// that flash is cut into pages or sectors, the protocol version its Get
// reports, and which of the two erase commands it speaks (AN3155: a
// bootloader has Erase 0x43 or Extended Erase 0x44, never both).
struct Part
{
    quint16 productId;
    const char *name;
    int flashKib;
    // The erase units from 0x08000000, in order; unused runs have count 0.
    // Past the last run, units of the last run's size go on to the end of
    // the flash (a flash made larger with --flash-kib), and a unit that
    // would run past the end is cut short.
    std::array<EraseRun, 3> layout;
    quint8 protocolVersion;
    quint8 eraseCommand;
    // Where the part keeps the size of its flash in KiB (16 bits, the
    // reference manual's F_SIZE), which Read Memory may read.
    quint32 flashSizeRegister;
};

// The part with this product ID; an ID camsim does not know gets the
// STM32F10x medium density part, camsim's default, under that ID.
Part partFor(quint16 productId);

#endif // CAMSIM_PARTS_H
