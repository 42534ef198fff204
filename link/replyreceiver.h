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
// Our own writes end a batch too: the line calls flush() just before every
// write, so that a batch never mixes bytes that came before a request
// with its answer, and every batch that completes after the write came after
// it.
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

    // Ends the batch in progress at once: our own bytes are about to go out
    // (what came before them is no answer to them), or the port is closing.
    void flush();

    bool isGathering() const { return !pending.isEmpty(); }

signals:
    // A batch is complete; every byte received is in exactly one batch.
    void batchReady(const QByteArray &batch);

private:
    void finishBatch();

    QByteArray pending;
    QTimer silenceTimer;
    QTimer gatherTimer;
    QElapsedTimer sinceLastBytes;
    QElapsedTimer sinceBatchStart;
};

#endif // QUILLON_REPLYRECEIVER_H
