#pragma once
// Builds slideshow timelines the way the program lays them out: every photo on a track of
// its own over [i*s, (i+2)*s] (the last one to the end), an optional transition over the
// first s seconds of each photo alternating wipe and dissolve, and music clips laid end to
// end.

#include "engine/timeline.h"
#include "platform/com.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <cstring>

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

// The photo part of a slideshow: N photos, s seconds each (s may be 0), movie music part
// of T seconds.
inline void LayOutPhotos(IAMTimeline *timeline,
                         IAMTimelineObj *group,
                         const QStringList &photos,
                         int s,
                         int T,
                         bool effect)
{
    ReferenceTime start = 0, stop = 2 * s * kSecond, length = 2 * s * kSecond;
    ReferenceTime transitionStart = 0, transitionStop = s * kSecond;
    bool second = false;
    for (int i = 0; i < photos.size(); ++i) {
        if (i == photos.size() - 1) {
            stop = static_cast<ReferenceTime>(T + s) * kSecond;
            length = stop - start;
        }
        auto track = AddClip(timeline, group, photos[i], start, stop, 0, length);
        if (effect) {
            AddTransition(timeline,
                          track.Get(),
                          second ? engine::CLSID_CrossFade : engine::CLSID_DxtJpeg,
                          transitionStart,
                          transitionStop);
            second = !second;
            transitionStart += s * kSecond;
            transitionStop += s * kSecond;
        }
        start += s * kSecond;
        stop += s * kSecond;
    }
}

} // namespace rendertest
