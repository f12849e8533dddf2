#pragma once
// The media graph's shared vocabulary: media types, samples, pins, filters and the filter
// graph. The timeline's render engine provides source filters (one output pin per group),
// the graph connects them through grabbers and compressors into the AVI multiplexer and
// runs them on a streaming thread of its own.
//
// Streaming is push-based and synchronous: the graph's streaming thread repeatedly asks
// the source whose next sample is earliest (IPushSource) to deliver one sample; the source
// hands it to the connected input pin (IPin::Receive), each filter passes what it makes
// on downstream within the same call. When a source has nothing more it calls
// EndOfStream() on its connected pin, which every filter passes on downstream. A failing
// Receive aborts the run: the graph reports EC_ERRORABORT with that result.

#include "platform/com.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

using platform::ComPtr;
using platform::E_FAIL;
using platform::E_INVALIDARG;
using platform::E_NOINTERFACE;
using platform::E_NOTIMPL;
using platform::E_POINTER;
using platform::E_UNEXPECTED;
using platform::Failed;
using platform::Guid;
using platform::HRESULT;
using platform::IUnknown;
using platform::MakeGuid;
using platform::S_FALSE;
using platform::S_OK;
using platform::Succeeded;

// Reference time: signed count of 100 ns units.
using ReferenceTime = std::int64_t;
inline constexpr ReferenceTime kUnitsPerSecond = 10'000'000;

// Media major types, subtypes and format types.
inline constexpr Guid MEDIATYPE_Video = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
inline constexpr Guid MEDIATYPE_Audio = MakeGuid("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr Guid MEDIASUBTYPE_RGB24 = MakeGuid("{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
inline constexpr Guid MEDIASUBTYPE_PCM = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr Guid MEDIASUBTYPE_Avi = MakeGuid("{E436EB88-524F-11CE-9F53-0020AF0BA770}");
inline constexpr Guid FORMAT_VideoInfo = MakeGuid("{05589F80-C356-11CE-BF01-00AA0055595A}");
inline constexpr Guid FORMAT_WaveFormatEx = MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");

// Engine classes.
inline constexpr Guid CLSID_AMTimeline = MakeGuid("{78530B75-61F9-11D2-8CAD-00A024580902}");
inline constexpr Guid CLSID_RenderEngine = MakeGuid("{64D8A8E0-80A2-11D2-8CF3-00A0C9441E20}");
inline constexpr Guid CLSID_MediaDet = MakeGuid("{65BD0711-24D2-4FF7-9324-ED2E5D3ABAFA}");
inline constexpr Guid CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr Guid CLSID_SampleGrabber = MakeGuid("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr Guid CLSID_CaptureGraphBuilder2
    = MakeGuid("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");
inline constexpr Guid CLSID_SystemDeviceEnum = MakeGuid("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
inline constexpr Guid CLSID_VideoCompressorCategory
    = MakeGuid("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr Guid CLSID_AudioCompressorCategory
    = MakeGuid("{33D9A761-90C8-11D0-BD43-00A0C911CE86}");
// The resizer that start-up registers from the shipped module.
inline constexpr Guid CLSID_VantorelResizer = MakeGuid("{D781FD6A-DBF5-4E25-BA0E-AEF70729C491}");

// BITMAPINFOHEADER, 40 bytes.
#pragma pack(push, 1)
struct BITMAPINFOHEADER
{
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
struct RECT32
{
    std::int32_t left, top, right, bottom;
};
// VIDEOINFOHEADER, 88 bytes.
struct VIDEOINFOHEADER
{
    RECT32 rcSource;
    RECT32 rcTarget;
    std::uint32_t dwBitRate;
    std::uint32_t dwBitErrorRate;
    ReferenceTime AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
// WAVEFORMATEX, 18 bytes.
struct WAVEFORMATEX
{
    std::uint16_t wFormatTag;
    std::uint16_t nChannels;
    std::uint32_t nSamplesPerSec;
    std::uint32_t nAvgBytesPerSec;
    std::uint16_t nBlockAlign;
    std::uint16_t wBitsPerSample;
    std::uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(WAVEFORMATEX) == 18);
inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// A media type as callers build it: the format block belongs to the caller (allocated
// with platform::CoTaskMemAlloc); an object that takes the type copies it.
struct AM_MEDIA_TYPE
{
    Guid majortype;
    Guid subtype;
    bool bFixedSizeSamples = true;
    bool bTemporalCompression = false;
    std::uint32_t lSampleSize = 0;
    Guid formattype;
    IUnknown *pUnk = nullptr;
    std::uint32_t cbFormat = 0;
    std::uint8_t *pbFormat = nullptr;
};

// An owning copy of a media type, as objects keep them.
struct MediaType
{
    Guid majortype;
    Guid subtype;
    bool fixedSizeSamples = true;
    bool temporalCompression = false;
    std::uint32_t sampleSize = 0;
    Guid formattype;
    std::vector<std::uint8_t> format;

    static MediaType From(const AM_MEDIA_TYPE &mt)
    {
        MediaType r{mt.majortype,
                    mt.subtype,
                    mt.bFixedSizeSamples,
                    mt.bTemporalCompression,
                    mt.lSampleSize,
                    mt.formattype,
                    {}};
        if (mt.pbFormat && mt.cbFormat)
            r.format.assign(mt.pbFormat, mt.pbFormat + mt.cbFormat);
        return r;
    }
    // The format block as a struct, or null when it is too small for it.
    template <class T>
    const T *FormatAs() const
    {
        return format.size() >= sizeof(T) ? reinterpret_cast<const T *>(format.data()) : nullptr;
    }
};

// One unit of media passing from pin to pin. The data is valid only during the Receive
// call that carries it; a filter that keeps it copies it.
struct MediaSample
{
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    ReferenceTime start = 0; // stream time of the sample's start
    ReferenceTime stop = 0;  // and of its end
    bool syncPoint = true;   // a key frame (always true for uncompressed media)
    // Video only: the picture is the same as the previous sample's. data may still hold
    // it; a compressor may code it as a skipped frame.
    bool repeat = false;
};

enum class PinDirection { Input, Output };

class IBaseFilter;

class IPin : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");

    virtual PinDirection QueryDirection() const = 0;
    // The filter that owns the pin (not an added reference).
    virtual IBaseFilter *Owner() const = 0;
    virtual QString Name() const = 0;

    // Output pins: the media types the pin can offer, in order of preference.
    virtual std::vector<MediaType> MediaTypes() = 0;
    // Input pins: S_OK when the pin would take this type, S_FALSE otherwise.
    virtual HRESULT QueryAccept(const MediaType &mt) = 0;

    // Output pins: connect to `to` with the type mt (which `to` must accept).
    virtual HRESULT Connect(IPin *to, const MediaType &mt) = 0;
    // Input pins: called by the output pin's Connect; S_OK when taken.
    virtual HRESULT ReceiveConnection(IPin *from, const MediaType &mt) = 0;
    virtual HRESULT Disconnect() = 0;
    // The pin at the other end (an added reference), or null.
    virtual ComPtr<IPin> ConnectedTo() const = 0;
    // The type of the current connection; E_UNEXPECTED when not connected.
    virtual HRESULT ConnectionMediaType(MediaType *mt) const = 0;

    // Input pins, while the graph runs (streaming thread).
    virtual HRESULT Receive(const MediaSample &sample) = 0;
    virtual HRESULT EndOfStream() = 0;
};

class IFilterGraph;

enum class FilterState { Stopped, Paused, Running };

class IBaseFilter : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");

    // The filter's pins in their fixed order (added references).
    virtual std::vector<ComPtr<IPin>> EnumPins() = 0;
    // Called by the graph when the filter is added (graph non-null) or removed (null).
    // The filter must not hold a reference to the graph.
    virtual HRESULT JoinFilterGraph(IFilterGraph *graph, const QString &name) = 0;
    virtual QString Name() const = 0;
    // State changes, called by the graph on the main thread before streaming starts and
    // after it has ended. Stop releases whatever a run holds (open files are closed).
    virtual HRESULT Run() = 0;
    virtual HRESULT Stop() = 0;
};

// Implemented by filters that produce samples by themselves (the render engine's group
// outputs). Called from the graph's streaming thread only.
class IPushSource : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{8F1E2B34-6C1D-4E8A-9B47-3A5C0D2E7F61}");

    // Stream time of the next sample to deliver; meaningful while !AtEnd().
    virtual ReferenceTime NextSampleTime() const = 0;
    virtual bool AtEnd() const = 0;
    // Delivers the next sample downstream, or EndOfStream when there is none left.
    virtual HRESULT DeliverNext() = 0;
    // Length of the stream; 0 when unknown.
    virtual ReferenceTime Duration() const = 0;
};

// Event codes of the graph.
inline constexpr long EC_COMPLETE = 0x01;
inline constexpr long EC_ERRORABORT = 0x03;
inline constexpr long EC_USERABORT = 0x02;

class IFilterGraph : public IUnknown
{
public:
    static constexpr Guid kIid = MakeGuid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");

    // Adds a filter under a name (the graph holds a reference to it).
    virtual HRESULT AddFilter(IBaseFilter *filter, const QString &name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter *filter) = 0;
    // The graph's filters in the order they were added (added references).
    virtual std::vector<ComPtr<IBaseFilter>> EnumFilters() = 0;
    // Connects an output pin to an input pin with the first type of the output pin that
    // the input pin accepts. VFW_E_NO_ACCEPTABLE_TYPES when there is none.
    virtual HRESULT Connect(IPin *out, IPin *in) = 0;
};

// The graph's builder interface (the same object as IFilterGraph).
class IGraphBuilder : public IFilterGraph
{
public:
    static constexpr Guid kIid = MakeGuid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
};

inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = static_cast<HRESULT>(0x80040207u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022Au);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
// Returned by Run when the graph is still getting ready; counts as success.
inline constexpr HRESULT S_STATE_TRANSITION = 0x00040237;

} // namespace engine
