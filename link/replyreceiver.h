#ifndef QUILLON_REPLYRECEIVER_H
#define QUILLON_REPLYRECEIVER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Cuts the byte stream from the camera into replies ("batches").
//
// A camera answers a command with a short burst of back-to-back bytes, so a
// batch ends when the line has been quiet for kSilenceMs. A line that never
// goes quiet (a camera streaming, a noisy adapter) must not hold a batch open
// for ever: a batch also ends kMaxGatherMs after its first byte, or when it
// holds kMaxBatchBytes. Gathering is driven by timers, never by waiting, so
// the event loop keeps running however the bytes come.
//
// The receiver also tells replies to our own writes from stale bytes: the
// link calls markWrite() just before every write, which ends the batch in
// progress; only batches that complete after the last mark are fresh.
class ReplyReceiver : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSilenceMs = 10;
    static constexpr int kMaxGatherMs = 200;
    static constexpr int kMaxBatchBytes = 4096;

    explicit ReplyReceiver(QObject *parent = nullptr);

    // Bytes just read from the line, in order.
    void feed(const QByteArray &bytes);

    // Our own bytes are about to go out: the batch in progress (received
    // before the write) ends now, and the next batch is the first fresh one.
    void markWrite();

    // Ends the batch in progress at once (the port is closing).
    void flush();

    bool isGathering() const { return !pending.isEmpty(); }

    // A batch has completed since the last markWrite().
    bool hasFreshBatch() const { return completed > completedAtLastWrite; }

    // Waits, with the event loop running, until a fresh batch has completed
    // or timeoutMs has passed. True when there is a fresh batch.
    bool waitForFreshBatch(int timeoutMs);

    // The bytes received since the last markWrite(), one at a time, as soon
    // as they arrive: a dialogue that waits for a single answer byte (the
    // bootloader's ACK) need not wait for the batch to end.
    bool hasFreshByte() const { return freshRead < freshBytes.size(); }
    quint8 takeFreshByte() { return quint8(freshBytes.at(freshRead++)); }

signals:
    // The first bytes of a new batch have arrived.
    void batchStarted();
    // A batch is complete; every byte received is in exactly one batch.
    void batchReady(const QByteArray &batch);
    // Bytes were fed (after the batch signals they caused).
    void bytesFed();

private:
    void finishBatch();

    QByteArray pending;
    QTimer silenceTimer;
    QTimer gatherTimer;
    QElapsedTimer sinceLastBytes;
    QElapsedTimer sinceBatchStart;
    quint64 completed = 0;
    quint64 completedAtLastWrite = 0;
    QByteArray freshBytes;
    int freshRead = 0;
};

#endif // QUILLON_REPLYRECEIVER_H
