// The filter graph: connections checked by media type, running into a file that cannot
// be made.

#include "graph_test_source.h"

#include "common/table_rows.h"
#include "engine/graph/filter_graph.h"
#include "engine/graph/filter_graph_pins.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using namespace engine;
using namespace graphtest;

namespace {

using testing_support::operator<<;

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
    testing_support::RowName());

TEST(GraphPins, NamesAreMadeUniqueAndConnectedPinsRefuseASecondConnection)
{
    Rig rig;
    ReferenceTime duration = -1;
    std::uint32_t caps = 0;
    EXPECT_EQ(rig.graph.As<IMediaSeeking>()->GetDuration(&duration), E_NOTIMPL); // no source
    EXPECT_EQ(rig.graph.As<IMediaSeeking>()->GetCapabilities(&caps), E_NOTIMPL);
    auto source = rig.Render(Slideshow(rig.dir, 64, 48, {0xE08020}).Get()).at(0);
    EXPECT_EQ(source.As<IPushSource>()->DeliverNext(), VFW_E_NOT_CONNECTED);
    auto out = PinOf(source.Get(), PinDirection::Output);
    auto first = rig.AddGrabber(QStringLiteral("G"), MEDIATYPE_Video);
    auto second = rig.AddGrabber(QStringLiteral("G"), MEDIATYPE_Video);
    ASSERT_TRUE(second) << "a name in use is made unique";
    EXPECT_NE(first->Name(), second->Name());
    MediaType audio;
    audio.majortype = MEDIATYPE_Audio;
    EXPECT_EQ(out->Connect(PinOf(first.Get(), PinDirection::Input).Get(), audio),
              VFW_E_TYPE_NOT_ACCEPTED);
    ASSERT_EQ(rig.Link(source.Get(), first.Get()), S_OK);
    EXPECT_EQ(rig.Link(source.Get(), second.Get()), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(out->Connect(PinOf(second.Get(), PinDirection::Input).Get(), out->MediaTypes().at(0)),
              VFW_E_ALREADY_CONNECTED);
    ASSERT_EQ(rig.graph->RemoveFilter(first.Get()), S_OK);
    EXPECT_FALSE(out->ConnectedTo());
    EXPECT_EQ(rig.graph->AddFilter(second.Get(), QStringLiteral("again")), E_INVALIDARG);
}

TEST(GraphRun, CompletionIsReportedOnceAndUnconnectedSourcesAreNotStreamed)
{
    Rig rig;
    auto sources = rig.Render(Slideshow(rig.dir, 64, 48, {0xE08020}, true).Get());
    // The music's source is left unconnected.
    ASSERT_EQ(rig.Chain(sources.at(0).Get(), MakeCompressor(CompressorKind::Video, "mpeg4"), 0),
              S_OK);
    ASSERT_EQ(rig.graph.As<IMediaControl>()->Run(), S_OK);
    auto events = rig.graph.As<IMediaEvent>();
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(-1, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    std::intptr_t p1 = -1, p2 = -1;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), platform::E_ABORT) << "one event per run";
    rig.graph.As<IMediaControl>()->Stop();
    EXPECT_EQ(ReadAvi(rig.path).streams.at(0).headerFrames, 30);
}

TEST(GraphRun, RunFailsWhenTheFileCannotBeCreated)
{
    Rig rig(QStringLiteral("missing/x.avi")); // in a folder that does not exist
    ComPtr<IBaseFilter> mux;
    EXPECT_EQ(rig.builder->SetOutputFileName(MEDIASUBTYPE_RGB24, rig.path, mux.Put(), nullptr),
              E_INVALIDARG); // not an AVI
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
