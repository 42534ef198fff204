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

} // namespace

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x") % QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

quint16 productId(const QByteArray &idBytes)
{
    quint16 id = 0;
    for (int i = 0; i < qMin(2, int(idBytes.size())); ++i)
        id = quint16((id << 8) | quint8(idBytes.at(i)));
    return id;
}

QString Result::text() const
{
    QString what;
    switch (step) {
    case Step::Sync: what = QStringLiteral("the sync byte 0x7F"); break;
    case Step::Get: what = QStringLiteral("Get"); break;
    case Step::GetId: what = QStringLiteral("Get ID"); break;
    case Step::EraseCommand: what = QStringLiteral("the Erase command"); break;
    case Step::ExtendedEraseCommand: what = QStringLiteral("the Extended Erase command"); break;
    case Step::GlobalErase: what = QStringLiteral("the global erase"); break;
    case Step::PageErase: what = QStringLiteral("the erase of the pages from ") % hexAddress(address); break;
    case Step::WriteCommand:
        what = QStringLiteral("the Write Memory command of the block at ") % hexAddress(address);
        break;
    case Step::WriteAddress: what = QStringLiteral("the address of the block at ") % hexAddress(address); break;
    case Step::WriteData: what = QStringLiteral("the data of the block at ") % hexAddress(address); break;
    case Step::ReadCommand: what = QStringLiteral("the Read Memory command at ") % hexAddress(address); break;
    case Step::ReadAddress: what = QStringLiteral("the read address ") % hexAddress(address); break;
    case Step::ReadLength: what = QStringLiteral("the length of the read at ") % hexAddress(address); break;
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
                        int timeoutMs, Done done)
{
    exchange(exchangeStep, exchangeAddress, part, timeoutMs, Tail::None,
             [done](const Result &result, const QByteArray &) { done(result); });
}

void Dialogue::exchange(Step exchangeStep, quint32 exchangeAddress, const QByteArray &part,
                        int timeoutMs, Tail exchangeTail, DoneWithData done, int fixedBytes)
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
    dataBytes = exchangeTail == Tail::Fixed ? fixedBytes : -1;
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
        if (tail == Tail::Fixed) {
            data.append(c);
            if (data.size() == dataBytes)
                return finish(Answer::Ack);
            continue;
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
    const QByteArray received = answer == Answer::Ack ? data : QByteArray();
    data.clear();
    done(Result{answer, step, address}, received);
}

void Dialogue::stop()
{
    ++stops;
    pending = DoneWithData();
    link.disarmTimer();
}

void Dialogue::sync(std::function<void(const Result &, bool alreadySynced)> done)
{
    const QByteArray syncByte(1, static_cast<char>(kSync));
    const Done settle = [done](const Result &result) {
        if (result.answer == Answer::Timeout)
            return done(result, false);
        // A NACK comes from a bootloader that is listening for commands.
        done(Result{Answer::Ack, Step::Sync, 0}, result.answer == Answer::Nack);
    };
    exchange(Step::Sync, 0, syncByte, kAckTimeoutMs, [=](const Result &first) {
        if (first.answer == Answer::Timeout && !link.isLost())
            return exchange(Step::Sync, 0, syncByte, kAckTimeoutMs, settle);
        settle(first);
    });
}

void Dialogue::get(DoneWithData done)
{
    // ACK, then N, the protocol version and the N command codes, and a
    // closing ACK.
    exchange(Step::Get, 0, command(kCmdGet), kAckTimeoutMs, Tail::Counted, std::move(done));
}

void Dialogue::getId(DoneWithData done)
{
    // ACK, then N (the number of ID bytes minus one), the N + 1 ID bytes,
    // and a closing ACK. STM32 parts send N = 1 and two ID bytes.
    exchange(Step::GetId, 0, command(kCmdGetId), kAckTimeoutMs, Tail::Counted, std::move(done));
}

void Dialogue::eraseCommand(bool extended, Done done)
{
    exchange(extended ? Step::ExtendedEraseCommand : Step::EraseCommand, 0,
             command(extended ? kCmdExtendedErase : kCmdErase), kAckTimeoutMs, std::move(done));
}

void Dialogue::globalErase(bool extended, Done done)
{
    // The bootloader acknowledges only when the whole flash is erased. The
    // codes are followed by their XOR: FF 00, or FF FF 00.
    QByteArray part(extended ? 2 : 1, static_cast<char>(kGlobalErase));
    part.append('\0');
    exchange(Step::GlobalErase, 0, part, kMassEraseTimeoutMs, std::move(done));
}

void Dialogue::erasePages(bool extended, const QList<int> &pages, Done done)
{
    Q_ASSERT(!pages.isEmpty() && pages.size() <= kMaxPagesPerErase);
    // N = pages - 1, then the page numbers, then the XOR of all of it. With
    // Extended Erase N and every page number are two bytes, most
    // significant first.
    QByteArray part;
    const auto put = [&part, extended](int value) {
        if (extended)
            part.append(static_cast<char>(value >> 8));
        part.append(static_cast<char>(value & 0xFF));
    };
    put(int(pages.size()) - 1);
    for (const int page : pages)
        put(page);
    quint8 check = 0;
    for (const char byte : qAsConst(part))
        check ^= static_cast<quint8>(byte);
    part.append(static_cast<char>(check));
    // Each page (or sector) takes its time; the bound of a whole erase
    // covers any list.
    exchange(Step::PageErase, quint32(pages.constFirst()), part, kMassEraseTimeoutMs, std::move(done));
}

void Dialogue::readMemory(quint32 readAddress, int length, DoneWithData done, std::function<void()> requested)
{
    Q_ASSERT(length >= 1 && length <= kReadBlockBytes);
    exchange(Step::ReadCommand, readAddress, command(kCmdReadMemory), kAckTimeoutMs, [=](const Result &result) {
        if (!result.ok())
            return done(result, QByteArray());
        exchange(Step::ReadAddress, readAddress, addressPart(readAddress), kAckTimeoutMs,
                 [=](const Result &addressResult) {
            if (!addressResult.ok())
                return done(addressResult, QByteArray());
            // N = length - 1 and its complement; the bytes follow the ACK.
            QByteArray lengthPart(1, static_cast<char>(length - 1));
            lengthPart.append(static_cast<char>((length - 1) ^ 0xFF));
            const int stopsBefore = stops;
            exchange(Step::ReadLength, readAddress, lengthPart, kAckTimeoutMs, Tail::Fixed, done, length);
            if (requested && stops == stopsBefore)
                requested();
        });
    });
}

void Dialogue::writeBlock(quint32 blockAddress, const QByteArray &bytes, Done done, std::function<void()> dataSent)
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

    exchange(Step::WriteCommand, blockAddress, command(kCmdWriteMemory), kAckTimeoutMs, [=](const Result &result) {
        if (!result.ok())
            return done(result);
        exchange(Step::WriteAddress, blockAddress, addressPart(blockAddress), kAckTimeoutMs,
                 [=](const Result &addressResult) {
            if (!addressResult.ok())
                return done(addressResult);
            const int stopsBefore = stops;
            exchange(Step::WriteData, blockAddress, dataPart, kAckTimeoutMs, done);
            if (dataSent && stops == stopsBefore)
                dataSent();
        });
    });
}

void Dialogue::go(quint32 startAddress, Done done)
{
    // The bootloader acknowledges the command, then the address; only then
    // does it jump.
    exchange(Step::GoCommand, startAddress, command(kCmdGo), kAckTimeoutMs, [=](const Result &result) {
        if (!result.ok())
            return done(result);
        exchange(Step::GoAddress, startAddress, addressPart(startAddress), kAckTimeoutMs, done);
    });
}

} // namespace Stm32Boot
