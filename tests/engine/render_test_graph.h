#pragma once
// Drives the render engine for its tests: timelines of photo scenes and music clips,
// rendered in the graph into recorders of every sample.

#include "engine/dshow.h"
#include "engine/engine_classes.h"
#include "engine/graph/filter_graph_pins.h"
#include "engine/graph/media_control.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/timeline.h"
#include "platform/com.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace rendertest {

using engine::ComPtr;
using engine::HRESULT;
using engine::IAMTimeline;
using engine::IAMTimelineObj;
using engine::IBaseFilter;
using engine::IPin;
using engine::MediaSample;
using engine::MediaType;
using engine::ReferenceTime;
using platform::S_OK;

inline constexpr ReferenceTime kSecond = engine::kUnitsPerSecond;

// The video media type as the program builds it: an 88-byte zero-filled format block from
// the task allocator, freed by the caller once the group has taken it.
inline engine::AM_MEDIA_TYPE VideoType(int width, int height)
{
    engine::VIDEOINFOHEADER vih{};
    const auto bytes = static_cast<std::uint32_t>(((width * 3 + 3) & ~3) * height);
    vih.bmiHeader = {40, width, height, 1, 24, engine::BI_RGB, bytes, 0, 0, 0, 0};
    engine::AM_MEDIA_TYPE mt;
    mt.majortype = engine::MEDIATYPE_Video;
    mt.subtype = engine::MEDIASUBTYPE_RGB24;
    mt.formattype = engine::FORMAT_VideoInfo;
    mt.lSampleSize = bytes;
    mt.cbFormat = sizeof vih;
    mt.pbFormat = static_cast<std::uint8_t *>(platform::CoTaskMemAlloc(mt.cbFormat));
    std::memcpy(mt.pbFormat, &vih, sizeof vih);
    return mt;
}

// A video group of that frame size, or an audio group when the width is 0.
inline ComPtr<IAMTimelineObj> AddGroup(IAMTimeline *timeline, int width = 0, int height = 0)
{
    ComPtr<IAMTimelineObj> group;
    timeline->CreateEmptyNode(&group, engine::TIMELINE_MAJOR_TYPE_GROUP);
    engine::AM_MEDIA_TYPE mt;
    mt.majortype = engine::MEDIATYPE_Audio;
    mt.lSampleSize = 1;
    if (width > 0)
        mt = VideoType(width, height);
    auto g = group.As<engine::IAMTimelineGroup>();
    EXPECT_EQ(g->SetMediaType(&mt) | g->SetOutputFPS(29.97) | timeline->AddGroup(group.Get()),
              S_OK);
    platform::CoTaskMemFree(mt.pbFormat);
    return group;
}

// Appends a track with one source to a group.
inline ComPtr<IAMTimelineObj> AddClip(IAMTimeline *timeline,
                                      IAMTimelineObj *group,
                                      const QString &path,
                                      ReferenceTime start,
                                      ReferenceTime stop,
                                      ReferenceTime mediaStart,
                                      ReferenceTime mediaStop,
                                      int stretch = engine::RESIZEF_PRESERVEASPECTRATIO)
{
    ComPtr<IAMTimelineObj> track, source;
    timeline->CreateEmptyNode(&track, engine::TIMELINE_MAJOR_TYPE_TRACK);
    timeline->CreateEmptyNode(&source, engine::TIMELINE_MAJOR_TYPE_SOURCE);
    auto src = source.As<engine::IAMTimelineSrc>();
    // Every step must take: a scene the engine refused would test nothing.
    EXPECT_EQ(ComPtr<IAMTimelineObj>(group).As<engine::IAMTimelineComp>()->VTrackInsBefore(
                  track.Get(), -1)
                  | source->SetStartStop(start, stop) | src->SetMediaTimes(mediaStart, mediaStop)
                  | src->SetMediaName(path) | src->SetStretchMode(stretch)
                  | track.As<engine::IAMTimelineTrack>()->SrcAdd(source.Get()),
              S_OK);
    return track;
}

// One photo on a track of its own over [start, stop] seconds, with an optional transition
// over [start, transitionStop]. The program's own layout is tested on the timeline it
// builds (tests/production); these are scenes for the engine.
struct Shot
{
    QString photo;
    int start, stop;
    const engine::Guid *transition = nullptr;
    int transitionStop = 0;
    int stretch = engine::RESIZEF_PRESERVEASPECTRATIO;
};

inline void AddShots(IAMTimeline *timeline, IAMTimelineObj *group, const std::vector<Shot> &shots)
{
    for (const Shot &shot : shots) {
        const ReferenceTime start = shot.start * kSecond, stop = shot.stop * kSecond;
        auto track
            = AddClip(timeline, group, shot.photo, start, stop, 0, stop - start, shot.stretch);
        if (!shot.transition)
            continue;
        ComPtr<IAMTimelineObj> transition;
        timeline->CreateEmptyNode(&transition, engine::TIMELINE_MAJOR_TYPE_TRANSITION);
        transition->SetSubObjectGUID(*shot.transition);
        transition->SetStartStop(start, shot.transitionStop * kSecond);
        EXPECT_EQ(track.As<engine::IAMTimelineTransable>()->TransAdd(transition.Get()), S_OK);
    }
}

struct RecordedFrame
{
    ReferenceTime start = 0, stop = 0;
    bool repeat = false;
    std::vector<std::uint8_t> bytes;
};

// A filter with one input (the graph's own input pin) that records what arrives.
class Recorder final : public platform::ComObject<IBaseFilter>
{
public:
    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(&m_input)}; }
    HRESULT JoinFilterGraph(engine::IFilterGraph *, const QString &) override { return S_OK; }
    QString Name() const override { return QStringLiteral("Recorder"); }
    HRESULT Run() override { return S_OK; }
    HRESULT Stop() override { return S_OK; }

    MediaType type;
    bool endOfStream = false;
    std::vector<RecordedFrame> frames;
    std::vector<std::int16_t> audio;
    std::vector<ReferenceTime> audioStarts;
    ReferenceTime audioStop = 0;

private:
    HRESULT Receive(const MediaSample &sample)
    {
        if (endOfStream)
            ADD_FAILURE() << "sample after the end of the stream";
        if (type.majortype == engine::MEDIATYPE_Audio) {
            const auto *s = reinterpret_cast<const std::int16_t *>(sample.data);
            audio.insert(audio.end(), s, s + sample.size / 2);
            audioStarts.push_back(sample.start);
            audioStop = sample.stop;
        } else {
            frames.push_back({sample.start,
                              sample.stop,
                              sample.repeat,
                              {sample.data, sample.data + sample.size}});
        }
        return S_OK;
    }

    engine::InputPin m_input{this,
                             QStringLiteral("In"),
                             {[](const MediaType &) { return S_OK; },
                              [this](const MediaType &mt) { return type = mt, S_OK; },
                              nullptr,
                              [this](const MediaSample &sample) { return Receive(sample); },
                              [this] { return endOfStream = true, S_OK; }}};
};

// Pixel (x, y from the top) of a recorded frame as R, G, B.
struct Rgb
{
    int r, g, b;
};

// A rendered timeline: the engine in the graph it made, with a recorder on every group's
// output pin, run to the end.
struct Rendered
{
    ComPtr<engine::IRenderEngine> engine;
    std::vector<ComPtr<Recorder>> recorders;
    const std::vector<RecordedFrame> &Frames() const { return recorders.at(0)->frames; }
    const std::vector<std::int16_t> &Audio() const { return recorders.back()->audio; }
    // Pixel (x, y from the top) of a frame of group 0.
    Rgb At(std::int64_t frame, int x, int y) const
    {
        const auto *vih = recorders.at(0)->type.FormatAs<engine::VIDEOINFOHEADER>();
        const int stride = (vih->bmiHeader.biWidth * 3 + 3) & ~3;
        const std::uint8_t *p = Frames().at(static_cast<std::size_t>(frame)).bytes.data()
                                + static_cast<std::size_t>(vih->bmiHeader.biHeight - 1 - y) * stride
                                + static_cast<std::size_t>(x) * 3;
        return {p[2], p[1], p[0]};
    }
};

// Renders every group of a timeline, with the resizer class `resizer` when it is not null.
inline Rendered Render(IAMTimeline *timeline, const engine::Guid &resizer = engine::Guid{})
{
    engine::RegisterGraphClasses();
    Rendered r;
    r.engine = engine::CreateRenderEngine();
    EXPECT_EQ(r.engine->SetTimelineObject(timeline)
                  | r.engine.As<engine::IRenderEngine2>()->SetResizerGUID(resizer)
                  | r.engine->ConnectFrontEnd(),
              S_OK);
    ComPtr<engine::IGraphBuilder> graph;
    r.engine->GetFilterGraph(&graph);
    ComPtr<IPin> pin;
    for (long g = 0; r.engine->GetGroupOutputPin(g, &pin) == S_OK; ++g) {
        r.recorders.emplace_back(new Recorder);
        graph->AddFilter(r.recorders.back().Get(), QStringLiteral("Recorder"));
        EXPECT_EQ(graph->Connect(pin.Get(), r.recorders.back()->EnumPins().front().Get()), S_OK);
    }
    long code = 0;
    EXPECT_EQ(graph.As<engine::IMediaControl>()->Run(), S_OK);
    graph.As<engine::IMediaEvent>()->WaitForCompletion(120000, &code);
    EXPECT_EQ(code, engine::EC_COMPLETE);
    graph.As<engine::IMediaControl>()->Stop();
    return r;
}

} // namespace rendertest
