#include "bootloader.h"

#include "eventlog.h"
#include "flash.h"

#include <QJsonArray>
#include <QTimer>

#include <iterator>
#include <utility>

namespace {

// AN3155's bytes.
constexpr quint8 kSync = 0x7F;
constexpr quint8 kAck = 0x79;
constexpr quint8 kNack = 0x1F;
constexpr quint8 kCmdGet = 0x00;
constexpr quint8 kCmdGetId = 0x02;
constexpr quint8 kCmdReadMemory = 0x11;
constexpr quint8 kCmdGo = 0x21;
constexpr quint8 kCmdWriteMemory = 0x31;
constexpr quint8 kCmdErase = 0x43;
constexpr quint8 kGlobalErase = 0xFF;       // followed by its checksum 0x00
constexpr quint8 kGlobalEraseCheck = 0x00;
// Protocol version 2.2, as the bootloader of the STM32F10x parts reports it
// (the version that erases with 0x43 rather than Extended Erase).
constexpr quint8 kProtocolVersion = 0x22;
// Get ID: the count byte says the product ID that follows is two bytes.
constexpr quint8 kProductIdCount = 0x01;

constexpr int kAddressPartBytes = 5;
constexpr int kCountPartBytes = 2;

struct Command
{
    quint8 code;
    const char *name;
};

// The commands this bootloader knows, in the order Get lists them.
const Command kCommands[] = {
    {kCmdGet, "get"},         {kCmdGetId, "get-id"},        {kCmdReadMemory, "read"},
    {kCmdGo, "go"},           {kCmdWriteMemory, "write"},   {kCmdErase, "erase"},
};

const char *commandName(quint8 code)
{
    for (const Command &command : kCommands) {
        if (command.code == code)
            return command.name;
    }
    return "unknown";
}

QString text(const char *latin1)
{
    return QString::fromLatin1(latin1);
}

QString addressText(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

quint8 xorOf(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum ^= quint8(byte);
    return sum;
}

} // namespace

BootloaderPersonality::BootloaderPersonality(EventLog &eventLog, FlashMemory &memory,
                                             const BootloaderOptions &bootloaderOptions,
                                             std::function<LineSettings()> settings,
                                             QObject *parent)
    : Personality(parent),
      log(eventLog),
      flash(memory),
      options(bootloaderOptions),
      lineSettings(std::move(settings))
{
    if (options.silentAfterBlock == 0)
        stage = Stage::Hung;
}

int BootloaderPersonality::partLength() const
{
    const auto first = [this] { return quint8(pending.at(0)); };
    switch (stage) {
    case Stage::Sync:
        return 1;
    case Stage::Command:
        // A lone 0x7F after synchronisation is refused at once: a host that
        // lost track sends it again, and takes the NACK for "already
        // synchronised" (stm32flash does).
        return pending.isEmpty() || first() == kSync ? 1 : 2;
    case Stage::Address:
        return kAddressPartBytes;
    case Stage::ReadCount:
        return kCountPartBytes;
    case Stage::WriteData:
        // N, then N + 1 bytes and the checksum.
        return pending.isEmpty() ? 1 : first() + 3;
    case Stage::EraseList:
        if (pending.isEmpty())
            return 1;
        return first() == kGlobalErase ? 2 : first() + 3;
    case Stage::Erasing:
    case Stage::Hung:
    case Stage::Gone:
        break;
    }
    return 0;
}

int BootloaderPersonality::bytesWanted() const
{
    const int length = partLength();
    return length > pending.size() ? length - pending.size() : 1;
}

void BootloaderPersonality::bytesArrived(const QByteArray &bytes)
{
    pending.append(bytes);
    while (!pending.isEmpty()) {
        if (stage == Stage::Hung) {
            logIgnored(pending);
            pending.clear();
            return;
        }
        if (stage == Stage::Gone) {
            pending.clear();
            return;
        }
        if (stage == Stage::Sync && quint8(pending.at(0)) != kSync) {
            // Before synchronisation the bootloader is still measuring the
            // baud rate: anything but 0x7F goes unanswered.
            int count = pending.indexOf(char(kSync));
            if (count < 0)
                count = pending.size();
            logIgnored(pending.left(count));
            pending.remove(0, count);
            continue;
        }
        const int length = partLength();
        if (length == 0 || pending.size() < length)
            return;
        const QByteArray part = pending.left(length);
        pending.remove(0, length);
        handle(part);
    }
}

void BootloaderPersonality::handle(const QByteArray &part)
{
    switch (stage) {
    case Stage::Sync: {
        const LineSettings line = lineSettings();
        record = QJsonObject{{text("dir"), text("rx")}, {text("protocol"), text("bootloader")},
                             {text("command"), text("sync")}, {text("hex"), text("7f")},
                             {text("baud"), line.baud}, {text("bits_per_byte"), line.bitsPerByte}};
        accept();
        return;
    }
    case Stage::Command:
        handleCommand(part);
        return;
    case Stage::Address:
        handleAddress(part);
        return;
    case Stage::ReadCount:
        handleReadCount(part);
        return;
    case Stage::WriteData:
        handleWriteData(part);
        return;
    case Stage::EraseList:
        handleEraseList(part);
        return;
    case Stage::Erasing:
    case Stage::Hung:
    case Stage::Gone:
        return;
    }
}

void BootloaderPersonality::handleCommand(const QByteArray &part)
{
    opcode = quint8(part.at(0));
    record = QJsonObject{{text("dir"), text("rx")}, {text("protocol"), text("bootloader")},
                         {text("command"), text(commandName(opcode))},
                         {text("hex"), QString::fromLatin1(part.toHex())}};
    if (part.size() == 1) {
        refuse("unknown-command");
        return;
    }
    if ((opcode ^ quint8(part.at(1))) != 0xFF) {
        refuse("complement", true);
        return;
    }
    record.insert(text("checksum"), text("ok"));

    switch (opcode) {
    case kCmdGet: {
        // N (bytes that follow, minus one), the protocol version, the commands.
        QByteArray data;
        data.append(char(std::size(kCommands)));
        data.append(char(kProtocolVersion));
        for (const Command &command : kCommands)
            data.append(char(command.code));
        data.append(char(kAck));
        accept(data);
        return;
    }
    case kCmdGetId: {
        QByteArray data;
        data.append(char(kProductIdCount));
        data.append(char(options.productId >> 8));
        data.append(char(options.productId & 0xFF));
        data.append(char(kAck));
        accept(data);
        return;
    }
    case kCmdReadMemory:
    case kCmdWriteMemory:
    case kCmdGo:
        stage = Stage::Address;
        emit reply(QByteArray(1, char(kAck)));
        return;
    case kCmdErase:
        stage = Stage::EraseList;
        emit reply(QByteArray(1, char(kAck)));
        return;
    default:
        refuse("unknown-command");
        return;
    }
}

void BootloaderPersonality::handleAddress(const QByteArray &part)
{
    address = (quint32(quint8(part.at(0))) << 24) | (quint32(quint8(part.at(1))) << 16)
              | (quint32(quint8(part.at(2))) << 8) | quint32(quint8(part.at(3)));
    record.insert(text("address"), addressText(address));
    if (xorOf(part.left(4)) != quint8(part.at(4))) {
        refuse("address-checksum", true);
        return;
    }
    if (!flash.contains(address, 1)) {
        refuse("outside-flash");
        return;
    }
    switch (opcode) {
    case kCmdReadMemory:
        stage = Stage::ReadCount;
        emit reply(QByteArray(1, char(kAck)));
        return;
    case kCmdWriteMemory:
        stage = Stage::WriteData;
        emit reply(QByteArray(1, char(kAck)));
        return;
    default: // Go
        accept();
        stage = Stage::Gone;
        emit jumped(address);
        return;
    }
}

void BootloaderPersonality::handleReadCount(const QByteArray &part)
{
    const int length = quint8(part.at(0)) + 1;
    record.insert(text("length"), length);
    if ((quint8(part.at(0)) ^ quint8(part.at(1))) != 0xFF) {
        refuse("complement", true);
        return;
    }
    if (!flash.contains(address, length)) {
        refuse("outside-flash");
        return;
    }
    accept(flash.read(address, length));
}

void BootloaderPersonality::handleWriteData(const QByteArray &part)
{
    const int length = quint8(part.at(0)) + 1;
    ++writes;
    record.insert(text("length"), length);
    record.insert(text("block"), writes);
    // The checksum is the XOR of N and all the data bytes.
    if (xorOf(part.left(length + 1)) != quint8(part.at(length + 1))) {
        refuse("data-checksum", true);
        return;
    }
    if (!flash.contains(address, length)) {
        refuse("outside-flash");
        return;
    }
    if (writes == options.nackBlock) {
        refuse("fault");
        return;
    }
    if (!flash.program(address, part.mid(1, length))) {
        refuse("not-erased");
        return;
    }
    ++writesAcked;
    accept();
    if (writes == options.closeAfterBlock) {
        stage = Stage::Hung;
        emit lineCloseRequested();
    } else if (options.silentAfterBlock > 0 && writesAcked >= options.silentAfterBlock) {
        stage = Stage::Hung;
    }
}

void BootloaderPersonality::handleEraseList(const QByteArray &part)
{
    const quint8 count = quint8(part.at(0));
    if (count == kGlobalErase) {
        record.insert(text("pages"), text("all"));
        if (quint8(part.at(1)) != kGlobalEraseCheck) {
            refuse("erase-checksum", true);
            return;
        }
    } else {
        QJsonArray pages;
        bool inside = true;
        for (int i = 1; i <= count + 1; ++i) {
            const int page = quint8(part.at(i));
            pages.append(page);
            inside = inside && page < flash.pageCount();
        }
        record.insert(text("pages"), pages);
        if (xorOf(part.left(count + 2)) != quint8(part.at(count + 2))) {
            refuse("erase-checksum", true);
            return;
        }
        if (!inside) {
            refuse("outside-flash");
            return;
        }
    }
    if (options.failErase) {
        refuse("fault");
        return;
    }
    // The flash is busy for the erase time; bytes sent meanwhile wait.
    const int pageCount = count == kGlobalErase ? flash.pageCount() : count + 1;
    stage = Stage::Erasing;
    QTimer::singleShot(int(qint64(options.eraseMs) * pageCount / flash.pageCount()),
                       Qt::PreciseTimer, this, [this, part] {
        if (quint8(part.at(0)) == kGlobalErase) {
            flash.eraseAll();
        } else {
            for (int i = 1; i <= quint8(part.at(0)) + 1; ++i)
                flash.erasePage(quint8(part.at(i)));
        }
        accept();
        bytesArrived(QByteArray());
    });
}

void BootloaderPersonality::accept(const QByteArray &data)
{
    record.insert(text("result"), text("ack"));
    log.write(record);
    stage = Stage::Command;
    emit reply(QByteArray(1, char(kAck)) + data);
}

void BootloaderPersonality::refuse(const char *reason, bool checksumBad)
{
    if (checksumBad)
        record.insert(text("checksum"), text("bad"));
    record.insert(text("result"), text("nack"));
    record.insert(text("reason"), text(reason));
    log.write(record);
    stage = Stage::Command;
    emit reply(QByteArray(1, char(kNack)));
}

void BootloaderPersonality::logIgnored(const QByteArray &bytes)
{
    log.write(QJsonObject{{text("dir"), text("rx")}, {text("protocol"), text("bootloader")},
                          {text("command"), text("ignored")},
                          {text("hex"), QString::fromLatin1(bytes.toHex())}});
}
