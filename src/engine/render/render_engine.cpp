#include "engine/render/render_engine.h"

#include "engine/render/audio_mixer.h"
#include "engine/render/default_resizer.h"
#include "engine/render/photo_cache.h"
#include "engine/render/render_plan.h"
#include "engine/render/render_streams.h"
#include "engine/render/transition.h"
#include "platform/class_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace engine {
namespace {

using render::GroupPlan;
using render::GroupStream;
using render::OutputTypeOf;
using render::ReadGroup;

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
            m_stream = render::MakeVideoStream(plan, std::move(resizer));
        else
            m_stream = render::MakeAudioStream(plan);
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
