#include "flash.h"

#include <algorithm>
#include <cstring>

namespace {

// The old program: byte i holds i mod 251. Never 0xFF, and no page repeats
// the one before it at the same offsets.
constexpr int kOldProgramPeriod = 251;

// The resident bootloader's body after its vector table: text that shows at
// a glance in a dump of the flash, and never 0xFF.
constexpr char kResidentText[] = "camsim resident bootloader ";
constexpr int kVectorBytes = 8;

void putWord(char *at, quint32 word)
{
    for (int i = 0; i < 4; ++i)
        at[i] = char(word >> (8 * i)); // little-endian, as the core reads it
}

// Fills `count` bytes at `to` by repeating the first `period` bytes already
// there, doubling the copied stretch each time.
void repeat(char *to, int period, int count)
{
    for (int filled = std::min(period, count); filled < count;) {
        const int step = std::min(filled - filled % period, count - filled);
        std::memcpy(to + filled, to, size_t(step));
        filled += step;
    }
}

} // namespace

FlashMemory::FlashMemory(int sizeBytes, const std::array<EraseRun, 3> &layout, int residentBytes)
    : bytes(sizeBytes, Qt::Uninitialized)
{
    char *data = bytes.data();
    for (int i = 0; i < std::min(kOldProgramPeriod, sizeBytes); ++i)
        data[i] = char(i);
    repeat(data, kOldProgramPeriod, sizeBytes);

    residentBytes = std::min(residentBytes, sizeBytes);
    if (residentBytes >= kVectorBytes) {
        const int text = int(sizeof kResidentText) - 1;
        std::memcpy(data + kVectorBytes, kResidentText, size_t(std::min(text, residentBytes - kVectorBytes)));
        repeat(data + kVectorBytes, text, residentBytes - kVectorBytes);
        putWord(data, kResidentStackPointer);
        putWord(data + 4, kResidentResetHandler);
    }

    // The runs in order, then units of the last run's size to the end.
    int unit = 0;
    int at = 0;
    for (const EraseRun &run : layout) {
        for (int i = 0; i < run.count && at < sizeBytes; ++i, at += run.bytes)
            pageStarts.push_back(at);
        if (run.count > 0)
            unit = run.bytes;
    }
    if (unit <= 0)
        unit = sizeBytes;
    for (; at < sizeBytes; at += unit)
        pageStarts.push_back(at);
    pageStarts.push_back(sizeBytes);
}

bool FlashMemory::contains(quint32 address, int length) const
{
    return address >= kBase && length >= 0
           && quint64(address - kBase) + quint64(length) <= quint64(bytes.size());
}

QByteArray FlashMemory::read(quint32 address, int length) const
{
    return bytes.mid(int(address - kBase), length);
}

bool FlashMemory::program(quint32 address, const QByteArray &data)
{
    const int offset = int(address - kBase);
    const char *old = bytes.constData() + offset;
    for (int i = 0; i < data.size(); ++i) {
        if (quint8(old[i]) != kErased && old[i] != data.at(i))
            return false;
    }
    std::memcpy(bytes.data() + offset, data.constData(), size_t(data.size()));
    return true;
}

void FlashMemory::eraseAll()
{
    bytes.fill(char(kErased));
}

void FlashMemory::erasePage(int page)
{
    std::memset(bytes.data() + pageStarts[size_t(page)], kErased, size_t(pageBytes(page)));
}

bool FlashMemory::isErased(quint32 address, int length) const
{
    if (address < kBase || address >= end())
        return false;
    const int offset = int(address - kBase);
    const char *from = bytes.constData() + offset;
    const char *to = from + std::min(length, bytes.size() - offset);
    return std::all_of(from, to, [](char byte) { return quint8(byte) == kErased; });
}
