#include "engine/engine_classes.h"
#include "engine/media_det.h"
#include "engine/render_engine.h"
#include "engine/timeline.h"
#include "platform/class_store.h"
#include "render_slideshow.h"

#include <gtest/gtest.h>

namespace {

using namespace engine;
using platform::E_INVALIDARG;
using platform::E_POINTER;
using platform::E_UNEXPECTED;
using platform::S_OK;
using rendertest::kSecond;

ComPtr<IAMTimelineObj> Node(IAMTimeline *timeline, TIMELINE_MAJOR_TYPE type)
{
    ComPtr<IAMTimelineObj> node;
    EXPECT_EQ(timeline->CreateEmptyNode(&node, type), S_OK);
    return node;
}

struct TimesRow
{
    ReferenceTime start, stop;
    bool accepted;
};

std::ostream &operator<<(std::ostream &os, const TimesRow &row)
{
    return os << '[' << row.start << ", " << row.stop << ']';
}

class TimelineTimes : public testing::TestWithParam<TimesRow>
{};

TEST_P(TimelineTimes, StartStopAndMediaTimesAreCheckedAndARefusalKeepsTheOldTimes)
{
    const TimesRow row = GetParam();
    auto timeline = CreateTimeline();
    auto source = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_SOURCE);
    auto src = source.As<IAMTimelineSrc>();
    ASSERT_EQ(source->SetStartStop(7, 9), S_OK);
    ASSERT_EQ(src->SetMediaTimes(3, 5), S_OK);
    EXPECT_EQ(source->SetStartStop(row.start, row.stop), row.accepted ? S_OK : E_INVALIDARG);
    EXPECT_EQ(src->SetMediaTimes(row.start, row.stop), row.accepted ? S_OK : E_INVALIDARG);
    ReferenceTime a = 0, b = 0, c = 0, d = 0;
    source->GetStartStop(&a, &b);
    src->GetMediaTimes(&c, &d);
    if (row.accepted) {
        EXPECT_EQ(std::make_pair(a, b), std::make_pair(row.start, row.stop));
        EXPECT_EQ(std::make_pair(c, d), std::make_pair(row.start, row.stop));
    } else {
        EXPECT_EQ(std::make_pair(a, b), std::make_pair(ReferenceTime{7}, ReferenceTime{9}));
        EXPECT_EQ(std::make_pair(c, d), std::make_pair(ReferenceTime{3}, ReferenceTime{5}));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows,
                         TimelineTimes,
                         testing::Values(TimesRow{0, 8 * kSecond, true},
                                         TimesRow{0, 0, true}, // seconds per photo 0
                                         TimesRow{4 * kSecond, 64 * kSecond, true},
                                         TimesRow{5, 3, false},
                                         TimesRow{-1, 5, false},
                                         TimesRow{-10, -5, false}));

TEST(TimelineModel, VideoGroupKeepsItsOwnCopyOfTheMediaType)
{
    auto timeline = CreateTimeline();
    auto group = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP);
    auto g = group.As<IAMTimelineGroup>();
    AM_MEDIA_TYPE mt = rendertest::VideoType(960, 720);
    ASSERT_EQ(g->SetMediaType(&mt), S_OK);
    // The caller frees its block at once; the group must not depend on it.
    std::memset(mt.pbFormat, 0xAB, mt.cbFormat);
    platform::CoTaskMemFree(mt.pbFormat);
    MediaType kept;
    ASSERT_EQ(g->GetMediaType(&kept), S_OK);
    const VIDEOINFOHEADER *vih = kept.FormatAs<VIDEOINFOHEADER>();
    ASSERT_NE(vih, nullptr);
    EXPECT_EQ(vih->bmiHeader.biWidth, 960);
    EXPECT_EQ(vih->bmiHeader.biHeight, 720);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, 960u * 3 * 720);
    EXPECT_EQ(kept.subtype, MEDIASUBTYPE_RGB24);
}

TEST(TimelineModel, TracksLieInPriorityOrder)
{
    auto timeline = CreateTimeline();
    auto group = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP);
    auto comp = group.As<IAMTimelineComp>();
    auto a = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    auto b = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    auto c = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    EXPECT_EQ(comp->VTrackInsBefore(a.Get(), -1), S_OK);
    EXPECT_EQ(comp->VTrackInsBefore(b.Get(), -1), S_OK);
    EXPECT_EQ(comp->VTrackInsBefore(c.Get(), 0), S_OK); // before a
    long count = 0;
    comp->VTrackGetCount(&count);
    ASSERT_EQ(count, 3);
    const IAMTimelineObj *expected[] = {c.Get(), a.Get(), b.Get()};
    for (long p = 0; p < 3; ++p) {
        ComPtr<IAMTimelineObj> t;
        EXPECT_EQ(comp->GetVTrack(&t, p), S_OK);
        EXPECT_EQ(t.Get(), expected[p]) << p;
    }
    ComPtr<IAMTimelineObj> none;
    EXPECT_EQ(comp->GetVTrack(&none, 3), E_INVALIDARG);
}

TEST(TimelineModel, TransitionsOnATrackMayTouchButNotOverlap)
{
    auto timeline = CreateTimeline();
    auto track = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    auto transable = track.As<IAMTimelineTransable>();
    auto make = [&](ReferenceTime a, ReferenceTime b) {
        auto t = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRANSITION);
        t->SetStartStop(a, b);
        t->SetSubObjectGUID(CLSID_DxtJpeg);
        return t;
    };
    EXPECT_EQ(transable->TransAdd(make(0, 4 * kSecond).Get()), S_OK);
    EXPECT_EQ(transable->TransAdd(make(4 * kSecond, 8 * kSecond).Get()), S_OK);
    EXPECT_EQ(transable->TransAdd(make(3 * kSecond, 5 * kSecond).Get()), E_INVALIDARG);
    EXPECT_EQ(transable->TransAdd(Node(timeline.Get(), TIMELINE_MAJOR_TYPE_SOURCE).Get()),
              E_INVALIDARG);
    std::vector<ComPtr<IAMTimelineObj>> transitions;
    transable->GetTransitions(&transitions);
    ASSERT_EQ(transitions.size(), 2u);
    Guid kind;
    transitions[0]->GetSubObjectGUID(&kind);
    EXPECT_EQ(kind, CLSID_DxtJpeg);
}

TEST(TimelineModel, DurationIsTheEndOfTheLongestGroup)
{
    auto timeline = CreateTimeline();
    auto video = rendertest::AddVideoGroup(timeline.Get(), 64, 48);
    auto audio = rendertest::AddAudioGroup(timeline.Get());
    rendertest::AddShots(timeline.Get(), video.Get(), {{"a.jpg", 0, 8}, {"b.jpg", 4, 20}});
    rendertest::AddClip(timeline.Get(), audio.Get(), "m.wav", 0, 60 * kSecond, 0, 60 * kSecond);
    ReferenceTime end = 0;
    EXPECT_EQ(timeline->GetDuration(&end), S_OK);
    EXPECT_EQ(end, 60 * kSecond);
}

} // namespace
