#include "engine/render/photo_cache.h"

namespace engine {

PhotoCache::PhotoCache(int width, int height, platform::ComPtr<IResizer> resizer)
    : m_width(width)
    , m_height(height)
    , m_resizer(std::move(resizer))
    , m_worker([this] { Work(); })
{}

PhotoCache::~PhotoCache()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void PhotoCache::Want(int key, const QString &path, int stretchMode)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_entries.contains(key))
            return;
        m_entries[key] = Entry{path, stretchMode, nullptr, false};
        m_queue.push_back(key);
    }
    m_changed.notify_all();
}

std::shared_ptr<const Frame> PhotoCache::Get(int key, const QString &path, int stretchMode)
{
    std::unique_lock lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        it = m_entries.emplace(key, Entry{path, stretchMode, nullptr, false}).first;
    if (!it->second.frame && !it->second.taken) {
        // Nobody is on it yet: decoding it here is quicker than waiting for the worker.
        return DecodeUnlocked(lock, it);
    }
    m_changed.wait(lock, [&] {
        auto found = m_entries.find(key);
        return found == m_entries.end() || found->second.frame;
    });
    auto found = m_entries.find(key);
    if (found != m_entries.end())
        return found->second.frame;
    // Dropped while it was decoded: decode it again for this caller.
    lock.unlock();
    return Decode(Entry{path, stretchMode, nullptr, false});
}

void PhotoCache::Drop(int key)
{
    {
        std::lock_guard lock(m_mutex);
        m_entries.erase(key);
    }
    m_changed.notify_all();
}

std::size_t PhotoCache::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

void PhotoCache::Work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        const int key = m_queue.front();
        m_queue.pop_front();
        auto it = m_entries.find(key);
        if (it != m_entries.end() && !it->second.taken && !it->second.frame)
            DecodeUnlocked(lock, it);
    }
}

std::shared_ptr<const Frame> PhotoCache::DecodeUnlocked(std::unique_lock<std::mutex> &lock,
                                                        std::map<int, Entry>::iterator it)
{
    // The entry is marked taken, so no other thread decodes it meanwhile; it may be dropped
    // while the lock is let go, and is then looked up again.
    const int key = it->first;
    it->second.taken = true;
    const Entry copy = it->second;
    lock.unlock();
    auto frame = Decode(copy);
    lock.lock();
    it = m_entries.find(key);
    if (it != m_entries.end())
        it->second.frame = frame;
    m_changed.notify_all();
    return frame;
}

std::shared_ptr<const Frame> PhotoCache::Decode(const Entry &entry) const
{
    return MakePhotoFrame(entry.path, entry.stretchMode, m_width, m_height, m_resizer.Get());
}

} // namespace engine
