// The output-path rules: the Windows style over an in-memory file system with the
// examples the rules were written for, and the Posix style the program uses, on real
// folders through the main window.

#include "main_window_test.h"
#include "memory_file_system.h"
#include "stand_in.h"

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "production/path_style.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <sys/stat.h>

using production::OutputPathPlan;
using production::OutputPathRequest;
using production::PathStyle;

namespace {

constexpr const char *kCannotCreateFile
    = "The output file can't be created. Please check the directory attributes.";
constexpr const char *kCannotCreateFolder
    = "Failed to create the directory. Please create the directory manually.";
constexpr const char *kNoOutputFolder = "Please select the output directory!";

struct WindowsRow
{
    const char *typed;
    const char *box;        // the output box afterwards
    const char *outputPath; // empty when the run stops; its folder is the work folder
    const char *message = "";
    const char *windowsDir = "C:\\WINDOWS";
};

std::ostream &operator<<(std::ostream &out, const WindowsRow &row)
{
    return out << '"' << row.typed << '"';
}

class WindowsStylePaths : public ::testing::TestWithParam<WindowsRow>
{
protected:
    void SetUp() override
    {
        fs.AddFolder("C:");
        fs.AddFolder("C:\\WINDOWS");
        fs.AddFolder("C:\\Movies");
        fs.AddFolder("C:\\\\server\\share");
        fs.AddFolder("D:");
        fs.AddFolder("D:\\Movies");
        fs.AddFolder("D:\\my.folder");
        fs.AddFolder("R:", true);
        // The user's own files, which no rule may delete.
        for (const char *keep : kUserFiles)
            fs.AddFile(QString::fromLatin1(keep), 1000);
    }

    static constexpr const char *kUserFiles[]
        = {"D:\\Movies\\clip.avi", "D:\\my.folder\\clip", "D:\\my.mp4", "D:\\Movies\\Clip"};

    MemoryFileSystem fs;
};

TEST_P(WindowsStylePaths, TypedTextBecomesTheMoviePathAndOnlyThatPathIsTouched)
{
    const WindowsRow &row = GetParam();
    OutputPathRequest request;
    request.typed = QString::fromLatin1(row.typed);
    request.windowsDir = QString::fromLatin1(row.windowsDir);
    request.outputExt = QStringLiteral("mp4");
    request.previousWorkDir = QStringLiteral("C:\\previous\\");
    const QString windowsDir = request.windowsDir;
    request.askWindowsFolder = [windowsDir]() -> std::optional<QString> {
        if (windowsDir.isEmpty())
            return std::nullopt;
        return windowsDir;
    };

    const OutputPathPlan plan = production::PlanOutputPaths(PathStyle::Windows, request, fs);

    EXPECT_EQ(plan.message, QString::fromLatin1(row.message));
    EXPECT_EQ(plan.boxText, QString::fromLatin1(row.box));
    EXPECT_EQ(plan.outputPath, QString::fromLatin1(row.outputPath));
    if (plan.message.isEmpty()) {
        const QString expected = QString::fromLatin1(row.outputPath);
        const QString folder
            = expected.left(std::max(expected.lastIndexOf(u'\\'), expected.lastIndexOf(u'/')) + 1);
        EXPECT_EQ(plan.workDir, folder);
        EXPECT_EQ(plan.tempAviPath, folder + "TempData.avi");
    }
    EXPECT_EQ(plan.focusOutputBox, plan.message == QLatin1String(kNoOutputFolder));
    // Only probe files are deleted (made at the movie's path, or beside an old movie,
    // which stays); every file of the user's is still there.
    for (const QString &deleted : fs.Deleted())
        EXPECT_TRUE(deleted.startsWith(plan.outputPath)) << "deleted " << deleted.toStdString();
    for (const char *keep : kUserFiles)
        EXPECT_TRUE(fs.Exists(QString::fromLatin1(keep))) << keep;
}

INSTANTIATE_TEST_SUITE_P(
    OriginalExamples,
    WindowsStylePaths,
    ::testing::Values(
        WindowsRow{"Movies\\Clip", "C:\\Movies\\Clip", "C:\\Movies\\Clip.mp4"},
        WindowsRow{"\\Movies\\Clip", "C:\\Movies\\Clip", "C:\\Movies\\Clip.mp4"},
        WindowsRow{"D:", "D:\\Output", "D:\\Output.mp4"},
        WindowsRow{"D:\\Movies\\", "D:\\Movies\\Output", "D:\\Movies\\Output.mp4"},
        WindowsRow{"D:\\Movies\\.avi", "D:\\Movies\\Output.mp4", "D:\\Movies\\Output.mp4"},
        WindowsRow{"D:clip", "D:clip\\Output", "D:clip\\Output.mp4"},
        WindowsRow{"D:\\Movies\\clip.avi", "D:\\Movies\\clip.mp4", "D:\\Movies\\clip.mp4"},
        WindowsRow{"D:\\Movies\\clip.MPEG4", "D:\\Movies\\clip.MPEG4", "D:\\Movies\\clip.MPEG4"},
        WindowsRow{"D:\\Movies\\Clip  \t ", "D:\\Movies\\Clip", "D:\\Movies\\Clip.mp4"},
        WindowsRow{"D:/Movies/clip", "D:/Movies/clip", "D:/Movies/clip.mp4"},
        // A dot in a folder name is no extension: the movie stays in the chosen folder.
        WindowsRow{"D:\\my.folder\\clip", "D:\\my.folder\\clip", "D:\\my.folder\\clip.mp4"},
        WindowsRow{"\\\\server\\share\\clip",
                   "C:\\\\server\\share\\clip",
                   "C:\\\\server\\share\\clip.mp4"},
        WindowsRow{"", "C:\\Vantorel\\Output.mp4", "C:\\Vantorel\\Output.mp4"},
        WindowsRow{"", "", "", kNoOutputFolder, ""},
        WindowsRow{"R:\\clip.mp4", "R:\\clip.mp4", "", kCannotCreateFolder},
        WindowsRow{"D:\\New\\clip", "D:\\New\\clip", "D:\\New\\clip.mp4"},
        WindowsRow{"D:\\New1\\New2\\clip", "D:\\New1\\New2\\clip", "", kCannotCreateFolder},
        WindowsRow{"\\clip", "\\clip", "", kCannotCreateFile, "WINDOWS"}));

TEST(WindowsStyleDefault, TheDefaultFolderIsMadeAtTheRootOfTheWindowsDrive)
{
    MemoryFileSystem fs;
    fs.AddFolder("C:");
    OutputPathRequest request;
    request.outputExt = QStringLiteral("mp4");
    request.askWindowsFolder = [] { return std::optional<QString>(QStringLiteral("C:\\WINDOWS")); };
    const OutputPathPlan plan = production::PlanOutputPaths(PathStyle::Windows, request, fs);
    EXPECT_EQ(plan.tempAviPath, QStringLiteral("C:\\Vantorel\\TempData.avi"));
    EXPECT_EQ(fs.Created(), QStringList{QStringLiteral("C:\\Vantorel")});
    EXPECT_TRUE(fs.Deleted().isEmpty());
}

// ---- Posix style through the main window, on real folders ----------------------------

struct PosixRow
{
    const char *name;
    const char *typed; // "$H" is the home folder
    const char *box;
    const char *outputPath; // empty when the run stops
    const char *message = "";
};

std::ostream &operator<<(std::ostream &out, const PosixRow &row)
{
    return out << row.name;
}

class PosixStylePaths : public MainWindowTest, public ::testing::WithParamInterface<PosixRow>
{
protected:
    void SetUp() override
    {
        home = env.HomeDir();
        QDir().mkpath(home + "/Movies");
        QDir().mkpath(home + "/my.folder");
        testing_support::WriteFile(home + "/Movies/clip.avi", "the user's own clip");
        testing_support::WriteFile(home + "/my.folder/clip", "a file named clip");
        testing_support::WriteFile(home + "/my.mp4", "an older movie elsewhere");
        testing_support::WriteFile(home + "/plainfile", "not a folder");
        // Things at a movie's path that are not regular files of the user's.
        QDir().mkpath(home + "/x.mp4");
        QFile::link(home + "/my.mp4", home + "/link.mp4");
        mkfifo((home + "/fifo.mp4").toUtf8().constData(), 0600);
        MainWindowTest::SetUp();
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
        EXPECT_EQ(dialog->m_workDir, folder);
        EXPECT_EQ(dialog->m_tempAviPath, folder + "TempData.avi");
        EXPECT_TRUE(QFileInfo(folder).isDir());
        // The probe file is gone again.
        EXPECT_FALSE(QFileInfo::exists(expected));
        EXPECT_TRUE(prompter.BoxTexts().isEmpty());
    } else {
        EXPECT_EQ(prompter.BoxTexts(), QStringList{Expand(row.message)});
    }
    // The user's files are untouched.
    EXPECT_TRUE(QFileInfo(home + "/Movies/clip.avi").size() > 0);
    EXPECT_TRUE(QFileInfo(home + "/my.folder/clip").size() > 0);
    EXPECT_TRUE(QFileInfo(home + "/my.mp4").size() > 0);
    EXPECT_TRUE(QFileInfo(home + "/x.mp4").isDir());
    EXPECT_TRUE(QFileInfo(home + "/link.mp4").isSymLink());
    EXPECT_TRUE(QFileInfo(home + "/fifo.mp4").exists());
}

INSTANTIATE_TEST_SUITE_P(
    HomeFolder,
    PosixStylePaths,
    ::testing::Values(
        PosixRow{"RelativeLandsUnderHome", "clip", "$H/clip", "$H/clip.mp4"},
        PosixRow{"RelativeFolder", "Movies/clip", "$H/Movies/clip", "$H/Movies/clip.mp4"},
        PosixRow{"Tilde", "~/Movies/clip.avi", "$H/Movies/clip.mp4", "$H/Movies/clip.mp4"},
        PosixRow{"EmptyBoxGivesDefault", "", "$H/Vantorel/Output.mp4", "$H/Vantorel/Output.mp4"},
        PosixRow{"FolderOnly", "$H/Movies/", "$H/Movies/Output", "$H/Movies/Output.mp4"},
        PosixRow{
            "DotInFolderName", "$H/my.folder/clip", "$H/my.folder/clip", "$H/my.folder/clip.mp4"},
        PosixRow{
            "BackslashIsAPlainCharacter", "$H/Movies/a\\b", "$H/Movies/a\\b", "$H/Movies/a\\b.mp4"},
        PosixRow{"OneMissingLevelIsMade", "$H/New/clip", "$H/New/clip", "$H/New/clip.mp4"},
        PosixRow{
            "TwoMissingLevels", "$H/New1/New2/clip", "$H/New1/New2/clip", "", kCannotCreateFolder},
        PosixRow{
            "FolderIsAFile", "$H/plainfile/clip", "$H/plainfile/clip", "", kCannotCreateFolder},
        PosixRow{"FolderAtThePath",
                 "$H/x.mp4",
                 "$H/x.mp4",
                 "",
                 "The output file can't be created. Please check the directory attributes.\n"
                 "$H/x.mp4 is a folder. Please choose another name."},
        PosixRow{"LinkAtThePath",
                 "$H/link.mp4",
                 "$H/link.mp4",
                 "",
                 "The output file can't be created. Please check the directory attributes.\n"
                 "$H/link.mp4 is a symbolic link; a movie is never written through a link. "
                 "Please choose another name."},
        PosixRow{"FifoAtThePath",
                 "$H/fifo.mp4",
                 "$H/fifo.mp4",
                 "",
                 "The output file can't be created. Please check the directory attributes.\n"
                 "$H/fifo.mp4 is a device, FIFO or socket, not a file. Please choose another "
                 "name."}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(PosixStylePaths, AnOldMovieAtTheSamePathStaysUntilANewOneIsReady)
{
    testing_support::WriteFile(home + "/Movies/clip.mp4", "last week's movie");
    dialog->SetControlText(ids::IDC_OUTPUT, home + "/Movies/clip.avi");
    ASSERT_TRUE(dialog->PrepareOutputPaths());
    EXPECT_EQ(QFileInfo(home + "/Movies/clip.mp4").size(), 17);
    EXPECT_EQ(QFileInfo(home + "/Movies/clip.avi").size(), 19);
    EXPECT_EQ(QDir(home + "/Movies").entryList(QDir::Files).size(), 2);
}

} // namespace
