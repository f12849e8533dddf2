#pragma once
// Builds timelines for the engine's tests: groups, clips, transitions and photo scenes.

#include "engine/timeline/timeline.h"
#include "platform/com.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <cstring>
#include <vector>

namespace rendertest {

using engine::ComPtr;
using engine::IAMTimeline;
using engine::IAMTimelineObj;
using engine::ReferenceTime;

inline constexpr ReferenceTime kSecond = engine::kUnitsPerSecond;

// The video media type as the program builds it: an 88-byte zero-filled format block from
// the task allocator, freed by the caller once the group has taken it.
inline engine::AM_MEDIA_TYPE VideoType(int width, int height)
{
    engine::AM_MEDIA_TYPE mt;
    mt.majortype = engine::MEDIATYPE_Video;
    mt.subtype = engine::MEDIASUBTYPE_RGB24;
    mt.bFixedSizeSamples = true;
    mt.bTemporalCompression = false;
    mt.formattype = engine::FORMAT_VideoInfo;
    mt.cbFormat = sizeof(engine::VIDEOINFOHEADER);
    mt.pbFormat = static_cast<std::uint8_t *>(platform::CoTaskMemAlloc(mt.cbFormat));
    std::memset(mt.pbFormat, 0, mt.cbFormat);
    auto *vih = reinterpret_cast<engine::VIDEOINFOHEADER *>(mt.pbFormat);
    vih->bmiHeader.biSize = 40;
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = engine::BI_RGB;
    vih->bmiHeader.biSizeImage = static_cast<std::uint32_t>(((width * 3 + 3) & ~3) * height);
    mt.lSampleSize = vih->bmiHeader.biSizeImage;
    return mt;
}

inline ComPtr<IAMTimelineObj> AddVideoGroup(IAMTimeline *timeline, int width, int height)
{
    ComPtr<IAMTimelineObj> group;
    EXPECT_EQ(timeline->CreateEmptyNode(&group, engine::TIMELINE_MAJOR_TYPE_GROUP), platform::S_OK);
    engine::AM_MEDIA_TYPE mt = VideoType(width, height);
    auto g = group.As<engine::IAMTimelineGroup>();
    EXPECT_EQ(g->SetMediaType(&mt), platform::S_OK);
    platform::CoTaskMemFree(mt.pbFormat);
    EXPECT_EQ(g->SetOutputFPS(29.97), platform::S_OK);
    EXPECT_EQ(g->SetPreviewMode(true), platform::S_OK);
    EXPECT_EQ(timeline->AddGroup(group.Get()), platform::S_OK);
    return group;
}

inline ComPtr<IAMTimelineObj> AddAudioGroup(IAMTimeline *timeline)
{
    ComPtr<IAMTimelineObj> group;
    EXPECT_EQ(timeline->CreateEmptyNode(&group, engine::TIMELINE_MAJOR_TYPE_GROUP), platform::S_OK);
    engine::AM_MEDIA_TYPE mt;
    mt.majortype = engine::MEDIATYPE_Audio;
    mt.lSampleSize = 1;
    auto g = group.As<engine::IAMTimelineGroup>();
    EXPECT_EQ(g->SetMediaType(&mt), platform::S_OK);
    EXPECT_EQ(g->SetOutputFPS(29.97), platform::S_OK);
    EXPECT_EQ(timeline->AddGroup(group.Get()), platform::S_OK);
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
                                      int stretchMode = engine::RESIZEF_PRESERVEASPECTRATIO)
{
    ComPtr<IAMTimelineObj> track, source;
    EXPECT_EQ(timeline->CreateEmptyNode(&track, engine::TIMELINE_MAJOR_TYPE_TRACK), platform::S_OK);
    EXPECT_EQ(ComPtr<IAMTimelineObj>(group).As<engine::IAMTimelineComp>()->VTrackInsBefore(
                  track.Get(), -1),
              platform::S_OK);
    EXPECT_EQ(timeline->CreateEmptyNode(&source, engine::TIMELINE_MAJOR_TYPE_SOURCE),
              platform::S_OK);
    auto src = source.As<engine::IAMTimelineSrc>();
    EXPECT_EQ(source->SetStartStop(start, stop), platform::S_OK);
    EXPECT_EQ(src->SetMediaTimes(mediaStart, mediaStop), platform::S_OK);
    EXPECT_EQ(src->SetMediaName(path), platform::S_OK);
    EXPECT_EQ(src->SetStretchMode(stretchMode), platform::S_OK);
    EXPECT_EQ(track.As<engine::IAMTimelineTrack>()->SrcAdd(source.Get()), platform::S_OK);
    return track;
}

inline void AddTransition(IAMTimeline *timeline,
                          IAMTimelineObj *track,
                          const engine::Guid &kind,
                          ReferenceTime start,
                          ReferenceTime stop)
{
    ComPtr<IAMTimelineObj> transition;
    EXPECT_EQ(timeline->CreateEmptyNode(&transition, engine::TIMELINE_MAJOR_TYPE_TRANSITION),
              platform::S_OK);
    EXPECT_EQ(transition->SetSubObjectGUID(kind), platform::S_OK);
    EXPECT_EQ(transition->SetStartStop(start, stop), platform::S_OK);
    EXPECT_EQ(ComPtr<IAMTimelineObj>(track).As<engine::IAMTimelineTransable>()->TransAdd(
                  transition.Get()),
              platform::S_OK);
}

// One photo on a track of its own over [start, stop] seconds, with an optional transition
// over [start, transitionStop]. The program's own layout is tested on the timeline it
// builds (tests/production); these are scenes for the engine.
struct Shot
{
    QString photo;
    int start;
    int stop;
    const engine::Guid *transition = nullptr;
    int transitionStop = 0;
};

inline void AddShots(IAMTimeline *timeline, IAMTimelineObj *group, const std::vector<Shot> &shots)
{
    for (const Shot &shot : shots) {
        const ReferenceTime start = shot.start * kSecond, stop = shot.stop * kSecond;
        auto track = AddClip(timeline, group, shot.photo, start, stop, 0, stop - start);
        if (shot.transition)
            AddTransition(
                timeline, track.Get(), *shot.transition, start, shot.transitionStop * kSecond);
    }
}

} // namespace rendertest
