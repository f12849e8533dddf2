// The render stage on the real engine: temporary AVIs reopened with libavformat, the
// choice of the video compressor, photos that cannot be read, and the failures that stop
// a run before the conversion.

#include "window_fixture.h"

#include "common/media_makers.h"
#include "engine/graph/sample_grabber.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"

#include <cmath>

namespace {

const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");

// When the sound last is at a quarter of the test tone's level or more, in seconds.
double SoundEnd(const testmedia::Pcm &pcm)
{
    for (std::size_t i = pcm.samples.size(); i-- > 0;) {
        if (std::abs(pcm.samples[i]) >= 2000)
            return static_cast<double>(i / static_cast<std::size_t>(pcm.channels) + 1) / pcm.rate;
    }
    return -1;
}

const testmedia::AviContents::Stream &StreamOf(const testmedia::AviContents &avi, bool audio)
{
    return avi.streams.at(avi.streams.at(0).audio == audio ? 0 : 1);
}

// The most video packets that follow each other without audio between them.
int LongestVideoRun(const testmedia::AviContents &avi)
{
    int run = 0, longest = 0;
    for (const testmedia::PacketInfo &packet : avi.packets) {
        run = avi.streams[static_cast<std::size_t>(packet.stream)].audio ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

enum class Codec { Preferred, AnswerNo, InstallerMissing };
constexpr int kWav = -1; // else a testmedia::MusicKind
constexpr int kMp3 = int(testmedia::MusicKind::Mp3);
constexpr int kWma = int(testmedia::MusicKind::Wma);
constexpr int kMpeg = int(testmedia::MusicKind::MpegProgramStream);

// By default two photos of 1 s and a WAV of 1 s: V = 3 s, the music part T = 3 s, the
// video 4 s, made with the preferred compressor.
struct AviRow
{
    const char *name;
    int music = kWav;
    Codec codec = Codec::Preferred;
    int photos = 2, seconds = 1;
    double musicSeconds = 1;
    bool playWhole = false;
    double movieSeconds = 4; // the sound ends a photo's time before
};

class TemporaryAvi : public WindowTest, public ::testing::WithParamInterface<AviRow>
{};

TEST_P(TemporaryAvi, HoldsTheSlideshowAtItsSizeRateAndLength)
{
    const AviRow &row = GetParam();
    if (row.codec == Codec::Preferred)
        ASSERT_TRUE(dialog->InstallVideoCodec());
    else
        prompter.QueueAnswer(row.codec == Codec::AnswerNo ? platform::MessageResult::No
                                                          : platform::MessageResult::Yes);
    dialog->m_programDir = scratch + u'/'; // where no installer is
    QString music = MakeWav(row.musicSeconds);
    if (row.music != kWav) {
        music = scratch + QStringList{"/song.MP3", "/song.wma", "/song.mpg"}.at(row.music);
        const auto frames = static_cast<std::int64_t>(row.musicSeconds * 44100);
        ASSERT_TRUE(testmedia::WriteMusic(
            testmedia::Tone(frames, 440), testmedia::MusicKind(row.music), music));
    }
    PrepareJob(row.photos, music, row.seconds);
    dialog->m_playWholeMusic = row.playWhole;

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(dialog->m_busy); // the conversion stage follows
    // The preferred compressor is taken without a prompt; else a fallback after a prompt.
    const QStringList texts = prompter.BoxTexts();
    EXPECT_EQ(texts.size(), int(row.codec)) << texts.join(u'|').toStdString();
    EXPECT_EQ(texts.value(0), row.codec == Codec::Preferred ? QString() : kCodecPrompt);
    EXPECT_EQ(texts.value(1).startsWith("Failed to install the wmv9VCMsetup.exe"),
              row.codec == Codec::InstallerMissing);

    const testmedia::AviContents avi = testmedia::ReadAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format, QStringLiteral("avi"));
    ASSERT_EQ(avi.streams.size(), 2u);
    const auto &video = StreamOf(avi, false);
    EXPECT_EQ(video.codec, row.codec == Codec::Preferred ? "mpeg4" : "cinepak");
    // MPEG audio passes by the audio compressor; other music goes through it.
    EXPECT_EQ(StreamOf(avi, true).codec,
              row.music == kMp3 || row.music == kMpeg ? "pcm_s16le" : "mp3");
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(std::int64_t{video.frameRateNum} * 1001, std::int64_t{video.frameRateDen} * 30000);
    // Every frame that starts before the end of the movie, at 29.97 frames per second.
    EXPECT_EQ(video.headerFrames, std::llround(std::ceil(row.movieSeconds * 30000 / 1001)));
    // Interleaved a second at a time: never more than a second of pictures in a row.
    EXPECT_GT(LongestVideoRun(avi), 0);
    EXPECT_LE(LongestVideoRun(avi), 31);
    // The music is in time with the pictures whatever the audio path: its last play is cut
    // at T, and there the sound stops. (Its start would not tell as well: an MP3 decoder's
    // first few milliseconds are quiet whenever the music starts.)
    EXPECT_NEAR(SoundEnd(testmedia::DecodeAudio(dialog->m_tempAviPath)),
                row.movieSeconds - row.seconds,
                0.001);
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    TemporaryAvi,
    ::testing::Values(AviRow{"WavThroughTheAudioCompressor"},
                      AviRow{"WmaThroughTheAudioCompressor", kWma},
                      AviRow{"Mp3PassesByTheAudioCompressor", kMp3},
                      AviRow{"MpegPassesByTheAudioCompressor", kMpeg},
                      AviRow{"FallbackWhenThePromptIsAnsweredNo", kWav, Codec::AnswerNo},
                      AviRow{"FallbackWhenTheInstallerCannotStart", kWav, Codec::InstallerMissing},
                      // No seconds per photo, but the whole music plays: the last photo
                      // fills the movie.
                      AviRow{.name = "ZeroSecondsPerPhotoWithTheWholeMusic",
                             .photos = 3,
                             .seconds = 0,
                             .musicSeconds = 2,
                             .playWhole = true,
                             .movieSeconds = 2}),
    RowName());

// ---- Failures of the compression graph -------------------------------------------------

struct GraphFailureRow
{
    const char *name;
    const char *message;
    const engine::Guid *missing = nullptr; // a class that is not registered
    const char *tempAvi = nullptr;         // instead of the scratch folder's
    int seconds = 1;                       // per photo
};

class GraphFailure : public WindowTest, public ::testing::WithParamInterface<GraphFailureRow>
{};

TEST_P(GraphFailure, ReportsOnceReturnsFalseAndLeavesTheWindowIdle)
{
    const GraphFailureRow &row = GetParam();
    ASSERT_TRUE(dialog->InstallVideoCodec());
    PrepareJob(2, MakeWav(1), row.seconds);
    dialog->m_playWholeMusic = 0;
    if (row.missing)
        platform::UnregisterBuiltInClass(*row.missing);
    if (row.tempAvi)
        dialog->m_tempAviPath = QString::fromLatin1(row.tempAvi);

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    const auto boxes = prompter.Records();
    ASSERT_EQ(boxes.size(), 1u) << prompter.BoxTexts().join(u'|').toStdString();
    EXPECT_EQ(boxes[0].text, QString::fromLatin1(row.message));
    EXPECT_FALSE(boxes[0].busy); // idle first, then the box
    EXPECT_FALSE(dialog->m_busy);
}

const GraphFailureRow kGraphFailures[] = {
    // A file that cannot be written to the end is no temporary AVI for the converter.
    {"DiskFull",
     "Could not run compression graph\nThe disk is full: /dev/full could not be written.",
     nullptr,
     "/dev/full"},
    {"NoRenderEngine", "Could not build the compression graph", &engine::CLSID_RenderEngine},
    {"NoVideoGrabber", "Could not create SampleGrabber.", &engine::CLSID_SampleGrabber},
    // No seconds per photo and no music played to its end: no movie rather than an empty one.
    {"ZeroLengthMovie",
     "The movie would be zero seconds long. Please show each photo for at least one second.",
     nullptr,
     nullptr,
     0},
};

INSTANTIATE_TEST_SUITE_P(Steps, GraphFailure, ::testing::ValuesIn(kGraphFailures), RowName());

} // namespace
