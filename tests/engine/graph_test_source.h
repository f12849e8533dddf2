#pragma once
// The graph tests' rig: the compression graph as the render stage sets it up, fed by the
// editing engine rendering a slideshow of test photos (and music) into it, and the
// converter's view of the AVI it writes.

#include "common/media_makers.h"
#include "engine/codecs/compressor.h"
#include "engine/graph/capture_graph.h"
#include "engine/graph/sample_grabber.h"
#include "platform/class_store.h"
#include "render_test_graph.h"

#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace graphtest {

using namespace engine;
using testmedia::AviContents;
using testmedia::DecodeVideoColours;
using testmedia::ReadAvi;

inline constexpr ReferenceTime kNtscFrame = 333667; // 1001/30000 s in 100 ns units

// Photos of one second each at width x height: the top half of photo k is tops[k]
// (0xRRGGBB) and its bottom half the complement, so a flipped or channel-swapped picture
// is caught. With `music`, an audio group with a tone as long as the photos follows.
inline ComPtr<IAMTimeline> Slideshow(const QTemporaryDir &dir,
                                     int width,
                                     int height,
                                     const std::vector<std::uint32_t> &tops,
                                     bool music = false)
{
    auto timeline = CreateTimeline();
    auto video = rendertest::AddGroup(timeline.Get(), width, height);
    std::vector<rendertest::Shot> shots;
    for (std::size_t k = 0; k < tops.size(); ++k) {
        QImage photo = testmedia::SolidImage(width, height, QColor::fromRgb(tops[k]));
        QPainter(&photo).fillRect(0, height / 2, width, height, QColor::fromRgb(~tops[k]));
        const int second = static_cast<int>(k);
        shots.push_back({dir.filePath(QStringLiteral("%1.bmp").arg(k)), second, second + 1});
        EXPECT_TRUE(testmedia::SaveBmp(photo, shots.back().photo));
    }
    rendertest::AddShots(timeline.Get(), video.Get(), shots);
    if (music) {
        const QString song = dir.filePath(QStringLiteral("song.wav"));
        const auto length = static_cast<std::int64_t>(tops.size());
        EXPECT_TRUE(testmedia::WriteWav(testmedia::Tone(44100 * length, 440), song));
        const ReferenceTime end = length * kUnitsPerSecond;
        rendertest::AddClip(
            timeline.Get(), rendertest::AddGroup(timeline.Get()).Get(), song, 0, end, 0, end);
    }
    return timeline;
}

// The first pin of the wanted direction, counting from 0.
inline ComPtr<IPin> PinOf(IBaseFilter *filter, PinDirection direction, int n = 0)
{
    for (ComPtr<IPin> &pin : filter->EnumPins()) {
        if (pin->QueryDirection() == direction && n-- == 0)
            return pin;
    }
    return nullptr;
}

// ffprobe's complaints about the file (empty when it reads it cleanly).
inline QString ProbeWarnings(const QString &path)
{
    QProcess probe;
    probe.start("ffprobe", QString("-v warning -show_streams -count_packets").split(u' ') << path);
    const bool clean = probe.waitForFinished(60000) && probe.exitCode() == 0;
    return QString::fromUtf8(probe.readAllStandardError()).trimmed()
           + (clean ? "" : " (ffprobe failed)");
}

inline bool ColoursClose(std::uint32_t a, std::uint32_t b, int tolerance = 24)
{
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF))
            > tolerance)
            return false;
    }
    return true;
}

// A compressor that is not yet in any graph; null when it cannot be made.
inline ComPtr<IBaseFilter>
MakeCompressor(CompressorKind kind, const QString &encoder, const QString &options = {})
{
    const QString name = kind == CompressorKind::Audio ? "CompressorAudio" : "Compressor";
    ComPtr<IBaseFilter> filter;
    return Failed(CreateCompressorFilter({kind, name, encoder, options}, filter.Put())) ? nullptr
                                                                                        : filter;
}

// A graph with the AVI multiplexer and file writer on a scratch file, as the render
// stage sets it up.
struct Rig
{
    explicit Rig(const QString &file = QStringLiteral("TempData.avi"))
    {
        RegisterGraphClasses();
        graph = platform::CreateInstance<IGraphBuilder>(CLSID_FilterGraph);
        builder = platform::CreateInstance<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
        path = dir.filePath(file);
        builder->SetFiltergraph(graph.Get());
        builder->SetOutputFileName(MEDIASUBTYPE_Avi, path, mux.Put(), nullptr);
    }

    ComPtr<IBaseFilter> Add(ComPtr<IBaseFilter> filter, const QString &name)
    {
        if (filter && Failed(graph->AddFilter(filter.Get(), name)))
            return nullptr;
        return filter;
    }
    ComPtr<IBaseFilter> AddGrabber(const QString &name, const Guid &major, const Guid &subtype = {})
    {
        auto grabber = platform::CreateInstance<IBaseFilter>(CLSID_SampleGrabber);
        AM_MEDIA_TYPE mt{};
        mt.majortype = major;
        mt.subtype = subtype;
        grabber.As<ISampleGrabber>()->SetMediaType(&mt);
        return Add(grabber, name);
    }
    // The editing engine's source of each group of the timeline, in this graph.
    std::vector<ComPtr<IBaseFilter>> Render(IAMTimeline *timeline)
    {
        engine = CreateRenderEngine();
        engine->SetFilterGraph(graph.Get());
        engine->SetTimelineObject(timeline);
        EXPECT_EQ(engine->ConnectFrontEnd(), S_OK);
        std::vector<ComPtr<IBaseFilter>> sources;
        ComPtr<IPin> pin;
        for (long g = 0; engine->GetGroupOutputPin(g, &pin) == S_OK; ++g)
            sources.emplace_back(pin->Owner());
        return sources;
    }
    // source -> grabber [-> compressor] -> mux input `muxInput`, named as the render stage
    // names them ("VideoGrabber"/"Compressor" or "AudioGrabber"/"CompressorAudio").
    HRESULT Chain(IBaseFilter *source, ComPtr<IBaseFilter> compressor, int muxInput)
    {
        const bool audio = PinOf(source, PinDirection::Output)->MediaTypes().front().majortype
                           == MEDIATYPE_Audio;
        auto grabber = audio ? AddGrabber("AudioGrabber", MEDIATYPE_Audio)
                             : AddGrabber("VideoGrabber", MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
        HRESULT hr = Link(source, grabber.Get());
        ComPtr<IBaseFilter> last = grabber;
        if (hr == S_OK && compressor) {
            Add(compressor, audio ? "CompressorAudio" : "Compressor");
            hr = Link(grabber.Get(), compressor.Get());
            last = compressor;
        }
        return hr == S_OK ? Link(last.Get(), mux.Get(), muxInput) : hr;
    }
    // Connects output 0 of `from` to input `input` of `to`.
    HRESULT Link(IBaseFilter *from, IBaseFilter *to, int input = 0)
    {
        auto out = PinOf(from, PinDirection::Output);
        auto in = PinOf(to, PinDirection::Input, input);
        return out && in ? graph->Connect(out.Get(), in.Get()) : E_UNEXPECTED;
    }
    // Runs to the end; returns the event code (0 when the time ran out), then stops.
    long RunToEnd(long timeoutMs = 60000)
    {
        if (Failed(graph.As<IMediaControl>()->Run()))
            return -1;
        long code = 0;
        graph.As<IMediaEvent>()->WaitForCompletion(timeoutMs, &code);
        graph.As<IMediaControl>()->Stop();
        return code;
    }

    QTemporaryDir dir;
    QString path;
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> mux;
    ComPtr<IRenderEngine> engine;
};

} // namespace graphtest
