// The filter graph: connections checked by media type, running into a file that cannot
// be made.

#include "graph_test_source.h"

#include "engine/graph/filter_graph_pins.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace engine;
using namespace graphtest;

namespace {

// The chains of the render stage, each built up to one connection that must be refused:
// source -> grabber [-> compressor] [-> mux]. The source is the editing engine's for a
// group of that size (0: an audio group; -1: none).
struct ConnectCase
{
    const char *name;
    int width;
    Guid grabberMajor, grabberSubtype;
    const char *encoder; // "" for no compressor
    bool toMux;
};

class GraphConnect : public ::testing::TestWithParam<ConnectCase>
{};

} // namespace

TEST_P(GraphConnect, RefusesTypesThatDoNotFit)
{
    const ConnectCase &c = GetParam();
    Rig rig;
    auto grabber = rig.AddGrabber(QStringLiteral("Grabber"), c.grabberMajor, c.grabberSubtype);
    HRESULT hr = S_OK;
    if (c.width >= 0) {
        auto timeline = CreateTimeline();
        rendertest::AddGroup(timeline.Get(), c.width, 48);
        hr = rig.Link(rig.Render(timeline.Get()).at(0).Get(), grabber.Get());
    }
    ComPtr<IBaseFilter> last = grabber;
    if (hr == S_OK && *c.encoder) {
        const QString encoder = QString::fromLatin1(c.encoder);
        const bool audio = encoder == "libmp3lame" || encoder == "alac";
        last = rig.Add(
            MakeCompressor(audio ? CompressorKind::Audio : CompressorKind::Video, encoder),
            QStringLiteral("Compressor"));
        ASSERT_TRUE(last);
        hr = rig.Link(grabber.Get(), last.Get());
    }
    if (hr == S_OK && c.toMux)
        hr = rig.Link(last.Get(), rig.mux.Get());
    EXPECT_EQ(hr, VFW_E_NO_ACCEPTABLE_TYPES);
}

const Guid kVideo = MEDIATYPE_Video, kAudio = MEDIATYPE_Audio, kRgb = MEDIASUBTYPE_RGB24;

INSTANTIATE_TEST_SUITE_P(
    Chains,
    GraphConnect,
    ::testing::Values(
        ConnectCase{"VideoGrabberRefusesAudio", 0, kVideo, kRgb, "", false},
        ConnectCase{"VideoGrabberRefusesOtherSubtype", 64, kVideo, MEDIASUBTYPE_PCM, "", false},
        ConnectCase{"AudioGrabberRefusesVideo", 64, kAudio, {}, "", false},
        ConnectCase{"GrabberWithoutInputOffersNothing", -1, kVideo, {}, "mpeg4", false},
        ConnectCase{"VideoCompressorRefusesAudio", 0, kAudio, {}, "mpeg4", false},
        ConnectCase{"AudioCompressorRefusesVideo", 64, kVideo, {}, "libmp3lame", false},
        // Microsoft Video 1 codes 4x4 blocks only.
        ConnectCase{"CompressorRefusesSizeItCannotCode", 66, kVideo, {}, "msvideo1", false},
        ConnectCase{"MuxRefusesUncompressedVideo", 64, kVideo, kRgb, "", true},
        // QuickTime Animation takes RGB but has no AVI four-character code.
        ConnectCase{"MuxRefusesVideoWithoutAviCode", 64, kVideo, {}, "qtrle", true},
        ConnectCase{"MuxRefusesAudioItCannotWrite", 0, kAudio, {}, "alac", true}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(GraphRun, RunFailsWhenTheFileCannotBeCreated)
{
    Rig rig(QStringLiteral("missing/x.avi")); // in a folder that does not exist
    QTemporaryDir photos;
    auto timeline = Slideshow(photos, 64, 48, {0xE08020});
    ASSERT_EQ(rig.Chain(rig.Render(timeline.Get()).at(0).Get(),
                        MakeCompressor(CompressorKind::Video, "mpeg4"),
                        0),
              S_OK);
    auto control = rig.graph.As<IMediaControl>();
    EXPECT_TRUE(platform::Failed(control->Run()));
    FilterState state;
    control->GetState(0, &state);
    EXPECT_EQ(state, FilterState::Stopped);
    long code = -1;
    EXPECT_EQ(rig.graph.As<IMediaEvent>()->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    EXPECT_FALSE(QFileInfo::exists(rig.path));
}
