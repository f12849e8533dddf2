#include "engine/graph/sample_grabber.h"

#include "engine/graph/filter_graph_pins.h"

namespace engine {

namespace {

class SampleGrabber final : public platform::ComObject<IBaseFilter, ISampleGrabber>
{
public:
    SampleGrabber()
        : m_input(this,
                  QStringLiteral("Input"),
                  {[this](const MediaType &mt) { return Accepts(mt) ? S_OK : S_FALSE; },
                   nullptr,
                   [this] {
                       // The output passes the input's type on; it cannot outlive it.
                       if (ComPtr<IPin> peer = m_output.ConnectedTo())
                           peer->Disconnect();
                       m_output.Disconnect();
                   },
                   [this](const MediaSample &s) { return m_output.Deliver(s); },
                   [this] { return m_output.DeliverEndOfStream(); }})
        , m_output(this, QStringLiteral("Output"), [this]() -> std::vector<MediaType> {
            MediaType mt;
            if (Succeeded(m_input.ConnectionMediaType(&mt)))
                return {mt};
            return {};
        })
    {}

    std::vector<ComPtr<IPin>> EnumPins() override
    {
        return {ComPtr<IPin>(&m_input), ComPtr<IPin>(&m_output)};
    }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &name) override
    {
        m_name = name;
        return S_OK;
    }
    QString Name() const override { return m_name; }
    HRESULT Run() override { return S_OK; }
    HRESULT Stop() override { return S_OK; }

    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override
    {
        if (!type)
            return E_POINTER;
        m_major = type->majortype;
        m_subtype = type->subtype;
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE *type) override
    {
        if (!type)
            return E_POINTER;
        MediaType mt;
        const HRESULT hr = m_input.ConnectionMediaType(&mt);
        if (Failed(hr))
            return hr;
        CopyToAmMediaType(mt, type);
        return S_OK;
    }

private:
    bool Accepts(const MediaType &mt) const
    {
        if (!m_major.IsNull() && mt.majortype != m_major)
            return false;
        return m_subtype.IsNull() || mt.subtype == m_subtype;
    }

    InputPin m_input;
    OutputPin m_output;
    QString m_name;
    Guid m_major;
    Guid m_subtype;
};

} // namespace

HRESULT CreateSampleGrabber(const Guid &iid, void **out)
{
    if (!out)
        return E_POINTER;
    auto grabber = platform::MakeObject<SampleGrabber, IBaseFilter>();
    return grabber->QueryInterface(iid, out);
}

} // namespace engine
