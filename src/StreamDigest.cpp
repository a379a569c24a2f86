#include "StreamDigest.h"

namespace {
// Below this a thread costs more than it saves: most update files are small.
constexpr qint64 InlineLimit = 1 << 20;
// Blocks waiting for a worker: two reads of the reply buffer at most.
constexpr std::size_t QueueLimit = 2;
} // namespace

StreamDigest::StreamDigest(bool withSha256)
{
    m_lanes.push_back(std::make_unique<Lane>(Crypto::Algorithm::Md5));
    if (withSha256)
        m_lanes.push_back(std::make_unique<Lane>(Crypto::Algorithm::Sha256));
}

StreamDigest::~StreamDigest()
{
    for (const std::unique_ptr<Lane> &lane : m_lanes)
        lane->stop();
}

void StreamDigest::addData(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    if (!m_threaded && m_inlineBytes + size <= InlineLimit) {
        for (const std::unique_ptr<Lane> &lane : m_lanes)
            lane->hash.addData(data, size);
        m_inlineBytes += size;
        return;
    }
    if (!m_threaded) {
        m_threaded = true;
        for (const std::unique_ptr<Lane> &lane : m_lanes)
            lane->worker = std::thread(&Lane::run, lane.get());
    }
    // One copy of the block, shared by the lanes.
    const QByteArray block(data, int(size));
    for (const std::unique_ptr<Lane> &lane : m_lanes)
        lane->push(block);
}

QByteArray StreamDigest::digest(Lane *lane)
{
    if (m_threaded)
        lane->waitUntilIdle();
    return lane->hash.result();
}

QByteArray StreamDigest::result()
{
    return digest(m_lanes.front().get());
}

QByteArray StreamDigest::sha256()
{
    return m_lanes.size() > 1 ? digest(m_lanes.back().get()) : QByteArray();
}

void StreamDigest::reset()
{
    for (const std::unique_ptr<Lane> &lane : m_lanes) {
        if (m_threaded) {
            {
                std::lock_guard<std::mutex> lock(lane->mutex);
                lane->queue.clear();
            }
            lane->waitUntilIdle();
        }
        lane->hash.reset();
    }
    m_inlineBytes = 0;
}

void StreamDigest::Lane::push(const QByteArray &block)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return queue.size() < QueueLimit; });
    queue.push_back(block);
    lock.unlock();
    changed.notify_all();
}

void StreamDigest::Lane::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return queue.empty() && !busy; });
}

void StreamDigest::Lane::stop()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    worker.join();
}

void StreamDigest::Lane::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping)
            return;
        QByteArray block = std::move(queue.front());
        queue.pop_front();
        busy = true;
        lock.unlock();
        changed.notify_all();
        hash.addData(block);
        lock.lock();
        busy = false;
        changed.notify_all();
    }
}
