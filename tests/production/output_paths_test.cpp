// The output-path rules, on real folders through the main window: what a typed text
// becomes, which folder is made, and what at the movie's path is refused. That planning
// changes none of the user's files is the output-path fuzz target's property.

#include "window_fixture.h"

#include "production/path_style.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

constexpr const char *kCannotCreateFolder
    = "Failed to create the directory. Please create the directory manually.";

struct PosixRow
{
    const char *name;
    const char *typed; // "$H" is the home folder
    const char *box;
    const char *outputPath;   // empty when the run stops
    const char *message = ""; // in the box
};

class PosixStylePaths : public WindowTest, public ::testing::WithParamInterface<PosixRow>
{
protected:
    void SetUp() override
    {
        home = env.HomeDir();
        QDir().mkpath(home + "/Movies");
        QDir().mkpath(home + "/my.folder");
        for (const char *file : {"/Movies/clip.avi", "/my.folder/clip", "/my.mp4", "/plainfile"})
            testing_support::WriteFile(home + file, "the user's");
        // Things at a movie's path that are not regular files of the user's.
        QDir().mkpath(home + "/x.mp4");
        QFile::link(home + "/my.mp4", home + "/link.mp4");
        mkfifo((home + "/fifo.mp4").toUtf8().constData(), 0600);
        WindowTest::SetUp();
    }

    QString Expand(const char *text) const
    {
        return QString::fromUtf8(text).replace(QStringLiteral("$H"), home);
    }

    QString home;
};

TEST_P(PosixStylePaths, TypedTextBecomesTheMoviePath)
{
    const PosixRow &row = GetParam();
    ASSERT_EQ(dialog->m_windowsDir, home + '/');
    dialog->SetControlText(ids::IDC_OUTPUT, Expand(row.typed));

    const bool ok = dialog->PrepareOutputPaths();

    EXPECT_EQ(dialog->ControlText(ids::IDC_OUTPUT), Expand(row.box));
    const QString expected = Expand(row.outputPath);
    EXPECT_EQ(ok, !expected.isEmpty());
    if (ok) {
        EXPECT_EQ(dialog->m_outputPath, expected);
        const QString folder = expected.left(expected.lastIndexOf('/') + 1);
        EXPECT_EQ(dialog->m_tempAviPath, folder + "TempData.avi");
        EXPECT_TRUE(QFileInfo(folder).isDir());
        // The probe file is gone again.
        EXPECT_FALSE(QFileInfo::exists(expected));
        EXPECT_TRUE(prompter.BoxTexts().isEmpty());
    } else {
        EXPECT_EQ(prompter.BoxTexts().size(), 1);
        EXPECT_TRUE(prompter.BoxTexts().value(0).contains(Expand(row.message)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    HomeFolder,
    PosixStylePaths,
    ::testing::Values(
        PosixRow{"RelativeFolder", "Movies/clip", "$H/Movies/clip", "$H/Movies/clip.mp4"},
        PosixRow{"Tilde", "~/Movies/clip.avi", "$H/Movies/clip.mp4", "$H/Movies/clip.mp4"},
        PosixRow{
            "UpperCaseMp4IsKept", "~/Movies/clip.MP4", "$H/Movies/clip.MP4", "$H/Movies/clip.MP4"},
        PosixRow{"TrailingBlanks", "$H/Movies/clip \t ", "$H/Movies/clip", "$H/Movies/clip.mp4"},
        PosixRow{"EmptyBoxGivesDefault", "", "$H/Vantorel/Output.mp4", "$H/Vantorel/Output.mp4"},
        PosixRow{"FolderOnly", "$H/Movies/", "$H/Movies/Output", "$H/Movies/Output.mp4"},
        PosixRow{
            "OnlyAnExtension", "$H/Movies/.avi", "$H/Movies/Output.mp4", "$H/Movies/Output.mp4"},
        PosixRow{
            "DotInFolderName", "$H/my.folder/clip", "$H/my.folder/clip", "$H/my.folder/clip.mp4"},
        PosixRow{
            "BackslashIsAPlainCharacter", "$H/Movies/a\\b", "$H/Movies/a\\b", "$H/Movies/a\\b.mp4"},
        PosixRow{"OneMissingLevelIsMade", "$H/New/clip", "$H/New/clip", "$H/New/clip.mp4"},
        PosixRow{
            "TwoMissingLevels", "$H/New1/New2/clip", "$H/New1/New2/clip", "", kCannotCreateFolder},
        PosixRow{
            "FolderIsAFile", "$H/plainfile/clip", "$H/plainfile/clip", "", kCannotCreateFolder},
        // The box says what is in the way, after "The output file can't be created. ...".
        PosixRow{"FolderAtThePath", "$H/x.mp4", "$H/x.mp4", "", "\n$H/x.mp4 is a folder."},
        PosixRow{"LinkAtThePath", "$H/link.mp4", "$H/link.mp4", "", "\n$H/link.mp4 is a symbolic"},
        PosixRow{"FifoAtThePath", "$H/fifo.mp4", "$H/fifo.mp4", "", "\n$H/fifo.mp4 is a device"}),
    RowName());

// The Windows style, on the real file system in a scratch folder (where "C:\\Movies" is a
// plain name): relative paths go to the Windows drive; a drive alone gets "Output"; with
// no Windows folder there is no default.
TEST(WindowsStylePaths, AnchorTypedTextAtTheWindowsDrive)
{
    testing_support::TestEnvironment env;
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(env.ScratchDir()));
    production::OutputPathRequest request;
    request.outputExt = QStringLiteral("mp4");
    request.windowsDir = QStringLiteral("C:\\WINDOWS");
    request.askWindowsFolder = [] { return std::optional<QString>(); };
    for (const auto &[typed, path] : {std::pair{"Movies\\Clip", "C:\\Movies\\Clip.mp4"},
                                      std::pair{"D:", "D:\\Output.mp4"},
                                      std::pair{"", ""}}) {
        request.typed = QString::fromLatin1(typed);
        const auto plan = production::PlanOutputPaths(
            production::PathStyle::Windows, request, platform::TheFileSystem());
        EXPECT_EQ(plan.outputPath, QString::fromLatin1(path));
    }
    QDir::setCurrent(cwd);
}

// Found by fuzzing: a zero character in the box (here "$H/\n\0\0") made the probe file at
// the name cut short ("$H/\n"), which then could not be removed by the full name.
TEST(PosixStylePathsFuzzed, AZeroCharacterStopsTheRunAndLeavesNoFile)
{
    testing_support::TestEnvironment env;
    const QString home = env.HomeDir();
    production::OutputPathRequest request;
    request.outputExt = QStringLiteral("mp4");
    request.windowsDir = home + u'/';
    request.typed = QStringLiteral("\n") + QChar(u'\0') + QChar(u'\0');
    const auto plan = production::PlanOutputPaths(
        production::PathStyle::Posix, request, platform::TheFileSystem());
    EXPECT_EQ(plan.message, QLatin1String(kCannotCreateFolder));
    EXPECT_TRUE(QDir(home).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

} // namespace
