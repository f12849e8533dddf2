#include "engine/graph/filter_graph.h"

#include "engine/graph/filter_graph_pins.h"

#include <algorithm>
#include <chrono>

namespace engine {

FilterGraph::FilterGraph() = default;

FilterGraph::~FilterGraph()
{
    Stop();
    // Connections hold references both ways; break them so the filters can go.
    for (Entry &e : m_filters) {
        DisconnectAll(e.filter.Get());
        e.filter->JoinFilterGraph(nullptr, QString());
    }
}

HRESULT FilterGraph::QueryExtraInterface(const Guid &iid, void **out)
{
    if (iid == IFilterGraph::kIid) {
        *out = static_cast<IFilterGraph *>(this);
        AddRef();
        return S_OK;
    }
    return platform::E_NOINTERFACE;
}

void FilterGraph::DisconnectAll(IBaseFilter *filter)
{
    for (const ComPtr<IPin> &pin : filter->EnumPins()) {
        if (ComPtr<IPin> peer = pin->ConnectedTo())
            peer->Disconnect();
        pin->Disconnect();
    }
}

HRESULT FilterGraph::AddFilter(IBaseFilter *filter, const QString &name)
{
    if (!filter)
        return E_POINTER;
    if (m_state != FilterState::Stopped)
        return VFW_E_WRONG_STATE;
    for (const Entry &e : m_filters) {
        if (e.filter.Get() == filter)
            return E_INVALIDARG;
    }
    auto taken = [&](const QString &n) {
        return std::any_of(
            m_filters.begin(), m_filters.end(), [&](const Entry &e) { return e.name == n; });
    };
    QString unique = name;
    HRESULT result = S_OK;
    for (int n = 1; taken(unique); ++n) {
        unique = QStringLiteral("%1 %2").arg(name).arg(n, 4, 10, QLatin1Char('0'));
        result = VFW_S_DUPLICATE_NAME;
    }
    const HRESULT joined = filter->JoinFilterGraph(this, unique);
    if (Failed(joined))
        return joined;
    m_filters.push_back({ComPtr<IBaseFilter>(filter), unique});
    return result;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter *filter)
{
    if (!filter)
        return E_POINTER;
    if (m_state != FilterState::Stopped)
        return VFW_E_WRONG_STATE;
    auto it = std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry &e) {
        return e.filter.Get() == filter;
    });
    if (it == m_filters.end())
        return E_INVALIDARG;
    const ComPtr<IBaseFilter> keep = it->filter;
    m_filters.erase(it);
    DisconnectAll(filter);
    filter->JoinFilterGraph(nullptr, QString());
    return S_OK;
}

std::vector<ComPtr<IBaseFilter>> FilterGraph::EnumFilters()
{
    std::vector<ComPtr<IBaseFilter>> result;
    for (const Entry &e : m_filters)
        result.push_back(e.filter);
    return result;
}

HRESULT FilterGraph::Connect(IPin *out, IPin *in)
{
    if (!out || !in)
        return E_POINTER;
    if (m_state != FilterState::Stopped)
        return VFW_E_WRONG_STATE;
    if (out->QueryDirection() != PinDirection::Output
        || in->QueryDirection() != PinDirection::Input)
        return E_INVALIDARG;
    if (out->ConnectedTo() || in->ConnectedTo())
        return VFW_E_ALREADY_CONNECTED;
    // The first type of the output pin that the input pin takes.
    for (const MediaType &mt : out->MediaTypes()) {
        if (in->QueryAccept(mt) != S_OK)
            continue;
        const HRESULT hr = out->Connect(in, mt);
        if (Succeeded(hr))
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

std::vector<ComPtr<IPushSource>> FilterGraph::PushSources(bool connectedOnly)
{
    std::vector<ComPtr<IPushSource>> sources;
    for (const Entry &e : m_filters) {
        auto source = e.filter.As<IPushSource>();
        if (!source)
            continue;
        if (connectedOnly) {
            // A source none of whose outputs leads anywhere has nobody to deliver to.
            bool connected = false;
            for (const ComPtr<IPin> &pin : e.filter->EnumPins()) {
                connected
                    = connected
                      || (pin->QueryDirection() == PinDirection::Output && pin->ConnectedTo());
            }
            if (!connected)
                continue;
        }
        sources.push_back(std::move(source));
    }
    return sources;
}

HRESULT FilterGraph::Run()
{
    if (m_state == FilterState::Running)
        return S_OK;
    std::vector<IBaseFilter *> started;
    for (const Entry &e : m_filters) {
        const HRESULT hr = e.filter->Run();
        if (Failed(hr)) {
            for (IBaseFilter *f : started)
                f->Stop();
            return hr;
        }
        started.push_back(e.filter.Get());
    }
    {
        std::lock_guard lock(m_eventMutex);
        m_events.clear();
        m_completionCode = 0;
    }
    m_position = 0;
    // Sources are asked for their length only while nothing streams.
    GetDuration(&m_runDuration);
    m_stopStreaming = false;
    m_state = FilterState::Running;
    m_streaming = std::thread(&FilterGraph::Stream, this, PushSources(true));
    return S_OK;
}

void FilterGraph::Stream(std::vector<ComPtr<IPushSource>> sources)
{
    while (!m_stopStreaming) {
        IPushSource *next = nullptr;
        for (const ComPtr<IPushSource> &s : sources) {
            if (!s->AtEnd() && (!next || s->NextSampleTime() < next->NextSampleTime()))
                next = s.Get();
        }
        if (!next)
            break;
        m_position = std::max(m_position.load(), next->NextSampleTime());
        const HRESULT hr = next->DeliverNext();
        if (Failed(hr)) {
            PostEvent(EC_ERRORABORT, hr);
            return;
        }
    }
    if (m_stopStreaming)
        return;
    ReferenceTime longest = 0;
    for (const ComPtr<IPushSource> &s : sources)
        longest = std::max(longest, s->Duration());
    m_position = std::max(m_position.load(), longest);
    PostEvent(EC_COMPLETE, S_OK);
}

void FilterGraph::PostEvent(long code, std::intptr_t param1)
{
    {
        std::lock_guard lock(m_eventMutex);
        m_events.push_back({code, param1});
        if (m_completionCode == 0)
            m_completionCode = code;
    }
    m_eventSignal.notify_all();
}

HRESULT FilterGraph::Stop()
{
    if (m_state == FilterState::Stopped)
        return S_OK;
    m_stopStreaming = true;
    if (m_streaming.joinable())
        m_streaming.join();
    HRESULT result = S_OK;
    for (const Entry &e : m_filters) {
        const HRESULT hr = e.filter->Stop();
        if (Failed(hr) && Succeeded(result))
            result = hr;
    }
    m_state = FilterState::Stopped;
    {
        std::lock_guard lock(m_eventMutex);
        m_completionCode = 0;
    }
    return result;
}

HRESULT FilterGraph::GetState(long, FilterState *state)
{
    if (!state)
        return E_POINTER;
    *state = m_state;
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(long msTimeout, long *evCode)
{
    if (!evCode)
        return E_POINTER;
    *evCode = 0;
    if (m_state != FilterState::Running)
        return VFW_E_WRONG_STATE;
    std::unique_lock lock(m_eventMutex);
    auto ended = [&] { return m_completionCode != 0; };
    if (msTimeout < 0)
        m_eventSignal.wait(lock, ended);
    else if (!m_eventSignal.wait_for(lock, std::chrono::milliseconds(msTimeout), ended))
        return platform::E_ABORT;
    *evCode = m_completionCode;
    return S_OK;
}

HRESULT
FilterGraph::GetEvent(long *evCode, std::intptr_t *param1, std::intptr_t *param2, long msTimeout)
{
    if (!evCode || !param1 || !param2)
        return E_POINTER;
    std::unique_lock lock(m_eventMutex);
    auto any = [&] { return !m_events.empty(); };
    if (msTimeout < 0)
        m_eventSignal.wait(lock, any);
    else if (!m_eventSignal.wait_for(lock, std::chrono::milliseconds(msTimeout), any)) {
        *evCode = 0;
        return platform::E_ABORT;
    }
    *evCode = m_events.front().code;
    *param1 = m_events.front().param1;
    *param2 = 0;
    m_events.pop_front();
    return S_OK;
}

HRESULT FilterGraph::GetCapabilities(std::uint32_t *capabilities)
{
    if (!capabilities)
        return E_POINTER;
    *capabilities = 0;
    if (PushSources(false).empty())
        return E_NOTIMPL;
    *capabilities = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration;
    return S_OK;
}

HRESULT FilterGraph::GetDuration(ReferenceTime *duration)
{
    if (!duration)
        return E_POINTER;
    *duration = 0;
    if (m_state == FilterState::Running) {
        *duration = m_runDuration;
        return S_OK;
    }
    const auto sources = PushSources(false);
    if (sources.empty())
        return E_NOTIMPL;
    for (const ComPtr<IPushSource> &s : sources)
        *duration = std::max(*duration, s->Duration());
    return S_OK;
}

HRESULT FilterGraph::GetCurrentPosition(ReferenceTime *position)
{
    if (!position)
        return E_POINTER;
    *position = m_position;
    return S_OK;
}

} // namespace engine
