#include "engine/graph/filter_graph_pins.h"

#include <cstring>

namespace engine {

void CopyToAmMediaType(const MediaType &mt, AM_MEDIA_TYPE *out)
{
    out->majortype = mt.majortype;
    out->subtype = mt.subtype;
    out->bFixedSizeSamples = mt.fixedSizeSamples;
    out->bTemporalCompression = mt.temporalCompression;
    out->lSampleSize = mt.sampleSize;
    out->formattype = mt.formattype;
    out->pUnk = nullptr;
    out->cbFormat = 0;
    out->pbFormat = nullptr;
    if (!mt.format.empty()) {
        out->pbFormat = static_cast<std::uint8_t *>(platform::CoTaskMemAlloc(mt.format.size()));
        if (out->pbFormat) {
            std::memcpy(out->pbFormat, mt.format.data(), mt.format.size());
            out->cbFormat = static_cast<std::uint32_t>(mt.format.size());
        }
    }
}

void FreeMediaType(AM_MEDIA_TYPE &mt)
{
    platform::CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
}

bool SameMediaType(const MediaType &a, const MediaType &b)
{
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype
           && a.format == b.format;
}

PinBase::PinBase(IBaseFilter *owner, QString name, PinDirection direction)
    : m_owner(owner)
    , m_name(std::move(name))
    , m_direction(direction)
{}

HRESULT PinBase::QueryInterface(const Guid &iid, void **out)
{
    if (!out)
        return E_POINTER;
    if (iid == IPin::kIid || iid == IUnknown::kIid) {
        *out = static_cast<IPin *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return platform::E_NOINTERFACE;
}

std::uint32_t PinBase::AddRef()
{
    return m_owner->AddRef();
}
std::uint32_t PinBase::Release()
{
    return m_owner->Release();
}

ComPtr<IPin> PinBase::ConnectedTo() const
{
    std::lock_guard lock(m_mutex);
    return m_peer;
}

bool PinBase::IsConnected() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<bool>(m_peer);
}

MediaType PinBase::ConnectionType() const
{
    std::lock_guard lock(m_mutex);
    return m_type;
}

HRESULT PinBase::ConnectionMediaType(MediaType *mt) const
{
    if (!mt)
        return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (!m_peer)
        return VFW_E_NOT_CONNECTED;
    *mt = m_type;
    return S_OK;
}

void PinBase::SetConnection(IPin *peer, const MediaType &mt)
{
    std::lock_guard lock(m_mutex);
    m_peer = ComPtr<IPin>(peer);
    m_type = mt;
}

HRESULT PinBase::Disconnect()
{
    ComPtr<IPin> old;
    {
        std::lock_guard lock(m_mutex);
        if (!m_peer)
            return S_FALSE;
        old = std::move(m_peer);
        m_peer = nullptr;
        m_type = MediaType{};
    }
    if (m_onDisconnect)
        m_onDisconnect();
    return S_OK;
}

InputPin::InputPin(IBaseFilter *owner, QString name, Handlers handlers)
    : PinBase(owner, std::move(name), PinDirection::Input)
    , m_handlers(std::move(handlers))
{
    m_onDisconnect = m_handlers.disconnected;
}

HRESULT InputPin::QueryAccept(const MediaType &mt)
{
    return m_handlers.accept ? m_handlers.accept(mt) : S_OK;
}

HRESULT InputPin::ReceiveConnection(IPin *from, const MediaType &mt)
{
    if (!from)
        return E_POINTER;
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (QueryAccept(mt) != S_OK)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (m_handlers.connected) {
        const HRESULT hr = m_handlers.connected(mt);
        if (platform::Failed(hr))
            return hr;
    }
    SetConnection(from, mt);
    return S_OK;
}

HRESULT InputPin::Receive(const MediaSample &sample)
{
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    return m_handlers.receive ? m_handlers.receive(sample) : S_OK;
}

HRESULT InputPin::EndOfStream()
{
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    return m_handlers.endOfStream ? m_handlers.endOfStream() : S_OK;
}

OutputPin::OutputPin(IBaseFilter *owner, QString name, TypeSource types)
    : PinBase(owner, std::move(name), PinDirection::Output)
    , m_types(std::move(types))
{}

std::vector<MediaType> OutputPin::MediaTypes()
{
    return m_types ? m_types() : std::vector<MediaType>{};
}

HRESULT OutputPin::Connect(IPin *to, const MediaType &mt)
{
    if (!to)
        return E_POINTER;
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (to->QueryDirection() != PinDirection::Input)
        return E_INVALIDARG;
    bool offered = false;
    for (const MediaType &own : MediaTypes())
        offered = offered || SameMediaType(own, mt);
    if (!offered)
        return VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT hr = to->ReceiveConnection(this, mt);
    if (platform::Failed(hr))
        return hr;
    SetConnection(to, mt);
    return S_OK;
}

HRESULT OutputPin::Deliver(const MediaSample &sample)
{
    const ComPtr<IPin> peer = ConnectedTo();
    return peer ? peer->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverEndOfStream()
{
    const ComPtr<IPin> peer = ConnectedTo();
    return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

} // namespace engine
