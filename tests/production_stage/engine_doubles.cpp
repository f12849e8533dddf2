#include "engine_doubles.h"

#include "engine/capture_graph.h"
#include "engine/device_enum.h"
#include "engine/filter_graph.h"
#include "engine/media_det.h"
#include "engine/render_engine.h"
#include "engine/sample_grabber.h"
#include "platform/class_store.h"

namespace stagetest {

using engine::ComPtr;
using engine::Guid;
using engine::HRESULT;
using engine::ReferenceTime;
using platform::E_FAIL;
using platform::Iid;

void Refusals::Refuse(const QString &call, int occurrence)
{
    std::lock_guard lock(m_mutex);
    m_targets[call] = occurrence;
}

bool Refusals::ShouldRefuse(const QString &call)
{
    std::lock_guard lock(m_mutex);
    const int n = ++m_counts[call];
    const auto it = m_targets.find(call);
    return it != m_targets.end() && (it->second == 0 || it->second == n);
}

int Refusals::Count(const QString &call) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(call);
    return it == m_counts.end() ? 0 : it->second;
}

namespace {

// True when the object answers the interface (the reference taken to find out is let go).
bool Answers(engine::IUnknown *object, const Iid &iid)
{
    void *probe = nullptr;
    if (platform::Failed(object->QueryInterface(iid, &probe)) || !probe)
        return false;
    static_cast<engine::IUnknown *>(probe)->Release();
    return true;
}

template <class I>
ComPtr<I> As(engine::IUnknown *object)
{
    ComPtr<I> r;
    object->QueryInterface(I::kIid, r.PutVoid());
    return r;
}

QString TypeName(engine::TIMELINE_MAJOR_TYPE type)
{
    switch (type) {
    case engine::TIMELINE_MAJOR_TYPE_GROUP:
        return QStringLiteral("group");
    case engine::TIMELINE_MAJOR_TYPE_TRACK:
        return QStringLiteral("track");
    case engine::TIMELINE_MAJOR_TYPE_SOURCE:
        return QStringLiteral("source");
    case engine::TIMELINE_MAJOR_TYPE_TRANSITION:
        return QStringLiteral("transition");
    default:
        return QStringLiteral("node");
    }
}

// ---- Timeline and nodes ------------------------------------------------------------------

class NodeWrapper final : public platform::ComObject<engine::IAMTimelineObj,
                                                     engine::IAMTimelineGroup,
                                                     engine::IAMTimelineComp,
                                                     engine::IAMTimelineTrack,
                                                     engine::IAMTimelineTransable,
                                                     engine::IAMTimelineSrc>
{
public:
    NodeWrapper(ComPtr<engine::IAMTimelineObj> inner, std::shared_ptr<Refusals> refusals)
        : m_inner(std::move(inner))
        , m_refusals(std::move(refusals))
    {
        engine::TIMELINE_MAJOR_TYPE type{};
        m_inner->GetTimelineType(&type);
        m_type = TypeName(type);
        m_group = As<engine::IAMTimelineGroup>(m_inner.Get());
        m_comp = As<engine::IAMTimelineComp>(m_inner.Get());
        m_track = As<engine::IAMTimelineTrack>(m_inner.Get());
        m_transable = As<engine::IAMTimelineTransable>(m_inner.Get());
        m_src = As<engine::IAMTimelineSrc>(m_inner.Get());
    }

    HRESULT QueryInterface(const Iid &iid, void **out) override
    {
        if (!out)
            return platform::E_POINTER;
        *out = nullptr;
        if (iid == engine::IUnknown::kIid || iid == engine::IAMTimelineObj::kIid
            || iid == engine::IAMTimelineGroup::kIid || iid == engine::IAMTimelineComp::kIid
            || iid == engine::IAMTimelineTrack::kIid || iid == engine::IAMTimelineTransable::kIid
            || iid == engine::IAMTimelineSrc::kIid) {
            if (!Answers(m_inner.Get(), iid))
                return platform::E_NOINTERFACE;
            return ComObject::QueryInterface(iid, out);
        }
        // The engine's private identity of its nodes: the real node answers it.
        return m_inner->QueryInterface(iid, out);
    }

    // The real node behind a wrapped one. The engine keeps the nodes handed to it and
    // takes them for its own, so it is always given the real node.
    static engine::IAMTimelineObj *Unwrap(engine::IAMTimelineObj *node)
    {
        auto *wrapper = dynamic_cast<NodeWrapper *>(node);
        return wrapper ? wrapper->m_inner.Get() : node;
    }

    // IAMTimelineObj
    HRESULT SetStartStop(ReferenceTime start, ReferenceTime stop) override
    {
        return Refused("SetStartStop") ? E_FAIL : m_inner->SetStartStop(start, stop);
    }
    HRESULT GetStartStop(ReferenceTime *start, ReferenceTime *stop) override
    {
        return m_inner->GetStartStop(start, stop);
    }
    HRESULT SetSubObjectGUID(const Guid &clsid) override
    {
        return Refused("SetSubObjectGUID") ? E_FAIL : m_inner->SetSubObjectGUID(clsid);
    }
    HRESULT GetSubObjectGUID(Guid *clsid) override { return m_inner->GetSubObjectGUID(clsid); }
    HRESULT GetTimelineType(engine::TIMELINE_MAJOR_TYPE *type) override
    {
        return m_inner->GetTimelineType(type);
    }
    // IAMTimelineGroup
    HRESULT SetMediaType(const engine::AM_MEDIA_TYPE *type) override
    {
        return Refused("SetMediaType") ? E_FAIL : m_group->SetMediaType(type);
    }
    HRESULT GetMediaType(engine::MediaType *type) override { return m_group->GetMediaType(type); }
    HRESULT SetOutputFPS(double fps) override
    {
        return Refused("SetOutputFPS") ? E_FAIL : m_group->SetOutputFPS(fps);
    }
    HRESULT GetOutputFPS(double *fps) override { return m_group->GetOutputFPS(fps); }
    HRESULT SetPreviewMode(bool preview) override
    {
        return Refused("SetPreviewMode") ? E_FAIL : m_group->SetPreviewMode(preview);
    }
    HRESULT GetPreviewMode(bool *preview) override { return m_group->GetPreviewMode(preview); }
    // IAMTimelineComp
    HRESULT VTrackInsBefore(engine::IAMTimelineObj *track, long priority) override
    {
        return Refused("VTrackInsBefore") ? E_FAIL
                                          : m_comp->VTrackInsBefore(Unwrap(track), priority);
    }
    HRESULT VTrackGetCount(long *count) override { return m_comp->VTrackGetCount(count); }
    HRESULT GetVTrack(ComPtr<engine::IAMTimelineObj> *track, long priority) override
    {
        return m_comp->GetVTrack(track, priority);
    }
    // IAMTimelineTrack
    HRESULT SrcAdd(engine::IAMTimelineObj *source) override
    {
        return Refused("SrcAdd") ? E_FAIL : m_track->SrcAdd(Unwrap(source));
    }
    HRESULT GetSources(std::vector<ComPtr<engine::IAMTimelineObj>> *sources) override
    {
        return m_track->GetSources(sources);
    }
    // IAMTimelineTransable
    HRESULT TransAdd(engine::IAMTimelineObj *transition) override
    {
        return Refused("TransAdd") ? E_FAIL : m_transable->TransAdd(Unwrap(transition));
    }
    HRESULT GetTransitions(std::vector<ComPtr<engine::IAMTimelineObj>> *transitions) override
    {
        return m_transable->GetTransitions(transitions);
    }
    // IAMTimelineSrc
    HRESULT SetMediaTimes(ReferenceTime start, ReferenceTime stop) override
    {
        return Refused("SetMediaTimes") ? E_FAIL : m_src->SetMediaTimes(start, stop);
    }
    HRESULT GetMediaTimes(ReferenceTime *start, ReferenceTime *stop) override
    {
        return m_src->GetMediaTimes(start, stop);
    }
    HRESULT SetMediaName(const QString &name) override
    {
        return Refused("SetMediaName") ? E_FAIL : m_src->SetMediaName(name);
    }
    HRESULT GetMediaName(QString *name) override { return m_src->GetMediaName(name); }
    HRESULT SetStretchMode(int mode) override
    {
        return Refused("SetStretchMode") ? E_FAIL : m_src->SetStretchMode(mode);
    }
    HRESULT GetStretchMode(int *mode) override { return m_src->GetStretchMode(mode); }

private:
    bool Refused(const char *method)
    {
        return m_refusals->ShouldRefuse(m_type + u'.' + QLatin1String(method));
    }

    ComPtr<engine::IAMTimelineObj> m_inner;
    std::shared_ptr<Refusals> m_refusals;
    QString m_type;
    ComPtr<engine::IAMTimelineGroup> m_group;
    ComPtr<engine::IAMTimelineComp> m_comp;
    ComPtr<engine::IAMTimelineTrack> m_track;
    ComPtr<engine::IAMTimelineTransable> m_transable;
    ComPtr<engine::IAMTimelineSrc> m_src;
};

class TimelineWrapper final : public platform::ComObject<engine::IAMTimeline>
{
public:
    explicit TimelineWrapper(std::shared_ptr<Refusals> refusals)
        : m_inner(engine::CreateTimeline())
        , m_refusals(std::move(refusals))
    {}

    HRESULT SetDefaultFPS(double fps) override { return m_inner->SetDefaultFPS(fps); }
    HRESULT GetDefaultFPS(double *fps) override { return m_inner->GetDefaultFPS(fps); }
    HRESULT CreateEmptyNode(ComPtr<engine::IAMTimelineObj> *node,
                            engine::TIMELINE_MAJOR_TYPE type) override
    {
        if (m_refusals->ShouldRefuse(QStringLiteral("timeline.CreateEmptyNode.")
                                     + TypeName(type))) {
            if (node)
                node->Reset();
            return E_FAIL;
        }
        ComPtr<engine::IAMTimelineObj> inner;
        const HRESULT hr = m_inner->CreateEmptyNode(&inner, type);
        if (platform::Failed(hr) || !inner)
            return hr;
        *node = platform::MakeObject<NodeWrapper, engine::IAMTimelineObj>(inner, m_refusals);
        return hr;
    }
    HRESULT AddGroup(engine::IAMTimelineObj *group) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("timeline.AddGroup"))
                   ? E_FAIL
                   : m_inner->AddGroup(NodeWrapper::Unwrap(group));
    }
    HRESULT GetGroupCount(long *count) override { return m_inner->GetGroupCount(count); }
    HRESULT GetGroup(ComPtr<engine::IAMTimelineObj> *group, long index) override
    {
        return m_inner->GetGroup(group, index);
    }
    HRESULT GetDuration(ReferenceTime *duration) override { return m_inner->GetDuration(duration); }

private:
    ComPtr<engine::IAMTimeline> m_inner;
    std::shared_ptr<Refusals> m_refusals;
};

// ---- Media detector --------------------------------------------------------------------

class MediaDetWrapper final : public platform::ComObject<engine::IMediaDet>
{
public:
    explicit MediaDetWrapper(std::shared_ptr<Refusals> refusals)
        : m_inner(engine::CreateMediaDet())
        , m_refusals(std::move(refusals))
    {}

    HRESULT put_Filename(const QString &name) override
    {
        return Refused("put_Filename") ? E_FAIL : m_inner->put_Filename(name);
    }
    HRESULT get_Filename(QString *name) override { return m_inner->get_Filename(name); }
    HRESULT get_OutputStreams(long *count) override
    {
        return Refused("get_OutputStreams") ? E_FAIL : m_inner->get_OutputStreams(count);
    }
    HRESULT put_CurrentStream(long index) override
    {
        return Refused("put_CurrentStream") ? E_FAIL : m_inner->put_CurrentStream(index);
    }
    HRESULT get_CurrentStream(long *index) override { return m_inner->get_CurrentStream(index); }
    HRESULT get_StreamType(Guid *majorType) override
    {
        return Refused("get_StreamType") ? E_FAIL : m_inner->get_StreamType(majorType);
    }
    HRESULT get_StreamLength(double *seconds) override
    {
        return m_inner->get_StreamLength(seconds);
    }
    HRESULT get_FrameRate(double *fps) override { return m_inner->get_FrameRate(fps); }

private:
    bool Refused(const char *method)
    {
        return m_refusals->ShouldRefuse(QStringLiteral("detector.") + QLatin1String(method));
    }
    ComPtr<engine::IMediaDet> m_inner;
    std::shared_ptr<Refusals> m_refusals;
};

// ---- Render engine ---------------------------------------------------------------------

class RenderEngineWrapper final
    : public platform::ComObject<engine::IRenderEngine, engine::IRenderEngine2>
{
public:
    explicit RenderEngineWrapper(std::shared_ptr<Refusals> refusals)
        : m_inner(engine::CreateRenderEngine())
        , m_refusals(std::move(refusals))
    {}

    HRESULT SetTimelineObject(engine::IAMTimeline *timeline) override
    {
        return m_inner->SetTimelineObject(timeline);
    }
    HRESULT GetTimelineObject(ComPtr<engine::IAMTimeline> *timeline) override
    {
        return m_inner->GetTimelineObject(timeline);
    }
    HRESULT ConnectFrontEnd() override { return m_inner->ConnectFrontEnd(); }
    HRESULT GetFilterGraph(ComPtr<engine::IGraphBuilder> *graph) override
    {
        return m_inner->GetFilterGraph(graph);
    }
    HRESULT SetFilterGraph(engine::IGraphBuilder *graph) override
    {
        return m_inner->SetFilterGraph(graph);
    }
    HRESULT GetGroupOutputPin(long group, ComPtr<engine::IPin> *pin) override
    {
        if (m_refusals->ShouldRefuse(QStringLiteral("engine.GetGroupOutputPin.")
                                     + QString::number(group)))
            return E_FAIL;
        return m_inner->GetGroupOutputPin(group, pin);
    }
    HRESULT ScrapIt() override { return m_inner->ScrapIt(); }
    HRESULT SetResizerGUID(const Guid &clsid) override
    {
        return As<engine::IRenderEngine2>(m_inner.Get())->SetResizerGUID(clsid);
    }

private:
    ComPtr<engine::IRenderEngine> m_inner;
    std::shared_ptr<Refusals> m_refusals;
};

// ---- Filter graph ----------------------------------------------------------------------

class GraphWrapper final : public platform::ComObject<engine::IGraphBuilder,
                                                      engine::IMediaControl,
                                                      engine::IMediaEvent,
                                                      engine::IMediaSeeking>
{
public:
    GraphWrapper(std::shared_ptr<Refusals> refusals, std::shared_ptr<GraphScript> script)
        : m_inner(platform::MakeObject<engine::FilterGraph, engine::IGraphBuilder>())
        , m_control(As<engine::IMediaControl>(m_inner.Get()))
        , m_events(As<engine::IMediaEvent>(m_inner.Get()))
        , m_seeking(As<engine::IMediaSeeking>(m_inner.Get()))
        , m_refusals(std::move(refusals))
        , m_script(std::move(script))
    {}

    HRESULT AddFilter(engine::IBaseFilter *filter, const QString &name) override
    {
        if (m_refusals->ShouldRefuse(QStringLiteral("graph.AddFilter.") + name))
            return E_FAIL;
        m_script->addedFilters.append(name);
        return m_inner->AddFilter(filter, name);
    }
    HRESULT RemoveFilter(engine::IBaseFilter *filter) override
    {
        return m_inner->RemoveFilter(filter);
    }
    std::vector<ComPtr<engine::IBaseFilter>> EnumFilters() override
    {
        return m_inner->EnumFilters();
    }
    HRESULT Connect(engine::IPin *out, engine::IPin *in) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("graph.Connect"))
                   ? E_FAIL
                   : m_inner->Connect(out, in);
    }
    HRESULT Run() override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("graph.Run")) ? E_FAIL : m_control->Run();
    }
    HRESULT Stop() override { return m_control->Stop(); }
    HRESULT GetState(long msTimeout, engine::FilterState *state) override
    {
        return m_control->GetState(msTimeout, state);
    }
    HRESULT WaitForCompletion(long msTimeout, long *evCode) override
    {
        ++m_script->waits;
        if (m_script->beforeWait)
            m_script->beforeWait();
        if (m_script->waits <= m_script->timeoutsFirst) {
            *evCode = 0;
            return platform::E_ABORT;
        }
        return m_events->WaitForCompletion(msTimeout, evCode);
    }
    HRESULT
    GetEvent(long *evCode, std::intptr_t *param1, std::intptr_t *param2, long msTimeout) override
    {
        return m_events->GetEvent(evCode, param1, param2, msTimeout);
    }
    HRESULT GetCapabilities(std::uint32_t *capabilities) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("graph.GetCapabilities"))
                   ? E_FAIL
                   : m_seeking->GetCapabilities(capabilities);
    }
    HRESULT GetDuration(ReferenceTime *duration) override
    {
        const HRESULT hr = m_seeking->GetDuration(duration);
        if (m_script->duration)
            *duration = *m_script->duration;
        return hr;
    }
    HRESULT GetCurrentPosition(ReferenceTime *position) override
    {
        const HRESULT hr = m_seeking->GetCurrentPosition(position);
        const std::size_t turn = m_script->reportedPositions.size();
        if (turn < m_script->positions.size())
            *position = m_script->positions[turn];
        m_script->reportedPositions.push_back(*position);
        return hr;
    }

protected:
    HRESULT QueryExtraInterface(const Iid &iid, void **out) override
    {
        if (iid == engine::IFilterGraph::kIid) {
            *out = static_cast<engine::IFilterGraph *>(this);
            AddRef();
            return platform::S_OK;
        }
        return platform::E_NOINTERFACE;
    }

private:
    ComPtr<engine::IGraphBuilder> m_inner;
    ComPtr<engine::IMediaControl> m_control;
    ComPtr<engine::IMediaEvent> m_events;
    ComPtr<engine::IMediaSeeking> m_seeking;
    std::shared_ptr<Refusals> m_refusals;
    std::shared_ptr<GraphScript> m_script;
};

// ---- Capture graph builder and multiplexer -----------------------------------------------

// A filter that passes the filter calls on to the real one in `m_inner`.
template <class... Is>
class FilterWrapper : public platform::ComObject<engine::IBaseFilter, Is...>
{
public:
    std::vector<ComPtr<engine::IPin>> EnumPins() override { return m_inner->EnumPins(); }
    HRESULT JoinFilterGraph(engine::IFilterGraph *graph, const QString &name) override
    {
        return m_inner->JoinFilterGraph(graph, name);
    }
    QString Name() const override { return m_inner->Name(); }
    HRESULT Run() override { return m_inner->Run(); }
    HRESULT Stop() override { return m_inner->Stop(); }

protected:
    ComPtr<engine::IBaseFilter> m_inner;
};

// Stands for the multiplexer towards the stage; the real one stays in the graph, so its
// pins (handed out as they are) connect as usual.
class MuxWrapper final : public FilterWrapper<engine::IConfigInterleaving>
{
public:
    MuxWrapper(ComPtr<engine::IBaseFilter> inner, std::shared_ptr<Refusals> refusals)
        : m_interleaving(As<engine::IConfigInterleaving>(inner.Get()))
        , m_refusals(std::move(refusals))
    {
        m_inner = std::move(inner);
    }

    HRESULT put_Mode(engine::InterleavingMode mode) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("mux.put_Mode"))
                   ? E_FAIL
                   : m_interleaving->put_Mode(mode);
    }
    HRESULT get_Mode(engine::InterleavingMode *mode) override
    {
        return m_interleaving->get_Mode(mode);
    }
    HRESULT put_Interleaving(const ReferenceTime *interleave, const ReferenceTime *preroll) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("mux.put_Interleaving"))
                   ? E_FAIL
                   : m_interleaving->put_Interleaving(interleave, preroll);
    }
    HRESULT get_Interleaving(ReferenceTime *interleave, ReferenceTime *preroll) override
    {
        return m_interleaving->get_Interleaving(interleave, preroll);
    }

private:
    ComPtr<engine::IConfigInterleaving> m_interleaving;
    std::shared_ptr<Refusals> m_refusals;
};

class BuilderWrapper final : public platform::ComObject<engine::ICaptureGraphBuilder2>
{
public:
    explicit BuilderWrapper(std::shared_ptr<Refusals> refusals)
        : m_refusals(std::move(refusals))
    {
        engine::CreateCaptureGraphBuilder(engine::ICaptureGraphBuilder2::kIid, m_inner.PutVoid());
    }

    HRESULT SetFiltergraph(engine::IGraphBuilder *graph) override
    {
        return m_inner->SetFiltergraph(graph);
    }
    HRESULT GetFiltergraph(engine::IGraphBuilder **graph) override
    {
        return m_inner->GetFiltergraph(graph);
    }
    HRESULT SetOutputFileName(const Guid &type,
                              const QString &fileName,
                              engine::IBaseFilter **multiplexer,
                              engine::IFileSinkFilter **sink) override
    {
        if (m_refusals->ShouldRefuse(QStringLiteral("builder.SetOutputFileName")))
            return E_FAIL;
        ComPtr<engine::IBaseFilter> mux;
        const HRESULT hr = m_inner->SetOutputFileName(type, fileName, mux.Put(), sink);
        if (multiplexer) {
            *multiplexer
                = mux ? platform::MakeObject<MuxWrapper, engine::IBaseFilter>(mux, m_refusals)
                            .Detach()
                      : nullptr;
        }
        return hr;
    }

private:
    ComPtr<engine::ICaptureGraphBuilder2> m_inner;
    std::shared_ptr<Refusals> m_refusals;
};

// ---- Sample grabber ----------------------------------------------------------------------

class GrabberWrapper final : public FilterWrapper<engine::ISampleGrabber>
{
public:
    explicit GrabberWrapper(std::shared_ptr<Refusals> refusals)
        : m_refusals(std::move(refusals))
    {
        engine::CreateSampleGrabber(engine::IBaseFilter::kIid, m_inner.PutVoid());
        m_grabber = As<engine::ISampleGrabber>(m_inner.Get());
    }

    HRESULT SetMediaType(const engine::AM_MEDIA_TYPE *type) override
    {
        return m_refusals->ShouldRefuse(QStringLiteral("grabber.SetMediaType"))
                   ? E_FAIL
                   : m_grabber->SetMediaType(type);
    }
    HRESULT GetConnectedMediaType(engine::AM_MEDIA_TYPE *type) override
    {
        return m_grabber->GetConnectedMediaType(type);
    }

private:
    ComPtr<engine::ISampleGrabber> m_grabber;
    std::shared_ptr<Refusals> m_refusals;
};

// ---- Device enumerator -----------------------------------------------------------------

class MonikerWrapper final : public platform::ComObject<engine::IMoniker>
{
public:
    MonikerWrapper(ComPtr<engine::IMoniker> inner,
                   QString name,
                   std::shared_ptr<DeviceScript> script)
        : m_inner(std::move(inner))
        , m_name(std::move(name))
        , m_script(std::move(script))
    {}
    HRESULT BindToStorage(const Guid &iid, void **out) override
    {
        return m_inner->BindToStorage(iid, out);
    }
    HRESULT BindToObject(const Guid &iid, void **out) override
    {
        m_script->boundNames.append(m_name);
        return m_inner->BindToObject(iid, out);
    }

private:
    ComPtr<engine::IMoniker> m_inner;
    QString m_name;
    std::shared_ptr<DeviceScript> m_script;
};

class MonikerList final : public platform::ComObject<engine::IEnumMoniker>
{
public:
    explicit MonikerList(std::vector<ComPtr<engine::IMoniker>> monikers)
        : m_monikers(std::move(monikers))
    {}
    HRESULT Next(std::uint32_t count, engine::IMoniker **out, std::uint32_t *fetched) override
    {
        std::uint32_t taken = 0;
        while (taken < count && m_next < m_monikers.size()) {
            out[taken] = ComPtr<engine::IMoniker>(m_monikers[m_next++]).Detach();
            ++taken;
        }
        if (fetched)
            *fetched = taken;
        return taken == count ? platform::S_OK : platform::S_FALSE;
    }
    HRESULT Skip(std::uint32_t count) override
    {
        m_next = std::min(m_monikers.size(), m_next + count);
        return platform::S_OK;
    }
    HRESULT Reset() override
    {
        m_next = 0;
        return platform::S_OK;
    }

private:
    std::vector<ComPtr<engine::IMoniker>> m_monikers;
    std::size_t m_next = 0;
};

class DevEnumWrapper final : public platform::ComObject<engine::ICreateDevEnum>
{
public:
    explicit DevEnumWrapper(std::shared_ptr<DeviceScript> script)
        : m_script(std::move(script))
    {
        engine::CreateSystemDeviceEnum(engine::ICreateDevEnum::kIid, m_inner.PutVoid());
    }

    HRESULT CreateClassEnumerator(const Guid &category,
                                  engine::IEnumMoniker **out,
                                  std::uint32_t flags) override
    {
        *out = nullptr;
        if (category == engine::CLSID_VideoCompressorCategory && m_script->noVideoCompressors)
            return platform::S_FALSE;
        ComPtr<engine::IEnumMoniker> inner;
        const HRESULT hr = m_inner->CreateClassEnumerator(category, inner.Put(), flags);
        if (hr != platform::S_OK || !inner)
            return hr;
        std::vector<ComPtr<engine::IMoniker>> kept;
        for (;;) {
            ComPtr<engine::IMoniker> moniker;
            std::uint32_t fetched = 0;
            if (inner->Next(1, moniker.Put(), &fetched) != platform::S_OK || !moniker)
                break;
            ComPtr<engine::IPropertyBag> bag;
            moniker->BindToStorage(engine::IPropertyBag::kIid, bag.PutVoid());
            engine::VARIANT name;
            if (bag)
                bag->Read(QStringLiteral("FriendlyName"), &name, nullptr);
            if (m_script->hiddenNames.contains(name.bstrVal))
                continue;
            kept.push_back(platform::MakeObject<MonikerWrapper, engine::IMoniker>(
                moniker, name.bstrVal, m_script));
        }
        if (kept.empty())
            return platform::S_FALSE;
        *out = platform::MakeObject<MonikerList, engine::IEnumMoniker>(std::move(kept)).Detach();
        return platform::S_OK;
    }

private:
    ComPtr<engine::ICreateDevEnum> m_inner;
    std::shared_ptr<DeviceScript> m_script;
};

template <class T, class I, class... Args>
platform::ClassFactory Factory(Args... args)
{
    return [args...](const Iid &iid, void **out) -> HRESULT {
        return platform::MakeObject<T, I>(args...)->QueryInterface(iid, out);
    };
}

} // namespace

void RegisterRefusingClasses(std::shared_ptr<Refusals> refusals,
                             std::shared_ptr<GraphScript> graph,
                             std::shared_ptr<DeviceScript> devices)
{
    platform::RegisterBuiltInClass(engine::CLSID_AMTimeline,
                                   Factory<TimelineWrapper, engine::IAMTimeline>(refusals));
    platform::RegisterBuiltInClass(engine::CLSID_MediaDet,
                                   Factory<MediaDetWrapper, engine::IMediaDet>(refusals));
    platform::RegisterBuiltInClass(engine::CLSID_RenderEngine,
                                   Factory<RenderEngineWrapper, engine::IRenderEngine>(refusals));
    platform::RegisterBuiltInClass(engine::CLSID_FilterGraph,
                                   Factory<GraphWrapper, engine::IGraphBuilder>(refusals, graph));
    platform::RegisterBuiltInClass(
        engine::CLSID_CaptureGraphBuilder2,
        Factory<BuilderWrapper, engine::ICaptureGraphBuilder2>(refusals));
    platform::RegisterBuiltInClass(engine::CLSID_SampleGrabber,
                                   Factory<GrabberWrapper, engine::IBaseFilter>(refusals));
    platform::RegisterBuiltInClass(engine::CLSID_SystemDeviceEnum,
                                   Factory<DevEnumWrapper, engine::ICreateDevEnum>(devices));
}

void FailCreationFrom(const engine::Guid &clsid, int nth, platform::ClassFactory real)
{
    auto created = std::make_shared<int>(0);
    platform::RegisterBuiltInClass(clsid, [created, nth, real](const Iid &iid, void **out) {
        if (++*created >= nth) {
            *out = nullptr;
            return E_FAIL;
        }
        return real(iid, out);
    });
}

} // namespace stagetest
