// The slideshow timeline as the stage builds it from the window's state, read back through
// the engine's own timeline objects; and the stage's timeline failures with their boxes.

#include "stage_fixture.h"

#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"
#include "production/render_stage.h"

#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace stagetest {
namespace {

using engine::ComPtr;
using engine::IAMTimelineObj;
using engine::ReferenceTime;

ReferenceTime Units(double seconds)
{
    return static_cast<ReferenceTime>(std::llround(seconds * engine::kUnitsPerSecond));
}

struct Clip
{
    ReferenceTime start = 0, stop = 0, mediaStart = 0, mediaStop = 0;
    QString name;
    int stretch = -1;
    bool operator==(const Clip &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Clip &c)
{
    return os << "[" << c.start / 1e7 << ", " << c.stop / 1e7 << "] media [" << c.mediaStart / 1e7
              << ", " << c.mediaStop / 1e7 << "] " << c.name.toStdString() << " mode " << c.stretch;
}

struct Transition
{
    ReferenceTime start = 0, stop = 0;
    engine::Guid kind;
};

// Reads a group back: per track (in priority order) its one source and its transitions.
struct GroupContents
{
    std::vector<Clip> clips;
    std::vector<Transition> transitions;
    std::vector<int> sourcesPerTrack;
};

GroupContents ReadGroup(engine::IAMTimeline *timeline, long index)
{
    GroupContents contents;
    ComPtr<IAMTimelineObj> group;
    EXPECT_EQ(timeline->GetGroup(&group, index), platform::S_OK);
    if (!group)
        return contents;
    const auto comp = group.As<engine::IAMTimelineComp>();
    long tracks = 0;
    comp->VTrackGetCount(&tracks);
    for (long t = 0; t < tracks; ++t) {
        ComPtr<IAMTimelineObj> track;
        comp->GetVTrack(&track, t);
        std::vector<ComPtr<IAMTimelineObj>> sources;
        track.As<engine::IAMTimelineTrack>()->GetSources(&sources);
        contents.sourcesPerTrack.push_back(static_cast<int>(sources.size()));
        for (const auto &source : sources) {
            Clip clip;
            source->GetStartStop(&clip.start, &clip.stop);
            const auto src = source.As<engine::IAMTimelineSrc>();
            src->GetMediaTimes(&clip.mediaStart, &clip.mediaStop);
            src->GetMediaName(&clip.name);
            src->GetStretchMode(&clip.stretch);
            contents.clips.push_back(clip);
        }
        std::vector<ComPtr<IAMTimelineObj>> transitions;
        track.As<engine::IAMTimelineTransable>()->GetTransitions(&transitions);
        for (const auto &node : transitions) {
            Transition transition;
            node->GetStartStop(&transition.start, &transition.stop);
            node->GetSubObjectGUID(&transition.kind);
            contents.transitions.push_back(transition);
        }
    }
    return contents;
}

// ---- The layout rule, over real music files ------------------------------------------

enum class Music { Wav, NoAudioStream, NoDetector };

struct LayoutRow
{
    const char *name;
    int photos;
    int seconds;
    Music music;
    double musicSeconds; // of the WAV
    bool playWhole;
    bool effect;
    double lastPhotoStop;  // T + s
    int musicClips;        // laid out
    double musicEnd;       // T
    double lastMusicStart; // of the last clip
};

class TimelineLayout : public StageTest, public ::testing::WithParamInterface<LayoutRow>
{};

TEST_P(TimelineLayout, PhotosOverlapTransitionsAlternateAndMusicFillsTheMovie)
{
    const LayoutRow &row = GetParam();
    OpenWindow();
    QString music;
    if (row.music == Music::NoAudioStream)
        music = MakePhoto(QStringLiteral("cover.jpg"), Qt::gray); // a picture, no sound
    else
        music = MakeWav(QStringLiteral("music.wav"), row.musicSeconds);
    PrepareJob(row.photos, music, row.seconds);
    dialog->m_playWholeMusic = row.playWhole;
    dialog->m_addMotionEffect = row.effect;
    if (row.music == Music::NoDetector)
        platform::UnregisterBuiltInClass(engine::CLSID_MediaDet);

    dialog->SetIdle(false);
    ComPtr<engine::IAMTimeline> timeline;
    ComPtr<engine::IMediaDet> detector;
    ASSERT_TRUE(production::BuildSlideshowTimeline(*dialog, timeline, detector));
    EXPECT_TRUE(Busy());
    if (row.music == Music::NoDetector)
        EXPECT_EQ(prompter.Texts(), QStringList{QStringLiteral("Could not create CLSID_MediaDet")});
    else
        EXPECT_TRUE(prompter.Texts().isEmpty()) << prompter.Texts().join(u'|').toStdString();

    long groups = 0;
    timeline->GetGroupCount(&groups);
    ASSERT_EQ(groups, 2);
    double fps = 0;
    timeline->GetDefaultFPS(&fps);
    EXPECT_DOUBLE_EQ(fps, 29.97);

    // Video: photo i on track i over [i*s, (i+2)*s], the last one to T + s.
    const GroupContents video = ReadGroup(timeline.Get(), 0);
    ASSERT_EQ(video.clips.size(), static_cast<std::size_t>(row.photos));
    EXPECT_EQ(video.sourcesPerTrack, std::vector<int>(row.photos, 1));
    const ReferenceTime s = Units(row.seconds);
    for (int i = 0; i < row.photos; ++i) {
        Clip expected;
        expected.start = i * s;
        expected.stop = i == row.photos - 1 ? Units(row.lastPhotoStop) : (i + 2) * s;
        expected.mediaStop = expected.stop - expected.start;
        expected.name = dialog->m_photoPaths.at(i);
        expected.stretch = engine::RESIZEF_PRESERVEASPECTRATIO;
        EXPECT_EQ(video.clips[i], expected) << "photo " << i;
    }
    // Transitions over the first s seconds of each photo: wipe, dissolve, wipe, ...
    if (row.effect) {
        ASSERT_EQ(video.transitions.size(), static_cast<std::size_t>(row.photos));
        for (int i = 0; i < row.photos; ++i) {
            EXPECT_EQ(video.transitions[i].start, i * s) << i;
            EXPECT_EQ(video.transitions[i].stop, (i + 1) * s) << i;
            EXPECT_EQ(video.transitions[i].kind,
                      i % 2 == 0 ? engine::CLSID_DxtJpeg : engine::CLSID_CrossFade)
                << i;
        }
    } else {
        EXPECT_TRUE(video.transitions.empty());
    }

    // Audio: plays end to end, each a whole play but the last, which ends at T.
    const GroupContents audio = ReadGroup(timeline.Get(), 1);
    ASSERT_EQ(audio.clips.size(), static_cast<std::size_t>(row.musicClips));
    const ReferenceTime play = Units(row.musicSeconds);
    for (int j = 0; j < row.musicClips; ++j) {
        Clip expected;
        expected.name = music;
        expected.stretch = engine::RESIZEF_STRETCH;
        if (j < row.musicClips - 1) {
            expected.start = j * play;
            expected.stop = (j + 1) * play;
            expected.mediaStop = play;
        } else {
            expected.start = Units(row.lastMusicStart);
            expected.stop = Units(row.musicEnd);
            expected.mediaStop = expected.stop - expected.start;
        }
        expected.stretch = audio.clips[j].stretch; // music has no picture to fit
        EXPECT_EQ(audio.clips[j], expected) << "play " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples,
    TimelineLayout,
    ::testing::Values(
        // N = 3, s = 4: V = 16.
        LayoutRow{"LongMusicPlayedWhole", 3, 4, Music::Wav, 60, true, true, 64, 1, 60, 0},
        LayoutRow{"ShortMusicRepeatedAndCut", 3, 4, Music::Wav, 5, false, true, 20, 4, 16, 15},
        // R = 128 plays, of which 70 are laid out; the 70th runs to T.
        LayoutRow{
            "TinyMusicCappedAt70Plays", 3, 4, Music::Wav, 0.125, false, true, 20, 70, 16, 8.625},
        LayoutRow{"MusicWithoutSound", 3, 4, Music::NoAudioStream, 0, true, true, 20, 1, 16, 0},
        LayoutRow{"NoMediaDetector", 3, 4, Music::NoDetector, 0, true, false, 20, 1, 16, 0},
        LayoutRow{"OnePhotoMusicCut", 1, 4, Music::Wav, 60, false, true, 12, 1, 8, 0}),
    RowName());

// ---- Runs that stop before the graph -----------------------------------------------------

TEST_F(StageTest, NoMusicOrNoPhotosStopsBeforeAnythingIsMade)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(1, MakeWav(QStringLiteral("m.wav"), 1), 1);
    const QStringList photos = dialog->m_photoPaths;

    dialog->m_musicFiles.clear();
    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    dialog->m_musicFiles = QStringList{env.ScratchDir() + QStringLiteral("/m.wav")};
    dialog->m_photoPaths.clear();
    EXPECT_FALSE(dialog->RenderSlideshowToAvi());

    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].record.text, QStringLiteral("Please select a background music."));
    EXPECT_EQ(boxes[1].record.text, QStringLiteral("Please select photos before starting."));
    for (const ShownBox &box : boxes) {
        EXPECT_EQ(box.record.kind, testing_support::PromptRecord::AppBox);
        EXPECT_FALSE(box.busy);
    }
    EXPECT_FALSE(Busy());
}

// No seconds per photo and no music to play to its end: a movie of no length is a
// failure, not an empty success.
TEST_F(StageTest, AZeroLengthMovieIsAFailure)
{
    InstallPreferredCompressor();
    OpenWindow();
    PrepareJob(3, MakeWav(QStringLiteral("m.wav"), 5), 0);
    dialog->m_playWholeMusic = 0;

    EXPECT_FALSE(dialog->RenderSlideshowToAvi());
    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].record.caption, QStringLiteral("Error"));
    EXPECT_TRUE(boxes[0].record.text.contains(QStringLiteral("zero seconds")));
    EXPECT_FALSE(boxes[0].busy);
    EXPECT_FALSE(Busy());
    EXPECT_FALSE(QFileInfo::exists(dialog->m_tempAviPath));
}

} // namespace
} // namespace stagetest
