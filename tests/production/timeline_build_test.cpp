// The slideshow timeline as the stage builds it from the window's state, read back through
// the engine's own timeline objects: the movie-length rule over real music files.

#include "window_fixture.h"

#include "engine/timeline/media_det.h"
#include "engine/timeline/timeline.h"
#include "platform/class_store.h"
#include "production/render_stage.h"

#include <cmath>

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
    QString media{};
    int stretch = -1;
    bool operator==(const Clip &) const = default;
};

// A group read back: per track (in priority order) its one source and its transitions.
struct GroupContents
{
    std::vector<Clip> clips;
    struct Transition
    {
        ReferenceTime start = 0, stop = 0;
        engine::Guid kind;
    };
    std::vector<Transition> transitions;
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
        for (const auto &source : sources) {
            Clip clip;
            source->GetStartStop(&clip.start, &clip.stop);
            const auto src = source.As<engine::IAMTimelineSrc>();
            src->GetMediaTimes(&clip.mediaStart, &clip.mediaStop);
            src->GetMediaName(&clip.media);
            src->GetStretchMode(&clip.stretch);
            contents.clips.push_back(clip);
        }
        std::vector<ComPtr<IAMTimelineObj>> transitions;
        track.As<engine::IAMTimelineTransable>()->GetTransitions(&transitions);
        for (const auto &node : transitions) {
            GroupContents::Transition transition;
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
    double lastPhotoStop; // T + s
    int musicClips;       // laid out
    double musicEnd;      // T
};

class TimelineLayout : public WindowTest, public ::testing::WithParamInterface<LayoutRow>
{};

TEST_P(TimelineLayout, PhotosOverlapTransitionsAlternateAndMusicFillsTheMovie)
{
    const LayoutRow &row = GetParam();
    PrepareJob(row.photos, QString(), row.seconds);
    // A picture has no sound.
    const QString music = row.music == Music::NoAudioStream ? dialog->m_photoPaths.at(0)
                                                            : MakeWav(row.musicSeconds);
    dialog->m_musicFiles = QStringList{music};
    dialog->m_playWholeMusic = row.playWhole;
    dialog->m_addMotionEffect = row.effect;
    if (row.music == Music::NoDetector)
        platform::UnregisterBuiltInClass(engine::CLSID_MediaDet);

    dialog->SetIdle(false);
    ComPtr<engine::IAMTimeline> timeline;
    ComPtr<engine::IMediaDet> detector;
    ASSERT_TRUE(production::BuildSlideshowTimeline(*dialog, timeline, detector));
    EXPECT_TRUE(dialog->m_busy);
    if (row.music == Music::NoDetector)
        EXPECT_EQ(prompter.BoxTexts(), QStringList{"Could not create CLSID_MediaDet"});
    else
        EXPECT_EQ(prompter.BoxTexts(), QStringList());

    // Video: photo i on track i over [i*s, (i+2)*s], the last one to T + s.
    const GroupContents video = ReadGroup(timeline.Get(), 0);
    ASSERT_EQ(video.clips.size(), static_cast<std::size_t>(row.photos)); // one a track
    const ReferenceTime s = Units(row.seconds);
    for (int i = 0; i < row.photos; ++i) {
        Clip expected{i * s, i + 1 < row.photos ? (i + 2) * s : Units(row.lastPhotoStop)};
        expected.mediaStop = expected.stop - expected.start;
        expected.media = dialog->m_photoPaths.at(i);
        expected.stretch = engine::RESIZEF_PRESERVEASPECTRATIO;
        EXPECT_EQ(video.clips[i], expected) << "photo " << i;
    }
    // Transitions over the first s seconds of each photo: wipe, dissolve, wipe, ...
    ASSERT_EQ(video.transitions.size(), row.effect ? std::size_t(row.photos) : 0u);
    for (std::size_t i = 0; i < video.transitions.size(); ++i) {
        EXPECT_EQ(video.transitions[i].start, ReferenceTime(i) * s) << i;
        EXPECT_EQ(video.transitions[i].stop, ReferenceTime(i + 1) * s) << i;
        EXPECT_EQ(video.transitions[i].kind,
                  i % 2 == 0 ? engine::CLSID_DxtJpeg : engine::CLSID_CrossFade)
            << i;
    }

    // Audio: plays end to end, each a whole play but the last, which ends at T.
    const GroupContents audio = ReadGroup(timeline.Get(), 1);
    ASSERT_EQ(audio.clips.size(), static_cast<std::size_t>(row.musicClips));
    const ReferenceTime play = Units(row.musicSeconds);
    for (int j = 0; j < row.musicClips; ++j) {
        Clip expected{j * play, j + 1 < row.musicClips ? (j + 1) * play : Units(row.musicEnd)};
        expected.mediaStop = expected.stop - expected.start;
        expected.media = music;
        expected.stretch = audio.clips[j].stretch; // music has no picture to fit
        EXPECT_EQ(audio.clips[j], expected) << "play " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Examples,
    TimelineLayout,
    ::testing::Values(
        // N = 3, s = 4: V = 16.
        LayoutRow{"LongMusicPlayedWhole", 3, 4, Music::Wav, 60, true, true, 64, 1, 60},
        // Neither longer nor shorter than V; then four plays that fill it exactly.
        LayoutRow{"MusicAsLongAsTheShow", 3, 4, Music::Wav, 16, true, true, 20, 1, 16},
        LayoutRow{"MusicFillsTheShowExactly", 3, 4, Music::Wav, 4, true, false, 20, 4, 16},
        LayoutRow{"ShortMusicRepeatedAndCut", 3, 4, Music::Wav, 5, false, true, 20, 4, 16},
        // R = 128 plays, of which 70 are laid out; the 70th runs to T.
        LayoutRow{"TinyMusicCappedAt70Plays", 3, 4, Music::Wav, 0.125, false, true, 20, 70, 16},
        LayoutRow{"MusicWithoutSound", 3, 4, Music::NoAudioStream, 0, true, true, 20, 1, 16},
        LayoutRow{"NoMediaDetector", 3, 4, Music::NoDetector, 0, true, false, 20, 1, 16},
        LayoutRow{"OnePhotoMusicCut", 1, 4, Music::Wav, 60, false, true, 12, 1, 8}),
    RowName());

} // namespace
