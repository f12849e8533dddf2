// The video stream: one frame per output frame time, the top clip of the tracks with the
// transitions under way blended in.

#include "engine/render/render_streams.h"

#include "engine/render/audio_mixer.h"
#include "engine/render/default_resizer.h"
#include "engine/render/photo_cache.h"
#include "engine/render/transition.h"
#include "platform/class_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace engine::render {
namespace {

class VideoStream final : public GroupStream
{
public:
    VideoStream(GroupPlan plan, ComPtr<IResizer> resizer)
        : m_plan(std::move(plan))
        , m_resizer(std::move(resizer))
        , m_black(m_plan.width, m_plan.height)
    {
        // Later tracks lie above earlier ones; on one track a later clip wins.
        std::vector<std::size_t> order(m_plan.clips.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return m_plan.clips[a].start < m_plan.clips[b].start;
        });
        m_byStart = std::move(order);
        for (const TransitionPlan &tr : m_plan.transitions) {
            if (tr.stop <= tr.start || tr.track < 0)
                continue; // an empty transition never shows
            const auto track = static_cast<std::size_t>(tr.track);
            if (m_transitionsByTrack.size() <= track)
                m_transitionsByTrack.resize(track + 1);
            m_transitionsByTrack[track].push_back(&tr);
        }
        const std::int64_t unitsPerRate = kUnitsPerSecond * m_plan.rateDen;
        m_frames = (m_plan.end * m_plan.rateNum + unitsPerRate - 1) / unitsPerRate;
    }

    void Start() override
    {
        m_cache = std::make_unique<PhotoCache>(m_plan.width, m_plan.height, m_resizer);
        m_frame = 0;
        m_live.clear();
        m_nextStart = 0;
        m_nextWant = 0;
        m_lastKey = kNoFrame;
        m_held.clear();
    }
    void Stop() override
    {
        m_held.clear();
        m_cache.reset();
    }
    bool HasNext() const override { return m_frame < m_frames; }
    ReferenceTime NextTime() const override { return TimeOf(m_frame); }

    MediaSample Next() override
    {
        const ReferenceTime t = TimeOf(m_frame);
        Advance(t);
        const Layer layer = Compose(static_cast<int>(m_live.size()), t, 0);
        MediaSample sample;
        sample.data = layer.data;
        sample.size = m_black.bytes.size();
        sample.start = t;
        sample.stop = TimeOf(m_frame + 1);
        sample.repeat = layer.key != kBlended && layer.key == m_lastKey;
        m_lastKey = layer.key;
        ++m_frame;
        return sample;
    }

    // Clips whose photo is queued or held (for tests of the streaming memory).
    std::size_t PhotosHeld() const { return m_cache ? m_cache->Count() : 0; }

private:
    static constexpr long kNoFrame = -3;
    static constexpr long kBlack = -2;
    static constexpr long kBlended = -1;
    // How many clips that have not begun yet are decoded ahead.
    static constexpr int kClipsAhead = 2;

    struct Layer
    {
        const std::uint8_t *data;
        long key; // the clip shown unchanged, kBlack, or kBlended
    };

    ReferenceTime TimeOf(std::int64_t frame) const
    {
        return frame * kUnitsPerSecond * m_plan.rateDen / m_plan.rateNum;
    }

    // Brings the set of playing clips to time t (which never goes back), asks for the
    // photos of the next clips and lets go of those that are over.
    void Advance(ReferenceTime t)
    {
        const auto &clips = m_plan.clips;
        while (m_nextStart < m_byStart.size() && clips[m_byStart[m_nextStart]].start <= t) {
            const std::size_t index = m_byStart[m_nextStart++];
            if (clips[index].stop > t)
                m_live.push_back(index);
        }
        for (std::size_t i = 0; i < m_live.size();) {
            if (clips[m_live[i]].stop <= t) {
                Release(m_live[i]);
                m_live.erase(m_live.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
        // Top first: higher track, then the clip added later to the same track.
        std::sort(m_live.begin(), m_live.end(), [&](std::size_t a, std::size_t b) {
            if (clips[a].track != clips[b].track)
                return clips[a].track > clips[b].track;
            return a > b;
        });
        // Keep the worker busy with the clips that come next.
        if (m_nextWant < m_nextStart)
            m_nextWant = m_nextStart;
        for (;;) {
            int ahead = 0;
            for (std::size_t i = m_nextStart; i < m_nextWant; ++i)
                ahead += clips[m_byStart[i]].stop > clips[m_byStart[i]].start ? 1 : 0;
            if (ahead >= kClipsAhead || m_nextWant >= m_byStart.size())
                break;
            const VideoClipPlan &next = clips[m_byStart[m_nextWant]];
            if (next.stop > next.start)
                m_cache->Want(static_cast<int>(m_byStart[m_nextWant]), next.path, next.stretchMode);
            ++m_nextWant;
        }
    }

    void Release(std::size_t clip)
    {
        m_held.erase(clip);
        m_cache->Drop(static_cast<int>(clip));
    }

    const Frame &PhotoOf(std::size_t clip)
    {
        auto it = m_held.find(clip);
        if (it == m_held.end()) {
            const VideoClipPlan &plan = m_plan.clips[clip];
            it = m_held
                     .emplace(clip,
                              m_cache->Get(static_cast<int>(clip), plan.path, plan.stretchMode))
                     .first;
        }
        return *it->second;
    }

    const TransitionPlan *TransitionAt(int track, ReferenceTime t) const
    {
        if (track < 0 || static_cast<std::size_t>(track) >= m_transitionsByTrack.size())
            return nullptr;
        for (const TransitionPlan *tr : m_transitionsByTrack[static_cast<std::size_t>(track)]) {
            if (tr->start <= t && t < tr->stop)
                return tr;
        }
        return nullptr;
    }

    // The picture made by the playing clips m_live[from..] (those below the first `from`
    // ones), at depth `depth` of nested transitions.
    Layer Compose(int count, ReferenceTime t, std::size_t depth)
    {
        const std::size_t skip = m_live.size() - static_cast<std::size_t>(count);
        for (std::size_t i = skip; i < m_live.size(); ++i) {
            const std::size_t clip = m_live[i];
            const int track = m_plan.clips[clip].track;
            const Frame &photo = PhotoOf(clip);
            const TransitionPlan *tr = TransitionAt(track, t);
            if (!tr)
                return {photo.bytes.data(), static_cast<long>(clip)};
            // Everything below this track (other clips of the same track are covered).
            std::size_t below = i + 1;
            while (below < m_live.size() && m_plan.clips[m_live[below]].track == track)
                ++below;
            const Layer beneath = Compose(static_cast<int>(m_live.size() - below), t, depth + 1);
            if (m_scratch.size() <= depth)
                m_scratch.resize(depth + 1);
            std::vector<std::uint8_t> &out = m_scratch[depth];
            out.resize(m_black.bytes.size());
            const double progress
                = static_cast<double>(t - tr->start) / static_cast<double>(tr->stop - tr->start);
            DrawTransition(tr->kind,
                           beneath.data,
                           photo.bytes.data(),
                           out.data(),
                           m_plan.width,
                           m_plan.height,
                           m_black.stride,
                           progress);
            return {out.data(), kBlended};
        }
        return {m_black.bytes.data(), kBlack};
    }

    const GroupPlan m_plan;
    const ComPtr<IResizer> m_resizer;
    const Frame m_black;
    std::vector<std::size_t> m_byStart; // clip indexes by start time
    std::vector<std::vector<const TransitionPlan *>> m_transitionsByTrack; // into m_plan
    std::int64_t m_frames = 0;

    std::unique_ptr<PhotoCache> m_cache;
    std::int64_t m_frame = 0;
    std::vector<std::size_t> m_live; // playing clips, top first
    std::size_t m_nextStart = 0;     // in m_byStart: the first clip not begun
    std::size_t m_nextWant = 0;      // in m_byStart: the first clip not asked for
    std::map<std::size_t, std::shared_ptr<const Frame>> m_held;
    std::vector<std::vector<std::uint8_t>> m_scratch; // one per depth of transitions
    long m_lastKey = kNoFrame;
};

} // namespace

std::unique_ptr<GroupStream> MakeVideoStream(GroupPlan plan, ComPtr<IResizer> resizer)
{
    return std::make_unique<VideoStream>(std::move(plan), std::move(resizer));
}

} // namespace engine::render
