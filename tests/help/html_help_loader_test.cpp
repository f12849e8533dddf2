// The help loader: where it looks for the engine, and that a failure is final. The engines
// are real shared objects (a recording stand-in, a library without the entry point),
// loaded through the program's module layer.

#include "common/environment.h"
#include "help/html_help.h"
#include "platform/modules.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

const QString kRecorder = QStringLiteral(HELP_TEST_MODULES_DIR "help_recorder.ocx");

class HtmlHelpLoaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        env.Set("VANTOREL_PROGRAM_DIR", env.ScratchDir());
        env.Set("VANTOREL_HELP_RECORDER_LOG", log);
    }

    // Copies a module to `to`, where the loader may find it.
    static QString Place(const QString &from, const QString &to)
    {
        EXPECT_TRUE(QFile::copy(from, to)) << to.toStdString();
        return to;
    }

    // The recorder's lines: module, owner, file, command and data of each call.
    QStringList Calls() const
    {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    testing_support::TestEnvironment env;
    const QString log = env.Root() + QStringLiteral("/calls.log");
    help::HtmlHelpLoader loader{platform::TheModules(), platform::TheRegistry()};
};

TEST_F(HtmlHelpLoaderTest, RegisteredEngineIsPreferredToTheOneFoundByName)
{
    Place(kRecorder, env.ScratchDir() + QStringLiteral("/hhctrl.ocx"));
    const QString registered = Place(kRecorder, env.Root() + QStringLiteral("/registered.ocx"));
    ASSERT_TRUE(platform::TheRegistry().WriteValue(platform::RegistryRoot::ClassesRoot,
                                                   QString::fromUtf16(help::kHtmlHelpClassKey),
                                                   QString(),
                                                   registered));

    // The recorder answers owner * 3 + data * 7 + command + 1.
    const QString file = QStringLiteral("/opt/Vantorel Ünicode/Vantorel.chm");
    EXPECT_EQ(loader.Call(0x1234, file, 7, 9), 0x1234u * 3 + 9 * 7 + 7 + 1);
    EXPECT_EQ(
        Calls(),
        QStringList{registered + QStringLiteral("\t4660\t") + file + QStringLiteral("\t7\t9")});
}

// No engine at all, or a library without the entry point: the call fails, and the engine
// that turns up afterwards is never looked for.
TEST_F(HtmlHelpLoaderTest, AFailedSearchIsFinal)
{
    for (const bool withoutEntry : {false, true}) {
        const QString engine = env.ScratchDir() + QStringLiteral("/hhctrl.ocx");
        QFile::remove(engine);
        if (withoutEntry)
            Place(QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "avutil.dll"), engine);
        help::HtmlHelpLoader fresh(platform::TheModules(), platform::TheRegistry());

        EXPECT_EQ(fresh.Call(1, QStringLiteral("a.chm"), 0, 0), 0u);
        EXPECT_TRUE(fresh.Failed());
        EXPECT_EQ(fresh.Loaded(), withoutEntry);
        QFile::remove(engine);
        Place(kRecorder, engine);
        EXPECT_EQ(fresh.Call(2, QStringLiteral("b.chm"), 0, 0), 0u);
    }
    EXPECT_TRUE(Calls().isEmpty());
}

} // namespace
