// Real AVI files written through grabber -> compressor -> multiplexer and reopened with
// libavformat.

#include "graph_test_source.h"

#include "engine/codecs/avi_ffmpeg.h"
#include "engine/graph/filter_graph_pins.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <map>

using namespace engine;
using namespace graphtest;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// A new picture every `hold` frames: frame i shows colour number i / hold.
std::uint32_t Palette(int n)
{
    static const std::uint32_t colours[]
        = {0xE03020, 0x20C040, 0x3040E0, 0xE0E020, 0x20E0E0, 0xC020C0};
    return colours[n % 6];
}

std::vector<PacketInfo> PacketsOf(const AviContents &avi, int stream)
{
    std::vector<PacketInfo> result;
    for (const PacketInfo &p : avi.packets) {
        if (p.stream == stream)
            result.push_back(p);
    }
    return result;
}

} // namespace

TEST(GraphAvi, VideoAndPcmAudioAreWrittenFullyInterleaved)
{
    Rig rig;
    const int frames = 120; // about 4 s
    ASSERT_EQ(rig.Chain(VideoScript(kWidth, kHeight, frames, [](int i) { return Palette(i / 30); }),
                        MakeCompressor(CompressorKind::Video, "mpeg4", "q=2"),
                        0),
              S_OK);
    ASSERT_EQ(rig.Chain(ToneScript(44100, 2, frames * 1001.0 / 30000, 1470), nullptr, 1), S_OK);
    rig.InterleaveFully();
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    ASSERT_EQ(avi.streams.size(), 2u);
    EXPECT_FALSE(avi.streams[0].audio);
    EXPECT_EQ(avi.streams[0].codec, QStringLiteral("mpeg4"));
    EXPECT_EQ(avi.streams[0].width, kWidth);
    EXPECT_EQ(avi.streams[0].height, kHeight);
    EXPECT_EQ(avi.streams[0].frameRateNum, 30000);
    EXPECT_EQ(avi.streams[0].frameRateDen, 1001);
    EXPECT_EQ(avi.streams[0].headerFrames, frames);
    EXPECT_NEAR(avi.streams[0].seconds, frames * 1001.0 / 30000, 0.01);
    EXPECT_TRUE(avi.streams[1].audio);
    EXPECT_EQ(avi.streams[1].codec, QStringLiteral("pcm_s16le"));
    EXPECT_EQ(avi.streams[1].sampleRate, 44100);
    EXPECT_EQ(avi.streams[1].channels, 2);
    EXPECT_EQ(PacketsOf(avi, 0).size(), static_cast<std::size_t>(frames));

    // The chunks in file order: audio first with one second, then runs of about a
    // second of video and a second of audio by turns, audio a second ahead.
    std::vector<PacketInfo> order = avi.packets;
    std::sort(order.begin(), order.end(), [](auto &a, auto &b) { return a.pos < b.pos; });
    std::vector<std::pair<int, std::int64_t>> runs; // stream, frames or audio bytes
    std::int64_t audioBytes = 0;
    int videoFrames = 0;
    for (const PacketInfo &p : order) {
        if (runs.empty() || runs.back().first != p.stream)
            runs.push_back({p.stream, 0});
        runs.back().second += p.stream == 0 ? 1 : p.size;
        if (p.stream == 1) {
            audioBytes += p.size;
        } else {
            // Before the video of second k is written, the audio up to second k + 1 is.
            const double videoTime = videoFrames * 1001.0 / 30000;
            const double audioTime = static_cast<double>(audioBytes) / (44100 * 4);
            EXPECT_GE(audioTime + 1e-6, std::floor(videoTime) + 1.0) << "frame " << videoFrames;
            EXPECT_LE(audioTime, videoTime + 2.0 + 1e-6) << "frame " << videoFrames;
            ++videoFrames;
        }
    }
    ASSERT_GE(runs.size(), 8u);
    EXPECT_EQ(runs.front().first, 1);
    EXPECT_EQ(runs.front().second, 44100 * 4);
    for (std::size_t r = 1; r + 1 < runs.size(); ++r) {
        if (runs[r].first == 0)
            EXPECT_NEAR(runs[r].second, 30, 1) << "run " << r;
        else
            EXPECT_EQ(runs[r].second, 44100 * 4) << "run " << r;
    }
    EXPECT_EQ(ProbeWarnings(rig.path), QString());
}

namespace {

struct HoldCase
{
    const char *name;
    int frames;
    // Frame i shows picture pictureOf(i) and is marked as a repeat by repeatOf(i).
    std::function<int(int)> pictureOf;
    std::function<bool(int)> repeatOf;
    const char *encoder = "mpeg4";
    const char *options = "q=2";
};

std::ostream &operator<<(std::ostream &os, const HoldCase &c)
{
    return os << c.name;
}

class GraphAviHolds : public ::testing::TestWithParam<HoldCase>
{};

int EmptyChunksExpected(const HoldCase &c)
{
    // Of every run of repeats within the stream only the last is coded; of a run that
    // ends the stream the last three are.
    int empty = 0;
    int run = 0;
    for (int i = 1; i <= c.frames; ++i) {
        if (i < c.frames && c.repeatOf(i)) {
            ++run;
            continue;
        }
        empty += std::max(0, run - (i == c.frames ? 3 : 1));
        run = 0;
    }
    return empty;
}

} // namespace

TEST_P(GraphAviHolds, EveryFrameKeepsItsPlaceAndPicture)
{
    const HoldCase &c = GetParam();
    Rig rig;
    ASSERT_EQ(rig.Chain(VideoScript(
                            kWidth,
                            kHeight,
                            c.frames,
                            [&](int i) { return Palette(c.pictureOf(i)); },
                            c.repeatOf),
                        MakeCompressor(CompressorKind::Video, c.encoder, c.options),
                        0),
              S_OK);
    ASSERT_EQ(rig.Chain(ToneScript(44100, 2, c.frames * 1001.0 / 30000, 4410), nullptr, 1), S_OK);
    rig.InterleaveFully();
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    // The reader passes over empty chunks: their frames show as gaps in the times.
    const auto video = PacketsOf(avi, 0);
    EXPECT_EQ(avi.streams[0].headerFrames, c.frames);
    EXPECT_EQ(static_cast<int>(video.size()), c.frames - EmptyChunksExpected(c));
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(video.back().pts, c.frames - 1) << "the last frame is coded";
    EXPECT_EQ(ConvertedFrameCount(rig.path), c.frames);

    const auto colours = DecodeVideoColours(rig.path);
    ASSERT_EQ(static_cast<int>(colours.size()), c.frames);
    for (int i = 0; i < c.frames; ++i) {
        const std::uint32_t want = Palette(c.pictureOf(i));
        EXPECT_TRUE(ColoursClose(colours[i].top, want))
            << "frame " << i << std::hex << " top " << colours[i].top << " want " << want;
        EXPECT_TRUE(ColoursClose(colours[i].bottom, ~want & 0xFFFFFF))
            << "frame " << i << std::hex << " bottom " << colours[i].bottom;
    }
    EXPECT_EQ(ProbeWarnings(rig.path), QString());
}

INSTANTIATE_TEST_SUITE_P(
    Patterns,
    GraphAviHolds,
    ::testing::Values(
        HoldCase{"NoRepeats", 40, [](int i) { return i; }, [](int) { return false; }},
        HoldCase{"EverySecondFrameRepeats",
                 60,
                 [](int i) { return i / 2; },
                 [](int i) { return i % 2 == 1; }},
        HoldCase{"LongHolds", 75, [](int i) { return i / 15; }, [](int i) { return i % 15 != 0; }},
        HoldCase{"EndsOnHold", 50, [](int i) { return i / 20; }, [](int i) { return i % 20 != 0; }},
        HoldCase{"FirstFrameMarkedRepeat",
                 30,
                 [](int i) { return i / 10; },
                 [](int i) { return i % 10 != 0 || i == 0; }},
        // An encoder that holds frames back (look-ahead): empty chunks wait behind them.
        // Without B-frames, so that the file reader can place every frame.
        HoldCase{"EncoderWithDelay",
                 50,
                 [](int i) { return i / 20; },
                 [](int i) { return i % 20 != 0; },
                 "libx264",
                 "crf=10:bf=0"}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(GraphAviLarge, FilesPastOneGigabyteStayReadable)
{
    // Coded frames of 2 MiB each (their content does not matter to the writer).
    constexpr int kFrames = 560;
    constexpr std::size_t kFrameBytes = 2u << 20;
    MediaType coded = RgbType(320, 240);
    auto *vih = reinterpret_cast<VIDEOINFOHEADER *>(coded.format.data());
    vih->bmiHeader.biCompression = 0x34504D46; // FMP4
    coded.subtype = SubtypeFromFourcc(0x34504D46);
    StreamScript script;
    script.type = coded;
    script.count = kFrames;
    script.sampleDuration = kNtscFrame;
    script.fill = [](int i, std::vector<std::uint8_t> &data, bool &) {
        data.assign(kFrameBytes, static_cast<std::uint8_t>(i));
    };

    Rig rig;
    auto source = rig.Add(MakeSource(script), QStringLiteral("Coded"));
    ASSERT_EQ(rig.LinkToMux(source.Get(), 0), S_OK);
    ASSERT_EQ(rig.RunToEnd(120000), EC_COMPLETE);

    QFile file(rig.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_GT(file.size(), static_cast<qint64>(kFrames * kFrameBytes));
    // The first RIFF is an AVI, the ones after it extensions ("AVIX").
    std::vector<QByteArray> riffs;
    for (qint64 at = 0; at + 12 <= file.size();) {
        file.seek(at);
        const QByteArray head = file.read(12);
        if (!head.startsWith("RIFF"))
            break;
        riffs.push_back(head.mid(8, 4));
        const auto size = qFromLittleEndian<quint32>(head.constData() + 4);
        at += 8 + size + (size & 1);
    }
    ASSERT_GE(riffs.size(), 2u);
    EXPECT_EQ(riffs.front(), QByteArray("AVI "));
    EXPECT_EQ(riffs.back(), QByteArray("AVIX"));
    file.close();

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.streams[0].headerFrames, kFrames);
    const auto packets = PacketsOf(avi, 0);
    ASSERT_EQ(static_cast<int>(packets.size()), kFrames);
    EXPECT_EQ(packets.back().pts, kFrames - 1);
    EXPECT_EQ(packets.back().size, static_cast<int>(kFrameBytes));
    QFile::remove(rig.path);
}
