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
const QString kM1 = QStringLiteral(
    "Could not add selected compressor to the graph.\r\n\r\nThe input file format may not be "
    "compatible with the selected encoder.\r\nSome encoders (like Windows Media encoders or "
    "DRM-enabled encoders)\r\ncannot be used without appropriate licensing.");
const QString kM2 = QStringLiteral(
    "Could not connect video to selected compressor.\r\n\r\nThe input file format may not be "
    "compatible with the\r\nselected encoder.  Not all encoders are compatible.");
const QString kM3 = QStringLiteral(
    "Could not connect compressor to mux.\r\n\r\nThe selected compressor may not be compatible "
    "with this content.\r\nSome encoders (like Windows Media encoders or DRM-enabled "
    "encoders)\r\ncannot be used without appropriate licensing.");
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

enum class Song { Wav, Mp3, Wma };

struct AviRow
{
    const char *name;
    Song song;
    bool preferredInstalled; // else the codec prompt is answered No and a fallback is used
    bool effect;
    const char *videoCodec;
    const char *audioCodec;
    QStringList expectedFilters;
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
    }
    // Two photos of 1 s: V = 3 s, the music part T = 3 s, the video 4 s.
    PrepareJob(2, music, 1);
    dialog->m_addMotionEffect = row.effect;
    UseWrappedEngine(); // refusing nothing: only watching which filters go in

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(Busy()); // the conversion stage follows
    EXPECT_EQ(graph->addedFilters.filter(QRegularExpression(QStringLiteral("Grabber|Compressor"))),
              row.expectedFilters);
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
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    TemporaryAvi,
    ::testing::Values(
        // Not MPEG audio: through the audio compressor.
        AviRow{"WavThroughTheAudioCompressor",
               Song::Wav,
               true,
               true,
               "mpeg4",
               "mp3",
               {"VideoGrabber", "Compressor", "AudioGrabber", "CompressorAudio"}},
        AviRow{"WmaThroughTheAudioCompressor",
               Song::Wma,
               true,
               false,
               "mpeg4",
               "mp3",
               {"VideoGrabber", "Compressor", "AudioGrabber", "CompressorAudio"}},
        // MPEG audio passes by the compressor, which is still looked for and added.
        AviRow{"Mp3PassesByTheAudioCompressor",
               Song::Mp3,
               true,
               true,
               "mpeg4",
               "pcm_s16le",
               {"VideoGrabber", "Compressor", "AudioGrabber", "CompressorAudio"}},
        AviRow{"FallbackCompressorWhenThePromptIsAnsweredNo",
               Song::Wav,
               false,
               false,
               "cinepak",
               "mp3",
               {"VideoGrabber", "Compressor", "AudioGrabber", "CompressorAudio"}}),
    RowName());

TEST_F(StageTest, TheRealEngineWithoutWrappersMakesTheSameMovie)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(3, MakeWav(QStringLiteral("song.wav"), 2), 1);
    dialog->m_playWholeMusic = 1; // 2 s of music, shorter than V = 4: two whole plays

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    const AviFacts avi = ProbeAvi(dialog->m_tempAviPath);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.videoCodec, QStringLiteral("mpeg4"));
    EXPECT_EQ(avi.audioCodec, QStringLiteral("mp3"));
    EXPECT_EQ(avi.videoFrames, FramesIn(5.0)); // T = 4, plus one photo's time
}

// An undecodable photo shows as black; the run goes on and the movie keeps its length.
TEST_F(StageTest, AnUndecodablePhotoDoesNotStopTheRun)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(2, MakeWav(QStringLiteral("song.wav"), 1), 1);
    const QString broken = env.ScratchDir() + QStringLiteral("/broken.jpg");
    ASSERT_TRUE(testmedia::SaveCorruptPhoto(broken));
    dialog->m_photoPaths.insert(1, broken);

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(prompter.Texts().isEmpty());
    const AviFacts avi = ProbeAvi(dialog->m_tempAviPath);
    EXPECT_EQ(avi.videoFrames, FramesIn(5.0));
}

// A file that cannot be written to the end (here: a full device) stops the run instead
// of handing a cut-off file to the conversion.
TEST_F(StageTest, AGraphThatFailsWhileStreamingStopsTheRun)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(3, MakeWav(QStringLiteral("song.wav"), 3), 2);
    dialog->m_tempAviPath = QStringLiteral("/dev/full");

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    ASSERT_EQ(prompter.Texts(), QStringList{QStringLiteral("Could not run compression graph")});
    EXPECT_FALSE(prompter.Boxes().front().busy);
    EXPECT_EQ(dialog->m_busy, 0);
}

// No seconds per photo, but the whole music plays: the last photo fills the movie.
TEST_F(StageTest, ZeroSecondsPerPhotoWithTheWholeMusicMakesAMovieOfTheMusic)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(3, MakeWav(QStringLiteral("song.wav"), 2), 0);
    dialog->m_playWholeMusic = 1;

    ASSERT_TRUE(dialog->RenderSlideshowToAvi());
    EXPECT_TRUE(prompter.Texts().isEmpty());
    const AviFacts avi = ProbeAvi(dialog->m_tempAviPath);
    EXPECT_EQ(avi.videoFrames, FramesIn(2.0));
}

// ---- Failures of the compression graph -------------------------------------------------

struct GraphFailureRow
{
    const char *name;
    std::function<void(StageTest &, Refusals &)> arrange;
    QString message;
    bool idleFirst = true;
    Song song = Song::Wav;
};

class GraphFailure : public StageTest, public ::testing::WithParamInterface<GraphFailureRow>
{
public:
    Refusals &Refuse() { return *refusals; }
};

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
    row.arrange(*this, *refusals);

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << prompter.Texts().join(u'|').toStdString();
    EXPECT_EQ(boxes[0].record.text, row.message);
    EXPECT_EQ(boxes[0].record.kind, testing_support::PromptRecord::AppBox);
    EXPECT_EQ(boxes[0].busy, !row.idleFirst);
    EXPECT_FALSE(Busy());
    EXPECT_EQ(dialog->Control<QPushButton>(ids::IDC_GO)->text(), QStringLiteral("GO"));
    EXPECT_EQ(dialog->m_progress->value(), 0);
    EXPECT_EQ(graph->waits, 0); // the graph never ran
}

// Connections are counted in the graph: the first is the capture graph builder's own, of
// the multiplexer to the file writer; then the video chain's three; then the audio's.
void Refuse(Refusals &r, const char *call, int occurrence = 1)
{
    r.Refuse(QString::fromLatin1(call), occurrence);
}

INSTANTIATE_TEST_SUITE_P(
    Steps,
    GraphFailure,
    ::testing::Values(
        // Without a render engine or a graph builder there is no graph to build.
        GraphFailureRow{"NoRenderEngine",
                        [](StageTest &, Refusals &) {
                            platform::UnregisterBuiltInClass(engine::CLSID_RenderEngine);
                        },
                        QStringLiteral("Could not build the compression graph")},
        GraphFailureRow{"NoCaptureGraphBuilder",
                        [](StageTest &, Refusals &) {
                            platform::UnregisterBuiltInClass(engine::CLSID_CaptureGraphBuilder2);
                        },
                        QStringLiteral("Could not build the compression graph")},
        GraphFailureRow{"NoVideoGrabber",
                        [](StageTest &, Refusals &) {
                            platform::UnregisterBuiltInClass(engine::CLSID_SampleGrabber);
                        },
                        QStringLiteral("Could not create SampleGrabber.")},
        GraphFailureRow{"GrabberTypeRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "grabber.SetMediaType"); },
                        QStringLiteral("Could not set sample grabber's media type")},
        GraphFailureRow{"NoMuxAndWriter",
                        [](StageTest &, Refusals &r) { Refuse(r, "builder.SetOutputFileName"); },
                        QStringLiteral("Cannot set up MUX and File Writer")},
        GraphFailureRow{"VideoGrabberNotAdded",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.AddFilter.VideoGrabber"); },
                        QStringLiteral("Could not add VideoGrabber to the graph")},
        GraphFailureRow{"CompressorNotAdded",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.AddFilter.Compressor"); },
                        kM1},
        GraphFailureRow{"NoGroupPin",
                        [](StageTest &, Refusals &r) {
                            Refuse(r, "engine.GetGroupOutputPin.0");
                            Refuse(r, "engine.GetGroupOutputPin.1");
                        },
                        QStringLiteral("Failed to find the source pin")},
        // The video group refuses its pin, so the audio group's pin is offered to the
        // video grabber, which takes only 24-bit RGB.
        GraphFailureRow{"AudioPinOfferedToTheVideoChain",
                        [](StageTest &, Refusals &r) { Refuse(r, "engine.GetGroupOutputPin.0"); },
                        QStringLiteral("Cannot connect up video chain")},
        GraphFailureRow{"VideoChainRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 2); },
                        QStringLiteral("Cannot connect up video chain")},
        GraphFailureRow{"GrabberToCompressorRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 3); },
                        kM2},
        GraphFailureRow{"CompressorToMuxRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 4); },
                        kM3},
        GraphFailureRow{"NoAudioPin",
                        [](StageTest &, Refusals &r) { Refuse(r, "engine.GetGroupOutputPin.1"); },
                        QStringLiteral("Cannot connect up audio chain")},
        GraphFailureRow{"NoAudioGrabber",
                        [](StageTest &, Refusals &) {
                            FailCreationFrom(
                                engine::CLSID_SampleGrabber, 2, engine::CreateSampleGrabber);
                        },
                        QStringLiteral("Could not create SampleGrabber from Qedit.dll")},
        GraphFailureRow{"AudioGrabberNotAdded",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.AddFilter.AudioGrabber"); },
                        QStringLiteral("Could not add audio filter to graph")},
        GraphFailureRow{
            "AudioCompressorNotAdded",
            [](StageTest &, Refusals &r) { Refuse(r, "graph.AddFilter.CompressorAudio"); },
            kM1},
        GraphFailureRow{"AudioSourceToGrabberRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 5); },
                        QStringLiteral("Could not connect audio source to grabber")},
        // Connection 6 (grabber to compressor) is not looked at; 7 is the one to the mux.
        GraphFailureRow{"AudioCompressorToMuxRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 7); },
                        QStringLiteral("Could not connect audio to mux")},
        GraphFailureRow{"AudioStraightToMuxRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Connect", 6); },
                        QStringLiteral("Could not connect audio to mux"),
                        true,
                        Song::Mp3},
        GraphFailureRow{"NoSeekingCapabilities",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.GetCapabilities"); },
                        QStringLiteral("Could not read input file seeking capabilities")},
        GraphFailureRow{"InterleavingModeRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "mux.put_Mode"); },
                        QStringLiteral("Could not set interleaving mode")},
        GraphFailureRow{"InterleaveTimeRefused",
                        [](StageTest &, Refusals &r) { Refuse(r, "mux.put_Interleaving"); },
                        QStringLiteral("Could not put interleave time")},
        GraphFailureRow{"GraphDoesNotRun",
                        [](StageTest &, Refusals &r) { Refuse(r, "graph.Run"); },
                        QStringLiteral("Could not run compression graph")}),
    RowName());

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
    ASSERT_EQ(boxes.size(), 3u) << prompter.Texts().join(u'|').toStdString();
    // Asked twice: once more after "qcap.dll" was registered.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(boxes[i].record.text, kCodecPrompt);
        EXPECT_EQ(boxes[i].record.caption, QStringLiteral("Warning"));
        EXPECT_EQ(boxes[i].record.buttons, platform::MessageButtons::YesNo);
        EXPECT_EQ(boxes[i].record.icon, platform::MessageIcon::None);
        EXPECT_FALSE(boxes[i].busy);
    }
    EXPECT_EQ(boxes[2].record.text, kNoCodecMessage);
    EXPECT_EQ(boxes[2].record.kind, testing_support::PromptRecord::AppBox);
    EXPECT_TRUE(boxes[2].busy);
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
        // A name without a dot divides by 4; a dot in a folder name counts as one.
        ProgressRow{"NoDotDividesByFour", "song", 100'000'000, {6}, {15}, false},
        ProgressRow{"DotInFolderDividesBySix", "My.Music/song", 100'000'000, {6}, {10}, false},
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
