#pragma once
// Test doubles for driving the render engine without the real filter graph: a graph that
// only keeps its filters, an input pin that records every sample it receives, and a pump
// that plays the streaming thread (DeliverNext on the earliest source until all end).

#include "engine/dshow.h"
#include "engine/render/audio_mixer.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/timeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace rendertest {

using engine::ComPtr;
using engine::HRESULT;
using engine::IAMTimeline;
using engine::IBaseFilter;
using engine::IPin;
using engine::MediaSample;
using engine::MediaType;
using engine::ReferenceTime;

class KeepingGraph final : public platform::ComObject<engine::IGraphBuilder>
{
public:
    HRESULT AddFilter(IBaseFilter *filter, const QString &name) override
    {
        filters.emplace_back(filter);
        filter->JoinFilterGraph(this, name);
        return platform::S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter *filter) override
    {
        auto it = std::find_if(
            filters.begin(), filters.end(), [&](const auto &f) { return f.Get() == filter; });
        if (it == filters.end())
            return platform::E_INVALIDARG;
        filter->JoinFilterGraph(nullptr, QString());
        filters.erase(it);
        return platform::S_OK;
    }
    std::vector<ComPtr<IBaseFilter>> EnumFilters() override { return filters; }
    HRESULT Connect(IPin *out, IPin *in) override
    {
        for (const MediaType &mt : out->MediaTypes()) {
            if (in->QueryAccept(mt) == platform::S_OK)
                return out->Connect(in, mt);
        }
        return engine::VFW_E_NO_ACCEPTABLE_TYPES;
    }

    std::vector<ComPtr<IBaseFilter>> filters;

private:
    HRESULT QueryExtraInterface(const platform::Iid &iid, void **out) override
    {
        if (iid == engine::IFilterGraph::kIid) {
            *out = static_cast<engine::IFilterGraph *>(this);
            AddRef();
            return platform::S_OK;
        }
        return platform::E_NOINTERFACE;
    }
};

struct RecordedFrame
{
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    bool repeat = false;
    std::vector<std::uint8_t> bytes;
};

// An input pin that accepts any type and records what arrives. It keeps no reference to
// the pin it is connected from.
class RecordingPin final : public platform::ComObject<IPin>
{
public:
    engine::PinDirection QueryDirection() const override { return engine::PinDirection::Input; }
    IBaseFilter *Owner() const override { return nullptr; }
    QString Name() const override { return QStringLiteral("Recorder"); }
    std::vector<MediaType> MediaTypes() override { return {}; }
    HRESULT QueryAccept(const MediaType &) override { return platform::S_OK; }
    HRESULT Connect(IPin *, const MediaType &) override { return platform::E_UNEXPECTED; }
    HRESULT ReceiveConnection(IPin *, const MediaType &mt) override
    {
        type = mt;
        connected = true;
        return platform::S_OK;
    }
    HRESULT Disconnect() override
    {
        connected = false;
        return platform::S_OK;
    }
    ComPtr<IPin> ConnectedTo() const override { return nullptr; }
    HRESULT ConnectionMediaType(MediaType *mt) const override
    {
        *mt = type;
        return platform::S_OK;
    }
    HRESULT Receive(const MediaSample &sample) override
    {
        if (endOfStream)
            ADD_FAILURE() << "sample after the end of the stream";
        if (type.majortype == engine::MEDIATYPE_Audio) {
            const auto *s = reinterpret_cast<const std::int16_t *>(sample.data);
            audio.insert(audio.end(), s, s + sample.size / 2);
            audioStarts.push_back(sample.start);
            audioStops.push_back(sample.stop);
        } else {
            frames.push_back({sample.start,
                              sample.stop,
                              sample.repeat,
                              {sample.data, sample.data + sample.size}});
        }
        return failReceive;
    }
    HRESULT EndOfStream() override
    {
        endOfStream = true;
        return platform::S_OK;
    }

    MediaType type;
    bool connected = false;
    bool endOfStream = false;
    HRESULT failReceive = platform::S_OK;
    std::vector<RecordedFrame> frames;
    std::vector<std::int16_t> audio;
    std::vector<ReferenceTime> audioStarts;
    std::vector<ReferenceTime> audioStops;
};

// Output of one group.
struct GroupOutput
{
    ComPtr<RecordingPin> pin;
    ComPtr<engine::IPushSource> source;
};

// Connects a recorder to every group's output pin of an engine whose front end is
// connected, then pumps all sources to their end. Fails the test when a source does not
// end within `maxSamples` deliveries.
inline std::vector<GroupOutput>
PumpAll(engine::IRenderEngine *engine, long groups, std::size_t maxSamples = 200000)
{
    std::vector<GroupOutput> outputs;
    for (long g = 0; g < groups; ++g) {
        ComPtr<IPin> pin;
        EXPECT_EQ(engine->GetGroupOutputPin(g, &pin), platform::S_OK);
        if (!pin)
            return {};
        GroupOutput out;
        out.pin = ComPtr<RecordingPin>(new RecordingPin);
        EXPECT_EQ(pin->Connect(out.pin.Get(), pin->MediaTypes().front()), platform::S_OK);
        out.source = ComPtr<IBaseFilter>(pin->Owner()).As<engine::IPushSource>();
        EXPECT_TRUE(out.source);
        if (!out.source)
            return {};
        pin->Owner()->Run();
        outputs.push_back(std::move(out));
    }
    for (std::size_t n = 0; n < maxSamples; ++n) {
        GroupOutput *next = nullptr;
        for (auto &o : outputs) {
            if (!o.source->AtEnd()
                && (!next || o.source->NextSampleTime() < next->source->NextSampleTime()))
                next = &o;
        }
        if (!next)
            return outputs;
        const HRESULT hr = next->source->DeliverNext();
        EXPECT_TRUE(platform::Succeeded(hr)) << std::hex << hr;
        if (platform::Failed(hr))
            return outputs;
    }
    ADD_FAILURE() << "the sources did not end";
    return outputs;
}

// Start time of video frame n at 29.97 frames per second.
inline ReferenceTime FrameStart(std::int64_t n)
{
    return n * engine::kUnitsPerSecond * 1001 / 30000;
}
// The first frame whose start is at or after `seconds`.
inline std::int64_t FrameAt(double seconds)
{
    std::int64_t n = 0;
    while (FrameStart(n) < static_cast<ReferenceTime>(seconds * engine::kUnitsPerSecond))
        ++n;
    return n;
}

// Pixel (x, y from the top) of a recorded frame as R, G, B.
struct Rgb
{
    int r, g, b;
};
inline Rgb PixelOf(const RecordedFrame &frame, int width, int height, int x, int y)
{
    const int stride = (width * 3 + 3) & ~3;
    const std::uint8_t *p = frame.bytes.data() + static_cast<std::size_t>(height - 1 - y) * stride
                            + static_cast<std::size_t>(x) * 3;
    return {p[2], p[1], p[0]};
}

// A rendered timeline: the engine with its outputs pumped to their end.
struct Rendered
{
    ComPtr<IAMTimeline> timeline;
    ComPtr<engine::IRenderEngine> engine;
    ComPtr<KeepingGraph> graph;
    std::vector<GroupOutput> outputs;
    const std::vector<RecordedFrame> &Frames() const { return outputs.at(0).pin->frames; }
    const std::vector<std::int16_t> &Audio(std::size_t group = 0) const
    {
        return outputs.at(group).pin->audio;
    }
    // Pixel (x, y from the top) of a frame of group 0.
    Rgb At(std::int64_t frame, int x, int y) const
    {
        const auto *vih = outputs.at(0).pin->type.FormatAs<engine::VIDEOINFOHEADER>();
        return PixelOf(Frames().at(static_cast<std::size_t>(frame)),
                       vih->bmiHeader.biWidth,
                       vih->bmiHeader.biHeight,
                       x,
                       y);
    }
};

// Renders every group of a timeline through a graph that only keeps its filters, with the
// resizer class `resizer` when it is not null.
inline Rendered Render(IAMTimeline *timeline, const engine::Guid &resizer = engine::Guid{})
{
    Rendered r;
    r.timeline = ComPtr<IAMTimeline>(timeline);
    r.engine = engine::CreateRenderEngine();
    r.graph = ComPtr<KeepingGraph>(new KeepingGraph);
    EXPECT_EQ(r.engine->SetFilterGraph(r.graph.Get()), platform::S_OK);
    EXPECT_EQ(r.engine->SetTimelineObject(timeline), platform::S_OK);
    if (!resizer.IsNull()) {
        EXPECT_EQ(r.engine.As<engine::IRenderEngine2>()->SetResizerGUID(resizer), platform::S_OK);
    }
    EXPECT_EQ(r.engine->ConnectFrontEnd(), platform::S_OK);
    long groups = 0;
    timeline->GetGroupCount(&groups);
    r.outputs = PumpAll(r.engine.Get(), groups);
    return r;
}

} // namespace rendertest
