// Any text typed into the Send box: the command line gives one byte per
// part between blanks, and a part of plain hexadecimal digits gives the
// value of its last two digits (the low 8 bits of the number). The input is
// read both as UTF-8 and as UTF-16, so that any character can be typed.

#include "service/serviceframes.h"

#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Longer parts than this may not fit a 64-bit number; what they give is
// left to the number reading.
constexpr int kMaxCheckedDigits = 15;

void check(bool condition)
{
    if (!condition)
        abort();
}

// The byte a part of plain digits gives, or -1 when it is not that simple;
// 0 when the part holds no hexadecimal digit at all.
int expectedByte(const QString &part)
{
    static const QRegularExpression anyDigit(QStringLiteral("[0-9A-Fa-f]"));
    static const QRegularExpression plain(QStringLiteral("^[0-9A-Fa-f]{1,%1}\\z").arg(kMaxCheckedDigits));
    if (!part.contains(anyDigit))
        return 0;
    return plain.match(part).hasMatch() ? part.right(2).toInt(nullptr, 16) : -1;
}

void checkLine(const QString &text)
{
    const QByteArray bytes = CommandLine::bytes(text);
    int index = 0;
    int start = 0;
    for (int i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text.at(i) != QLatin1Char(' '))
            continue;
        if (i > start) {
            check(index < bytes.size());
            const int want = expectedByte(text.mid(start, i - start));
            check(want < 0 || quint8(bytes.at(index)) == want);
            ++index;
        }
        start = i + 1;
    }
    check(index == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkLine(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));

    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    checkLine(QString::fromUtf16(units.data(), int(units.size())));
    return 0;
}
