#ifndef CAMSIM_FLASH_H
#define CAMSIM_FLASH_H

#include "parts.h"

#include <QByteArray>

#include <vector>

// The STM32's main flash memory as its bootloader sees it: so many bytes from
// 0x08000000, erased to 0xFF in pages (or sectors) numbered from 0 at
// 0x08000000, laid out as the part's are. Like the real flash, a byte that is
// not erased cannot be programmed to another value: data written over an old
// program without an erase is refused instead of silently mixed.
//
// It starts out holding an old program (byte i of the flash is i mod 251,
// never 0xFF), so that an upgrade that forgot to erase, or a block it never
// wrote, shows. A camera whose program is started by a resident bootloader of
// its own has that resident in front: the first `residentBytes` hold a vector
// table (a stack pointer in SRAM and a reset handler inside the resident) and
// a text of their own, the old program from there on.
class FlashMemory
{
public:
    static constexpr quint32 kBase = 0x08000000;
    static constexpr quint8 kErased = 0xFF;
    // The resident's vector table, as a Cortex-M reads it at reset: the
    // initial stack pointer (the top of 8 KiB of SRAM, which every part in
    // the table has), then the reset handler's address with the Thumb bit set.
    static constexpr quint32 kResidentStackPointer = 0x20002000;
    static constexpr quint32 kResidentResetHandler = kBase + 0x131;

    FlashMemory(int sizeBytes, const std::array<EraseRun, 3> &layout, int residentBytes = 0);

    quint32 end() const { return kBase + quint32(bytes.size()); }
    int size() const { return bytes.size(); }
    int pageCount() const { return int(pageStarts.size()) - 1; }
    int pageBytes(int page) const { return int(pageStarts[size_t(page) + 1] - pageStarts[size_t(page)]); }

    // Whether all of [address, address + length) lies inside the flash.
    bool contains(quint32 address, int length) const;

    QByteArray read(quint32 address, int length) const;
    // False, and nothing changed, when a byte that is not erased would change.
    bool program(quint32 address, const QByteArray &data);
    void eraseAll();
    void erasePage(int page);
    // Whether every byte of [address, address + length) inside the flash is erased.
    bool isErased(quint32 address, int length) const;

    const QByteArray &image() const { return bytes; }

private:
    QByteArray bytes;
    // Where each page starts, and the end of the flash after the last one.
    std::vector<int> pageStarts;
};

#endif // CAMSIM_FLASH_H
