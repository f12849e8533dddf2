#include "engine/render_engine.h"

#include "engine/audio_mixer.h"
#include "engine/default_resizer.h"
#include "engine/photo_cache.h"
#include "engine/transition.h"
#include "platform/class_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace engine {
namespace {

using platform::E_FAIL;
using platform::E_INVALIDARG;
using platform::E_POINTER;
using platform::E_UNEXPECTED;
using platform::Failed;
using platform::S_FALSE;
using platform::S_OK;

// ---------------------------------------------------------------------------------------
// What ConnectFrontEnd reads from the timeline: a plain copy, so that the streaming side
// never touches the timeline's objects.

struct VideoClipPlan
{
    int track = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    QString path;
    int stretchMode = RESIZEF_STRETCH;
};

struct TransitionPlan
{
    int track = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    TransitionKind kind = TransitionKind::Cut;
};

struct GroupPlan
{
    bool video = false;
    int width = 0;
    int height = 0;
    // Output frame rate as a fraction.
    std::int64_t rateNum = 30000;
    std::int64_t rateDen = 1001;
    std::vector<VideoClipPlan> clips;
    std::vector<TransitionPlan> transitions;
    std::vector<AudioClip> audio;
    ReferenceTime end = 0; // of the longest group
};

// 29.97 and its kin are the NTSC rates n * 1000 / 1001; other rates are taken to 1/1000.
void RateOf(double fps, std::int64_t *num, std::int64_t *den)
{
    for (const int base : {24, 30, 60}) {
        const double ntsc = base * 1000.0 / 1001.0;
        if (std::abs(fps - ntsc) < 0.005) {
            *num = base * 1000;
            *den = 1001;
            return;
        }
    }
    std::int64_t n = std::llround(fps * 1000.0);
    std::int64_t d = 1000;
    const std::int64_t g = std::gcd(n, d);
    *num = std::max<std::int64_t>(1, n / std::max<std::int64_t>(g, 1));
    *den = d / std::max<std::int64_t>(g, 1);
}

HRESULT ReadGroup(IAMTimelineObj *groupObj, double defaultFps, GroupPlan *plan)
{
    auto group = ComPtr<IAMTimelineObj>(groupObj).As<IAMTimelineGroup>();
    auto comp = ComPtr<IAMTimelineObj>(groupObj).As<IAMTimelineComp>();
    if (!group || !comp)
        return E_INVALIDARG;
    MediaType type;
    if (Failed(group->GetMediaType(&type)))
        return E_INVALIDARG;
    double fps = 0;
    group->GetOutputFPS(&fps);
    RateOf(fps > 0 ? fps : defaultFps, &plan->rateNum, &plan->rateDen);
    if (type.majortype == MEDIATYPE_Video) {
        const VIDEOINFOHEADER *vih = type.FormatAs<VIDEOINFOHEADER>();
        if (!vih)
            return E_INVALIDARG;
        plan->video = true;
        plan->width = vih->bmiHeader.biWidth;
        plan->height = vih->bmiHeader.biHeight;
    }
    long tracks = 0;
    comp->VTrackGetCount(&tracks);
    for (long t = 0; t < tracks; ++t) {
        ComPtr<IAMTimelineObj> trackObj;
        if (Failed(comp->GetVTrack(&trackObj, t)))
            continue;
        std::vector<ComPtr<IAMTimelineObj>> sources;
        if (auto track = trackObj.As<IAMTimelineTrack>())
            track->GetSources(&sources);
        for (const auto &sourceObj : sources) {
            auto source = sourceObj.As<IAMTimelineSrc>();
            ReferenceTime start = 0, stop = 0, mediaStart = 0, mediaStop = 0;
            sourceObj->GetStartStop(&start, &stop);
            source->GetMediaTimes(&mediaStart, &mediaStop);
            QString name;
            source->GetMediaName(&name);
            int mode = RESIZEF_STRETCH;
            source->GetStretchMode(&mode);
            if (plan->video) {
                plan->clips.push_back({static_cast<int>(t), start, stop, name, mode});
            } else {
                plan->audio.push_back({AudioFrameAt(start),
                                       AudioFrameAt(stop),
                                       AudioFrameAt(mediaStart),
                                       AudioFrameAt(mediaStop),
                                       name});
            }
        }
        std::vector<ComPtr<IAMTimelineObj>> transitions;
        if (auto transable = trackObj.As<IAMTimelineTransable>())
            transable->GetTransitions(&transitions);
        for (const auto &transitionObj : transitions) {
            ReferenceTime start = 0, stop = 0;
            transitionObj->GetStartStop(&start, &stop);
            Guid clsid;
            transitionObj->GetSubObjectGUID(&clsid);
            plan->transitions.push_back(
                {static_cast<int>(t), start, stop, TransitionKindOf(clsid)});
        }
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------
// The streams behind a group's output pin.

class GroupStream
{
public:
    virtual ~GroupStream() = default;
    // Back to the start; what a previous run held is let go.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool HasNext() const = 0;
    virtual ReferenceTime NextTime() const = 0;
    // The next sample (valid until the next call).
    virtual MediaSample Next() = 0;
};

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

class AudioStream final : public GroupStream
{
public:
    explicit AudioStream(GroupPlan plan)
        : m_plan(std::move(plan))
        , m_frames(AudioFrameAt(m_plan.end))
    {}

    void Start() override
    {
        m_mixer = std::make_unique<AudioMixer>(m_plan.audio);
        m_position = 0;
    }
    void Stop() override { m_mixer.reset(); }
    bool HasNext() const override { return m_position < m_frames; }
    ReferenceTime NextTime() const override { return AudioTimeOf(m_position); }

    MediaSample Next() override
    {
        const int frames = static_cast<int>(std::min<std::int64_t>(kChunk, m_frames - m_position));
        m_buffer.resize(static_cast<std::size_t>(frames) * kAudioChannels);
        m_mixer->Mix(m_position, frames, m_buffer.data());
        MediaSample sample;
        sample.data = reinterpret_cast<const std::uint8_t *>(m_buffer.data());
        sample.size = static_cast<std::size_t>(frames) * kAudioBytesPerFrame;
        sample.start = AudioTimeOf(m_position);
        m_position += frames;
        sample.stop = AudioTimeOf(m_position);
        return sample;
    }

private:
    static constexpr int kChunk = kAudioRate / 10;
    const GroupPlan m_plan;
    const std::int64_t m_frames;
    std::unique_ptr<AudioMixer> m_mixer;
    std::int64_t m_position = 0;
    std::vector<std::int16_t> m_buffer;
};

MediaType OutputTypeOf(const GroupPlan &plan)
{
    MediaType type;
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    if (plan.video) {
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = (kUnitsPerSecond * plan.rateDen + plan.rateNum / 2) / plan.rateNum;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = plan.width;
        vih.bmiHeader.biHeight = plan.height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biCompression = BI_RGB;
        vih.bmiHeader.biSizeImage = static_cast<std::uint32_t>(Frame::StrideFor(plan.width))
                                    * static_cast<std::uint32_t>(plan.height);
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.sampleSize = vih.bmiHeader.biSizeImage;
        type.formattype = FORMAT_VideoInfo;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&vih);
        type.format.assign(bytes, bytes + sizeof vih);
    } else {
        WAVEFORMATEX wfx{};
        wfx.wFormatTag = WAVE_FORMAT_PCM;
        wfx.nChannels = kAudioChannels;
        wfx.nSamplesPerSec = kAudioRate;
        wfx.nAvgBytesPerSec = kAudioRate * kAudioBytesPerFrame;
        wfx.nBlockAlign = kAudioBytesPerFrame;
        wfx.wBitsPerSample = 16;
        wfx.cbSize = 0;
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.sampleSize = kAudioBytesPerFrame;
        type.formattype = FORMAT_WaveFormatEx;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&wfx);
        type.format.assign(bytes, bytes + sizeof wfx);
    }
    return type;
}

bool SameType(const MediaType &a, const MediaType &b)
{
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype
           && a.format == b.format;
}

// ---------------------------------------------------------------------------------------
// A group's source filter and its output pin.

class GroupSource;

class GroupPin final : public platform::ComObject<IPin>
{
public:
    GroupPin(GroupSource *owner, MediaType type, QString name)
        : m_owner(owner)
        , m_type(std::move(type))
        , m_name(std::move(name))
    {}

    void Orphan()
    {
        Disconnect();
        m_owner = nullptr;
    }

    PinDirection QueryDirection() const override { return PinDirection::Output; }
    IBaseFilter *Owner() const override;
    QString Name() const override { return m_name; }
    std::vector<MediaType> MediaTypes() override { return {m_type}; }
    HRESULT QueryAccept(const MediaType &mt) override
    {
        return SameType(mt, m_type) ? S_OK : S_FALSE;
    }
    HRESULT Connect(IPin *to, const MediaType &mt) override
    {
        if (!to)
            return E_POINTER;
        if (m_connected)
            return VFW_E_ALREADY_CONNECTED;
        if (!SameType(mt, m_type) || to->QueryDirection() != PinDirection::Input)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const HRESULT hr = to->ReceiveConnection(this, mt);
        if (Failed(hr))
            return hr;
        m_connected = ComPtr<IPin>(to);
        return S_OK;
    }
    HRESULT ReceiveConnection(IPin *, const MediaType &) override { return E_UNEXPECTED; }
    HRESULT Disconnect() override
    {
        if (!m_connected)
            return S_FALSE;
        m_connected.Reset();
        return S_OK;
    }
    ComPtr<IPin> ConnectedTo() const override { return m_connected; }
    HRESULT ConnectionMediaType(MediaType *mt) const override
    {
        if (!mt)
            return E_POINTER;
        if (!m_connected)
            return VFW_E_NOT_CONNECTED;
        *mt = m_type;
        return S_OK;
    }
    HRESULT Receive(const MediaSample &) override { return E_UNEXPECTED; }
    HRESULT EndOfStream() override { return E_UNEXPECTED; }

private:
    GroupSource *m_owner;
    const MediaType m_type;
    const QString m_name;
    ComPtr<IPin> m_connected;
};

class GroupSource final : public platform::ComObject<IBaseFilter, IPushSource>
{
public:
    GroupSource(const GroupPlan &plan, ComPtr<IResizer> resizer)
        : m_duration(plan.end)
    {
        m_pin = ComPtr<GroupPin>(new GroupPin(this, OutputTypeOf(plan), QStringLiteral("Output")));
        if (plan.video)
            m_stream = std::make_unique<VideoStream>(plan, std::move(resizer));
        else
            m_stream = std::make_unique<AudioStream>(plan);
    }
    ~GroupSource() override { m_pin->Orphan(); }

    // IBaseFilter
    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(m_pin.Get())}; }
    HRESULT JoinFilterGraph(IFilterGraph *graph, const QString &name) override
    {
        m_name = graph ? name : QString();
        return S_OK;
    }
    QString Name() const override { return m_name; }
    HRESULT Run() override
    {
        m_stream->Start();
        m_started = true;
        m_ended = false;
        return S_OK;
    }
    HRESULT Stop() override
    {
        m_stream->Stop();
        m_started = false;
        return S_OK;
    }

    // IPushSource
    ReferenceTime NextSampleTime() const override
    {
        return m_started && m_stream->HasNext() ? m_stream->NextTime() : m_started ? m_duration : 0;
    }
    bool AtEnd() const override { return m_ended; }
    HRESULT DeliverNext() override
    {
        if (m_ended)
            return S_FALSE;
        if (!m_started)
            Run();
        ComPtr<IPin> to = m_pin->ConnectedTo();
        if (!to)
            return VFW_E_NOT_CONNECTED;
        if (m_stream->HasNext()) {
            const HRESULT hr = to->Receive(m_stream->Next());
            if (Failed(hr))
                return hr;
        }
        if (!m_stream->HasNext()) {
            m_ended = true;
            // The photos of the last frames are let go at once.
            m_stream->Stop();
            return to->EndOfStream();
        }
        return S_OK;
    }
    ReferenceTime Duration() const override { return m_duration; }

private:
    const ReferenceTime m_duration;
    ComPtr<GroupPin> m_pin;
    std::unique_ptr<GroupStream> m_stream;
    QString m_name;
    bool m_started = false;
    bool m_ended = false;
};

IBaseFilter *GroupPin::Owner() const
{
    return m_owner;
}

// ---------------------------------------------------------------------------------------

class RenderEngine final : public platform::ComObject<IRenderEngine, IRenderEngine2>
{
public:
    ~RenderEngine() override { ScrapIt(); }

    HRESULT SetTimelineObject(IAMTimeline *timeline) override
    {
        if (!timeline)
            return E_POINTER;
        m_timeline = ComPtr<IAMTimeline>(timeline);
        return S_OK;
    }
    HRESULT GetTimelineObject(ComPtr<IAMTimeline> *timeline) override
    {
        if (!timeline)
            return E_POINTER;
        *timeline = m_timeline;
        return S_OK;
    }
    HRESULT ConnectFrontEnd() override
    {
        if (!m_timeline)
            return E_UNEXPECTED;
        long groups = 0;
        m_timeline->GetGroupCount(&groups);
        if (groups <= 0)
            return E_INVALIDARG;
        double defaultFps = 0;
        m_timeline->GetDefaultFPS(&defaultFps);
        ReferenceTime end = 0;
        m_timeline->GetDuration(&end);
        std::vector<GroupPlan> plans(static_cast<std::size_t>(groups));
        for (long g = 0; g < groups; ++g) {
            ComPtr<IAMTimelineObj> group;
            if (Failed(m_timeline->GetGroup(&group, g)))
                return E_INVALIDARG;
            const HRESULT hr
                = ReadGroup(group.Get(), defaultFps, &plans[static_cast<std::size_t>(g)]);
            if (Failed(hr))
                return hr;
            plans[static_cast<std::size_t>(g)].end = end;
        }

        if (!m_graph) {
            HRESULT hr = E_FAIL;
            m_graph = platform::CreateInstance<IGraphBuilder>(CLSID_FilterGraph, &hr);
            if (!m_graph)
                return Failed(hr) ? hr : E_FAIL;
        }
        const bool reset = !m_outputs.empty();
        RemoveOutputs();

        ComPtr<IResizer> resizer;
        if (!m_resizerClsid.IsNull())
            resizer = platform::CreateInstance<IResizer>(m_resizerClsid);
        if (!resizer)
            resizer = CreateDefaultResizer();
        for (std::size_t g = 0; g < plans.size(); ++g) {
            auto filter = platform::MakeObject<GroupSource, IBaseFilter>(plans[g], resizer);
            const HRESULT hr = m_graph->AddFilter(
                filter.Get(),
                QStringLiteral("%1 Group %2").arg(plans[g].video ? u"Video" : u"Audio").arg(g));
            if (Failed(hr)) {
                RemoveOutputs();
                return hr;
            }
            m_outputs.push_back(filter);
        }
        return reset ? S_WARN_OUTPUTRESET : S_OK;
    }
    HRESULT GetFilterGraph(ComPtr<IGraphBuilder> *graph) override
    {
        if (!graph)
            return E_POINTER;
        *graph = m_graph;
        return m_graph ? S_OK : S_FALSE;
    }
    HRESULT SetFilterGraph(IGraphBuilder *graph) override
    {
        if (!m_outputs.empty())
            return E_UNEXPECTED;
        m_graph = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }
    HRESULT GetGroupOutputPin(long group, ComPtr<IPin> *pin) override
    {
        if (!pin)
            return E_POINTER;
        *pin = nullptr;
        if (m_outputs.empty())
            return E_UNEXPECTED;
        if (group < 0 || group >= static_cast<long>(m_outputs.size()))
            return E_INVALIDARG;
        auto pins = m_outputs[static_cast<std::size_t>(group)]->EnumPins();
        *pin = pins.front();
        return S_OK;
    }
    HRESULT ScrapIt() override
    {
        RemoveOutputs();
        m_graph.Reset();
        return S_OK;
    }

    HRESULT SetResizerGUID(const Guid &clsid) override
    {
        m_resizerClsid = clsid;
        return S_OK;
    }

private:
    void RemoveOutputs()
    {
        for (const auto &filter : m_outputs) {
            for (const auto &pin : filter->EnumPins()) {
                if (ComPtr<IPin> other = pin->ConnectedTo())
                    other->Disconnect();
                pin->Disconnect();
            }
            if (m_graph)
                m_graph->RemoveFilter(filter.Get());
        }
        m_outputs.clear();
    }

    ComPtr<IAMTimeline> m_timeline;
    ComPtr<IGraphBuilder> m_graph;
    std::vector<ComPtr<IBaseFilter>> m_outputs;
    Guid m_resizerClsid;
};

} // namespace

ComPtr<IRenderEngine> CreateRenderEngine()
{
    return platform::MakeObject<RenderEngine, IRenderEngine>();
}

} // namespace engine
