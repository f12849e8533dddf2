#include "render_test_graph.h"

#include <gtest/gtest.h>

namespace {

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
    const char *what;
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
    EXPECT_EQ(g->SetMediaType(&mt), row.spoil ? E_INVALIDARG : S_OK) << row.what;
    // The caller frees its block at once; the group must not depend on it.
    std::memset(block, 0xAB, sizeof(VIDEOINFOHEADER));
    platform::CoTaskMemFree(block);
    MediaType kept;
    ASSERT_EQ(g->GetMediaType(&kept), row.spoil ? E_UNEXPECTED : S_OK);
    if (!row.spoil) {
        ASSERT_NE(kept.FormatAs<VIDEOINFOHEADER>(), nullptr);
        EXPECT_EQ(kept.FormatAs<VIDEOINFOHEADER>()->bmiHeader.biWidth, 320);
        EXPECT_EQ(kept.FormatAs<VIDEOINFOHEADER>()->bmiHeader.biSizeImage, 320u * 3 * 240);
    }
}

auto Vih(AM_MEDIA_TYPE &mt)
{
    return reinterpret_cast<VIDEOINFOHEADER *>(mt.pbFormat);
}

INSTANTIATE_TEST_SUITE_P(
    Rows,
    TimelineMediaTypes,
    testing::Values(
        TypeRow{"taken", nullptr},
        TypeRow{"no format block", [](AM_MEDIA_TYPE &mt) { mt.pbFormat = nullptr; }},
        TypeRow{"short format block", [](AM_MEDIA_TYPE &mt) { mt.cbFormat = 40; }},
        TypeRow{"not RGB24", [](AM_MEDIA_TYPE &mt) { mt.subtype = MEDIASUBTYPE_PCM; }},
        TypeRow{"zero width", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 0; }},
        TypeRow{"top-down", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biHeight = -240; }},
        TypeRow{"huge", [](AM_MEDIA_TYPE &mt) { Vih(mt)->bmiHeader.biWidth = 1 << 20; }}));

TEST(TimelineModel, PlacingRefusesWrongNodesAndNodesPlacedTwice)
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
}

} // namespace
