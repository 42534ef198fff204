// The serial receive path under any byte stream: bytes in chunks of any
// size, with gaps that are shorter or longer than the silence that ends a
// reply, writes of our own and port closes in between, and an event loop
// that now and then stalls. Whatever comes, every byte ends up in exactly
// one batch, in order, no batch is larger than the cap, a write ends the
// batch in progress, and every reading of a batch stays within it.
//
// The input is a program: one byte chooses an operation, the next bytes are
// its arguments. Gaps take real time, so an input gets a small budget of it
// (a few gaps past the silence); after that, gaps only run pending events.

#include "link/replyreceiver.h"
#include "protocol/positionreply.h"
#include "protocol/viscareply.h"
#include "service/serviceframes.h"
#include "wait.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kTimeBudgetMs = 40;
constexpr int kLongestShortGapMs = 3;

void check(bool condition)
{
    if (!condition)
        abort();
}

// Reads the input front to back; past its end every byte is 0.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : at(data), end(data + size) {}
    bool atEnd() const { return at == end; }
    quint8 byte() { return at == end ? 0 : *at++; }
    QByteArray bytes(int count)
    {
        const int n = int(qMin<qint64>(count, end - at));
        const QByteArray result(reinterpret_cast<const char *>(at), n);
        at += n;
        return result;
    }

private:
    const uint8_t *at;
    const uint8_t *end;
};

// An acknowledge or completion of a VISCA command: z0 4y FF or z0 5y FF,
// z the camera's address plus 8, y a socket 1..F.
bool isCommandReply(const QByteArray &bytes, int at)
{
    if (bytes.size() < at + 3)
        return false;
    const quint8 header = quint8(bytes.at(at));
    const quint8 kind = quint8(bytes.at(at + 1));
    return (header & 0x8F) == 0x80 && (kind >> 4 == 4 || kind >> 4 == 5) && (kind & 0x0F) != 0
           && quint8(bytes.at(at + 2)) == 0xFF;
}

// What the window reads from a batch: the answer after the late command
// replies, that answer as a serial number, a position, the communication
// test and the version.
void checkReadings(const QByteArray &batch)
{
    const QByteArray answer = ViscaReply::withoutCommandReplies(batch);
    const int skipped = int(batch.size() - answer.size());
    check(batch.endsWith(answer) && skipped % 3 == 0);
    for (int at = 0; at < skipped; at += 3)
        check(isCommandReply(batch, at));
    check(!isCommandReply(batch, skipped));

    for (const int length : {12, 15}) {
        const std::optional<QString> number = ViscaReply::serialNumber(answer, length);
        const bool terminated = !answer.isEmpty() && quint8(answer.back()) == 0xFF;
        check(number.has_value() == terminated);
        if (!number)
            continue;
        // Two header bytes, then at most `length` characters before the
        // final 0xFF, cut at the first zero byte.
        QByteArray text = answer.mid(2, qMax(0, qMin(length, int(answer.size()) - 3)));
        if (text.contains('\0'))
            text.truncate(text.indexOf('\0'));
        check(*number == QString::fromUtf8(text));
    }
    const QString position = PositionReply::digits(answer);
    check(position.isEmpty() || (position.size() == 4 && answer.size() >= 7));
    check(!ServiceFrames::communicationTestPassed(answer) || answer.size() >= 10);
    check(ServiceFrames::versionBits(answer).size() == (answer.size() > 3 ? 8 : 0));
}

struct Run
{
    ReplyReceiver receiver;
    QByteArray fed;
    QList<QByteArray> batches;
    int timeLeftMs = kTimeBudgetMs;

    Run()
    {
        QObject::connect(&receiver, &ReplyReceiver::batchReady, [this](const QByteArray &batch) {
            check(!batch.isEmpty() && batch.size() <= ReplyReceiver::kMaxBatchBytes);
            checkReadings(batch);
            batches.append(batch);
        });
    }

    void feed(const QByteArray &bytes)
    {
        receiver.feed(bytes);
        fed.append(bytes);
    }

    // Runs the event loop for msec (0: only what is due now), within budget.
    void gap(int msec)
    {
        msec = qMin(msec, timeLeftMs);
        timeLeftMs -= msec;
        msec > 0 ? Wait::sleep(msec) : QCoreApplication::processEvents();
    }

    // The window is busy elsewhere: time passes and no event is delivered.
    void stall(int msec)
    {
        msec = qMin(msec, timeLeftMs);
        timeLeftMs -= msec;
        QThread::msleep(ulong(msec));
    }

    // Our own write: what came before it is a batch of its own.
    void write()
    {
        receiver.flush();
        check(!receiver.isGathering() && batches.join() == fed);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv); // lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    Run run;
    while (!input.atEnd()) {
        const quint8 op = input.byte();
        switch (op % 8) {
        case 0:
        case 1:
        case 2: // a few bytes as one read from the port
            run.feed(input.bytes(input.byte() % 32 + 1));
            break;
        case 3: { // a long read: a pattern repeated, up to a few KiB
            const int times = input.byte() % 128 + 1;
            run.feed(input.bytes(input.byte() % 64 + 1).repeated(times));
            break;
        }
        case 4:
            run.gap(input.byte() % (kLongestShortGapMs + 1));
            break;
        case 5:
            run.gap(ReplyReceiver::kSilenceMs + input.byte() % 5);
            break;
        case 6:
            run.write();
            break;
        case 7:
            run.stall(ReplyReceiver::kSilenceMs + 1);
            break;
        }
        check(run.receiver.isGathering() || run.batches.join() == run.fed);
    }
    run.receiver.flush();
    check(!run.receiver.isGathering());
    check(run.batches.join() == run.fed);
    return 0;
}
