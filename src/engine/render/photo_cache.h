#pragma once
// The photos a video group's clips need, decoded and fitted into frames on a worker thread
// of their own, ahead of the frames that show them. Only the clips asked for and not yet
// dropped are held, so memory does not grow with the number of photos.

#include "engine/render/photo_frame.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace engine {

class PhotoCache
{
public:
    // resizer may be null (stretch modes other than fitting need none).
    PhotoCache(int width, int height, platform::ComPtr<IResizer> resizer);
    ~PhotoCache();
    PhotoCache(const PhotoCache &) = delete;
    PhotoCache &operator=(const PhotoCache &) = delete;

    // Queues the photo of clip `key` for decoding, unless it is queued or held already.
    void Want(int key, const QString &path, int stretchMode);
    // The frame of clip `key`, waiting for the worker when it is not ready yet (a clip
    // that was never wanted is wanted now). Never null: an undecodable photo is black.
    std::shared_ptr<const Frame> Get(int key, const QString &path, int stretchMode);
    // Forgets the clip's frame (a frame still in use stays alive until its last user).
    void Drop(int key);
    // Clips queued or held.
    std::size_t Count() const;

private:
    struct Entry
    {
        QString path;
        int stretchMode = 0;
        std::shared_ptr<const Frame> frame; // null until decoded
        bool taken = false;                 // a thread is decoding it
    };
    void Work();
    // Decodes the entry with the lock let go meanwhile; stores and returns the frame.
    std::shared_ptr<const Frame> DecodeUnlocked(std::unique_lock<std::mutex> &lock,
                                                std::map<int, Entry>::iterator it);
    std::shared_ptr<const Frame> Decode(const Entry &entry) const;

    const int m_width;
    const int m_height;
    const platform::ComPtr<IResizer> m_resizer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int, Entry> m_entries;
    std::deque<int> m_queue;
    bool m_stopping = false;
    std::thread m_worker; // last: starts once everything above exists
};

} // namespace engine
