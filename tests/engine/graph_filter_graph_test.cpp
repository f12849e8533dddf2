// The filter graph: connections checked by media type, pins, running, events, stopping
// and the stream times it reports.

#include "graph_test_source.h"

#include "engine/graph/filter_graph.h"
#include "engine/graph/filter_graph_pins.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <thread>

using namespace engine;
using namespace graphtest;

namespace {

StreamScript SmallVideo(int frames = 20, int width = 64, int height = 48)
{
    return VideoScript(width, height, frames, [](int i) { return i % 2 ? 0x2080E0u : 0xE08020u; });
}

StreamScript SmallTone(double seconds = 1.0)
{
    return ToneScript(44100, 2, seconds, 4410);
}

// The chains of the render stage, each built up to one connection whose result counts:
// source -> grabber [-> compressor] [-> mux].
enum class Feed {
    None,
    Video,
    Tone,
    OddSizeVideo // 66x48: Microsoft Video 1 codes 4x4 blocks only
};

struct ConnectCase
{
    const char *name;
    Feed feed;
    Guid grabberMajor, grabberSubtype;
    const char *encoder; // "" for no compressor
    bool toMux;
    HRESULT expected;
};

std::ostream &operator<<(std::ostream &os, const ConnectCase &c)
{
    return os << c.name;
}

HRESULT BuildChain(Rig &rig, const ConnectCase &c)
{
    auto grabber = rig.AddGrabber(QStringLiteral("Grabber"), c.grabberMajor, c.grabberSubtype);
    if (c.feed != Feed::None) {
        auto script = c.feed == Feed::Tone           ? SmallTone()
                      : c.feed == Feed::OddSizeVideo ? SmallVideo(20, 66, 48)
                                                     : SmallVideo();
        auto source = rig.Add(MakeSource(std::move(script)), QStringLiteral("Source"));
        if (const HRESULT hr = rig.Link(source.Get(), grabber.Get()); hr != S_OK)
            return hr;
    }
    ComPtr<IBaseFilter> last = grabber;
    if (*c.encoder) {
        const QString encoder = QString::fromLatin1(c.encoder);
        const bool audio = encoder == "libmp3lame" || encoder == "alac";
        last = rig.AddCompressor(QStringLiteral("Compressor"),
                                 audio ? CompressorKind::Audio : CompressorKind::Video,
                                 encoder);
        if (!last)
            return E_FAIL;
        if (const HRESULT hr = rig.Link(grabber.Get(), last.Get()); hr != S_OK)
            return hr;
    }
    return c.toMux ? rig.LinkToMux(last.Get(), 0) : S_OK;
}

class GraphConnect : public ::testing::TestWithParam<ConnectCase>
{};

} // namespace

TEST_P(GraphConnect, ChecksMediaTypes)
{
    Rig rig;
    ASSERT_TRUE(rig.mux);
    EXPECT_EQ(BuildChain(rig, GetParam()), GetParam().expected);
}

constexpr HRESULT kRefused = VFW_E_NO_ACCEPTABLE_TYPES;
const Guid kVideo = MEDIATYPE_Video, kAudio = MEDIATYPE_Audio, kRgb = MEDIASUBTYPE_RGB24;

INSTANTIATE_TEST_SUITE_P(
    Chains,
    GraphConnect,
    ::testing::Values(
        ConnectCase{"VideoGrabberTakesRgbVideo", Feed::Video, kVideo, kRgb, "", false, S_OK},
        ConnectCase{"VideoGrabberRefusesAudio", Feed::Tone, kVideo, kRgb, "", false, kRefused},
        ConnectCase{"VideoGrabberRefusesOtherSubtype",
                    Feed::Video,
                    kVideo,
                    MEDIASUBTYPE_PCM,
                    "",
                    false,
                    kRefused},
        ConnectCase{"AudioGrabberRefusesVideo", Feed::Video, kAudio, {}, "", false, kRefused},
        ConnectCase{
            "GrabberWithoutInputOffersNothing", Feed::None, kVideo, {}, "mpeg4", false, kRefused},
        ConnectCase{
            "VideoCompressorRefusesAudio", Feed::Tone, kAudio, {}, "mpeg4", false, kRefused},
        ConnectCase{
            "AudioCompressorRefusesVideo", Feed::Video, kVideo, {}, "libmp3lame", false, kRefused},
        ConnectCase{"CompressorRefusesSizeItCannotCode",
                    Feed::OddSizeVideo,
                    kVideo,
                    {},
                    "msvideo1",
                    false,
                    kRefused},
        ConnectCase{"MuxTakesMpeg4", Feed::Video, kVideo, {}, "mpeg4", true, S_OK},
        ConnectCase{"MuxRefusesUncompressedVideo", Feed::Video, kVideo, kRgb, "", true, kRefused},
        // QuickTime Animation takes RGB but has no AVI four-character code.
        ConnectCase{
            "MuxRefusesVideoWithoutAviCode", Feed::Video, kVideo, {}, "qtrle", true, kRefused},
        ConnectCase{"MuxTakesPcm", Feed::Tone, kAudio, {}, "", true, S_OK},
        ConnectCase{"MuxTakesMp3", Feed::Tone, kAudio, {}, "libmp3lame", true, S_OK},
        ConnectCase{
            "MuxRefusesAudioItCannotWrite", Feed::Tone, kAudio, {}, "alac", true, kRefused}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(GraphPins, MuxOffersItsNextInputOnceTheLastIsConnected)
{
    Rig rig;
    auto count = [&](PinDirection d) {
        int n = 0;
        for (auto &pin : rig.mux->EnumPins())
            n += pin->QueryDirection() == d;
        return n;
    };
    EXPECT_EQ(count(PinDirection::Output), 1);
    EXPECT_EQ(count(PinDirection::Input), 1);
    EXPECT_FALSE(PinOf(rig.mux.Get(), PinDirection::Input, 1));

    ASSERT_EQ(rig.Chain(SmallVideo(), MakeCompressor(CompressorKind::Video, "mpeg4"), 0), S_OK);
    EXPECT_EQ(count(PinDirection::Input), 2);
    auto second = PinOf(rig.mux.Get(), PinDirection::Input, 1);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->ConnectedTo());
    // The output is already joined to the file writer, which the builder added.
    EXPECT_TRUE(PinOf(rig.mux.Get(), PinDirection::Output)->ConnectedTo());
    EXPECT_EQ(rig.graph->EnumFilters().size(), 5u);
}

TEST(GraphPins, ConnectedPinsRefuseASecondConnectionAndRemovalDisconnects)
{
    Rig rig;
    auto source = rig.Add(MakeSource(SmallVideo()), QStringLiteral("Source"));
    auto first = rig.AddGrabber(QStringLiteral("G"), MEDIATYPE_Video);
    auto second = rig.AddGrabber(QStringLiteral("G"), MEDIATYPE_Video);
    ASSERT_TRUE(second) << "a name in use is made unique";
    EXPECT_NE(first->Name(), second->Name());
    ASSERT_EQ(rig.Link(source.Get(), first.Get()), S_OK);
    EXPECT_EQ(rig.Link(source.Get(), second.Get()), VFW_E_ALREADY_CONNECTED);

    MediaType mt;
    ASSERT_EQ(PinOf(first.Get(), PinDirection::Input)->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    ASSERT_EQ(rig.graph->RemoveFilter(first.Get()), S_OK);
    EXPECT_FALSE(PinOf(source.Get(), PinDirection::Output)->ConnectedTo());
    EXPECT_EQ(rig.Link(source.Get(), second.Get()), S_OK);
    EXPECT_EQ(rig.graph->AddFilter(second.Get(), QStringLiteral("again")), E_INVALIDARG);
}

namespace {

// video source -> grabber -> mpeg4 -> mux, ready to run.
struct RunRig : Rig
{
    explicit RunRig(StreamScript script)
        : linked(Chain(std::move(script), MakeCompressor(CompressorKind::Video, "mpeg4"), 0)
                 == S_OK)
    {
        control = graph.As<IMediaControl>();
        events = graph.As<IMediaEvent>();
        seeking = graph.As<IMediaSeeking>();
    }
    bool linked = false;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
};

} // namespace

TEST(GraphRun, WaitTimesOutWhileStreamingAndStopEndsTheRunEarly)
{
    StreamScript slow = SmallVideo(300);
    slow.delayMs = 5;
    RunRig rig(slow);
    ASSERT_TRUE(rig.linked);
    long code = -1;
    EXPECT_EQ(rig.events->WaitForCompletion(10, &code), VFW_E_WRONG_STATE) << "not running yet";
    EXPECT_EQ(code, 0);

    ASSERT_EQ(rig.control->Run(), S_OK);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(rig.events->WaitForCompletion(100, &code), platform::E_ABORT);
    EXPECT_EQ(code, 0);
    EXPECT_GE(timer.elapsed(), 90);
    FilterState state;
    rig.control->GetState(0, &state);
    EXPECT_EQ(state, FilterState::Running);

    timer.restart();
    EXPECT_EQ(rig.control->Stop(), S_OK);
    EXPECT_LT(timer.elapsed(), 1000);
    rig.control->GetState(0, &state);
    EXPECT_EQ(state, FilterState::Stopped);

    // What was written before the stop is a readable file.
    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    EXPECT_GT(avi.streams[0].headerFrames, 0);
    EXPECT_LT(avi.streams[0].headerFrames, 300);
    EXPECT_EQ(ProbeWarnings(rig.path), QString());

    // The graph runs again from the start after a stop.
    EXPECT_EQ(rig.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(ReadAvi(rig.path).streams[0].headerFrames, 300);
}

TEST(GraphRun, CompletionIsReportedUntilStopAndUnconnectedSourcesAreNotStreamed)
{
    RunRig rig(SmallVideo(30));
    ASSERT_TRUE(rig.linked);
    StreamScript idle = SmallTone();
    idle.failAt = 0; // would end the run with an error if it were asked for samples
    rig.Add(MakeSource(idle), QStringLiteral("Unconnected"));
    ASSERT_EQ(rig.control->Run(), S_OK);
    long code = 0;
    EXPECT_EQ(rig.events->WaitForCompletion(-1, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(rig.events->WaitForCompletion(0, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    std::intptr_t p1 = -1, p2 = -1;
    EXPECT_EQ(rig.events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(rig.events->GetEvent(&code, &p1, &p2, 0), platform::E_ABORT) << "one event per run";
    rig.control->Stop();
    EXPECT_EQ(ReadAvi(rig.path).streams[0].headerFrames, 30);
}

TEST(GraphRun, FailingSourceEndsTheRunWithAnErrorEvent)
{
    StreamScript failing = SmallVideo(50);
    failing.failAt = 7;
    RunRig rig(failing);
    ASSERT_TRUE(rig.linked);
    ASSERT_EQ(rig.control->Run(), S_OK);
    long code = 0;
    ASSERT_EQ(rig.events->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    std::intptr_t result = 0, p2 = 0;
    ASSERT_EQ(rig.events->GetEvent(&code, &result, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_EQ(result, E_FAIL);
    rig.control->Stop();
    EXPECT_EQ(ReadAvi(rig.path).streams[0].headerFrames, 7);
}

TEST(GraphRun, RunFailsWhenTheFileCannotBeCreated)
{
    RunRig rig(SmallVideo());
    ASSERT_TRUE(rig.linked);
    // A second chain into a second file, in a folder that does not exist.
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(rig.builder->SetOutputFileName(MEDIASUBTYPE_Avi,
                                             rig.dir.filePath(QStringLiteral("missing/x.avi")),
                                             mux.Put(),
                                             nullptr),
              S_OK);
    auto bad = PinOf(mux.Get(), PinDirection::Input);
    auto extra = rig.AddCompressor(
        QStringLiteral("Second"), CompressorKind::Video, QStringLiteral("mpeg4"));
    auto extraGrabber = rig.AddGrabber(QStringLiteral("G2"), MEDIATYPE_Video);
    auto extraSource = rig.Add(MakeSource(SmallVideo()), QStringLiteral("S2"));
    ASSERT_EQ(rig.Link(extraSource.Get(), extraGrabber.Get()), S_OK);
    ASSERT_EQ(rig.Link(extraGrabber.Get(), extra.Get()), S_OK);
    ASSERT_EQ(rig.graph->Connect(PinOf(extra.Get(), PinDirection::Output).Get(), bad.Get()), S_OK);

    EXPECT_TRUE(platform::Failed(rig.control->Run()));
    FilterState state;
    rig.control->GetState(0, &state);
    EXPECT_EQ(state, FilterState::Stopped);
    long code = -1;
    EXPECT_EQ(rig.events->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
    EXPECT_FALSE(QFileInfo::exists(rig.dir.filePath(QStringLiteral("missing/x.avi"))));
}

TEST(GraphSeeking, DurationIsTheLongestSourceAndPositionFollowsStreaming)
{
    StreamScript video = SmallVideo(90); // 3.003 s
    video.delayMs = 3;
    RunRig rig(video);
    ASSERT_TRUE(rig.linked);
    ASSERT_EQ(rig.Chain(SmallTone(2.0), nullptr, 1), S_OK);

    std::uint32_t caps = 0;
    EXPECT_EQ(rig.seeking->GetCapabilities(&caps), S_OK);
    EXPECT_TRUE(caps & AM_SEEKING_CanGetDuration);
    EXPECT_TRUE(caps & AM_SEEKING_CanGetCurrentPos);
    ReferenceTime duration = 0;
    EXPECT_EQ(rig.seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 90 * kNtscFrame);
    ReferenceTime position = -1;
    EXPECT_EQ(rig.seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 0);

    ASSERT_EQ(rig.control->Run(), S_OK);
    std::vector<ReferenceTime> seen;
    long code = 0;
    while (rig.events->WaitForCompletion(20, &code) == platform::E_ABORT) {
        rig.seeking->GetCurrentPosition(&position);
        seen.push_back(position);
    }
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(
        std::any_of(seen.begin(), seen.end(), [&](auto p) { return p > 0 && p < duration; }));
    rig.seeking->GetCurrentPosition(&position);
    EXPECT_EQ(position, duration);
    rig.control->Stop();
}

TEST(GraphSeeking, GraphWithoutSourcesHasNoDuration)
{
    Rig rig;
    auto seeking = rig.graph.As<IMediaSeeking>();
    std::uint32_t caps = 0;
    EXPECT_EQ(seeking->GetCapabilities(&caps), E_NOTIMPL);
    ReferenceTime duration = -1;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
    EXPECT_EQ(duration, 0);
}

TEST(GraphBuilder, OutputFileNeedsTheAviType)
{
    Rig rig;
    ComPtr<IBaseFilter> mux;
    EXPECT_EQ(rig.builder->SetOutputFileName(MEDIASUBTYPE_RGB24, rig.path, mux.Put(), nullptr),
              E_INVALIDARG);
    EXPECT_FALSE(mux);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(
        rig.builder->SetOutputFileName(
            MEDIASUBTYPE_Avi, rig.dir.filePath(QStringLiteral("b.avi")), mux.Put(), sink.Put()),
        S_OK);
    QString name;
    EXPECT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(name, rig.dir.filePath(QStringLiteral("b.avi")));
    EXPECT_TRUE(mux.As<IConfigInterleaving>());
}
