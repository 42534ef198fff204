#include "replyreceiver.h"

ReplyReceiver::ReplyReceiver(QObject *parent) : QObject(parent)
{
    // Ten milliseconds is only a few byte times at 9600 baud: the default
    // coarse timers may be 5 % late, which is harmless, but they may also
    // be merged with others; precise timers keep the batch edges sharp.
    silenceTimer.setSingleShot(true);
    silenceTimer.setTimerType(Qt::PreciseTimer);
    silenceTimer.setInterval(kSilenceMs);
    gatherTimer.setSingleShot(true);
    gatherTimer.setTimerType(Qt::PreciseTimer);
    gatherTimer.setInterval(kMaxGatherMs);
    connect(&silenceTimer, &QTimer::timeout, this, &ReplyReceiver::finishBatch);
    connect(&gatherTimer, &QTimer::timeout, this, &ReplyReceiver::finishBatch);
}

void ReplyReceiver::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // When the event loop is busy, the silence or gather timeout may be due
    // but not yet delivered as new bytes come in: the batch ended already.
    if (!pending.isEmpty()
        && (sinceLastBytes.hasExpired(kSilenceMs) || sinceBatchStart.hasExpired(kMaxGatherMs)))
        finishBatch();
    sinceLastBytes.start();

    int taken = 0;
    while (taken < bytes.size()) {
        if (pending.isEmpty()) {
            gatherTimer.start();
            sinceBatchStart.start();
        }
        const int room = kMaxBatchBytes - pending.size();
        const int chunk = qMin(room, bytes.size() - taken);
        pending.append(bytes.constData() + taken, chunk);
        taken += chunk;
        if (pending.size() >= kMaxBatchBytes)
            finishBatch();
    }
    if (!pending.isEmpty())
        silenceTimer.start();
}

void ReplyReceiver::flush()
{
    if (!pending.isEmpty())
        finishBatch();
}

void ReplyReceiver::finishBatch()
{
    silenceTimer.stop();
    gatherTimer.stop();
    if (pending.isEmpty())
        return;
    const QByteArray batch = pending;
    pending.clear();
    emit batchReady(batch);
}
