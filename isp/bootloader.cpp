#include "bootloader.h"

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
    }
    return what;
}

Dialogue::Dialogue(BootLink &bootLink, QObject *parent) : QObject(parent), link(bootLink)
{
    connect(&link, &BootLink::received, this, &Dialogue::onReceived);
    connect(&link, &BootLink::timedOut, this, [this] { finish(Answer::Timeout); });
    // A lost line will not answer: the wait ends now, not at its bound.
    connect(&link, &BootLink::lost, this, [this] { finish(Answer::Timeout); });
}

void Dialogue::exchange(Step exchangeStep, quint32 exchangeAddress, const QByteArray &part,
                        int timeoutMs, Tail exchangeTail, DoneWithData done)
{
    // The part goes out first: whatever arrives while it is handed over is
    // stale, and the exchange only starts listening once it is on its way.
    const int stopsBefore = stops;
    link.send(part);
    if (stops != stopsBefore)
        return; // stopped while the part went out
    pending = std::move(done);
    step = exchangeStep;
    address = exchangeAddress;
    tail = exchangeTail;
    acknowledged = false;
    dataBytes = -1;
    data.clear();
    if (link.isLost()) {
        // Queued, like every other answer: the caller's code after this call
        // runs before its function does.
        QMetaObject::invokeMethod(this, [this] { finish(Answer::Timeout); }, Qt::QueuedConnection);
        return;
    }
    link.armTimer(timeoutMs);
}

void Dialogue::onReceived(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (!pending)
            return; // nobody asked: stale or stray bytes
        const auto byte = static_cast<quint8>(c);
        // Once an exchange has ended, the rest of these bytes came before
        // whatever its function sends next: they are stale.
        if (!acknowledged) {
            if (byte == kNack)
                return finish(Answer::Nack);
            if (byte == kAck) {
                acknowledged = true;
                if (tail == Tail::None)
                    return finish(Answer::Ack);
            }
            continue; // anything else is no answer
        }
        // Counted data: N, N + 1 bytes, then the closing answer.
        if (dataBytes < 0)
            dataBytes = byte + 1;
        else if (data.size() < dataBytes)
            data.append(c);
        else if (byte == kAck || byte == kNack)
            return finish(byte == kAck ? Answer::Ack : Answer::Nack);
    }
}

void Dialogue::finish(Answer answer)
{
    if (!pending)
        return;
    link.disarmTimer();
    const DoneWithData done = std::exchange(pending, DoneWithData());
    // Half-read data is no answer.
    const QByteArray received = answer == Answer::Ack ? std::exchange(data, QByteArray()) : QByteArray();
    data.clear();
    done(Result{answer, step, address}, received);
}

void Dialogue::stop()
{
    ++stops;
    pending = DoneWithData();
    link.disarmTimer();
}

void Dialogue::sync(Done done)
{
    // The bootloader measures the baud rate on this byte and answers ACK.
    exchange(Step::Sync, 0, QByteArray(1, static_cast<char>(kSync)), kAckTimeoutMs, Tail::None,
             [done](const Result &result, const QByteArray &) { done(result); });
}

void Dialogue::getId(DoneWithData done)
{
    // ACK, then N (the number of ID bytes minus one), the N + 1 ID bytes,
    // and a closing ACK. STM32 parts send N = 1 and two ID bytes.
    exchange(Step::GetId, 0, command(kCmdGetId), kAckTimeoutMs, Tail::Counted, std::move(done));
}

void Dialogue::eraseCommand(Done done)
{
    exchange(Step::EraseCommand, 0, command(kCmdErase), kAckTimeoutMs, Tail::None,
             [done](const Result &result, const QByteArray &) { done(result); });
}

void Dialogue::globalErase(Done done)
{
    // The bootloader acknowledges only when the whole flash is erased.
    QByteArray part(1, static_cast<char>(kGlobalErase));
    part.append('\0');
    exchange(Step::GlobalErase, 0, part, kMassEraseTimeoutMs, Tail::None,
             [done](const Result &result, const QByteArray &) { done(result); });
}

void Dialogue::writeBlock(quint32 blockAddress, const QByteArray &bytes, Done done)
{
    Q_ASSERT(!bytes.isEmpty() && bytes.size() <= kWriteBlockBytes);
    // N = number of bytes minus one, the bytes, then the XOR of N and all
    // the bytes, in one go: the bootloader answers only after the checksum.
    const auto count = static_cast<quint8>(bytes.size() - 1);
    QByteArray dataPart;
    dataPart.reserve(bytes.size() + 2);
    dataPart.append(static_cast<char>(count));
    dataPart.append(bytes);
    quint8 check = count;
    for (const char byte : bytes)
        check ^= static_cast<quint8>(byte);
    dataPart.append(static_cast<char>(check));

    const auto stopUnlessAck = [done](const Result &result) {
        if (!result.ok())
            done(result);
        return result.ok();
    };
    exchange(Step::WriteCommand, blockAddress, command(kCmdWriteMemory), kAckTimeoutMs, Tail::None,
             [=](const Result &result, const QByteArray &) {
        if (!stopUnlessAck(result))
            return;
        exchange(Step::WriteAddress, blockAddress, addressPart(blockAddress), kAckTimeoutMs, Tail::None,
                 [=](const Result &addressResult, const QByteArray &) {
            if (!stopUnlessAck(addressResult))
                return;
            exchange(Step::WriteData, blockAddress, dataPart, kAckTimeoutMs, Tail::None,
                     [done](const Result &dataResult, const QByteArray &) { done(dataResult); });
        });
    });
}

void Dialogue::go(quint32 startAddress, Done done)
{
    exchange(Step::GoCommand, startAddress, command(kCmdGo), kAckTimeoutMs, Tail::None,
             [=](const Result &result, const QByteArray &) {
        if (!result.ok()) {
            done(result);
            return;
        }
        exchange(Step::GoAddress, startAddress, addressPart(startAddress), kAckTimeoutMs, Tail::None,
                 [done](const Result &addressResult, const QByteArray &) { done(addressResult); });
    });
}

} // namespace Stm32Boot
