#include "common/table_rows.h"
#include "render_test_graph.h"

#include <gtest/gtest.h>

namespace {

using testing_support::operator<<;

using namespace engine;
using platform::E_INVALIDARG;
using platform::E_UNEXPECTED;
using platform::S_OK;

ComPtr<IAMTimelineObj> Node(IAMTimeline *timeline, TIMELINE_MAJOR_TYPE type)
{
    ComPtr<IAMTimelineObj> node;
    EXPECT_EQ(timeline->CreateEmptyNode(&node, type), S_OK);
    return node;
}

struct TypeRow
{
    const char *name;
    void (*spoil)(AM_MEDIA_TYPE &mt); // null: the program's own type, taken
};

class TimelineMediaTypes : public testing::TestWithParam<TypeRow>
{};

TEST_P(TimelineMediaTypes, GroupKeepsItsOwnCopyOrRefusesATypeItCannotRender)
{
    const TypeRow &row = GetParam();
    auto timeline = CreateTimeline();
    auto g = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP).As<IAMTimelineGroup>();
    AM_MEDIA_TYPE mt = rendertest::VideoType(320, 240);
    std::uint8_t *block = mt.pbFormat;
    if (row.spoil)
        row.spoil(mt);
    EXPECT_EQ(g->SetMediaType(&mt), row.spoil ? E_INVALIDARG : S_OK);
    // The caller frees its block at once; the group must not depend on it.
    std::memset(block, 0xAB, sizeof(VIDEOINFOHEADER));
    platform::CoTaskMemFree(block);
    MediaType kept;
    ASSERT_EQ(g->GetMediaType(&kept), row.spoil ? E_UNEXPECTED : S_OK);
    const auto *vih = kept.FormatAs<VIDEOINFOHEADER>();
    EXPECT_EQ(vih ? vih->bmiHeader.biSizeImage : 0u, row.spoil ? 0u : 320u * 3 * 240);
}

auto Vih(AM_MEDIA_TYPE &mt)
{
    return reinterpret_cast<VIDEOINFOHEADER *>(mt.pbFormat);
}

INSTANTIATE_TEST_SUITE_P(
    Rows,
    TimelineMediaTypes,
    testing::Values(
        TypeRow{"Taken", nullptr},
        TypeRow{"NoFormatBlock", [](AM_MEDIA_TYPE &mt) { mt.pbFormat = nullptr; }},
        TypeRow{"ShortFormatBlock", [](AM_MEDIA_TYPE &mt) { mt.cbFormat = 40; }},
        TypeRow{"NotRgb24", [](AM_MEDIA_TYPE &mt) { mt.subtype = MEDIASUBTYPE_PCM; }},
        TypeRow{"ZeroWidth", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 0; }},
        TypeRow{"TopDown", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biHeight = -240; }},
        TypeRow{"Huge", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 1 << 20; }}),
    testing_support::RowName());

TEST(TimelineModel, RefusesWhatIsNoNodeOutOfRangeOrPlacedTwice)
{
    auto timeline = CreateTimeline();
    auto other = CreateTimeline();
    auto group = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_GROUP);
    auto comp = group.As<IAMTimelineComp>();
    auto track = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRACK);
    auto source = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_SOURCE);
    EXPECT_EQ(comp->VTrackInsBefore(source.Get(), -1), E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(Node(other.Get(), TIMELINE_MAJOR_TYPE_TRACK).Get(), -1),
              E_INVALIDARG);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), 1), E_INVALIDARG); // beyond the end
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), S_OK);
    EXPECT_EQ(comp->VTrackInsBefore(track.Get(), -1), E_INVALIDARG); // already placed
    auto trk = track.As<IAMTimelineTrack>();
    EXPECT_EQ(trk->SrcAdd(track.Get()), E_INVALIDARG);
    EXPECT_EQ(trk->SrcAdd(source.Get()), S_OK);
    EXPECT_EQ(trk->SrcAdd(source.Get()), E_INVALIDARG);
    EXPECT_EQ(source->SetStartStop(5, 3), E_INVALIDARG);
    EXPECT_EQ(other->AddGroup(group.Get()), E_INVALIDARG);
    EXPECT_EQ(timeline->AddGroup(group.Get()), S_OK);
    EXPECT_EQ(timeline->AddGroup(group.Get()), E_INVALIDARG);

    ComPtr<IAMTimelineObj> none;
    EXPECT_EQ(timeline->CreateEmptyNode(&none, static_cast<TIMELINE_MAJOR_TYPE>(3)), E_INVALIDARG);
    EXPECT_EQ(timeline->CreateEmptyNode(nullptr, TIMELINE_MAJOR_TYPE_TRACK), E_POINTER);
    EXPECT_EQ(timeline->SetDefaultFPS(0), E_INVALIDARG);
    EXPECT_EQ(timeline->GetGroupCount(nullptr), E_POINTER);
    EXPECT_EQ(comp->VTrackInsBefore(nullptr, -1), E_INVALIDARG);
    EXPECT_EQ(comp->GetVTrack(&none, 1), E_INVALIDARG);
    EXPECT_EQ(group.As<IAMTimelineGroup>()->SetOutputFPS(-1), E_INVALIDARG);
    EXPECT_EQ(group.As<IAMTimelineGroup>()->SetMediaType(nullptr), E_POINTER);
    TIMELINE_MAJOR_TYPE type{};
    EXPECT_EQ(track->GetTimelineType(&type) | track->GetTimelineType(nullptr), E_POINTER);
    EXPECT_EQ(type, TIMELINE_MAJOR_TYPE_TRACK);
    EXPECT_FALSE(source.As<IAMTimelineGroup>());
    EXPECT_EQ(source.As<IAMTimelineSrc>()->SetMediaTimes(-1, 5), E_INVALIDARG);
    EXPECT_EQ(source.As<IAMTimelineSrc>()->SetStretchMode(4), E_INVALIDARG);
    // Transitions on a track may touch but not overlap.
    auto transitionOver = [&](ReferenceTime a, ReferenceTime b) {
        auto t = Node(timeline.Get(), TIMELINE_MAJOR_TYPE_TRANSITION);
        EXPECT_FALSE(t.As<IAMTimelineSrc>());
        t->SetStartStop(a, b);
        return track.As<IAMTimelineTransable>()->TransAdd(t.Get());
    };
    EXPECT_EQ(transitionOver(0, 4), S_OK);
    EXPECT_EQ(transitionOver(4, 8), S_OK);
    EXPECT_EQ(transitionOver(3, 5), E_INVALIDARG);
    EXPECT_EQ(track.As<IAMTimelineTransable>()->TransAdd(source.Get()), E_INVALIDARG);
}

} // namespace
