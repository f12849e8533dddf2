// The whole stage on the real engine: temporary AVIs reopened with libavformat, the
// compression graph's failures one refused call at a time, the audio question, the
// progress bar and the close request during the wait.

#include "stage_fixture.h"

#include "engine/sample_grabber.h"
#include "engine/timeline.h"
#include "platform/class_store.h"
#include "production/render_stage.h"

#include <QElapsedTimer>
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

const QString kNoCodecMessage = QStringLiteral(
    "Vantorel will use the windows movie codec. Please install the Windows Media Player 11 or "
    "later.");
const char kM1[]
    = "Could not add selected compressor to the graph.\r\n\r\nThe input file format may not be "
      "compatible with the selected encoder.\r\nSome encoders (like Windows Media encoders or "
      "DRM-enabled encoders)\r\ncannot be used without appropriate licensing.";
const char kM2[]
    = "Could not connect video to selected compressor.\r\n\r\nThe input file format may not be "
      "compatible with the\r\nselected encoder.  Not all encoders are compatible.";
const char kM3[]
    = "Could not connect compressor to mux.\r\n\r\nThe selected compressor may not be compatible "
      "with this content.\r\nSome encoders (like Windows Media encoders or DRM-enabled "
      "encoders)\r\ncannot be used without appropriate licensing.";
const QString kM4 = QStringLiteral(
    "Could not get the duration of the source file.\r\n\r\nRecompression should work properly, "
    "but the\r\nprogress bar will not exactly track compression progress.");
const QString kAudioQuestion = QStringLiteral("The audio file can't be compressed. Continue?");
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
    UseWrappedEngine(); // refusing nothing: only watching which filters go in

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(Busy()); // the conversion stage follows
    // The audio compressor is looked for and added even where MPEG audio passes it by.
    EXPECT_EQ(graph->addedFilters.filter(QRegularExpression(QStringLiteral("Grabber|Compressor"))),
              (QStringList{QStringLiteral("VideoGrabber"),
                           QStringLiteral("Compressor"),
                           QStringLiteral("AudioGrabber"),
                           QStringLiteral("CompressorAudio")}));
    // The preferred compressor is taken without a prompt; else the first fallback.
    ASSERT_FALSE(devices->boundNames.isEmpty());
    EXPECT_EQ(devices->boundNames.front(),
              row.preferredInstalled ? kPreferredName : QStringLiteral("Cinepak Codec by Radius"));
    if (row.preferredInstalled) {
        EXPECT_TRUE(prompter.Texts().isEmpty()) << prompter.Texts().join(u'|').toStdString();
    } else {
        EXPECT_EQ(prompter.Texts(), QStringList{kCodecPrompt});
    }

    const AviFacts avi = ProbeAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format, QStringLiteral("avi"));
    EXPECT_EQ(avi.videoStreams, 1);
    EXPECT_EQ(avi.audioStreams, 1);
    EXPECT_EQ(avi.videoCodec, QString::fromLatin1(row.videoCodec));
    EXPECT_EQ(avi.audioCodec, QString::fromLatin1(row.audioCodec));
    EXPECT_EQ(avi.width, 320);
    EXPECT_EQ(avi.height, 240);
    EXPECT_NEAR(avi.frameRate, 30000.0 / 1001.0, 1e-3);
    EXPECT_EQ(avi.videoFrames, FramesIn(4.0));
    EXPECT_NEAR(avi.videoSeconds, 4.0, 0.04);
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
    bool brokenPhoto; // a photo that cannot be decoded, second in the list
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
    if (row.brokenPhoto) {
        const QString broken = env.ScratchDir() + QStringLiteral("/broken.jpg");
        ASSERT_TRUE(testmedia::SaveCorruptPhoto(broken));
        dialog->m_photoPaths.insert(1, broken);
    }

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(prompter.Texts().isEmpty()) << prompter.Texts().join(u'|').toStdString();
    const AviFacts avi = ProbeAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.videoCodec, QStringLiteral("mpeg4"));
    EXPECT_EQ(avi.audioCodec, QStringLiteral("mp3"));
    EXPECT_EQ(avi.videoFrames, FramesIn(row.movieSeconds));
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    RealEngineRun,
    ::testing::Values(
        // 2 s of music, shorter than V = 4: two whole plays; T = 4, plus one photo's time.
        RealRunRow{"SameMovieAsThroughTheWrappers", 3, 1, 2, true, false, 5},
        // An undecodable photo shows as black; the run goes on and keeps the movie's length.
        RealRunRow{"UndecodablePhotoDoesNotStopTheRun", 2, 1, 1, false, true, 5},
        // No seconds per photo, but the whole music plays: the last photo fills the movie.
        RealRunRow{"ZeroSecondsPerPhotoWithTheWholeMusic", 3, 0, 2, true, false, 2}),
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
    const char *refused; // the calls refused, separated by commas
    const char *message;
    int occurrence = 1;
    const engine::Guid *missing = nullptr; // a class that cannot be made
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
    UseWrappedEngine();
    for (const QString &call : QString::fromLatin1(row.refused).split(u',', Qt::SkipEmptyParts))
        refusals->Refuse(call, row.occurrence);
    // A class that cannot be made; one made several times (the grabber) fails from the
    // occurrence-th creation on.
    if (row.missing && row.occurrence > 1)
        FailCreationFrom(*row.missing, row.occurrence, engine::CreateSampleGrabber);
    else if (row.missing)
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
    EXPECT_EQ(graph->waits, 0); // the graph never ran
}

const char kNoGraph[] = "Could not build the compression graph";
const char kVideoChain[] = "Cannot connect up video chain";
const char kAudioToMux[] = "Could not connect audio to mux";

// Connections are counted in the graph: the first is the capture graph builder's own, of
// the multiplexer to the file writer; then the video chain's three; then the audio's.
const GraphFailureRow kGraphFailures[] = {
    // Without a render engine or a graph builder there is no graph to build.
    {"NoRenderEngine", "", kNoGraph, 0, &engine::CLSID_RenderEngine},
    {"NoCaptureGraphBuilder", "", kNoGraph, 0, &engine::CLSID_CaptureGraphBuilder2},
    {"NoVideoGrabber", "", "Could not create SampleGrabber.", 0, &engine::CLSID_SampleGrabber},
    {"NoAudioGrabber",
     "",
     "Could not create SampleGrabber from Qedit.dll",
     2,
     &engine::CLSID_SampleGrabber},
    {"GrabberTypeRefused", "grabber.SetMediaType", "Could not set sample grabber's media type"},
    {"NoMuxAndWriter", "builder.SetOutputFileName", "Cannot set up MUX and File Writer"},
    {"VideoGrabberNotAdded",
     "graph.AddFilter.VideoGrabber",
     "Could not add VideoGrabber to the graph"},
    {"CompressorNotAdded", "graph.AddFilter.Compressor", kM1},
    {"NoGroupPin",
     "engine.GetGroupOutputPin.0,engine.GetGroupOutputPin.1",
     "Failed to find the source pin"},
    // The video group refuses its pin, so the audio group's pin is offered to the
    // video grabber, which takes only 24-bit RGB.
    {"AudioPinOfferedToTheVideoChain", "engine.GetGroupOutputPin.0", kVideoChain},
    {"VideoChainRefused", "graph.Connect", kVideoChain, 2},
    {"GrabberToCompressorRefused", "graph.Connect", kM2, 3},
    {"CompressorToMuxRefused", "graph.Connect", kM3, 4},
    {"NoAudioPin", "engine.GetGroupOutputPin.1", "Cannot connect up audio chain"},
    {"AudioGrabberNotAdded", "graph.AddFilter.AudioGrabber", "Could not add audio filter to graph"},
    {"AudioCompressorNotAdded", "graph.AddFilter.CompressorAudio", kM1},
    {"AudioSourceToGrabberRefused",
     "graph.Connect",
     "Could not connect audio source to grabber",
     5},
    // Connection 6 (grabber to compressor) is not looked at; 7 is the one to the mux.
    {"AudioCompressorToMuxRefused", "graph.Connect", kAudioToMux, 7},
    {"AudioStraightToMuxRefused", "graph.Connect", kAudioToMux, 6, nullptr, Song::Mp3},
    {"NoSeekingCapabilities",
     "graph.GetCapabilities",
     "Could not read input file seeking capabilities"},
    {"InterleavingModeRefused", "mux.put_Mode", "Could not set interleaving mode"},
    {"InterleaveTimeRefused", "mux.put_Interleaving", "Could not put interleave time"},
    {"GraphDoesNotRun", "graph.Run", "Could not run compression graph"},
};

INSTANTIATE_TEST_SUITE_P(Steps, GraphFailure, ::testing::ValuesIn(kGraphFailures), RowName());

// The audio grabber's refused connection to an unused compressor is not an error.
TEST_F(StageTest, TheGrabberToAudioCompressorConnectionIsNotChecked)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(1, MakeWav(QStringLiteral("song.wav"), 1), 1);
    UseWrappedEngine();
    refusals->Refuse(QStringLiteral("graph.Connect"), 6);
    // The compressor's output then offers nothing the multiplexer could take.
    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    EXPECT_EQ(prompter.Texts(), QStringList{QStringLiteral("Could not connect audio to mux")});
    EXPECT_EQ(refusals->Count(QStringLiteral("graph.Connect")), 7);
}

// No video compressor even after the capture library is registered: the timeline is
// built and the graph partly assembled before the run stops, message first.
TEST_F(StageTest, WithoutAnyVideoCompressorTheRunStopsOnceTheGraphIsAssembled)
{
    OpenWindow();
    PrepareJob(2, MakeWav(QStringLiteral("song.wav"), 1), 1);
    UseWrappedEngine();
    devices->noVideoCompressors = true;

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 2u) << prompter.Texts().join(u'|').toStdString();
    // Asked once, though the compressors are looked for again after "qcap.dll" was
    // registered.
    EXPECT_EQ(boxes[0].record.text, kCodecPrompt);
    EXPECT_EQ(boxes[0].record.caption, QStringLiteral("Warning"));
    EXPECT_EQ(boxes[0].record.buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(boxes[0].record.icon, platform::MessageIcon::None);
    EXPECT_FALSE(boxes[0].busy);
    EXPECT_EQ(boxes[1].record.text, kNoCodecMessage);
    EXPECT_EQ(boxes[1].record.kind, testing_support::PromptRecord::AppBox);
    EXPECT_TRUE(boxes[1].busy);
    EXPECT_FALSE(Busy());
    EXPECT_EQ(refusals->Count(QStringLiteral("timeline.AddGroup")), 2);
    EXPECT_EQ(graph->addedFilters.filter(QRegularExpression(QStringLiteral("Grabber|Compressor"))),
              QStringList{QStringLiteral("VideoGrabber")});
    EXPECT_EQ(graph->waits, 0);
}

// ---- The audio question ----------------------------------------------------------------

TEST_F(StageTest, CancellingTheAudioQuestionStopsTheRunAndAsksAgainNextTime)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(1, MakeWav(QStringLiteral("song.wav"), 1), 1);
    UseWrappedEngine();
    devices->hiddenNames = QStringList{QStringLiteral("MPEG Layer-3")};
    prompter.script.QueueAnswer(MessageResult::Cancel);

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].record.text, kAudioQuestion);
    EXPECT_EQ(boxes[0].record.caption, QString());
    EXPECT_EQ(boxes[0].record.buttons, platform::MessageButtons::OkCancel);
    EXPECT_EQ(boxes[0].record.owner, dialog.get());
    EXPECT_TRUE(boxes[0].busy); // idle only after the answer
    EXPECT_FALSE(Busy());
    EXPECT_EQ(dialog->m_compressAudio, 1);
    EXPECT_EQ(graph->waits, 0);

    prompter.Clear();
    prompter.script.QueueAnswer(MessageResult::Cancel);
    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    EXPECT_EQ(prompter.Texts(), QStringList{kAudioQuestion});
}

TEST_F(StageTest, AcceptingUncompressedAudioLastsForLaterRuns)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(1, MakeWav(QStringLiteral("song.wav"), 1), 1);
    UseWrappedEngine();
    devices->hiddenNames = QStringList{QStringLiteral("MPEG Layer-3")};
    prompter.script.QueueAnswer(MessageResult::Ok);

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_EQ(prompter.Texts(), QStringList{kAudioQuestion});
    EXPECT_EQ(dialog->m_compressAudio, 0);
    EXPECT_EQ(ProbeAvi(dialog->m_tempAviPath).audioCodec, QStringLiteral("pcm_s16le"));

    // The next run neither asks nor looks for an audio compressor, even once one exists.
    devices->hiddenNames.clear();
    devices->boundNames.clear();
    graph->addedFilters.clear();
    prompter.Clear();
    dialog->SetIdle(true);
    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(prompter.Texts().isEmpty());
    EXPECT_EQ(devices->boundNames, QStringList{kPreferredName});
    EXPECT_FALSE(graph->addedFilters.contains(QStringLiteral("CompressorAudio")));
    EXPECT_EQ(ProbeAvi(dialog->m_tempAviPath).audioCodec, QStringLiteral("pcm_s16le"));
}

// ---- Progress and waiting ----------------------------------------------------------------

struct ProgressRow
{
    const char *name;
    const char *musicFile;
    std::optional<ReferenceTime> duration; // what the graph reports
    std::vector<double> positionSeconds;
    std::vector<int> expectedProgress;
    bool noDurationMessage;
};

class Progress : public StageTest, public ::testing::WithParamInterface<ProgressRow>
{};

TEST_P(Progress, FollowsThePositionDividedByTheDivisorUpToTheCap)
{
    const ProgressRow &row = GetParam();
    InstallPreferredCompressor();
    OpenWindow();
    const QString music
        = QString::fromLatin1(row.musicFile).endsWith(QLatin1String(".wma"))
              ? MakeMusic(QString::fromLatin1(row.musicFile), 1, testmedia::MusicKind::Wma)
              : MakeWav(QString::fromLatin1(row.musicFile), 1);
    PrepareJob(1, music, 1);
    UseWrappedEngine();
    graph->duration = row.duration;
    for (double p : row.positionSeconds)
        graph->positions.push_back(static_cast<ReferenceTime>(p * engine::kUnitsPerSecond));
    // Every scripted position is read after a wait that does not end the run.
    graph->timeoutsFirst = static_cast<int>(row.positionSeconds.size());
    std::vector<int> seen;
    graph->beforeWait = [&] {
        if (graph->waits > 1)
            seen.push_back(dialog->m_progress->value());
    };

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    seen.resize(std::min(seen.size(), row.expectedProgress.size()));
    EXPECT_EQ(seen, row.expectedProgress);
    if (row.noDurationMessage)
        EXPECT_EQ(prompter.Texts(), QStringList{kM4});
    else
        EXPECT_TRUE(prompter.Texts().isEmpty());
    EXPECT_TRUE(Busy());
}

INSTANTIATE_TEST_SUITE_P(
    Formula,
    Progress,
    ::testing::Values(
        // P x 100 / D / 4 with a reported duration of 10 s.
        ProgressRow{"WavDividesByFour", "song.wav", 100'000'000, {2, 6, 10}, {5, 15, 25}, false},
        // Any extension but mp3 and wav divides by 6.
        ProgressRow{"WmaDividesBySix", "song.wma", 100'000'000, {3, 6, 10}, {5, 10, 16}, false},
        // No duration: the message once, 20 s assumed, and the bar stops at 80.
        ProgressRow{"NoDurationAssumesTwentySeconds",
                    "song.wav",
                    0,
                    {2, 8, 64, 100},
                    {2, 10, 80, 80},
                    true}),
    RowName());

// Closing the window during the wait ends it within one slice: the graph is stopped and
// the stage still returns true (the conversion stage then finds the stop request).
TEST_F(StageTest, ClosingTheWindowDuringTheWaitEndsItWithinOneSlice)
{
    InstallPreferredCompressor();
    OpenWindow();
    // 60 s of music played whole: far more than one slice of rendering.
    PrepareJob(2, MakeWav(QStringLiteral("song.wav"), 60), 4);
    dialog->m_playWholeMusic = 1;
    dialog->m_highQuality = 1;
    UseWrappedEngine();
    prompter.script.QueueAnswer(MessageResult::Ok); // "Movie creating... exit it?"
    dialog->m_tempAviMade = true;                   // the run's own file
    graph->beforeWait = [this] {
        if (graph->waits == 1)
            QTimer::singleShot(0, dialog.get(), [this] { dialog->OnCancel(); });
    };

    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(graph->waits, 1);
    EXPECT_EQ(dialog->m_stopRequested, 1);
    EXPECT_EQ(prompter.Texts(),
              QStringList{QStringLiteral("Movie creating... Are you sure you want exit it?")});
    // The window's clean-up removed the unfinished file.
    EXPECT_FALSE(QFileInfo::exists(dialog->m_tempAviPath));
}

} // namespace
} // namespace stagetest
