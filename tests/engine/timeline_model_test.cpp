#include "engine/engine_classes.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
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

struct NodeRow
{
    TIMELINE_MAJOR_TYPE type;
    bool group, comp, track, transable, source;
};

std::ostream &operator<<(std::ostream &os, const NodeRow &row)
{
    return os << "type " << static_cast<int>(row.type);
}

class TimelineNodeTypes : public testing::TestWithParam<NodeRow>
{};

TEST_P(TimelineNodeTypes, NodeHasExactlyTheInterfacesOfItsType)
{
    const NodeRow row = GetParam();
    auto timeline = CreateTimeline();
    auto node = Node(timeline.Get(), row.type);
    ASSERT_TRUE(node);
    TIMELINE_MAJOR_TYPE type{};
    EXPECT_EQ(node->GetTimelineType(&type), S_OK);
    EXPECT_EQ(type, row.type);
    EXPECT_EQ(bool(node.As<IAMTimelineGroup>()), row.group);
    EXPECT_EQ(bool(node.As<IAMTimelineComp>()), row.comp);
    EXPECT_EQ(bool(node.As<IAMTimelineTrack>()), row.track);
    EXPECT_EQ(bool(node.As<IAMTimelineTransable>()), row.transable);
    EXPECT_EQ(bool(node.As<IAMTimelineSrc>()), row.source);
}

INSTANTIATE_TEST_SUITE_P(
    Types,
    TimelineNodeTypes,
    testing::Values(NodeRow{TIMELINE_MAJOR_TYPE_GROUP, true, true, false, false, false},
                    NodeRow{TIMELINE_MAJOR_TYPE_TRACK, false, false, true, true, false},
                    NodeRow{TIMELINE_MAJOR_TYPE_SOURCE, false, false, false, false, true},
                    NodeRow{TIMELINE_MAJOR_TYPE_TRANSITION, false, false, false, false, false}));

TEST(TimelineModel, CreateEmptyNodeRefusesWhatIsNoNodeType)
{
    auto timeline = CreateTimeline();
    for (int type : {0, 1, 3, 16, 64, 129, 256}) {
        ComPtr<IAMTimelineObj> node;
        EXPECT_EQ(timeline->CreateEmptyNode(&node, static_cast<TIMELINE_MAJOR_TYPE>(type)),
                  E_INVALIDARG)
            << type;
        EXPECT_FALSE(node);
    }
    EXPECT_EQ(timeline->CreateEmptyNode(nullptr, TIMELINE_MAJOR_TYPE_TRACK), E_POINTER);
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

struct TypeRow
{
    const char *what;
    void (*spoil)(AM_MEDIA_TYPE &mt);
};

std::ostream &operator<<(std::ostream &os, const TypeRow &row)
{
    return os << row.what;
}

class TimelineMediaTypeRefusals : public testing::TestWithParam<TypeRow>
{};

TEST_P(TimelineMediaTypeRefusals, GroupRefusesATypeItCannotRender)
{
    auto timeline = CreateTimeline();
    auto g = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP).As<IAMTimelineGroup>();
    AM_MEDIA_TYPE mt = rendertest::VideoType(320, 240);
    std::uint8_t *block = mt.pbFormat;
    GetParam().spoil(mt);
    EXPECT_EQ(g->SetMediaType(&mt), E_INVALIDARG) << GetParam().what;
    platform::CoTaskMemFree(block);
    MediaType kept;
    EXPECT_EQ(g->GetMediaType(&kept), E_UNEXPECTED);
}

auto Vih(AM_MEDIA_TYPE &mt)
{
    return reinterpret_cast<VIDEOINFOHEADER *>(mt.pbFormat);
}

INSTANTIATE_TEST_SUITE_P(
    Rows,
    TimelineMediaTypeRefusals,
    testing::Values(
        TypeRow{"no format block", [](AM_MEDIA_TYPE &mt) { mt.pbFormat = nullptr; }},
        TypeRow{"short format block", [](AM_MEDIA_TYPE &mt) { mt.cbFormat = 40; }},
        TypeRow{"not RGB24", [](AM_MEDIA_TYPE &mt) { mt.subtype = MEDIASUBTYPE_PCM; }},
        TypeRow{"no major type", [](AM_MEDIA_TYPE &mt) { mt.majortype = Guid{}; }},
        TypeRow{"wave format", [](AM_MEDIA_TYPE &mt) { mt.formattype = FORMAT_WaveFormatEx; }},
        TypeRow{"zero width", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 0; }},
        TypeRow{"top-down", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biHeight = -240; }},
        TypeRow{"32 bits", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biBitCount = 32; }},
        TypeRow{"huge", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 1 << 20; }}));

TEST(TimelineModel, GroupSettingsAndRefusals)
{
    auto timeline = CreateTimeline();
    EXPECT_EQ(timeline->SetDefaultFPS(0), E_INVALIDARG);
    EXPECT_EQ(timeline->SetDefaultFPS(29.97), S_OK);
    auto g = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP).As<IAMTimelineGroup>();
    double fps = 0;
    EXPECT_EQ(g->GetOutputFPS(&fps), S_OK);
    EXPECT_DOUBLE_EQ(fps, 29.97); // from the timeline's default
    EXPECT_EQ(g->SetOutputFPS(-1), E_INVALIDARG);
    EXPECT_EQ(g->SetOutputFPS(25), S_OK);
    g->GetOutputFPS(&fps);
    EXPECT_DOUBLE_EQ(fps, 25);
    EXPECT_EQ(g->SetMediaType(nullptr), E_POINTER);
    AM_MEDIA_TYPE audio;
    audio.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(g->SetMediaType(&audio), S_OK);
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

TEST(TimelineModel, PlacingRefusesWrongNodesAndNodesPlacedTwice)
{
    auto timeline = CreateTimeline();
    auto other = CreateTimeline();
    auto group = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP);
    auto comp = group.As<IAMTimelineComp>();
    auto track = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    auto source = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_SOURCE);
    auto foreignTrack = Node(other.Get(), TIMELINE_MAJOR_TYPE_TRACK);

    EXPECT_EQ(comp->VTrackInsBefore(source.Get(), -1), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(foreignTrack.Get(), -1), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(nullptr, -1), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), 1), E_INVALIDARG); // beyond the end
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -2), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), S_OK);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), E_INVALIDARG); // already placed

    auto trk = track.As<IAMTimelineTrack>();
    EXPECT_EQ(trk->SrcAdd(track.Get()), E_INVALIDARG);
    EXPECT_EQ(trk->SrcAdd(source.Get()), S_OK);
    EXPECT_EQ(trk->SrcAdd(source.Get()), E_INVALIDARG);
    std::vector<ComPtr<IAMTimelineObj>> sources;
    trk->GetSources(&sources);
    EXPECT_EQ(sources.size(), 1u);

    EXPECT_EQ(timeline->AddGroup(track.Get()), E_INVALIDARG);
    EXPECT_EQ(other->AddGroup(group.Get()), E_INVALIDARG);
    long groups = -1;
    EXPECT_EQ(timeline->GetGroupCount(&groups), S_OK);
    EXPECT_EQ(groups, 0);
    EXPECT_EQ(timeline->AddGroup(group.Get()), S_OK);
    EXPECT_EQ(timeline->AddGroup(group.Get()), E_INVALIDARG);
    EXPECT_EQ(timeline->AddGroup(Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP).Get()), S_OK);
    EXPECT_EQ(timeline->GetGroupCount(&groups), S_OK);
    EXPECT_EQ(groups, 2);
    EXPECT_EQ(timeline->GetGroupCount(nullptr), E_POINTER);
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

TEST(TimelineModel, StretchModeRefusesUnknownModes)
{
    auto timeline = CreateTimeline();
    auto src = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_SOURCE).As<IAMTimelineSrc>();
    EXPECT_EQ(src->SetStretchMode(RESIZEF_PRESERVEASPECTRATIO), S_OK);
    EXPECT_EQ(src->SetStretchMode(4), E_INVALIDARG);
    EXPECT_EQ(src->SetStretchMode(-1), E_INVALIDARG);
    int mode = -1;
    src->GetStretchMode(&mode);
    EXPECT_EQ(mode, RESIZEF_PRESERVEASPECTRATIO);
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

TEST(TimelineModel, EngineClassesAreCreatedByClassIdentifier)
{
    RegisterTimelineClasses();
    EXPECT_TRUE(platform::CreateInstance<IAMTimeline>(CLSID_AMTimeline));
    EXPECT_TRUE(platform::CreateInstance<IMediaDet>(CLSID_MediaDet));
    auto engine = platform::CreateInstance<IRenderEngine>(CLSID_RenderEngine);
    ASSERT_TRUE(engine);
    EXPECT_TRUE(engine.As<IRenderEngine2>());
    HRESULT hr = S_OK;
    EXPECT_FALSE(platform::CreateInstance<IMediaDet>(CLSID_AMTimeline, &hr));
    EXPECT_EQ(hr, platform::E_NOINTERFACE);
}

} // namespace
