#pragma once
// The system device enumerator: lists the compressors of a category (video or audio) as
// monikers. A moniker binds to storage as a property bag holding the device's
// "FriendlyName", and to an object as the compressor filter itself.

#include "engine/dshow.h"

#include <cstdint>

namespace engine {

inline constexpr std::uint16_t VT_EMPTY = 0;
inline constexpr std::uint16_t VT_BSTR = 8;

// The one kind of value a property bag holds here: a string.
struct VARIANT
{
    std::uint16_t vt = VT_EMPTY;
    QString bstrVal;
};

class IPropertyBag : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{55272A00-42CB-11CE-8135-00AA004BB851}");

    // S_OK with the value; E_INVALIDARG for a property the bag does not hold, or when
    // the caller asked for a type other than VT_BSTR (or VT_EMPTY: any).
    virtual HRESULT Read(const QString &propertyName, VARIANT *value, void *errorLog) = 0;
};

class IMoniker : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{0000000F-0000-0000-C000-000000000046}");

    // IPropertyBag: the device's properties.
    virtual HRESULT BindToStorage(const Guid &iid, void **out) = 0;
    // IBaseFilter: a new compressor filter of the device.
    virtual HRESULT BindToObject(const Guid &iid, void **out) = 0;
};

class IEnumMoniker : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{00000102-0000-0000-C000-000000000046}");

    // Up to count monikers into out[] (each an added reference); S_OK when count were
    // taken, S_FALSE when fewer. fetched (may be null) receives the number taken.
    virtual HRESULT Next(std::uint32_t count, IMoniker **out, std::uint32_t *fetched) = 0;
    virtual HRESULT Skip(std::uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
};

class ICreateDevEnum : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{29840822-5B84-11D0-BD3B-00A0C911CE86}");

    // S_OK with an enumerator of the category's devices; S_FALSE and no enumerator when
    // the category has none (an unknown category has none).
    virtual HRESULT
    CreateClassEnumerator(const Guid &category, IEnumMoniker **out, std::uint32_t flags)
        = 0;
};

HRESULT CreateSystemDeviceEnum(const Guid &iid, void **out);

} // namespace engine
