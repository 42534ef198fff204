#ifndef CAMSIM_FLASH_H
#define CAMSIM_FLASH_H

#include <QByteArray>

// The STM32's main flash memory as its bootloader sees it: `sizeKib` KiB from
// 0x08000000, erased in pages of 1 KiB to 0xFF. Like the real flash, a byte
// that is not erased cannot be programmed to another value: data written over
// an old program without an erase is refused instead of silently mixed.
//
// It starts out holding an old program (a pattern without any 0xFF), so that
// an upgrade that forgot to erase, or a block it never wrote, shows.
class FlashMemory
{
public:
    static constexpr quint32 kBase = 0x08000000;
    static constexpr int kPageBytes = 1024;
    static constexpr quint8 kErased = 0xFF;

    explicit FlashMemory(int sizeKib);

    quint32 end() const { return kBase + quint32(bytes.size()); }
    int pageCount() const { return bytes.size() / kPageBytes; }

    // Whether all of [address, address + length) lies inside the flash.
    bool contains(quint32 address, int length) const;

    QByteArray read(quint32 address, int length) const;
    // False, and nothing changed, when a byte that is not erased would change.
    bool program(quint32 address, const QByteArray &data);
    void eraseAll();
    void erasePage(int page);

    const QByteArray &image() const { return bytes; }

private:
    QByteArray bytes;
};

#endif // CAMSIM_FLASH_H
