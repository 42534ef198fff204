#include "bootloader.h"

#include "eventlog.h"
#include "flash.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// AN3155's bytes.
constexpr quint8 kSync = 0x7F;
constexpr quint8 kAck = 0x79;
constexpr quint8 kNack = 0x1F;
constexpr quint8 kCmdGet = 0x00;
constexpr quint8 kCmdGetVersion = 0x01;
constexpr quint8 kCmdGetId = 0x02;
constexpr quint8 kCmdReadMemory = 0x11;
constexpr quint8 kCmdGo = 0x21;
constexpr quint8 kCmdWriteMemory = 0x31;
constexpr quint8 kCmdErase = 0x43;
constexpr quint8 kCmdExtendedErase = 0x44;
constexpr quint8 kGlobalErase = 0xFF;       // followed by its checksum 0x00
constexpr quint8 kGlobalEraseCheck = 0x00;
// Extended Erase: two-byte codes in place of N. 0xFFFF erases everything,
// 0xFFFE bank 1 and 0xFFFD bank 2; 0xFFF0 to 0xFFFC are reserved.
constexpr int kMassErase = 0xFFFF;
constexpr int kBank1Erase = 0xFFFE;
constexpr int kBank2Erase = 0xFFFD;
constexpr int kFirstSpecialCode = 0xFFF0;
// Get Version: the two option bytes after the version, kept at zero "for
// compatibility with the generic bootloader protocol".
constexpr quint8 kGetVersionOptionByte = 0x00;
// Get ID: the count byte says the product ID that follows is two bytes.
constexpr quint8 kProductIdCount = 0x01;

constexpr int kAddressPartBytes = 5;
constexpr int kCountPartBytes = 2;
constexpr int kExtCountBytes = 2;
constexpr int kExtSpecialPartBytes = 3; // the code and its XOR

struct Command
{
    quint8 code;
    const char *name;
};

// The commands this bootloader knows, in the order Get lists them.
const Command kCommands[] = {
    {kCmdGet, "get"},         {kCmdGetVersion, "get-version"}, {kCmdGetId, "get-id"},
    {kCmdReadMemory, "read"}, {kCmdGo, "go"},                   {kCmdWriteMemory, "write"},
    {kCmdErase, "erase"},     {kCmdExtendedErase, "ext-erase"},
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

QJsonArray pageList(const QVector<int> &pages)
{
    QJsonArray list;
    for (int page : pages)
        list.append(page);
    return list;
}

quint8 xorOf(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum ^= quint8(byte);
    return sum;
}

} // namespace


std::optional<QVector<quint8>> bootloaderCommands(const QString &list)
{
    QVector<bool> named(int(std::size(kCommands)), false);
    for (const QString &name : list.split(QLatin1Char(','))) {
        const auto known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [&name](const Command &command) {
                                            return name.trimmed() == QLatin1String(command.name);
                                        });
        if (known == std::end(kCommands))
            return std::nullopt;
        named[int(known - std::begin(kCommands))] = true;
    }
    QVector<quint8> codes;
    for (int i = 0; i < named.size(); ++i) {
        if (named.at(i))
            codes.append(kCommands[i].code);
    }
    return codes;
}

QVector<quint8> defaultBootloaderCommands(quint8 eraseCommand)
{
    // The ROMs also list Get Version and the protection commands (0x63,
    // 0x73, 0x82, 0x92). camsim plays no protection commands, and leaves Get
    // Version to --commands so that the F10x default stays the six commands
    // it has always listed.
    return {kCmdGet, kCmdGetId, kCmdReadMemory, kCmdGo, kCmdWriteMemory, eraseCommand};
}

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
    else if (options.startSynced)
        stage = Stage::Command;
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
    case Stage::ExtEraseList: {
        // Two bytes, most significant first: a special code and its XOR, or
        // N, then N + 1 page numbers of two bytes and the XOR of them all.
        if (pending.size() < kExtCountBytes)
            return kExtCountBytes;
        const int count = (first() << 8) | quint8(pending.at(1));
        return count >= kFirstSpecialCode ? kExtSpecialPartBytes
                                          : kExtCountBytes + 2 * (count + 1) + 1;
    }
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
        // The USART measured the baud rate on this 0x7F: on a
        // pseudo-terminal, whatever rate the window's port is set to.
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
    case Stage::ExtEraseList:
        handleExtEraseList(part);
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
    // A command this part's bootloader does not have is one it does not know.
    if (!options.commands.contains(opcode)) {
        refuse("unknown-command");
        return;
    }

    switch (opcode) {
    case kCmdGet: {
        // N (bytes that follow, minus one), the protocol version, the commands.
        QByteArray data;
        data.append(char(options.commands.size()));
        data.append(char(options.protocolVersion));
        for (quint8 code : options.commands)
            data.append(char(code));
        data.append(char(kAck));
        accept(data);
        return;
    }
    case kCmdGetVersion: {
        QByteArray data;
        data.append(char(options.protocolVersion));
        data.append(char(kGetVersionOptionByte));
        data.append(char(kGetVersionOptionByte));
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
        // Read-out protection (level 1) refuses Read Memory before the
        // address: the flash cannot be read back through the bootloader.
        if (options.readProtected) {
            refuse("read-protected");
            return;
        }
        stage = Stage::Address;
        emit reply(QByteArray(1, char(kAck)));
        return;
    case kCmdWriteMemory:
    case kCmdGo:
        stage = Stage::Address;
        emit reply(QByteArray(1, char(kAck)));
        return;
    case kCmdErase:
        stage = Stage::EraseList;
        emit reply(QByteArray(1, char(kAck)));
        return;
    case kCmdExtendedErase:
        stage = Stage::ExtEraseList;
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
    if (!flash.contains(address, 1) && !(opcode == kCmdReadMemory && inFlashSizeRegister(address, 1))) {
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
    if (inFlashSizeRegister(address, length)) {
        // The size in KiB, least significant byte first.
        const int kib = int(flash.image().size() / 1024);
        const QByteArray size = QByteArray(1, char(kib & 0xFF)) + char(kib >> 8);
        record.insert(text("register"), text("flash-size"));
        accept(size.mid(int(address - options.flashSizeRegister), length));
        return;
    }
    if (!flash.contains(address, length)) {
        refuse("outside-flash");
        return;
    }
    accept(flash.read(address, length));
}

bool BootloaderPersonality::inFlashSizeRegister(quint32 at, int length) const
{
    constexpr quint32 kRegisterBytes = 2;
    return options.flashSizeRegister != 0 && at >= options.flashSizeRegister
           && quint64(at) + quint32(length) <= quint64(options.flashSizeRegister) + kRegisterBytes;
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
    QVector<int> pages;
    if (count == kGlobalErase) {
        record.insert(text("pages"), text("all"));
        if (quint8(part.at(1)) != kGlobalEraseCheck) {
            refuse("erase-checksum", true);
            return;
        }
    } else {
        for (int i = 1; i <= count + 1; ++i)
            pages.append(quint8(part.at(i)));
        record.insert(text("pages"), pageList(pages));
        if (xorOf(part.left(count + 2)) != quint8(part.at(count + 2))) {
            refuse("erase-checksum", true);
            return;
        }
    }
    erase(pages);
}

void BootloaderPersonality::handleExtEraseList(const QByteArray &part)
{
    const auto word = [&part](int at) {
        return (quint8(part.at(at)) << 8) | quint8(part.at(at + 1));
    };
    const int count = word(0);
    const bool checksumGood = xorOf(part.left(part.size() - 1)) == quint8(part.at(part.size() - 1));
    if (count >= kFirstSpecialCode) {
        record.insert(text("pages"), count == kMassErase    ? text("all")
                                     : count == kBank1Erase ? text("bank1")
                                     : count == kBank2Erase ? text("bank2")
                                                            : text("reserved"));
        if (!checksumGood) {
            refuse("erase-checksum", true);
        } else if (count == kBank1Erase || count == kBank2Erase) {
            // The parts camsim plays have one bank: their ROMs take the mass
            // erase only.
            refuse("single-bank");
        } else if (count != kMassErase) {
            refuse("reserved-code");
        } else {
            erase({});
        }
        return;
    }
    QVector<int> pages;
    for (int i = 0; i <= count; ++i)
        pages.append(word(kExtCountBytes + 2 * i));
    record.insert(text("pages"), pageList(pages));
    if (!checksumGood) {
        refuse("erase-checksum", true);
        return;
    }
    erase(pages);
}

void BootloaderPersonality::erase(const QVector<int> &pages)
{
    const bool inside = std::all_of(pages.cbegin(), pages.cend(),
                                    [this](int page) { return page < flash.pageCount(); });
    if (!inside) {
        refuse("outside-flash");
        return;
    }
    if (options.failErase) {
        refuse("fault");
        return;
    }
    // The flash is busy for as long as the erase takes, the whole flash
    // taking eraseMs; bytes sent meanwhile wait.
    qint64 bytes = pages.isEmpty() ? flash.size() : 0;
    for (int page : pages)
        bytes += flash.pageBytes(page);
    stage = Stage::Erasing;
    QTimer::singleShot(int(qint64(options.eraseMs) * bytes / flash.size()), Qt::PreciseTimer, this,
                       [this, pages] {
        if (pages.isEmpty())
            flash.eraseAll();
        for (int page : pages)
            flash.erasePage(page);
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
