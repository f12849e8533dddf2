// Choosing the video compressor among the installed ones, classifying the music file,
// the progress divisor, and the message pump.

#include "stage_fixture.h"

#include "production/render_stage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace stagetest {
namespace {

using platform::MessageResult;

const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");

// Without the preferred compressor the user is asked once; the answer No takes a fallback.
TEST_F(StageTest, WithoutThePreferredCompressorTheAnswerNoTakesAFallback)
{
    OpenWindow();
    prompter.script.QueueAnswer(MessageResult::No);

    platform::ComPtr<engine::IBaseFilter> filter;
    EXPECT_TRUE(dialog->ChooseVideoCompressor(filter));
    EXPECT_TRUE(filter);
    const auto boxes = prompter.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].record.caption, QStringLiteral("Warning"));
    EXPECT_EQ(boxes[0].record.buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(boxes[0].record.text, kCodecPrompt);
}

// The answer Yes runs the installer shipped beside the program; one that cannot be started
// is reported, and a fallback is still taken.
TEST_F(StageTest, AnInstallerThatCannotStartLeavesTheFallbacks)
{
    OpenWindow();
    dialog->m_programDir = env.ScratchDir() + u'/';
    prompter.script.QueueAnswer(MessageResult::Yes);
    platform::ComPtr<engine::IBaseFilter> filter;
    EXPECT_TRUE(dialog->ChooseVideoCompressor(filter));
    EXPECT_TRUE(filter);
    const QStringList texts = prompter.Texts();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("Failed to install the wmv9VCMsetup.exe")));
}

// ---- The music file's kind and the progress divisor ------------------------------------

struct MusicNameRow
{
    const char *path;
    int kind;
    int divisor;
};
void PrintTo(const MusicNameRow &row, std::ostream *os)
{
    *os << row.path;
}

class MusicName : public StageTest, public ::testing::WithParamInterface<MusicNameRow>
{};

TEST_P(MusicName, GivesTheAudioKindAndTheProgressDivisor)
{
    const MusicNameRow &row = GetParam();
    OpenWindow();
    const QString path = QString::fromLatin1(row.path);
    // Asked with an empty path, the first music file counts.
    dialog->m_musicFiles = QStringList{path, QStringLiteral("/music/other.mp3")};
    EXPECT_EQ(dialog->GetAudioFileKind(QString()), row.kind);
    EXPECT_EQ(dialog->GetAudioFileKind(path), row.kind);
    EXPECT_EQ(production::ProgressDivisor(path), row.divisor);
}

INSTANTIATE_TEST_SUITE_P(Names,
                         MusicName,
                         ::testing::Values(MusicNameRow{"/music/song.MP3", 3, 4},
                                           MusicNameRow{"/music/song.Mpeg", 3, 6},
                                           MusicNameRow{"/music/song.mp2", 3, 6},
                                           MusicNameRow{"/music/song.wma", 0, 6},
                                           MusicNameRow{"/music/song.wav", 0, 4},
                                           MusicNameRow{"/music/song.mp3.txt", 0, 6},
                                           MusicNameRow{"/music/song", 0, 4},
                                           // The only dot is in a folder name.
                                           MusicNameRow{"/My.Music/song", 0, 6},
                                           // A dot in the first place does not count.
                                           MusicNameRow{".mp3", 0, 4}));

// ---- The message pump ------------------------------------------------------------------

// ---- The movie-length rule on its own ------------------------------------------------

struct LengthRow
{
    int photos, seconds;
    double music;
    bool whole;
    std::int64_t v, t, r;
};
void PrintTo(const LengthRow &row, std::ostream *os)
{
    *os << row.photos << " photos of " << row.seconds << " s, music of " << row.music << " s"
        << (row.whole ? " played whole" : "");
}

class MovieLengthRule : public ::testing::TestWithParam<LengthRow>
{};

TEST_P(MovieLengthRule, GivesSlideshowMusicPartAndPlays)
{
    const LengthRow &row = GetParam();
    const production::MovieLength length
        = production::ComputeMovieLength(row.photos, row.seconds, row.music, row.whole);
    EXPECT_EQ(length.slideshowSeconds, row.v);
    EXPECT_EQ(length.musicSeconds, row.t);
    EXPECT_EQ(length.plays, row.r);
}

INSTANTIATE_TEST_SUITE_P(
    Rows,
    MovieLengthRule,
    // The layouts themselves, over real music, are in TimelineLayout; here the edges.
    ::testing::Values(LengthRow{3, 4, 60, true, 16, 60, 1},
                      LengthRow{3, 4, 60.9, true, 16, 60, 1},
                      LengthRow{3, 4, 4, true, 16, 16, 4}, // 4 plays fill 16 exactly
                      LengthRow{3, 4, 0.125, true, 16, 16, 128},
                      LengthRow{3, 4, 16, true, 16, 16, 1}, // neither longer nor shorter
                      LengthRow{3, 4, 0, true, 16, 16, 1},
                      LengthRow{3, 4, -3, true, 16, 16, 1},
                      LengthRow{3, 0, 5, false, 0, 0, 1},
                      LengthRow{3, 0, 5, true, 0, 5, 1},
                      // An absurd length saturates instead of overflowing.
                      LengthRow{1, 4, 1e300, true, 8, INT64_MAX, 1}));

} // namespace
} // namespace stagetest
