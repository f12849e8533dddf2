// The whole stage on the real engine: temporary AVIs reopened with libavformat, the
// compression graph's failures one refused call at a time, the audio question, the
// progress bar and the close request during the wait.

#include "stage_fixture.h"

#include "engine/graph/sample_grabber.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"
#include "production/render_stage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>

namespace stagetest {
namespace {

using engine::ReferenceTime;
using platform::MessageResult;

const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");

// Frames that start before the end of a movie of `seconds` at 29.97 frames per second.
std::int64_t FramesIn(double seconds)
{
    return static_cast<std::int64_t>(std::ceil(seconds * 30000.0 / 1001.0 - 1e-9));
}

// ---- Temporary AVIs ----------------------------------------------------------------------

enum class Song { Wav, Mp3, Wma, Mpeg };

// When the sound last is at a quarter of the test tone's level or more, in seconds.
double SoundEnd(const testmedia::Pcm &pcm)
{
    for (std::size_t i = pcm.samples.size(); i-- > 0;) {
        if (std::abs(pcm.samples[i]) >= 2000)
            return static_cast<double>(i / static_cast<std::size_t>(pcm.channels) + 1) / pcm.rate;
    }
    return -1;
}

struct AviRow
{
    const char *name;
    Song song;
    bool preferredInstalled; // else the codec prompt is answered No and a fallback is used
    bool effect;
    const char *videoCodec;
    const char *audioCodec;
};

class TemporaryAvi : public StageTest, public ::testing::WithParamInterface<AviRow>
{};

TEST_P(TemporaryAvi, HoldsTheSlideshowAtItsSizeRateAndLength)
{
    const AviRow &row = GetParam();
    if (row.preferredInstalled)
        InstallPreferredCompressor();
    OpenWindow();
    QString music;
    switch (row.song) {
    case Song::Wav:
        music = MakeWav(QStringLiteral("song.wav"), 1);
        break;
    case Song::Mp3:
        music = MakeMusic(QStringLiteral("song.MP3"), 1, testmedia::MusicKind::Mp3);
        break;
    case Song::Wma:
        music = MakeMusic(QStringLiteral("song.wma"), 1, testmedia::MusicKind::Wma);
        break;
    case Song::Mpeg:
        music = MakeMusic(QStringLiteral("song.mpg"), 1, testmedia::MusicKind::MpegProgramStream);
        break;
    }
    // Two photos of 1 s: V = 3 s, the music part T = 3 s, the video 4 s.
    PrepareJob(2, music, 1);
    dialog->m_addMotionEffect = row.effect;

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(Busy()); // the conversion stage follows
    // The preferred compressor is taken without a prompt; else the fallback after a prompt.
    if (row.preferredInstalled) {
        EXPECT_TRUE(prompter.Texts().isEmpty()) << prompter.Texts().join(u'|').toStdString();
    } else {
        EXPECT_EQ(prompter.Texts(), QStringList{kCodecPrompt});
    }

    const testmedia::AviContents avi = testmedia::ReadAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format, QStringLiteral("avi"));
    EXPECT_EQ(StreamCount(avi, false), 1);
    EXPECT_EQ(StreamCount(avi, true), 1);
    const auto video = StreamOf(avi, false);
    EXPECT_EQ(video.codec, QString::fromLatin1(row.videoCodec));
    EXPECT_EQ(StreamOf(avi, true).codec, QString::fromLatin1(row.audioCodec));
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(std::int64_t{video.frameRateNum} * 1001, std::int64_t{video.frameRateDen} * 30000);
    EXPECT_EQ(video.headerFrames, FramesIn(4.0));
    EXPECT_NEAR(video.seconds, 4.0, 0.04);
    // Interleaved a second at a time: never more than a second of pictures in a row.
    int run = 0, longest = 0;
    for (const testmedia::PacketInfo &packet : avi.packets) {
        run = avi.streams[static_cast<std::size_t>(packet.stream)].audio ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    EXPECT_GT(longest, 0);
    EXPECT_LE(longest, 31);
    // The music is in time with the pictures whatever the audio path: its last play is cut
    // at T = 3 s, and there the sound stops. (Its start would not tell as well: an MP3
    // decoder's first few milliseconds are quiet whenever the music starts.)
    EXPECT_NEAR(SoundEnd(testmedia::DecodeAudio(dialog->m_tempAviPath)), 3.0, 0.001);
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    TemporaryAvi,
    ::testing::Values(
        // Not MPEG audio: through the audio compressor.
        AviRow{"WavThroughTheAudioCompressor", Song::Wav, true, true, "mpeg4", "mp3"},
        AviRow{"WmaThroughTheAudioCompressor", Song::Wma, true, false, "mpeg4", "mp3"},
        // MPEG audio passes by the compressor.
        AviRow{"Mp3PassesByTheAudioCompressor", Song::Mp3, true, true, "mpeg4", "pcm_s16le"},
        AviRow{"MpegPassesByTheAudioCompressor", Song::Mpeg, true, false, "mpeg4", "pcm_s16le"},
        AviRow{"FallbackWhenThePromptIsAnsweredNo", Song::Wav, false, false, "cinepak", "mp3"}),
    RowName());

// ---- Runs on the real engine, without wrappers -------------------------------------------

struct RealRunRow
{
    const char *name;
    int photos, seconds;
    double musicSeconds;
    bool playWhole;
    const char *badPhoto; // a photo that is not what its name says, second in the list
    double movieSeconds;
};

class RealEngineRun : public StageTest, public ::testing::WithParamInterface<RealRunRow>
{};

TEST_P(RealEngineRun, MakesTheMovieOfTheExpectedLength)
{
    const RealRunRow &row = GetParam();
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(row.photos, MakeWav(QStringLiteral("song.wav"), row.musicSeconds), row.seconds);
    dialog->m_playWholeMusic = row.playWhole;
    if (row.badPhoto) {
        const QString bad = env.ScratchDir() + QStringLiteral("/bad.jpg");
        const QByteArray kind(row.badPhoto);
        QByteArray bytes;
        if (kind == "half" || kind == "png") {
            const QImage image = testmedia::SolidImage(96, 64, Qt::green);
            ASSERT_TRUE(kind == "png" ? image.save(bad, "PNG") : testmedia::SaveJpeg(image, bad));
            QFile file(bad);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            bytes = file.readAll();
            if (kind == "half")
                bytes.truncate(bytes.size() / 2);
        } else if (kind == "random") {
            for (int i = 0; i < 4000; ++i)
                bytes += static_cast<char>((i * 7919 + 17) % 251);
        }
        if (kind == "damaged")
            ASSERT_TRUE(testmedia::SaveCorruptPhoto(bad));
        else
            testing_support::WriteFile(bad, bytes);
        dialog->m_photoPaths.insert(1, bad);
    }

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(prompter.Texts().isEmpty()) << prompter.Texts().join(u'|').toStdString();
    const testmedia::AviContents avi = testmedia::ReadAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(StreamOf(avi, false).codec, QStringLiteral("mpeg4"));
    EXPECT_EQ(StreamOf(avi, true).codec, QStringLiteral("mp3"));
    EXPECT_EQ(StreamOf(avi, false).headerFrames, FramesIn(row.movieSeconds));
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    RealEngineRun,
    ::testing::Values(
        // 2 s of music, shorter than V = 4: two whole plays; T = 4, plus one photo's time.
        RealRunRow{"ShortMusicPlaysTwice", 3, 1, 2, true, nullptr, 5},
        // A photo that cannot be read shows as black; the run goes on at the same length.
        RealRunRow{"DamagedPhoto", 2, 1, 1, false, "damaged", 5},
        RealRunRow{"EmptyPhoto", 2, 1, 1, false, "empty", 5},
        RealRunRow{"HalfAJpeg", 2, 1, 1, false, "half", 5},
        RealRunRow{"RandomBytesNamedJpg", 2, 1, 1, false, "random", 5},
        RealRunRow{"PngNamedJpg", 2, 1, 1, false, "png", 5},
        // No seconds per photo, but the whole music plays: the last photo fills the movie.
        RealRunRow{"ZeroSecondsPerPhotoWithTheWholeMusic", 3, 0, 2, true, nullptr, 2}),
    RowName());

// A file that cannot be written to the end (here: a full device) stops the run instead
// of handing a cut-off file to the conversion.
TEST_F(StageTest, AGraphThatFailsWhileStreamingStopsTheRun)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(3, MakeWav(QStringLiteral("song.wav"), 3), 2);
    dialog->m_tempAviPath = QStringLiteral("/dev/full");

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    ASSERT_EQ(prompter.Texts(),
              QStringList{QStringLiteral("Could not run compression graph\nThe disk is full: "
                                         "/dev/full could not be written.")});
    EXPECT_FALSE(prompter.Boxes().front().busy);
    EXPECT_EQ(dialog->m_busy, 0);
}

// ---- Failures of the compression graph -------------------------------------------------

struct GraphFailureRow
{
    const char *name;
    const char *message;
    const engine::Guid *missing; // a class that is not registered
    Song song = Song::Wav;
};

class GraphFailure : public StageTest, public ::testing::WithParamInterface<GraphFailureRow>
{};

TEST_P(GraphFailure, ReportsOnceReturnsFalseAndLeavesTheWindowIdle)
{
    const GraphFailureRow &row = GetParam();
    InstallPreferredCompressor();
    OpenWindow();
    const QString music = row.song == Song::Mp3
                              ? MakeMusic(QStringLiteral("song.mp3"), 1, testmedia::MusicKind::Mp3)
                              : MakeWav(QStringLiteral("song.wav"), 1);
    PrepareJob(2, music, 1);
    // A class that is not registered cannot be made.
    platform::UnregisterBuiltInClass(*row.missing);

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << prompter.Texts().join(u'|').toStdString();
    EXPECT_EQ(boxes[0].record.text, QString::fromLatin1(row.message));
    EXPECT_EQ(boxes[0].record.kind, testing_support::PromptRecord::AppBox);
    EXPECT_FALSE(boxes[0].busy); // idle first, then the box
    EXPECT_FALSE(Busy());
    EXPECT_EQ(dialog->Control<QPushButton>(ids::IDC_GO)->text(), QStringLiteral("GO"));
    EXPECT_EQ(dialog->m_progress->value(), 0);
}

const GraphFailureRow kGraphFailures[] = {
    {"NoRenderEngine", "Could not build the compression graph", &engine::CLSID_RenderEngine},
    {"NoVideoGrabber", "Could not create SampleGrabber.", &engine::CLSID_SampleGrabber},
};

INSTANTIATE_TEST_SUITE_P(Steps, GraphFailure, ::testing::ValuesIn(kGraphFailures), RowName());

} // namespace
} // namespace stagetest
