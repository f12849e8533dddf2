#include "selection_fixture.h"

#include <QFile>

using namespace ids;
using selection_test::SelectionFixture;
using testing_support::PromptRecord;

namespace {

class MusicAndOutput : public SelectionFixture, public ::testing::Test
{
protected:
    void SetUp() override { OpenWindow(); }

    void ChooseMusic(std::optional<QString> file)
    {
        prompter.QueueFile(std::move(file));
        Click(IDC_CHOOSE_MUSIC);
    }

    // Gives the music field the keyboard focus, then tabs away from it.
    void TabThroughMusicField()
    {
        auto field = dialog->Control<QLineEdit>(IDC_MUSIC_FILE);
        field->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClick(field, Qt::Key_Tab);
        QApplication::processEvents();
        ASSERT_FALSE(field->hasFocus());
    }

    bool ActivateWindow()
    {
        dialog->activateWindow();
        return QTest::qWaitForWindowActive(dialog.get());
    }
};

TEST_F(MusicAndOutput, ChoosingTwiceKeepsOnlyTheSecondAndCancelKeepsIt)
{
    const QString folder = MakeFolder(QStringLiteral("music"));
    const QString first = MakeFile(folder, QStringLiteral("first.wav"), 9);
    const QString second = MakeFile(folder, QStringLiteral("second.wma"), 9);
    ChooseMusic(first);
    ChooseMusic(second);
    EXPECT_EQ(dialog->m_musicFiles, QStringList{second});
    EXPECT_EQ(Text(IDC_MUSIC_FILE), second);
    ChooseMusic(std::nullopt);
    EXPECT_EQ(dialog->m_musicFiles, QStringList{second});
    EXPECT_EQ(Text(IDC_MUSIC_FILE), second);
}

TEST_F(MusicAndOutput, LeavingTheMusicFieldAppendsAnotherCopyOfAnExistingFile)
{
    ASSERT_TRUE(ActivateWindow());
    const QString song = MakeFile(MakeFolder(QStringLiteral("music")), QStringLiteral("a.mp3"), 9);
    ChooseMusic(song);
    TabThroughMusicField();
    EXPECT_EQ(dialog->m_musicFiles, (QStringList{song, song}));
    TabThroughMusicField();
    EXPECT_EQ(dialog->m_musicFiles, (QStringList{song, song, song}));

    // A file that has gone since it was chosen is not appended; the list keeps its entries.
    ASSERT_TRUE(QFile::remove(song));
    TabThroughMusicField();
    EXPECT_EQ(dialog->m_musicFiles, (QStringList{song, song, song}));

    // An empty field empties the list. Trailing blanks do not count.
    dialog->SetControlText(IDC_MUSIC_FILE, QStringLiteral("   "));
    TabThroughMusicField();
    EXPECT_TRUE(dialog->m_musicFiles.isEmpty());
}

struct OutputCase
{
    const char *name;
    const char *folder; // under the scratch folder; "/" is the root itself
    const char *extension;
    const char *expected; // "%1" is the scratch folder
};

class OutputProposal : public MusicAndOutput, public ::testing::WithParamInterface<OutputCase>
{};

TEST_P(OutputProposal, ReplacesTheOutputFieldWithOutputDotExtensionInTheFolder)
{
    const OutputCase &c = GetParam();
    const QString folder = QString::fromLatin1(c.folder) == QStringLiteral("/")
                               ? QStringLiteral("/")
                               : MakeFolder(QString::fromLatin1(c.folder));
    dialog->SetControlText(IDC_OUTPUT, QStringLiteral("typed by the user"));
    dialog->m_outputExt = QString::fromLatin1(c.extension);
    prompter.QueueFolder(folder);
    Click(IDC_CHOOSE_OUTPUT);
    QString expected = QString::fromLatin1(c.expected);
    expected.replace(QStringLiteral("%1"), env.ScratchDir());
    EXPECT_EQ(Text(IDC_OUTPUT), expected);
    // The proposal stays a proposal until "GO".
    EXPECT_TRUE(dialog->m_outputPath.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Folders,
    OutputProposal,
    ::testing::Values(OutputCase{"Folder", "Videos", "mp4", "%1/Videos/Output.mp4"},
                      OutputCase{"NestedFolder", "a/b c", "mp4", "%1/a/b c/Output.mp4"},
                      OutputCase{"Root", "/", "mp4", "/Output.mp4"},
                      OutputCase{"OtherExtension", "Videos", "avi", "%1/Videos/Output.avi"}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
