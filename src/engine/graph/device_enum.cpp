#include "engine/graph/device_enum.h"

#include "engine/codecs/compressor_list.h"
#include "engine/graph/filter_graph_pins.h"

namespace engine {

namespace {

class PropertyBag final : public platform::ComObject<IPropertyBag>
{
public:
    explicit PropertyBag(QString friendlyName)
        : m_friendlyName(std::move(friendlyName))
    {}

    HRESULT Read(const QString &propertyName, VARIANT *value, void *) override
    {
        if (!value)
            return E_POINTER;
        if (propertyName != QLatin1String("FriendlyName"))
            return E_INVALIDARG;
        if (value->vt != VT_EMPTY && value->vt != VT_BSTR)
            return E_INVALIDARG;
        value->vt = VT_BSTR;
        value->bstrVal = m_friendlyName;
        return S_OK;
    }

private:
    QString m_friendlyName;
};

class CompressorMoniker final : public platform::ComObject<IMoniker>
{
public:
    explicit CompressorMoniker(CompressorDescription description)
        : m_description(std::move(description))
    {}

    HRESULT BindToStorage(const Guid &iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid != IPropertyBag::kIid)
            return platform::E_NOINTERFACE;
        return platform::MakeObject<PropertyBag, IPropertyBag>(m_description.friendlyName)
            ->QueryInterface(iid, out);
    }

    HRESULT BindToObject(const Guid &iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        ComPtr<IBaseFilter> filter;
        const HRESULT hr = CreateCompressorFilter(m_description, filter.Put());
        if (Failed(hr))
            return hr;
        return filter->QueryInterface(iid, out);
    }

private:
    CompressorDescription m_description;
};

class MonikerEnumerator final : public platform::ComObject<IEnumMoniker>
{
public:
    explicit MonikerEnumerator(std::vector<CompressorDescription> devices)
        : m_devices(std::move(devices))
    {}

    HRESULT Next(std::uint32_t count, IMoniker **out, std::uint32_t *fetched) override
    {
        if (!out || (count > 1 && !fetched))
            return E_POINTER;
        std::uint32_t taken = 0;
        while (taken < count && m_next < m_devices.size()) {
            out[taken++]
                = platform::MakeObject<CompressorMoniker, IMoniker>(m_devices[m_next++]).Detach();
        }
        if (fetched)
            *fetched = taken;
        return taken == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(std::uint32_t count) override
    {
        const std::size_t left = m_devices.size() - m_next;
        m_next += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        m_next = 0;
        return S_OK;
    }

private:
    std::vector<CompressorDescription> m_devices;
    std::size_t m_next = 0;
};

class SystemDeviceEnum final : public platform::ComObject<ICreateDevEnum>
{
public:
    HRESULT CreateClassEnumerator(const Guid &category, IEnumMoniker **out, std::uint32_t) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        std::vector<CompressorDescription> devices;
        if (category == CLSID_VideoCompressorCategory)
            devices = ListCompressors(CompressorKind::Video);
        else if (category == CLSID_AudioCompressorCategory)
            devices = ListCompressors(CompressorKind::Audio);
        if (devices.empty())
            return S_FALSE;
        *out = platform::MakeObject<MonikerEnumerator, IEnumMoniker>(std::move(devices)).Detach();
        return S_OK;
    }
};

} // namespace

HRESULT CreateSystemDeviceEnum(const Guid &iid, void **out)
{
    if (!out)
        return E_POINTER;
    return platform::MakeObject<SystemDeviceEnum, ICreateDevEnum>()->QueryInterface(iid, out);
}

} // namespace engine
