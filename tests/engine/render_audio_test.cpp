#include "common/media_makers.h"
#include "common/table_rows.h"
#include "engine/render/audio_mixer.h"
#include "engine/render/render_engine.h"
#include "engine/timeline/media_det.h"
#include "render_test_graph.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace {

using testing_support::operator<<;

using namespace engine;
using namespace rendertest;
using platform::S_OK;

// Music laid end to end as the program does: plays of m seconds, the last cut at T.
void LayOutMusic(
    IAMTimeline *timeline, IAMTimelineObj *group, const QString &path, double m, int T, int plays)
{
    const auto play = static_cast<ReferenceTime>(m * kSecond);
    for (int j = 0; j < plays; ++j) {
        const ReferenceTime start = j * play, stop = j == plays - 1 ? T * kSecond : start + play;
        AddClip(timeline, group, path, start, stop, 0, stop - start);
    }
}

TEST(RenderAudio, LoopedSongIsSampleExactAtItsSeamsAndWhatIsNoMusicIsSilence)
{
    QTemporaryDir dir;
    const QString song = dir.filePath("song.wav"), bad = dir.filePath("bad.mp3");
    const testmedia::Pcm ramp = testmedia::Ramp(22050); // 0.5 s
    ASSERT_TRUE(testmedia::WriteWav(ramp, song) && testmedia::SaveCorruptPhoto(bad));
    auto timeline = CreateTimeline();
    auto audio = AddGroup(timeline.Get());
    // Four plays to 2 s; then 1.5 s of the file (the layout of a very short song); a clip
    // at 4 s that starts 0.25 s into the file; a second of a file that is no music.
    LayOutMusic(timeline.Get(), audio.Get(), song, 0.5, 2, 4);
    AddClip(timeline.Get(), audio.Get(), song, 2 * kSecond, 7 * kSecond / 2, 0, 3 * kSecond / 2);
    AddClip(
        timeline.Get(), audio.Get(), song, 4 * kSecond, 5 * kSecond, kSecond / 4, 5 * kSecond / 4);
    AddClip(timeline.Get(), audio.Get(), bad, 5 * kSecond, 6 * kSecond, 0, kSecond);
    const Rendered r = Render(timeline.Get());
    std::vector<std::int16_t> want(2 * 6 * 44100, 0);
    for (std::size_t play = 0; play < 5; ++play)
        std::copy(ramp.samples.begin(), ramp.samples.end(), want.begin() + 2 * 22050 * play);
    std::copy(ramp.samples.begin() + 2 * 11025, ramp.samples.end(), want.begin() + 2 * 4 * 44100);
    ASSERT_EQ(r.Audio().size(), want.size());
    const auto wrong = std::mismatch(r.Audio().begin(), r.Audio().end(), want.begin()).first;
    EXPECT_TRUE(wrong == r.Audio().end())
        << "first wrong sample at " << (wrong - r.Audio().begin()) / 2;
    // Chunks of a tenth of a second, back to back.
    const auto &starts = r.recorders[0]->audioStarts;
    ASSERT_EQ(starts.size(), 60u);
    for (std::size_t c = 0; c < starts.size(); ++c)
        EXPECT_EQ(starts[c], static_cast<ReferenceTime>(c) * kSecond / 10);
    EXPECT_EQ(r.recorders[0]->audioStop, 6 * kSecond);
    EXPECT_TRUE(r.recorders[0]->endOfStream);
}

struct FormatRow
{
    const char *name;
    const char *file;
    int kind; // -1: WAV, otherwise testmedia::MusicKind
    long streams;
    // What the seams are held to: 2, no gap and no click (the format marks its encoder's
    // delay and padding); 1, no silence (WMA marks neither, and the test files' encoder
    // fades its last frame out); 0, one play only, past the coder's delay (MPEG audio in a
    // program stream marks neither).
    int seams;
};

// The music's length as the program learns it: the last audio stream's length. Checks
// on the way that the file has `streams` streams of 1.67 s, one of them audio.
double DetectedMusicLength(const QString &path, long expectedStreams)
{
    auto det = CreateMediaDet();
    long streams = 0;
    if (det->put_Filename(path) != S_OK || det->get_OutputStreams(&streams) != S_OK)
        return -1;
    EXPECT_EQ(streams, expectedStreams);
    int audioStreams = 0;
    double m = 0;
    for (long k = 0; k < streams; ++k) {
        Guid type;
        double seconds = 0;
        EXPECT_EQ(det->put_CurrentStream(k), S_OK);
        EXPECT_EQ(det->get_StreamType(&type), S_OK);
        EXPECT_EQ(det->get_StreamLength(&seconds), S_OK);
        EXPECT_NEAR(seconds, 1.67, 0.1) << k;
        if (type == MEDIATYPE_Audio) {
            ++audioStreams;
            m = seconds;
        }
    }
    EXPECT_EQ(audioStreams, 1);
    return m;
}

class RenderMusicFormats : public testing::TestWithParam<FormatRow>
{};

// A tone of 64-sample periods, 64 MPEG audio frames or 36 WMA frames long: whole periods
// whatever delay the coders take off and no padding in the last frame, so plays laid end
// to end by the detected length join without a seam that can be heard.
TEST_P(RenderMusicFormats, DetectorMeasuresAndEngineLoopsTheMusicWithoutSeams)
{
    const FormatRow row = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(row.file);
    const testmedia::Pcm tone = testmedia::Tone(64 * 1152, 44100.0 / 64);
    ASSERT_TRUE(row.kind < 0 ? testmedia::WriteWav(tone, path)
                             : testmedia::WriteMusic(
                                 tone, static_cast<testmedia::MusicKind>(row.kind), path));
    const double m = DetectedMusicLength(path, row.streams);
    ASSERT_GT(m, 0);
    // Three plays, the last cut at 4 s.
    auto timeline = CreateTimeline();
    LayOutMusic(timeline.Get(), AddGroup(timeline.Get()).Get(), path, m, 4, 3);
    const Rendered r = Render(timeline.Get());
    const auto &pcm = r.Audio();
    ASSERT_EQ(pcm.size(), 2u * 4 * 44100);
    // The tone at its level throughout (a gap is a quiet stretch) and no step larger than
    // the tone's own steepest (a click), seams included.
    const int first = row.seams > 0 ? 64 : 1200;
    const int limit = row.seams > 0 ? 4 * 44100 - 64 : static_cast<int>(m * 44100) - 1200;
    const int quiet = row.seams == 1 ? 100 : 6000;
    int quietAt = -1, clickAt = -1, crossings = 0;
    for (int i = first; i < limit; ++i) {
        const std::int16_t *p = pcm.data() + 2 * i;
        if (quietAt < 0 && std::abs(*std::max_element(p, p + 64, [](auto a, auto b) {
                               return std::abs(a) < std::abs(b);
                           })) < quiet)
            quietAt = i;
        if (clickAt < 0 && row.seams != 1 && std::abs(p[2] - p[0]) > 1200)
            clickAt = i;
        crossings += (p[0] >= 0) != (p[2] >= 0);
    }
    EXPECT_EQ(quietAt, -1) << "a gap at " << quietAt / 44100.0 << " s (seams every " << m << ")";
    EXPECT_EQ(clickAt, -1) << "a click at " << clickAt / 44100.0 << " s (seams every " << m << ")";
    if (row.seams != 1) { // WMA's faded last frame has no steady crossings
        EXPECT_NEAR(crossings, (limit - first) / 32, 10);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds,
                         RenderMusicFormats,
                         testing::Values(FormatRow{"WAV", "song.wav", -1, 1, 2},
                                         FormatRow{"MP3", "song.mp3", 0, 1, 2},
                                         FormatRow{"WMA", "song.wma", 1, 1, 1},
                                         FormatRow{"MPEG", "song.mpg", 2, 2, 0}),
                         testing_support::RowName());

TEST(MediaDet, RefusesWhatIsNoMediaAndChecksItsStreamIndex)
{
    QTemporaryDir dir;
    const QString photo = dir.filePath("bad.mp3"), song = dir.filePath("song.wav");
    ASSERT_TRUE(testmedia::SaveCorruptPhoto(photo)
                && testmedia::WriteWav(testmedia::Tone(4410, 440), song));
    auto det = CreateMediaDet();
    long streams = 0;
    EXPECT_EQ(det->get_OutputStreams(&streams), platform::E_UNEXPECTED);
    EXPECT_EQ(det->put_CurrentStream(0), platform::E_UNEXPECTED);
    EXPECT_TRUE(platform::Failed(det->put_Filename(photo)));
    EXPECT_EQ(det->get_OutputStreams(&streams), platform::E_UNEXPECTED);

    ASSERT_EQ(det->put_Filename(song), S_OK);
    EXPECT_EQ(det->put_CurrentStream(1), platform::E_INVALIDARG);
    double seconds = 0;
    EXPECT_EQ(det->get_StreamLength(&seconds), S_OK);
    EXPECT_DOUBLE_EQ(seconds, 0.1);
}

// Found by fuzzing: a damaged WAV that claimed millions of samples a second took half a
// minute to set up a resampler for, and a 5 KB file at one sample a second decoded to
// hours of music. Music is read between the lowest and the highest real rates only.
TEST(MusicReader, ReadsMusicAtRealRatesOnly)
{
    QTemporaryDir dir;
    for (const int rate : {1, 999, 1000, 768000, 768001, 5000000}) {
        testmedia::Pcm tone = testmedia::Tone(4410, 440);
        tone.rate = rate;
        const QString song = dir.filePath(QStringLiteral("%1.wav").arg(rate));
        ASSERT_TRUE(testmedia::WriteWav(tone, song));
        MusicReader reader;
        ASSERT_TRUE(reader.Open(song)) << rate;
        std::int16_t out[64 * kAudioChannels];
        EXPECT_EQ(reader.Read(out, 64) > 0, rate == 1000 || rate == 768000) << rate;
    }
}

} // namespace
