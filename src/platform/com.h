#pragma once
// The small object model that the engine, the support modules and the program share:
// HRESULT-style result codes, class and interface identifiers, reference-counted
// objects and the smart pointer that holds them.
//
// Objects may come from modules loaded at run time (the resizer, the help engine), so
// interfaces are found through QueryInterface with an interface identifier, never
// through RTTI, and an object is always freed by the module that made it (Release).

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace platform {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

constexpr bool Succeeded(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr)
{
    return hr < 0;
}

// A 128-bit class or interface identifier, written "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
struct Guid
{
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    // Accepts the braced form, braces optional, hex digits in either case.
    static std::optional<Guid> Parse(QStringView text);
    // The braced upper-case form used as a registry key name.
    QString ToString() const;
    bool IsNull() const { return *this == Guid{}; }

    friend bool operator==(const Guid &, const Guid &) = default;
};

// Builds a Guid from a literal at compile time; a malformed literal fails to compile.
consteval Guid MakeGuid(const char (&text)[39])
{
    auto hex = [](char c) -> std::uint32_t {
        if (c >= '0' && c <= '9')
            return static_cast<std::uint32_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<std::uint32_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<std::uint32_t>(c - 'A' + 10);
        throw "not a hex digit";
    };
    auto read = [&](int from, int digits) {
        std::uint32_t v = 0;
        for (int i = 0; i < digits; ++i)
            v = v * 16 + hex(text[from + i]);
        return v;
    };
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-'
        || text[37] != '}')
        throw "malformed GUID";
    Guid g;
    g.data1 = read(1, 8);
    g.data2 = static_cast<std::uint16_t>(read(10, 4));
    g.data3 = static_cast<std::uint16_t>(read(15, 4));
    g.data4[0] = static_cast<std::uint8_t>(read(20, 2));
    g.data4[1] = static_cast<std::uint8_t>(read(22, 2));
    for (int i = 0; i < 6; ++i)
        g.data4[2 + i] = static_cast<std::uint8_t>(read(25 + 2 * i, 2));
    return g;
}

using Clsid = Guid;
using Iid = Guid;

// The root of every object. Each interface derived from it declares
// `static constexpr Iid kIid`.
class IUnknown
{
public:
    static constexpr Iid kIid = MakeGuid("{00000000-0000-0000-C000-000000000046}");

    // On success *out holds an added reference to the object as the asked-for interface.
    virtual HRESULT QueryInterface(const Iid &iid, void **out) = 0;
    virtual std::uint32_t AddRef() = 0;
    // Frees the object when the last reference goes; returns the count left.
    virtual std::uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Holds one reference; releases it on every path out of the holder's scope.
template <class T>
class ComPtr
{
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes an added reference of its own.
    explicit ComPtr(T *p)
        : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr &o)
        : ComPtr(o.m_p)
    {}
    ComPtr(ComPtr &&o) noexcept
        : m_p(std::exchange(o.m_p, nullptr))
    {}
    ~ComPtr() { Reset(); }
    ComPtr &operator=(ComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }

    // Adopts a reference that the caller already owns (as returned by a factory).
    static ComPtr Attach(T *p)
    {
        ComPtr r;
        r.m_p = p;
        return r;
    }
    T *Detach() { return std::exchange(m_p, nullptr); }
    void Reset()
    {
        if (T *p = std::exchange(m_p, nullptr))
            p->Release();
    }

    T *Get() const { return m_p; }
    T *operator->() const { return m_p; }
    T &operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // For out-parameters: releases what is held and hands out the slot.
    T **Put()
    {
        Reset();
        return &m_p;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }

    // The same object as another interface, or null when it does not have it.
    template <class U>
    ComPtr<U> As() const
    {
        ComPtr<U> r;
        if (m_p)
            m_p->QueryInterface(U::kIid, r.PutVoid());
        return r;
    }

private:
    T *m_p = nullptr;
};

// Reference counting and QueryInterface for a class implementing the interfaces Is...
// (each derived from IUnknown, each with kIid). Thread-safe counts.
template <class... Is>
class ComObject : public Is...
{
public:
    HRESULT QueryInterface(const Iid &iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IUnknown::kIid) {
            *out = static_cast<IUnknown *>(static_cast<First *>(this));
        } else {
            ((iid == Is::kIid ? (*out = static_cast<Is *>(this), true) : false) || ...);
        }
        if (!*out)
            return QueryExtraInterface(iid, out);
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++m_refs; }
    std::uint32_t Release() override
    {
        const std::uint32_t left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ComObject() = default;
    // For interfaces an object hands out besides Is... (an aggregated helper, say).
    virtual HRESULT QueryExtraInterface(const Iid &, void **) { return E_NOINTERFACE; }

private:
    template <class F, class...>
    struct FirstOf
    {
        using type = F;
    };
    using First = typename FirstOf<Is...>::type;
    std::atomic<std::uint32_t> m_refs{0};
};

// Creates a new object of class T (derived from ComObject) and returns it as interface I.
template <class T, class I, class... Args>
ComPtr<I> MakeObject(Args &&...args)
{
    return ComPtr<I>(static_cast<I *>(new T(std::forward<Args>(args)...)));
}

} // namespace platform

namespace platform {

// The task allocator: memory handed between the program and engine objects (media type
// format blocks). What one side allocates here the other frees here.
void *CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void *block);

} // namespace platform
