// "GO": the large-photo-set warning, typed music, and Enter.
// Whole runs through "GO" are in the batch movie tests, which drive the same window.

#include "window_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using platform::MessageResult;

namespace {

const QString kWarning = QStringLiteral("Please do not increase more than 60 megabytes of photos, "
                                        "otherwise may fail. Do you want to continue?");
const QString kNoMusic = QStringLiteral("Please select a background music.");

struct VolumeRow
{
    qint64 bytes;
    std::optional<MessageResult> answer;
    QStringList boxes;
    friend void PrintTo(const VolumeRow &row, std::ostream *os) { *os << row.bytes; }
};

class PhotoVolume : public WindowTest, public ::testing::WithParamInterface<VolumeRow>
{};

TEST_P(PhotoVolume, MoreThanSixtyMillionBytesAsksFirst)
{
    const VolumeRow &row = GetParam();
    // A listed photo of that size on disk (sparse: it takes no room); GO counts what is there.
    const QString photo = testing_support::WriteFile(scratch + "/big.jpg", "");
    ASSERT_TRUE(QFile::resize(photo, row.bytes));
    dialog->m_photoPaths = QStringList{photo};
    if (row.answer)
        prompter.QueueAnswer(*row.answer);
    dialog->SetControlText(ids::IDC_OUTPUT, scratch + "/clip");
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_EQ(prompter.BoxTexts(), row.boxes);
    // Only a run that went on has settled the movie's path.
    EXPECT_EQ(dialog->m_outputPath.isEmpty(), !row.boxes.contains(kNoMusic));
    EXPECT_FALSE(dialog->m_busy);
}

INSTANTIATE_TEST_SUITE_P(
    Threshold,
    PhotoVolume,
    ::testing::Values(VolumeRow{60000000, std::nullopt, {kNoMusic}},
                      VolumeRow{60000001, MessageResult::Cancel, {kWarning}},
                      VolumeRow{5000000000LL, MessageResult::Ok, {kWarning, kNoMusic}}));

TEST_F(WindowTest, TypedMusicIsTakenOnlyWhenTheFileExists)
{
    const QString music = testing_support::WriteFile(scratch + "/song.mp3", "ID3");
    dialog->SetControlText(ids::IDC_MUSIC_FILE, scratch + "/missing.mp3");
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_TRUE(dialog->m_musicFiles.isEmpty());
    dialog->SetControlText(ids::IDC_MUSIC_FILE, music);
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_EQ(dialog->m_musicFiles, QStringList{music});
    EXPECT_EQ(prompter.BoxTexts(),
              QStringList({kNoMusic, QStringLiteral("Please select photos before starting.")}));
}

// Enter is "GO" (Enter while a run is under way is the window's tests): the run settles
// the path before the render finds no music; the old movie stays, as no new one was made.
TEST_F(WindowTest, EnterStartsARun)
{
    testing_support::WriteFile(scratch + "/clip.mp4", "an older movie");
    dialog->SetControlText(ids::IDC_OUTPUT, scratch + "/clip");
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(prompter.BoxTexts(), QStringList{kNoMusic});
    EXPECT_EQ(dialog->m_outputPath, scratch + "/clip.mp4");
    EXPECT_EQ(QDir(scratch).entryList(QDir::Files), QStringList{"clip.mp4"});
    EXPECT_EQ(QFileInfo(scratch + "/clip.mp4").size(), 14);
}

} // namespace
