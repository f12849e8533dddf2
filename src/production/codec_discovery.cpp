// Finding an installed compressor by its friendly name through the system device
// enumerator. Names are compared whole and case-sensitively; the first device the
// enumerator lists under the name is taken, and a failed bind of that device ends the
// search.

#include "app/main_dialog.h"

#include "engine/graph/device_enum.h"
#include "platform/class_store.h"
#include "platform/prompter.h"

namespace {

using engine::IBaseFilter;
using platform::ComPtr;

const QString kAudioCompressorName = QStringLiteral("MPEG Layer-3");

// Looks through one compressor category. Every object made on the way (enumerators,
// monikers, property bags) is released before returning; only the bound filter stays,
// in `filter`, owned by the caller.
bool FindCompressor(platform::Prompter &prompter,
                    const engine::Guid &category,
                    ComPtr<IBaseFilter> &filter,
                    const QString &name)
{
    platform::HRESULT hr = platform::S_OK;
    const auto devices
        = platform::CreateInstance<engine::ICreateDevEnum>(engine::CLSID_SystemDeviceEnum, &hr);
    if (platform::Failed(hr) || !devices) {
        prompter.AppMessageBox(QStringLiteral("Failed to create system enumerator"));
        return false;
    }
    ComPtr<engine::IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(category, monikers.Put(), 0);
    if (platform::Failed(hr)) {
        prompter.AppMessageBox(QStringLiteral("Failed to create class enumerator"));
        return false;
    }
    // A category without devices gives success and no enumerator.
    if (!monikers)
        return false;

    monikers->Reset();
    for (;;) {
        ComPtr<engine::IMoniker> moniker;
        std::uint32_t fetched = 0;
        if (monikers->Next(1, moniker.Put(), &fetched) != platform::S_OK || fetched != 1
            || !moniker)
            return false;
        ComPtr<engine::IPropertyBag> bag;
        if (platform::Failed(moniker->BindToStorage(engine::IPropertyBag::kIid, bag.PutVoid()))
            || !bag)
            continue;
        engine::VARIANT friendlyName;
        friendlyName.vt = engine::VT_BSTR;
        if (bag->Read(QStringLiteral("FriendlyName"), &friendlyName, nullptr) != platform::S_OK
            || friendlyName.vt != engine::VT_BSTR)
            continue;
        if (friendlyName.bstrVal != name)
            continue;
        hr = moniker->BindToObject(IBaseFilter::kIid, filter.PutVoid());
        return platform::Succeeded(hr) && filter;
    }
}

} // namespace

bool MainDialog::HasVideoCompressor(const QString &name)
{
    ComPtr<IBaseFilter> filter;
    return FindVideoCompressor(filter, name);
}

bool MainDialog::FindVideoCompressor(ComPtr<IBaseFilter> &filter, const QString &name)
{
    return FindCompressor(
        *m_services.prompter, engine::CLSID_VideoCompressorCategory, filter, name);
}

bool MainDialog::FindAudioCompressor(ComPtr<IBaseFilter> &filter)
{
    return FindCompressor(
        *m_services.prompter, engine::CLSID_AudioCompressorCategory, filter, kAudioCompressorName);
}
