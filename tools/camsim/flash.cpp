#include "flash.h"

#include <cstring>

namespace {

// The old program: byte i holds i mod 251. Never 0xFF, and no page repeats
// the one before it at the same offsets.
constexpr int kOldProgramPeriod = 251;

} // namespace

FlashMemory::FlashMemory(int sizeKib) : bytes(sizeKib * kPageBytes, Qt::Uninitialized)
{
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i % kOldProgramPeriod);
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
    std::memset(bytes.data() + page * kPageBytes, kErased, size_t(kPageBytes));
}
