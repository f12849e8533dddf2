// Real AVI files written through grabber -> compressor -> multiplexer and reopened with
// libavformat.

#include "graph_test_source.h"

#include "common/table_rows.h"
#include "engine/codecs/avi_ffmpeg.h"
#include "engine/graph/filter_graph_pins.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>

using namespace engine;
using namespace graphtest;

namespace {

using testing_support::operator<<;

struct HoldCase
{
    const char *name; // of the encoder
    const char *options;
};

class GraphAviHolds : public ::testing::TestWithParam<HoldCase>
{};

} // namespace

// Three photos of a second each: the engine marks every frame after a photo's first as a
// repeat. Of every run of repeats within the stream only the last is coded; of the run
// that ends the stream the last three are; the others are empty chunks.
TEST_P(GraphAviHolds, EveryFrameKeepsItsPlaceAndPicture)
{
    const HoldCase &c = GetParam();
    const std::vector<std::uint32_t> tops{0xE03020, 0x20C040, 0x3040E0};
    Rig rig;
    auto sources = rig.Render(Slideshow(rig.dir, 160, 120, tops, true).Get());
    ASSERT_EQ(sources.size(), 2u);
    ASSERT_EQ(
        rig.Chain(sources[0].Get(), MakeCompressor(CompressorKind::Video, c.name, c.options), 0),
        S_OK);
    ASSERT_EQ(rig.Chain(sources[1].Get(), nullptr, 1), S_OK);
    const ReferenceTime second = kUnitsPerSecond;
    rig.mux.As<IConfigInterleaving>()->put_Mode(INTERLEAVE_FULL);
    rig.mux.As<IConfigInterleaving>()->put_Interleaving(&second, &second);
    ASSERT_EQ(rig.RunToEnd(), EC_COMPLETE);

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    // The reader passes over empty chunks: their frames show as gaps in the times, which
    // a conversion at the stream's rate fills with the picture before. The last is coded.
    std::vector<std::int64_t> video;
    for (const testmedia::PacketInfo &p : avi.packets) {
        if (p.stream == 0)
            video.push_back(p.pts);
    }
    EXPECT_EQ(avi.streams[0].headerFrames, 90);
    EXPECT_EQ(video.size(), 90u - 28 - 28 - 26);
    EXPECT_EQ(video.empty() ? -1 : video.back(), 89);

    const auto colours = DecodeVideoColours(rig.path);
    ASSERT_EQ(colours.size(), 90u);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const std::uint32_t want = tops[i / 30];
        EXPECT_TRUE(ColoursClose(colours[i].top, want)
                    && ColoursClose(colours[i].bottom, ~want & 0xFFFFFF))
            << "frame " << i << std::hex << ": " << colours[i].top << "/" << colours[i].bottom;
    }
    EXPECT_EQ(ProbeWarnings(rig.path), QString());
}

INSTANTIATE_TEST_SUITE_P(Encoders,
                         GraphAviHolds,
                         ::testing::Values(HoldCase{"mpeg4", "q=2"},
                                           // An encoder that holds frames back (look-ahead): empty
                                           // chunks wait behind them. Without B-frames, so that the
                                           // file reader can place every frame.
                                           HoldCase{"libx264", "crf=10:bf=0"}),
                         testing_support::RowName());

namespace {

// Coded frames of 2 MiB each (their content does not matter to the writer).
constexpr int kFrames = 560;
constexpr std::size_t kFrameBytes = 2u << 20;

class CodedSource final : public platform::ComObject<IBaseFilter, IPushSource>
{
public:
    CodedSource()
        : m_output(this, QStringLiteral("Out"), [] {
            VIDEOINFOHEADER vih{};
            vih.AvgTimePerFrame = kNtscFrame;
            vih.bmiHeader = {40, 320, 240, 1, 24, 0x34504D46, 0, 0, 0, 0, 0}; // FMP4
            MediaType mt;
            mt.majortype = MEDIATYPE_Video;
            mt.subtype = SubtypeFromFourcc(0x34504D46);
            mt.formattype = FORMAT_VideoInfo;
            mt.format.assign(reinterpret_cast<const std::uint8_t *>(&vih),
                             reinterpret_cast<const std::uint8_t *>(&vih + 1));
            return std::vector<MediaType>{mt};
        })
    {}
    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(&m_output)}; }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &) override { return S_OK; }
    QString Name() const override { return QStringLiteral("Coded"); }
    HRESULT Run() override
    {
        m_next = 0;
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }
    ReferenceTime NextSampleTime() const override { return m_next * kNtscFrame; }
    bool AtEnd() const override { return m_next > kFrames; }
    ReferenceTime Duration() const override { return kFrames * kNtscFrame; }
    HRESULT DeliverNext() override
    {
        if (m_next == kFrames) {
            ++m_next;
            return m_output.DeliverEndOfStream();
        }
        m_data.assign(kFrameBytes, static_cast<std::uint8_t>(m_next));
        MediaSample s;
        s.data = m_data.data();
        s.size = m_data.size();
        s.start = m_next++ * kNtscFrame;
        s.stop = m_next * kNtscFrame;
        return m_output.Deliver(s);
    }

private:
    OutputPin m_output;
    int m_next = 0;
    std::vector<std::uint8_t> m_data;
};

} // namespace

TEST(GraphAviLarge, FilesPastOneGigabyteStayReadable)
{
    Rig rig;
    auto source
        = rig.Add(platform::MakeObject<CodedSource, IBaseFilter>(), QStringLiteral("Coded"));
    ASSERT_EQ(rig.Link(source.Get(), rig.mux.Get()), S_OK);
    ASSERT_EQ(rig.RunToEnd(120000), EC_COMPLETE);

    QFile file(rig.path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_GT(file.size(), static_cast<qint64>(kFrames * kFrameBytes));
    // The first RIFF is an AVI, the ones after it extensions ("AVIX").
    QList<QByteArray> riffs;
    for (qint64 at = 0; at + 12 <= file.size();) {
        file.seek(at);
        const QByteArray head = file.read(12);
        if (!head.startsWith("RIFF"))
            break;
        riffs.push_back(head.mid(8, 4));
        const auto size = qFromLittleEndian<quint32>(head.constData() + 4);
        at += 8 + size + (size & 1);
    }
    ASSERT_GE(riffs.size(), 2);
    EXPECT_EQ(riffs.front(), "AVI ");
    EXPECT_EQ(riffs.back(), "AVIX");
    file.close();

    const AviContents avi = ReadAvi(rig.path);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.streams[0].headerFrames, kFrames);
    ASSERT_EQ(static_cast<int>(avi.packets.size()), kFrames);
    EXPECT_EQ(avi.packets.back().pts, kFrames - 1);
    EXPECT_EQ(avi.packets.back().size, static_cast<int>(kFrameBytes));
    QFile::remove(rig.path);
}
