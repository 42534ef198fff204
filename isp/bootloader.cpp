#include "bootloader.h"

#include <QDeadlineTimer>

namespace Stm32Boot {

const QByteArray &enterIapFrame()
{
    // The camera firmware's command to jump into the ROM bootloader.
    static const QByteArray frame = QByteArray::fromHex("8902076358FF");
    return frame;
}

const QByteArray &exitIapFrame()
{
    static const QByteArray frame = QByteArray::fromHex("8902076357FF");
    return frame;
}

namespace {

// A command goes out as its code followed by the code's complement.
QByteArray command(quint8 code)
{
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(code);
    bytes[1] = static_cast<char>(code ^ 0xFF);
    return bytes;
}

// An address goes out most significant byte first, followed by the XOR of
// its four bytes.
QByteArray addressPart(quint32 address)
{
    QByteArray bytes;
    quint8 check = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<quint8>(address >> shift);
        bytes.append(static_cast<char>(byte));
        check ^= byte;
    }
    bytes.append(static_cast<char>(check));
    return bytes;
}

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x") % QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

// The next byte before the deadline; nothing on timeout or abort.
std::optional<quint8> receiveBefore(BootLink &link, const QDeadlineTimer &deadline)
{
    if (link.aborted())
        return std::nullopt;
    const qint64 left = qMax<qint64>(0, deadline.remainingTime());
    return link.receive(static_cast<int>(left));
}

// Reads until ACK or NACK. Anything else (line noise, the 0x00 some
// adapters produce when the line changes) is no answer and is skipped.
Result awaitAnswer(BootLink &link, Step step, quint32 address, const QDeadlineTimer &deadline)
{
    for (;;) {
        const std::optional<quint8> byte = receiveBefore(link, deadline);
        if (!byte)
            return Result{link.aborted() ? Answer::Aborted : Answer::Timeout, step, address};
        if (*byte == kAck)
            return Result{Answer::Ack, step, address};
        if (*byte == kNack)
            return Result{Answer::Nack, step, address};
        if (deadline.hasExpired())
            return Result{Answer::Timeout, step, address};
    }
}

} // namespace

QString Result::text() const
{
    QString what;
    switch (step) {
    case Step::Sync: what = QStringLiteral("the sync byte 0x7F"); break;
    case Step::GetId: what = QStringLiteral("Get ID"); break;
    case Step::EraseCommand: what = QStringLiteral("the Erase command"); break;
    case Step::GlobalErase: what = QStringLiteral("the global erase"); break;
    case Step::WriteCommand:
        what = QStringLiteral("the Write Memory command of the block at ") % hexAddress(address);
        break;
    case Step::WriteAddress: what = QStringLiteral("the address of the block at ") % hexAddress(address); break;
    case Step::WriteData: what = QStringLiteral("the data of the block at ") % hexAddress(address); break;
    case Step::GoCommand: what = QStringLiteral("the Go command to ") % hexAddress(address); break;
    case Step::GoAddress: what = QStringLiteral("the Go address ") % hexAddress(address); break;
    }
    switch (answer) {
    case Answer::Ack: return QStringLiteral("ACK to ") % what;
    case Answer::Nack: return QStringLiteral("NACK to ") % what;
    case Answer::Timeout: return QStringLiteral("no answer to ") % what;
    case Answer::Aborted: return QStringLiteral("stopped while waiting for the answer to ") % what;
    }
    return what;
}

Result Dialogue::exchange(Step step, const QByteArray &part, int timeoutMs, quint32 address)
{
    if (bootLink.aborted())
        return Result{Answer::Aborted, step, address};
    bootLink.send(part);
    return awaitAnswer(bootLink, step, address, QDeadlineTimer(timeoutMs));
}

Result Dialogue::sync()
{
    // The bootloader measures the baud rate on this byte and answers ACK.
    return exchange(Step::Sync, QByteArray(1, static_cast<char>(kSync)), kAckTimeoutMs);
}

Result Dialogue::getId(quint16 *productId)
{
    Result result = exchange(Step::GetId, command(kCmdGetId), kAckTimeoutMs);
    if (!result.ok())
        return result;

    // ACK, then N (the number of ID bytes minus one), the N + 1 ID bytes,
    // and a closing ACK. STM32 parts send N = 1 and two ID bytes.
    const QDeadlineTimer deadline(kAckTimeoutMs);
    const auto timedOut = [this] {
        return Result{bootLink.aborted() ? Answer::Aborted : Answer::Timeout, Step::GetId, 0};
    };
    const std::optional<quint8> count = receiveBefore(bootLink, deadline);
    if (!count)
        return timedOut();
    quint16 id = 0;
    for (int i = 0; i <= *count; ++i) {
        const std::optional<quint8> byte = receiveBefore(bootLink, deadline);
        if (!byte)
            return timedOut();
        if (i < 2)
            id = static_cast<quint16>((id << 8) | *byte);
    }
    result = awaitAnswer(bootLink, Step::GetId, 0, deadline);
    if (result.ok() && productId)
        *productId = id;
    return result;
}

Result Dialogue::eraseCommand()
{
    return exchange(Step::EraseCommand, command(kCmdErase), kAckTimeoutMs);
}

Result Dialogue::globalErase()
{
    // The bootloader acknowledges only when the whole flash is erased.
    QByteArray part(1, static_cast<char>(kGlobalErase));
    part.append('\0');
    return exchange(Step::GlobalErase, part, kMassEraseTimeoutMs);
}

Result Dialogue::writeBlock(quint32 address, const QByteArray &data)
{
    Q_ASSERT(!data.isEmpty() && data.size() <= kWriteBlockBytes);
    Result result = exchange(Step::WriteCommand, command(kCmdWriteMemory), kAckTimeoutMs, address);
    if (!result.ok())
        return result;
    result = exchange(Step::WriteAddress, addressPart(address), kAckTimeoutMs, address);
    if (!result.ok())
        return result;

    // N = number of bytes minus one, the bytes, then the XOR of N and all
    // the bytes, in one go: the bootloader answers only after the checksum.
    const auto count = static_cast<quint8>(data.size() - 1);
    QByteArray part;
    part.reserve(data.size() + 2);
    part.append(static_cast<char>(count));
    part.append(data);
    quint8 check = count;
    for (const char byte : data)
        check ^= static_cast<quint8>(byte);
    part.append(static_cast<char>(check));
    return exchange(Step::WriteData, part, kAckTimeoutMs, address);
}

Result Dialogue::go(quint32 address)
{
    const Result result = exchange(Step::GoCommand, command(kCmdGo), kAckTimeoutMs, address);
    if (!result.ok())
        return result;
    return exchange(Step::GoAddress, addressPart(address), kAckTimeoutMs, address);
}

} // namespace Stm32Boot
