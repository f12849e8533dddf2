#pragma once
// Building blocks of the graph's own filters: pins whose references count on the filter
// that owns them, and the media type helpers the filters share.
//
// A connection holds a reference in each direction (output to input and back), so two
// connected filters keep each other alive until they are disconnected; the filter graph
// disconnects every pin of its filters when it lets them go.

#include "engine/dshow.h"

#include <functional>
#include <mutex>

namespace engine {

inline constexpr Guid MEDIATYPE_Stream = MakeGuid("{E436EB83-524F-11CE-9F53-0020AF0BA770}");

// The subtype of a compressed format named by a four-character code or a wave format tag:
// {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr Guid SubtypeFromFourcc(std::uint32_t fourcc)
{
    Guid g = MEDIASUBTYPE_PCM;
    g.data1 = fourcc;
    return g;
}

// Fills *out with a copy of mt whose format block comes from the task allocator.
void CopyToAmMediaType(const MediaType &mt, AM_MEDIA_TYPE *out);
// Frees the format block of a type handed out by an engine object.
void FreeMediaType(AM_MEDIA_TYPE &mt);
bool SameMediaType(const MediaType &a, const MediaType &b);

class PinBase : public IPin
{
public:
    PinBase(IBaseFilter *owner, QString name, PinDirection direction);

    HRESULT QueryInterface(const Guid &iid, void **out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    PinDirection QueryDirection() const override { return m_direction; }
    IBaseFilter *Owner() const override { return m_owner; }
    QString Name() const override { return m_name; }
    ComPtr<IPin> ConnectedTo() const override;
    HRESULT ConnectionMediaType(MediaType *mt) const override;
    HRESULT Disconnect() override;

    bool IsConnected() const;
    // The connection's type; meaningful while connected.
    MediaType ConnectionType() const;

protected:
    void SetConnection(IPin *peer, const MediaType &mt);

    IBaseFilter *m_owner;
    QString m_name;
    PinDirection m_direction;
    mutable std::mutex m_mutex; // guards the connection against the streaming thread
    ComPtr<IPin> m_peer;
    MediaType m_type;
    std::function<void()> m_onDisconnect;

    friend class InputPin;
    friend class OutputPin;
};

// An input pin that hands every call to its filter.
class InputPin : public PinBase
{
public:
    struct Handlers
    {
        // S_OK when the filter would take the type, S_FALSE otherwise.
        std::function<HRESULT(const MediaType &)> accept;
        // Called when a connection is made (after accept said yes); a failure refuses it.
        std::function<HRESULT(const MediaType &)> connected;
        std::function<void()> disconnected;
        std::function<HRESULT(const MediaSample &)> receive;
        std::function<HRESULT()> endOfStream;
    };

    InputPin(IBaseFilter *owner, QString name, Handlers handlers);

    std::vector<MediaType> MediaTypes() override { return {}; }
    HRESULT QueryAccept(const MediaType &mt) override;
    HRESULT Connect(IPin *, const MediaType &) override { return E_UNEXPECTED; }
    HRESULT ReceiveConnection(IPin *from, const MediaType &mt) override;
    HRESULT Receive(const MediaSample &sample) override;
    HRESULT EndOfStream() override;

private:
    Handlers m_handlers;
};

// An output pin offering the types its filter names, delivering to the connected pin.
class OutputPin : public PinBase
{
public:
    using TypeSource = std::function<std::vector<MediaType>()>;

    OutputPin(IBaseFilter *owner, QString name, TypeSource types);

    std::vector<MediaType> MediaTypes() override;
    HRESULT QueryAccept(const MediaType &) override { return S_FALSE; }
    HRESULT Connect(IPin *to, const MediaType &mt) override;
    HRESULT ReceiveConnection(IPin *, const MediaType &) override { return E_UNEXPECTED; }
    HRESULT Receive(const MediaSample &) override { return E_UNEXPECTED; }
    HRESULT EndOfStream() override { return E_UNEXPECTED; }

    // Streaming thread: passes a sample or the end of the stream to the connected pin.
    HRESULT Deliver(const MediaSample &sample);
    HRESULT DeliverEndOfStream();

private:
    TypeSource m_types;
};

} // namespace engine
