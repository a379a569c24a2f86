#ifndef STREAMDIGEST_H
#define STREAMDIGEST_H

#include <QByteArray>
#include <QCryptographicHash>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// MD5 of a stream of blocks. Small streams are hashed inline; once a stream grows past a few
// blocks the hashing moves to a worker thread, so that a large download is read, written and
// hashed at the same time instead of one after the other. The queue is bounded, so memory
// stays flat whatever the stream's size.
class StreamDigest
{
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    void addData(const char *data, qint64 size);
    // Digest of everything added so far; waits for the worker to catch up.
    QByteArray result();
    void reset();

private:
    void hashQueued();
    void waitUntilIdle(std::unique_lock<std::mutex> &lock);

    QCryptographicHash m_hash; // touched only by the worker while it runs
    qint64 m_inlineBytes = 0;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
};

#endif
