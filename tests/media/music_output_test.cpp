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

TEST_F(MusicAndOutput, TheMusicChooserAsksForAnExistingFileWithTheFiveFilters)
{
    const QString song = MakeFile(MakeFolder(QStringLiteral("music")), QStringLiteral("a.mp3"), 9);
    ChooseMusic(song);
    const std::vector<PromptRecord> records = prompter.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, PromptRecord::OpenFile);
    EXPECT_EQ(records[0].text,
              QStringLiteral("mp3 file|*.mp3|wma file|*.wma|wave file|*.wav|"
                             "mpg file|*.mpg|All Files|*.*||"));
    EXPECT_EQ(records[0].owner, dialog.get());
    EXPECT_EQ(Text(IDC_MUSIC_FILE), song);
    EXPECT_EQ(dialog->m_musicFiles, QStringList{song});
}

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

TEST_F(MusicAndOutput, LeavingTheMusicFieldIgnoresTrailingBlanksOfAnExistingFile)
{
    ASSERT_TRUE(ActivateWindow());
    const QString song = MakeFile(MakeFolder(QStringLiteral("music")), QStringLiteral("b.mpg"), 9);
    dialog->SetControlText(IDC_MUSIC_FILE, song + QStringLiteral("  "));
    TabThroughMusicField();
    EXPECT_EQ(dialog->m_musicFiles, QStringList{song});
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

TEST_F(MusicAndOutput, ACancelledOutputChooserLeavesTheTypedText)
{
    dialog->SetControlText(IDC_OUTPUT, QStringLiteral("/home/me/film.mp4"));
    Click(IDC_CHOOSE_OUTPUT); // nothing queued: cancelled
    EXPECT_EQ(Text(IDC_OUTPUT), QStringLiteral("/home/me/film.mp4"));
    ASSERT_EQ(prompter.Records().size(), 1u);
    EXPECT_EQ(prompter.Records()[0].kind, PromptRecord::Folder);
}

// Where a chooser opens: the box's own folder, else the user's folder of its kind, else home.
struct StartCase
{
    const char *name;
    int box;
    int button;
    bool userDirs;        // user-dirs.dirs names Tunes, Shots and Films under home
    const char *held;     // the box's text; %1 is the scratch folder
    const char *expected; // %1 the scratch folder, %2 home
};

class ChooserStart : public MusicAndOutput, public ::testing::WithParamInterface<StartCase>
{};

TEST_P(ChooserStart, OpensWhereTheUsersFilesAre)
{
    const StartCase &c = GetParam();
    const QString home = env.HomeDir();
    env.Set("HOME", home);
    env.Set("XDG_CONFIG_HOME", env.Root() + QStringLiteral("/config"));
    QDir().mkpath(env.Root() + QStringLiteral("/config"));
    if (c.userDirs) {
        testing_support::WriteFile(
            env.Root() + QStringLiteral("/config/user-dirs.dirs"),
            "XDG_MUSIC_DIR=\"$HOME/Tunes\"\nXDG_PICTURES_DIR=\"$HOME/Shots\"\n"
            "XDG_VIDEOS_DIR=\"$HOME/Films\"\n");
        for (const char *dir : {"/Tunes", "/Shots", "/Films"})
            QDir().mkpath(home + QLatin1String(dir));
    }
    MakeFolder(QStringLiteral("trip"));
    dialog->SetControlText(c.box, QString::fromLatin1(c.held).replace("%1", env.ScratchDir()));
    Click(c.button); // nothing queued: cancelled
    ASSERT_FALSE(prompter.Records().empty());
    EXPECT_EQ(prompter.Records().back().startFolder,
              QString::fromLatin1(c.expected).replace("%1", env.ScratchDir()).replace("%2", home));
}

INSTANTIATE_TEST_SUITE_P(
    Choosers,
    ChooserStart,
    ::testing::Values(
        StartCase{"MusicAtHomeWithoutUserDirs", IDC_MUSIC_FILE, IDC_CHOOSE_MUSIC, false, "", "%2"},
        StartCase{"MusicInUserMusic", IDC_MUSIC_FILE, IDC_CHOOSE_MUSIC, true, "", "%2/Tunes"},
        StartCase{
            "MusicBesideTheChosenFile", IDC_MUSIC_FILE, IDC_CHOOSE_MUSIC, true, "%1/a.mp3", "%1"},
        StartCase{"PhotosInUserPictures", IDC_PHOTO_FOLDERS, IDC_ADD_PHOTOS, true, "", "%2/Shots"},
        StartCase{"PhotosBesideTheLastFolder",
                  IDC_PHOTO_FOLDERS,
                  IDC_ADD_PHOTOS,
                  true,
                  "/x;%1/trip",
                  "%1"},
        StartCase{
            "OutputInUserVideos", IDC_OUTPUT, IDC_CHOOSE_OUTPUT, true, "%1/gone/m.mp4", "%2/Films"},
        StartCase{"OutputBesideTheMovie", IDC_OUTPUT, IDC_CHOOSE_OUTPUT, false, "%1/m.mp4", "%1"}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
