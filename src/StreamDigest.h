#ifndef STREAMDIGEST_H
#define STREAMDIGEST_H

#include "Crypto.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// MD5, and SHA-256 where asked, of a stream of blocks. Small streams are hashed inline; once a stream grows
// past a few blocks the hashing moves to a worker thread, so that a large download is read, written and
// hashed at the same time instead of one after the other. The queue is bounded, so memory
// stays flat whatever the stream's size.
class StreamDigest
{
public:
    explicit StreamDigest(bool withSha256 = false);
    ~StreamDigest();
    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    void addData(const char *data, qint64 size);
    // Digests of everything added so far; they wait for the worker to catch up. sha256() is
    // empty unless it was asked for.
    QByteArray result();
    QByteArray sha256();
    void reset();

private:
    void hashQueued();
    void waitUntilIdle(std::unique_lock<std::mutex> &lock);

    void hash(const char *data, qint64 size);

    // Touched only by the worker while it runs.
    Crypto::Hash m_md5;
    std::optional<Crypto::Hash> m_sha256;
    qint64 m_inlineBytes = 0;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
};

#endif
