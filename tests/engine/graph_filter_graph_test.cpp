// The filter graph: connections checked by media type, pins, running, events, stopping
// and the stream times it reports.

#include "graph_test_source.h"

#include "engine/filter_graph.h"
#include "engine/filter_graph_pins.h"

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

// The chains of the render stage, each built up to one connection whose result counts.
struct ConnectCase
{
    const char *name;
    std::function<HRESULT(Rig &)> lastConnection;
    HRESULT expected;
};

std::ostream &operator<<(std::ostream &os, const ConnectCase &c)
{
    return os << c.name;
}

HRESULT SourceToGrabber(Rig &rig,
                        StreamScript script,
                        const Guid &major,
                        const Guid &subtype,
                        ComPtr<IBaseFilter> *grabberOut = nullptr)
{
    auto source = rig.Add(MakeSource(std::move(script)), QStringLiteral("Source"));
    auto grabber = rig.AddGrabber(QStringLiteral("Grabber"), major, subtype);
    if (grabberOut)
        *grabberOut = grabber;
    return rig.Link(source.Get(), grabber.Get());
}

// source -> grabber -> compressor, returning the compressor (null when a step failed).
ComPtr<IBaseFilter> ChainToCompressor(
    Rig &rig, StreamScript script, const Guid &major, CompressorKind kind, const QString &encoder)
{
    ComPtr<IBaseFilter> grabber;
    if (SourceToGrabber(rig, std::move(script), major, {}, &grabber) != S_OK)
        return nullptr;
    auto compressor = rig.AddCompressor(QStringLiteral("Compressor"), kind, encoder);
    if (!compressor || rig.Link(grabber.Get(), compressor.Get()) != S_OK)
        return nullptr;
    return compressor;
}

class GraphConnect : public ::testing::TestWithParam<ConnectCase>
{};

} // namespace

TEST_P(GraphConnect, ChecksMediaTypes)
{
    Rig rig;
    ASSERT_TRUE(rig.mux);
    EXPECT_EQ(GetParam().lastConnection(rig), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Chains,
    GraphConnect,
    ::testing::Values(
        ConnectCase{"VideoGrabberTakesRgbVideo",
                    [](Rig &r) {
                        return SourceToGrabber(
                            r, SmallVideo(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
                    },
                    S_OK},
        ConnectCase{"VideoGrabberRefusesAudio",
                    [](Rig &r) {
                        return SourceToGrabber(r, SmallTone(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"VideoGrabberRefusesOtherSubtype",
                    [](Rig &r) {
                        return SourceToGrabber(r, SmallVideo(), MEDIATYPE_Video, MEDIASUBTYPE_PCM);
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"AudioGrabberRefusesVideo",
                    [](Rig &r) { return SourceToGrabber(r, SmallVideo(), MEDIATYPE_Audio, {}); },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"GrabberWithoutInputOffersNothing",
                    [](Rig &r) {
                        auto grabber = r.AddGrabber(QStringLiteral("Grabber"), MEDIATYPE_Video);
                        auto compressor = r.AddCompressor(QStringLiteral("Compressor"),
                                                          CompressorKind::Video,
                                                          QStringLiteral("mpeg4"));
                        return r.Link(grabber.Get(), compressor.Get());
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"VideoCompressorRefusesAudio",
                    [](Rig &r) {
                        return ChainToCompressor(r,
                                                 SmallTone(),
                                                 MEDIATYPE_Audio,
                                                 CompressorKind::Video,
                                                 QStringLiteral("mpeg4"))
                                   ? S_OK
                                   : VFW_E_NO_ACCEPTABLE_TYPES;
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"AudioCompressorRefusesVideo",
                    [](Rig &r) {
                        return ChainToCompressor(r,
                                                 SmallVideo(),
                                                 MEDIATYPE_Video,
                                                 CompressorKind::Audio,
                                                 QStringLiteral("libmp3lame"))
                                   ? S_OK
                                   : VFW_E_NO_ACCEPTABLE_TYPES;
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"CompressorRefusesSizeItCannotCode",
                    [](Rig &r) {
                        // Microsoft Video 1 codes 4x4 blocks only.
                        return ChainToCompressor(r,
                                                 SmallVideo(20, 66, 48),
                                                 MEDIATYPE_Video,
                                                 CompressorKind::Video,
                                                 QStringLiteral("msvideo1"))
                                   ? S_OK
                                   : VFW_E_NO_ACCEPTABLE_TYPES;
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"MuxTakesMpeg4",
                    [](Rig &r) {
                        auto c = ChainToCompressor(r,
                                                   SmallVideo(),
                                                   MEDIATYPE_Video,
                                                   CompressorKind::Video,
                                                   QStringLiteral("mpeg4"));
                        return c ? r.LinkToMux(c.Get(), 0) : E_FAIL;
                    },
                    S_OK},
        ConnectCase{"MuxRefusesUncompressedVideo",
                    [](Rig &r) {
                        ComPtr<IBaseFilter> grabber;
                        SourceToGrabber(
                            r, SmallVideo(), MEDIATYPE_Video, MEDIASUBTYPE_RGB24, &grabber);
                        return r.LinkToMux(grabber.Get(), 0);
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"MuxRefusesVideoWithoutAviCode",
                    [](Rig &r) {
                        // QuickTime Animation takes RGB but has no AVI four-character code.
                        auto c = ChainToCompressor(r,
                                                   SmallVideo(),
                                                   MEDIATYPE_Video,
                                                   CompressorKind::Video,
                                                   QStringLiteral("qtrle"));
                        return c ? r.LinkToMux(c.Get(), 0) : E_FAIL;
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES},
        ConnectCase{"MuxTakesPcm",
                    [](Rig &r) {
                        ComPtr<IBaseFilter> grabber;
                        SourceToGrabber(r, SmallTone(), MEDIATYPE_Audio, {}, &grabber);
                        return r.LinkToMux(grabber.Get(), 0);
                    },
                    S_OK},
        ConnectCase{"MuxTakesMp3",
                    [](Rig &r) {
                        auto c = ChainToCompressor(r,
                                                   SmallTone(),
                                                   MEDIATYPE_Audio,
                                                   CompressorKind::Audio,
                                                   QStringLiteral("libmp3lame"));
                        return c ? r.LinkToMux(c.Get(), 0) : E_FAIL;
                    },
                    S_OK},
        ConnectCase{"MuxRefusesAudioItCannotWrite",
                    [](Rig &r) {
                        auto c = ChainToCompressor(r,
                                                   SmallTone(),
                                                   MEDIATYPE_Audio,
                                                   CompressorKind::Audio,
                                                   QStringLiteral("alac"));
                        return c ? r.LinkToMux(c.Get(), 0) : E_FAIL;
                    },
                    VFW_E_NO_ACCEPTABLE_TYPES}),
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

    auto compressor = ChainToCompressor(
        rig, SmallVideo(), MEDIATYPE_Video, CompressorKind::Video, QStringLiteral("mpeg4"));
    ASSERT_TRUE(compressor);
    ASSERT_EQ(rig.LinkToMux(compressor.Get(), 0), S_OK);
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
    {
        source = Add(MakeSource(std::move(script)), QStringLiteral("Source"));
        auto grabber
            = AddGrabber(QStringLiteral("VideoGrabber"), MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
        auto compressor = AddCompressor(
            QStringLiteral("Compressor"), CompressorKind::Video, QStringLiteral("mpeg4"));
        linked = Link(source.Get(), grabber.Get()) == S_OK
                 && Link(grabber.Get(), compressor.Get()) == S_OK
                 && LinkToMux(compressor.Get(), 0) == S_OK;
        control = graph.As<IMediaControl>();
        events = graph.As<IMediaEvent>();
        seeking = graph.As<IMediaSeeking>();
    }
    ComPtr<IBaseFilter> source;
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

TEST(GraphRun, CompletionIsReportedUntilStop)
{
    RunRig rig(SmallVideo(30));
    ASSERT_TRUE(rig.linked);
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

TEST(GraphRun, SourceWithNothingConnectedIsNotStreamed)
{
    RunRig rig(SmallVideo(10));
    ASSERT_TRUE(rig.linked);
    StreamScript idle = SmallTone();
    idle.failAt = 0; // would end the run with an error if it were asked for samples
    rig.Add(MakeSource(idle), QStringLiteral("Unconnected"));
    EXPECT_EQ(rig.RunToEnd(), EC_COMPLETE);
}

TEST(GraphSeeking, DurationIsTheLongestSourceAndPositionFollowsStreaming)
{
    StreamScript video = SmallVideo(90); // 3.003 s
    video.delayMs = 3;
    RunRig rig(video);
    ASSERT_TRUE(rig.linked);
    auto audio = rig.Add(MakeSource(SmallTone(2.0)), QStringLiteral("Audio"));
    auto audioGrabber = rig.AddGrabber(QStringLiteral("AudioGrabber"), MEDIATYPE_Audio);
    ASSERT_EQ(rig.Link(audio.Get(), audioGrabber.Get()), S_OK);
    ASSERT_EQ(rig.LinkToMux(audioGrabber.Get(), 1), S_OK);

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
