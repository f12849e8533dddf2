#include "engine/timeline/timeline.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace engine {
namespace {

using platform::Iid;

// Identifies the timeline that made a node without keeping it alive.
std::uint64_t NextTimelineSerial()
{
    static std::atomic<std::uint64_t> serial{0};
    return ++serial;
}

bool IsNodeType(int type)
{
    switch (type) {
    case TIMELINE_MAJOR_TYPE_TRACK:
    case TIMELINE_MAJOR_TYPE_SOURCE:
    case TIMELINE_MAJOR_TYPE_TRANSITION:
    case TIMELINE_MAJOR_TYPE_GROUP:
        return true;
    default:
        return false;
    }
}

// One class for every node type; QueryInterface hands out only the interfaces that the
// node's type has.
class TimelineNode final : public platform::ComObject<IAMTimelineObj,
                                                      IAMTimelineGroup,
                                                      IAMTimelineComp,
                                                      IAMTimelineTrack,
                                                      IAMTimelineTransable,
                                                      IAMTimelineSrc>
{
public:
    TimelineNode(TIMELINE_MAJOR_TYPE type, std::uint64_t timeline)
        : m_type(type)
        , m_timeline(timeline)
    {}

    HRESULT QueryInterface(const Iid &iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!Has(iid))
            return E_NOINTERFACE;
        return ComObject::QueryInterface(iid, out);
    }

    TIMELINE_MAJOR_TYPE Type() const { return m_type; }
    std::uint64_t Timeline() const { return m_timeline; }
    bool placed = false; // already put into a timeline, composition or track

    // IAMTimelineObj
    HRESULT SetStartStop(ReferenceTime start, ReferenceTime stop) override
    {
        if (start < 0 || stop < start)
            return E_INVALIDARG;
        m_start = start;
        m_stop = stop;
        return S_OK;
    }
    HRESULT GetStartStop(ReferenceTime *start, ReferenceTime *stop) override
    {
        if (!start || !stop)
            return E_POINTER;
        *start = m_start;
        *stop = m_stop;
        return S_OK;
    }
    HRESULT SetSubObjectGUID(const Guid &clsid) override
    {
        m_subObject = clsid;
        return S_OK;
    }
    HRESULT GetSubObjectGUID(Guid *clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = m_subObject;
        return S_OK;
    }
    HRESULT GetTimelineType(TIMELINE_MAJOR_TYPE *type) override
    {
        if (!type)
            return E_POINTER;
        *type = m_type;
        return S_OK;
    }

    // IAMTimelineGroup
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override
    {
        if (!type)
            return E_POINTER;
        if (type->majortype == MEDIATYPE_Audio) {
            m_mediaType = MediaType::From(*type);
            m_hasMediaType = true;
            return S_OK;
        }
        if (type->majortype != MEDIATYPE_Video || type->subtype != MEDIASUBTYPE_RGB24
            || type->formattype != FORMAT_VideoInfo || !type->pbFormat
            || type->cbFormat < sizeof(VIDEOINFOHEADER))
            return E_INVALIDARG;
        MediaType copy = MediaType::From(*type);
        const VIDEOINFOHEADER *vih = copy.FormatAs<VIDEOINFOHEADER>();
        const BITMAPINFOHEADER &bmi = vih->bmiHeader;
        // Bound the frame so that a row and a picture stay far inside int arithmetic.
        constexpr int kMaxSide = 16384;
        if (bmi.biWidth <= 0 || bmi.biHeight <= 0 || bmi.biWidth > kMaxSide
            || bmi.biHeight > kMaxSide || bmi.biBitCount != 24 || bmi.biCompression != BI_RGB)
            return E_INVALIDARG;
        m_mediaType = std::move(copy);
        m_hasMediaType = true;
        return S_OK;
    }
    HRESULT GetMediaType(MediaType *type) override
    {
        if (!type)
            return E_POINTER;
        if (!m_hasMediaType)
            return E_UNEXPECTED;
        *type = m_mediaType;
        return S_OK;
    }
    HRESULT SetOutputFPS(double fps) override
    {
        if (!(fps > 0))
            return E_INVALIDARG;
        m_outputFps = fps;
        return S_OK;
    }
    HRESULT GetOutputFPS(double *fps) override
    {
        if (!fps)
            return E_POINTER;
        *fps = m_outputFps;
        return S_OK;
    }
    HRESULT SetPreviewMode(bool preview) override
    {
        m_preview = preview;
        return S_OK;
    }
    HRESULT GetPreviewMode(bool *preview) override
    {
        if (!preview)
            return E_POINTER;
        *preview = m_preview;
        return S_OK;
    }

    // IAMTimelineComp
    HRESULT VTrackInsBefore(IAMTimelineObj *track, long priority) override
    {
        TimelineNode *node = Own(track, TIMELINE_MAJOR_TYPE_TRACK);
        if (!node || node == this)
            return E_INVALIDARG;
        const long count = static_cast<long>(m_tracks.size());
        if (priority < -1 || priority > count)
            return E_INVALIDARG;
        const long at = priority == -1 ? count : priority;
        m_tracks.insert(m_tracks.begin() + at, ComPtr<IAMTimelineObj>(track));
        node->placed = true;
        return S_OK;
    }
    HRESULT VTrackGetCount(long *count) override
    {
        if (!count)
            return E_POINTER;
        *count = static_cast<long>(m_tracks.size());
        return S_OK;
    }
    HRESULT GetVTrack(ComPtr<IAMTimelineObj> *track, long priority) override
    {
        if (!track)
            return E_POINTER;
        if (priority < 0 || priority >= static_cast<long>(m_tracks.size()))
            return E_INVALIDARG;
        *track = m_tracks[static_cast<std::size_t>(priority)];
        return S_OK;
    }

    // IAMTimelineTrack
    HRESULT SrcAdd(IAMTimelineObj *source) override
    {
        TimelineNode *node = Own(source, TIMELINE_MAJOR_TYPE_SOURCE);
        if (!node)
            return E_INVALIDARG;
        m_sources.emplace_back(source);
        node->placed = true;
        return S_OK;
    }
    HRESULT GetSources(std::vector<ComPtr<IAMTimelineObj>> *sources) override
    {
        if (!sources)
            return E_POINTER;
        *sources = m_sources;
        return S_OK;
    }

    // IAMTimelineTransable
    HRESULT TransAdd(IAMTimelineObj *transition) override
    {
        TimelineNode *node = Own(transition, TIMELINE_MAJOR_TYPE_TRANSITION);
        if (!node)
            return E_INVALIDARG;
        for (const auto &other : m_transitions) {
            auto *o = static_cast<TimelineNode *>(other.Get());
            if (node->m_start < o->m_stop && o->m_start < node->m_stop)
                return E_INVALIDARG;
        }
        m_transitions.emplace_back(transition);
        node->placed = true;
        return S_OK;
    }
    HRESULT GetTransitions(std::vector<ComPtr<IAMTimelineObj>> *transitions) override
    {
        if (!transitions)
            return E_POINTER;
        *transitions = m_transitions;
        return S_OK;
    }

    // IAMTimelineSrc
    HRESULT SetMediaTimes(ReferenceTime start, ReferenceTime stop) override
    {
        if (start < 0 || stop < start)
            return E_INVALIDARG;
        m_mediaStart = start;
        m_mediaStop = stop;
        return S_OK;
    }
    HRESULT GetMediaTimes(ReferenceTime *start, ReferenceTime *stop) override
    {
        if (!start || !stop)
            return E_POINTER;
        *start = m_mediaStart;
        *stop = m_mediaStop;
        return S_OK;
    }
    HRESULT SetMediaName(const QString &name) override
    {
        m_mediaName = name;
        return S_OK;
    }
    HRESULT GetMediaName(QString *name) override
    {
        if (!name)
            return E_POINTER;
        *name = m_mediaName;
        return S_OK;
    }
    HRESULT SetStretchMode(int mode) override
    {
        if (mode < RESIZEF_STRETCH || mode > RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX)
            return E_INVALIDARG;
        m_stretchMode = mode;
        return S_OK;
    }
    HRESULT GetStretchMode(int *mode) override
    {
        if (!mode)
            return E_POINTER;
        *mode = m_stretchMode;
        return S_OK;
    }

    // The latest stop time of anything below this node (a group or a track).
    ReferenceTime LatestStop() const
    {
        ReferenceTime end = 0;
        for (const auto &track : m_tracks)
            end = std::max(end, static_cast<TimelineNode *>(track.Get())->LatestStop());
        for (const auto &source : m_sources)
            end = std::max(end, static_cast<TimelineNode *>(source.Get())->m_stop);
        for (const auto &transition : m_transitions)
            end = std::max(end, static_cast<TimelineNode *>(transition.Get())->m_stop);
        return end;
    }

    // The node behind an interface pointer when it is an unplaced node of `type` made by
    // the same timeline as this one.
    TimelineNode *Own(IAMTimelineObj *obj, TIMELINE_MAJOR_TYPE type) const
    {
        return OwnedBy(obj, type, m_timeline);
    }
    static TimelineNode *
    OwnedBy(IAMTimelineObj *obj, TIMELINE_MAJOR_TYPE type, std::uint64_t timeline)
    {
        if (!obj)
            return nullptr;
        // Every IAMTimelineObj this engine hands out is a TimelineNode; anything else
        // (a foreign object) does not answer the private identity below.
        void *self = nullptr;
        if (platform::Failed(obj->QueryInterface(kNodeIid, &self)) || !self)
            return nullptr;
        auto *node = static_cast<TimelineNode *>(self);
        node->Release();
        if (node->m_type != type || node->m_timeline != timeline || node->placed)
            return nullptr;
        return node;
    }

    // Asking for this identity gives the TimelineNode itself.
    static constexpr Guid kNodeIid = MakeGuid("{5B0D6C1E-2F47-4A8B-9C3D-7E1F0A2B4C6D}");

private:
    HRESULT QueryExtraInterface(const Iid &iid, void **out) override
    {
        if (iid == kNodeIid) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    bool Has(const Iid &iid) const
    {
        if (iid == IUnknown::kIid || iid == IAMTimelineObj::kIid || iid == kNodeIid)
            return true;
        switch (m_type) {
        case TIMELINE_MAJOR_TYPE_GROUP:
            return iid == IAMTimelineGroup::kIid || iid == IAMTimelineComp::kIid;
        case TIMELINE_MAJOR_TYPE_TRACK:
            return iid == IAMTimelineTrack::kIid || iid == IAMTimelineTransable::kIid;
        case TIMELINE_MAJOR_TYPE_SOURCE:
            return iid == IAMTimelineSrc::kIid;
        default:
            return false;
        }
    }

    const TIMELINE_MAJOR_TYPE m_type;
    const std::uint64_t m_timeline;
    ReferenceTime m_start = 0;
    ReferenceTime m_stop = 0;
    Guid m_subObject;
    // Group.
    MediaType m_mediaType;
    bool m_hasMediaType = false;
    double m_outputFps = 0;
    bool m_preview = false;
    std::vector<ComPtr<IAMTimelineObj>> m_tracks;
    // Track.
    std::vector<ComPtr<IAMTimelineObj>> m_sources;
    std::vector<ComPtr<IAMTimelineObj>> m_transitions;
    // Source.
    ReferenceTime m_mediaStart = 0;
    ReferenceTime m_mediaStop = 0;
    QString m_mediaName;
    int m_stretchMode = RESIZEF_STRETCH;
};

class Timeline final : public platform::ComObject<IAMTimeline>
{
public:
    HRESULT SetDefaultFPS(double fps) override
    {
        if (!(fps > 0))
            return E_INVALIDARG;
        m_defaultFps = fps;
        return S_OK;
    }
    HRESULT GetDefaultFPS(double *fps) override
    {
        if (!fps)
            return E_POINTER;
        *fps = m_defaultFps;
        return S_OK;
    }
    HRESULT CreateEmptyNode(ComPtr<IAMTimelineObj> *node, TIMELINE_MAJOR_TYPE type) override
    {
        if (!node)
            return E_POINTER;
        *node = nullptr;
        if (!IsNodeType(type))
            return E_INVALIDARG;
        *node = platform::MakeObject<TimelineNode, IAMTimelineObj>(type, m_serial);
        // A group plays at the timeline's default rate until it is given its own.
        if (type == TIMELINE_MAJOR_TYPE_GROUP)
            node->As<IAMTimelineGroup>()->SetOutputFPS(m_defaultFps);
        return S_OK;
    }
    HRESULT AddGroup(IAMTimelineObj *group) override
    {
        TimelineNode *node = TimelineNode::OwnedBy(group, TIMELINE_MAJOR_TYPE_GROUP, m_serial);
        if (!node)
            return E_INVALIDARG;
        m_groups.emplace_back(group);
        node->placed = true;
        return S_OK;
    }
    HRESULT GetGroupCount(long *count) override
    {
        if (!count)
            return E_POINTER;
        *count = static_cast<long>(m_groups.size());
        return S_OK;
    }
    HRESULT GetGroup(ComPtr<IAMTimelineObj> *group, long index) override
    {
        if (!group)
            return E_POINTER;
        if (index < 0 || index >= static_cast<long>(m_groups.size()))
            return E_INVALIDARG;
        *group = m_groups[static_cast<std::size_t>(index)];
        return S_OK;
    }
    HRESULT GetDuration(ReferenceTime *duration) override
    {
        if (!duration)
            return E_POINTER;
        ReferenceTime end = 0;
        for (const auto &group : m_groups)
            end = std::max(end, static_cast<TimelineNode *>(group.Get())->LatestStop());
        *duration = end;
        return S_OK;
    }

private:
    const std::uint64_t m_serial = NextTimelineSerial();
    double m_defaultFps = 30.0;
    std::vector<ComPtr<IAMTimelineObj>> m_groups;
};

} // namespace

ComPtr<IAMTimeline> CreateTimeline()
{
    return platform::MakeObject<Timeline, IAMTimeline>();
}

} // namespace engine
