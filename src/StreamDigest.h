#ifndef STREAMDIGEST_H
#define STREAMDIGEST_H

#include "Crypto.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// MD5, and SHA-256 where asked, of a stream of blocks. Small streams are hashed inline; once a
// stream grows past a few blocks each digest moves to a worker thread of its own, so that a
// large download is read, written and hashed at the same time instead of one after the other,
// and the second digest costs no time while the cores keep up. The queues are bounded, so
// memory stays flat whatever the stream's size.
class StreamDigest
{
public:
    explicit StreamDigest(bool withSha256 = false);
    ~StreamDigest();
    StreamDigest(const StreamDigest &) = delete;
    StreamDigest &operator=(const StreamDigest &) = delete;

    void addData(const char *data, qint64 size);
    // Digests of everything added so far; they wait for the workers to catch up. sha256() is
    // empty unless it was asked for.
    QByteArray result();
    QByteArray sha256();
    void reset();

private:
    // One digest and, once the stream is large, the thread that computes it.
    struct Lane
    {
        explicit Lane(Crypto::Algorithm algorithm)
            : hash(algorithm)
        { }
        void push(const QByteArray &block);
        void waitUntilIdle();
        void stop();
        void run();

        Crypto::Hash hash; // touched only by the worker while it runs
        std::thread worker;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<QByteArray> queue;
        bool busy = false;
        bool stopping = false;
    };

    QByteArray digest(Lane *lane);

    std::vector<std::unique_ptr<Lane>> m_lanes; // MD5 first
    qint64 m_inlineBytes = 0;
    bool m_threaded = false;
};

#endif
