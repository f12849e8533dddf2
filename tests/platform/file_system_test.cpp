#include "common/environment.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/skin.h"
#include "resources/dialog_builder.h"
#include "resources/dialog_template.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>

using namespace platform;
using testing_support::TestEnvironment;
using testing_support::WriteFile;

namespace {

TEST(FileSystem, FindsByExtensionWithoutRegardToCaseInNameOrder)
{
    TestEnvironment env;
    const QString dir = env.ScratchDir();
    for (const char *name : {"b.jpg", "A.JPG", "IMG_0002.jpg", "img_0001.jpg", "x.jpeg", "notjpg"})
        WriteFile(dir + u'/' + QString::fromLatin1(name), "x");
    QDir(dir).mkdir(QStringLiteral("folder.jpg"));
    EXPECT_EQ(TheFileSystem().FindByExtension(dir, "jpg"),
              QStringList({"A.JPG", "b.jpg", "folder.jpg", "img_0001.jpg", "IMG_0002.jpg"}));
    EXPECT_EQ(TheFileSystem().FindByExtension(dir, "jpeg"), QStringList{"x.jpeg"});
    EXPECT_TRUE(TheFileSystem().FindByExtension(dir + "/missing", "jpg").isEmpty());
}

TEST(FileSystem, CopyCreateAndDeleteNeverHarmAnExistingFile)
{
    TestEnvironment env;
    FileSystem &fs = TheFileSystem();
    const QString dir = env.ScratchDir();
    const QString a = WriteFile(dir + "/a", "new"), b = WriteFile(dir + "/b", "older");
    EXPECT_FALSE(fs.CopyFile(a, b, true));
    EXPECT_EQ(fs.Status(b)->size, 5);
    EXPECT_TRUE(fs.CopyFile(a, b, false));
    EXPECT_EQ(fs.Status(b)->size, 3);
    EXPECT_FALSE(fs.CopyFile(dir + "/missing", b, false));
    EXPECT_FALSE(fs.CopyFile(a, "/proc/no-such/x", false));

    // A new file never truncates an existing one.
    EXPECT_FALSE(fs.CreateNewFile(b));
    EXPECT_EQ(fs.Status(b)->size, 3);
    const QString fresh = dir + "/new.mp4";
    EXPECT_TRUE(fs.CreateNewFile(fresh));
    EXPECT_EQ(fs.Status(fresh)->size, 0);
    EXPECT_FALSE(fs.CreateNewFile(dir + "/missing/new.mp4"));

    // Deleting reports whether a file was deleted; folders are not files.
    EXPECT_TRUE(fs.DeleteFile(fresh));
    EXPECT_FALSE(fs.Exists(fresh));
    EXPECT_FALSE(fs.DeleteFile(fresh));
    EXPECT_TRUE(fs.CreateFolder(dir + "/sub"));
    EXPECT_FALSE(fs.DeleteFile(dir + "/sub"));
    EXPECT_FALSE(fs.CreateFolder(dir + "/no/parent"));

    // Found by fuzzing: no file has a zero character in its name; the system would take
    // the name only up to it and act on another file ("a" here).
    const QChar zero(u'\0');
    EXPECT_FALSE(fs.Status(a + zero + "x").has_value());
    EXPECT_FALSE(fs.CreateNewFile(dir + u'/' + zero));
    EXPECT_FALSE(fs.CreateFolder(dir + "/d" + zero));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList({"a", "b", "sub"}));
}

TEST(Skin, TheStoredSkinStylesDialogsUntilExit)
{
    resources::EnsureResourcesLoaded();
    platform::Skin &skin = platform::TheSkin();
    skin.Init();
    ASSERT_TRUE(skin.LoadFromResource(QString::fromLatin1(resources::kSkinResourceName)));
    EXPECT_FALSE(skin.LoadFromResource(QStringLiteral("NOSUCHSKIN")));
    skin.ApplyToDialogs(QStringLiteral("Dialog"));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    skin.Exit();
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

} // namespace
