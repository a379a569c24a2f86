#include "StreamDigest.h"

namespace {
// Below this a thread costs more than it saves: most update files are small.
constexpr qint64 InlineLimit = 1 << 20;
// Blocks waiting for the worker: two reads of the reply buffer at most.
constexpr std::size_t QueueLimit = 2;
} // namespace

StreamDigest::StreamDigest(bool withSha256)
    : m_md5(Crypto::Algorithm::Md5)
{
    if (withSha256)
        m_sha256.emplace(Crypto::Algorithm::Sha256);
}

void StreamDigest::hash(const char *data, qint64 size)
{
    m_md5.addData(data, size);
    if (m_sha256)
        m_sha256->addData(data, size);
}

StreamDigest::~StreamDigest()
{
    if (!m_worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void StreamDigest::addData(const char *data, qint64 size)
{
    if (size <= 0)
        return;
    if (!m_worker.joinable() && m_inlineBytes + size <= InlineLimit) {
        hash(data, size);
        m_inlineBytes += size;
        return;
    }
    if (!m_worker.joinable())
        m_worker = std::thread(&StreamDigest::hashQueued, this);

    QByteArray block(data, int(size));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < QueueLimit; });
    m_queue.push_back(std::move(block));
    lock.unlock();
    m_changed.notify_all();
}

QByteArray StreamDigest::result()
{
    if (m_worker.joinable()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitUntilIdle(lock);
    }
    return m_md5.result();
}

QByteArray StreamDigest::sha256()
{
    if (!m_sha256)
        return QByteArray();
    if (m_worker.joinable()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitUntilIdle(lock);
    }
    return m_sha256->result();
}

void StreamDigest::reset()
{
    if (m_worker.joinable()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_queue.clear();
        waitUntilIdle(lock);
    }
    m_md5.reset();
    if (m_sha256)
        m_sha256->reset();
    m_inlineBytes = 0;
}

void StreamDigest::waitUntilIdle(std::unique_lock<std::mutex> &lock)
{
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void StreamDigest::hashQueued()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        QByteArray block = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();
        hash(block.constData(), block.size());
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}
