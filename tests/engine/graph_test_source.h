#pragma once
// Test doubles and probes for the graph tests: a push source that plays a scripted
// stream (RGB24 bottom-up frames, PCM, or any type with scripted payloads), and the
// converter's view of a written AVI.

#include "common/media_makers.h"
#include "engine/dshow.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace graphtest {

using engine::MediaType;
using engine::ReferenceTime;

inline constexpr ReferenceTime kNtscFrame = 333667; // 1001/30000 s in 100 ns units

struct StreamScript
{
    MediaType type;
    int count = 0;                    // samples to deliver
    ReferenceTime sampleDuration = 0; // 100 ns units
    // Fills the payload of sample i; may set the repeat flag.
    std::function<void(int i, std::vector<std::uint8_t> &data, bool &repeat)> fill;
    int failAt = -1;                     // DeliverNext fails (E_FAIL) at this sample
    int delayMs = 0;                     // sleep before each sample (a slow source)
    ReferenceTime reportedDuration = -1; // Duration(); -1: count * sampleDuration
};

engine::ComPtr<engine::IBaseFilter> MakeSource(StreamScript script);

MediaType RgbType(int width, int height, ReferenceTime frameTime = kNtscFrame);
MediaType PcmType(int sampleRate, int channels);

// Frames whose top half is colourOf(i) (0xRRGGBB) and bottom half its complement, so a
// flipped or channel-swapped picture is caught; repeatOf(i) marks repeats.
StreamScript VideoScript(int width,
                         int height,
                         int frames,
                         std::function<std::uint32_t(int)> colourOf,
                         std::function<bool(int)> repeatOf = {});
// A 440 Hz tone, 16-bit, in chunks of samplesPerChunk.
StreamScript ToneScript(int sampleRate, int channels, double seconds, int samplesPerChunk);

// The first pin of the wanted direction, counting from 0.
engine::ComPtr<engine::IPin>
PinOf(engine::IBaseFilter *filter, engine::PinDirection direction, int n = 0);

// The probes are shared (tests/common/media_makers.h).
using testmedia::AviContents;
using testmedia::DecodeVideoColours;
using testmedia::FrameColours;
using testmedia::PacketInfo;
using testmedia::ReadAvi;

// The number of frames in the movie that the converter's engine (ffmpeg at 30000/1001
// frames per second) makes from the file; -1 when it fails.
int ConvertedFrameCount(const QString &path);

// ffprobe's complaints about the file (empty when it reads it cleanly).
QString ProbeWarnings(const QString &path);

bool ColoursClose(std::uint32_t a, std::uint32_t b, int tolerance = 24);

} // namespace graphtest

#include "engine/codecs/compressor.h"
#include "engine/graph/capture_graph.h"
#include "engine/graph/media_control.h"

#include <QTemporaryDir>

namespace graphtest {

// A compressor that is not yet in any graph; null when it cannot be made.
engine::ComPtr<engine::IBaseFilter>
MakeCompressor(engine::CompressorKind kind, const QString &encoder, const QString &options = {});

// A graph with the AVI multiplexer and file writer on a scratch file, as the render
// stage sets it up.
struct Rig
{
    Rig();

    engine::ComPtr<engine::IBaseFilter> Add(engine::ComPtr<engine::IBaseFilter> filter,
                                            const QString &name);
    engine::ComPtr<engine::IBaseFilter>
    AddGrabber(const QString &name, const engine::Guid &major, const engine::Guid &subtype = {});
    engine::ComPtr<engine::IBaseFilter> AddCompressor(const QString &name,
                                                      engine::CompressorKind kind,
                                                      const QString &encoder,
                                                      const QString &options = {});
    // source -> grabber [-> compressor] -> mux input `muxInput`, named as the render stage
    // names them ("VideoGrabber"/"Compressor" or "AudioGrabber"/"CompressorAudio").
    engine::HRESULT
    Chain(StreamScript script, engine::ComPtr<engine::IBaseFilter> compressor, int muxInput);
    // Connects output 0 of each filter to input 0 of the next.
    engine::HRESULT Link(engine::IBaseFilter *from, engine::IBaseFilter *to);
    engine::HRESULT LinkToMux(engine::IBaseFilter *from, int muxInput);
    void InterleaveFully();
    // Runs to the end; returns the event code (0 when the time ran out), then stops.
    long RunToEnd(long timeoutMs = 60000);

    QTemporaryDir dir;
    QString path;
    engine::ComPtr<engine::IGraphBuilder> graph;
    engine::ComPtr<engine::ICaptureGraphBuilder2> builder;
    engine::ComPtr<engine::IBaseFilter> mux;
};

} // namespace graphtest
