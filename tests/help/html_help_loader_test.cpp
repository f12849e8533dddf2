// The help loader: where it looks for the engine, that it looks only once, and that a
// failure is final. The engines are real shared objects (a recording stand-in), loaded
// through the program's module layer; the counting layer only watches the calls.

#include "help/html_help.h"
#include "help_test_env.h"
#include "platform/modules.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <ostream>

#include <vector>

namespace {

using helptest::CopyFile;
using helptest::HelpFolders;

const QString kRecorder = QStringLiteral(HELP_TEST_MODULES_DIR "help_recorder.ocx");
const QString kWithoutEntry = QStringLiteral(HELP_TEST_MODULES_DIR "help_without_entry.ocx");
const QString kClassKey = QString::fromUtf16(help::kHtmlHelpClassKey);

// Passes every request to the real module layer and remembers it.
class WatchedModules final : public platform::Modules
{
public:
    Handle Load(const QString &pathOrName) override
    {
        loads.append(pathOrName);
        return platform::TheModules().Load(pathOrName);
    }
    void *Export(Handle module, const char *name) override
    {
        exports.append(QString::fromLatin1(name));
        return platform::TheModules().Export(module, name);
    }
    void Unload(Handle module) override
    {
        ++unloads;
        platform::TheModules().Unload(module);
    }

    QStringList loads;
    QStringList exports;
    int unloads = 0;
};

struct Call
{
    QString module;
    QString owner;
    QString file;
    QString command;
    QString data;
};

std::vector<Call> ReadCalls(const QString &log)
{
    std::vector<Call> calls;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return calls;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList f = line.split(u'\t');
        if (f.size() == 5)
            calls.push_back(Call{f[0], f[1], f[2], f[3], f[4]});
    }
    return calls;
}

quintptr Expected(quintptr owner, unsigned command, quintptr data)
{
    return owner * 3 + data * 7 + command + 1;
}

class HtmlHelpLoaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folders.root.isValid());
        ASSERT_TRUE(QFile::exists(kRecorder)) << kRecorder.toStdString();
    }

    HelpFolders folders;
    WatchedModules modules;
};

TEST_F(HtmlHelpLoaderTest, EngineFoundByNameIsLoadedOnceForTwoCalls)
{
    const QString engine = folders.program + QStringLiteral("/hhctrl.ocx");
    ASSERT_TRUE(CopyFile(kRecorder, engine));
    help::HtmlHelpLoader loader(modules, platform::TheRegistry());

    const QString file = QStringLiteral("/opt/Vantorel Ünicode/Vantorel.chm");
    EXPECT_EQ(loader.Call(0x1234, file, 0, 0), Expected(0x1234, 0, 0));
    EXPECT_EQ(loader.Call(0, file, 7, 9), Expected(0, 7, 9));

    EXPECT_EQ(modules.loads, QStringList{QStringLiteral("hhctrl.ocx")});
    EXPECT_EQ(modules.exports, QStringList{QStringLiteral("HtmlHelpW")});
    EXPECT_EQ(modules.unloads, 0);
    EXPECT_TRUE(loader.Loaded());
    EXPECT_FALSE(loader.Failed());

    const std::vector<Call> calls = ReadCalls(folders.log);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].module, engine);
    EXPECT_EQ(calls[0].owner, QString::number(0x1234));
    EXPECT_EQ(calls[0].file, file);
    EXPECT_EQ(calls[0].command, QStringLiteral("0"));
    EXPECT_EQ(calls[0].data, QStringLiteral("0"));
    EXPECT_EQ(calls[1].owner, QStringLiteral("0"));
    EXPECT_EQ(calls[1].command, QStringLiteral("7"));
    EXPECT_EQ(calls[1].data, QStringLiteral("9"));
}

TEST_F(HtmlHelpLoaderTest, RegisteredEngineIsPreferredToTheOneFoundByName)
{
    const QString byName = folders.program + QStringLiteral("/hhctrl.ocx");
    const QString registered = folders.other + QStringLiteral("/registered-hhctrl.ocx");
    ASSERT_TRUE(CopyFile(kRecorder, byName));
    ASSERT_TRUE(CopyFile(kRecorder, registered));
    ASSERT_TRUE(platform::TheRegistry().WriteValue(
        platform::RegistryRoot::ClassesRoot, kClassKey, QString(), registered));
    help::HtmlHelpLoader loader(modules, platform::TheRegistry());

    EXPECT_EQ(loader.Call(1, QStringLiteral("a.chm"), 0, 0), Expected(1, 0, 0));
    EXPECT_EQ(loader.Call(2, QStringLiteral("b.chm"), 0, 0), Expected(2, 0, 0));

    EXPECT_EQ(modules.loads, QStringList{registered});
    const std::vector<Call> calls = ReadCalls(folders.log);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].module, registered);
    EXPECT_EQ(calls[1].module, registered);
}

TEST_F(HtmlHelpLoaderTest, MissingEngineFailsOnceAndIsNeverLookedForAgain)
{
    help::HtmlHelpLoader loader(modules, platform::TheRegistry());

    EXPECT_EQ(loader.Call(1, QStringLiteral("a.chm"), 0, 0), 0u);
    EXPECT_TRUE(loader.Failed());
    EXPECT_EQ(modules.loads, QStringList{QStringLiteral("hhctrl.ocx")});

    // The engine turns up afterwards: the loader does not look again.
    ASSERT_TRUE(CopyFile(kRecorder, folders.program + QStringLiteral("/hhctrl.ocx")));
    EXPECT_EQ(loader.Call(1, QStringLiteral("a.chm"), 0, 0), 0u);
    EXPECT_EQ(loader.Call(2, QStringLiteral("b.chm"), 0, 0), 0u);
    EXPECT_EQ(modules.loads.size(), 1);
    EXPECT_TRUE(modules.exports.isEmpty());
    EXPECT_TRUE(ReadCalls(folders.log).empty());
}

TEST_F(HtmlHelpLoaderTest, EngineWithoutTheEntryPointFailsAndStaysLoaded)
{
    ASSERT_TRUE(CopyFile(kWithoutEntry, folders.program + QStringLiteral("/hhctrl.ocx")));
    help::HtmlHelpLoader loader(modules, platform::TheRegistry());

    EXPECT_EQ(loader.Call(1, QStringLiteral("a.chm"), 0, 0), 0u);
    EXPECT_TRUE(loader.Failed());
    EXPECT_TRUE(loader.Loaded());
    EXPECT_EQ(loader.Call(1, QStringLiteral("a.chm"), 0, 0), 0u);
    EXPECT_EQ(modules.loads.size(), 1);
    EXPECT_EQ(modules.exports, QStringList{QStringLiteral("HtmlHelpW")});
    EXPECT_EQ(modules.unloads, 0);
}

} // namespace
