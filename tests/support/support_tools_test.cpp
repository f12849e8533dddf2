// The files shipped beside the program, as built: the registration tool, the codec
// installer, the library links, the resizer and the capture library.

#include "support_fixture.h"

#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/capture_graph.h"
#include "engine/render/default_resizer.h"
#include "engine/render/resizer.h"
#include "platform/class_store.h"
#include "platform/processes.h"
#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <sys/stat.h>

namespace support_tests {
namespace {

using platform::RegistryRoot;

using RunResult = testing_support::ProcessResult;
using testing_support::RunToEnd;

QString Quoted(const QString &path)
{
    return u'"' + path + u'"';
}

// ---- regsvr32 ---------------------------------------------------------------------------

struct ToolCase
{
    const char *label;
    const char *arguments; // %R: the resizer, %N: a module without the entry point,
                           // %B: the resizer in a folder with a blank, %M: a missing file
    int exitCode;
    const char *outputHas; // nullptr: no output at all
    bool registered;
};

class RegistrationToolTest : public ::testing::TestWithParam<ToolCase>
{
protected:
    testing_support::TestEnvironment env;
};

TEST_P(RegistrationToolTest, RegistersReportsAndFails)
{
    const ToolCase c = GetParam();
    const QString blankDir = env.Root() + QStringLiteral("/with blank");
    QDir().mkpath(blankDir);
    QFile::copy(BuiltProgramDir() + QStringLiteral("DidirizaDezuzev.dll"),
                blankDir + QStringLiteral("/DidirizaDezuzev.dll"));
    QString arguments = QString::fromUtf8(c.arguments);
    arguments.replace(QStringLiteral("%R"),
                      BuiltProgramDir() + QStringLiteral("DidirizaDezuzev.dll"));
    arguments.replace(QStringLiteral("%N"), QStringLiteral(SUPPORT_NO_ENTRY_MODULE));
    arguments.replace(QStringLiteral("%B"), blankDir + QStringLiteral("/DidirizaDezuzev.dll"));
    arguments.replace(QStringLiteral("%M"), env.Root() + QStringLiteral("/missing.dll"));

    const RunResult r
        = RunToEnd(Quoted(BuiltProgramDir() + QStringLiteral("regsvr32")) + u' ' + arguments);

    EXPECT_EQ(r.exitCode, c.exitCode);
    if (c.outputHas) {
        EXPECT_TRUE(r.output.contains(QString::fromUtf8(c.outputHas))) << qPrintable(r.output);
    } else {
        EXPECT_TRUE(r.output.isEmpty()) << qPrintable(r.output);
    }
    EXPECT_EQ(!ClassServer(engine::CLSID_VantorelResizer).isEmpty(), c.registered);
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    RegistrationToolTest,
    ::testing::Values(ToolCase{"silent", "/s %R", 0, nullptr, true},
                      ToolCase{"silent_upper_case", "/S %R", 0, nullptr, true},
                      ToolCase{"reporting", "%R", 0, "succeeded", true},
                      ToolCase{"bare_name", "/s DidirizaDezuzev.dll", 0, nullptr, true},
                      ToolCase{"missing_file", "%M", 3, "failed to load", false},
                      ToolCase{"missing_file_silent", "/s %M", 3, nullptr, false},
                      ToolCase{"no_entry_point", "%N", 4, "DllRegisterServer", false},
                      ToolCase{"blank_split", "/s %B", 3, nullptr, false},
                      ToolCase{"nothing_to_register", "/s", 1, nullptr, false}),
    [](const auto &row) { return std::string(row.param.label); });

// ---- The codec installer ----------------------------------------------------------------

TEST(CodecInstaller, AddsThePreferredCompressorOnceAndChangesNothingWhenRunAgain)
{
    testing_support::TestEnvironment env;
    const QString installer = BuiltProgramDir() + QStringLiteral("wmv9VCMsetup.exe");
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    auto &registry = platform::TheRegistry();
    const auto root = RegistryRoot::LocalMachine;

    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    EXPECT_EQ(registry.SubKeys(root, engine::kCompressorListKeyVideo),
              QStringList{QStringLiteral("wmv9")});
    EXPECT_EQ(registry.ReadValue(root, entry), QStringLiteral("Microsoft Windows Media Video 9"));
    EXPECT_EQ(registry.ReadValue(root, entry, QStringLiteral("Encoder")), QStringLiteral("mpeg4"));
    EXPECT_EQ(registry.ReadValue(root, entry, QStringLiteral("Options")), QStringLiteral("q=2"));

    // The entry is a compressor the device enumerator lists and can make.
    bool listed = false;
    for (const auto &c : engine::ListCompressors(engine::CompressorKind::Video)) {
        if (c.friendlyName == QLatin1String("Microsoft Windows Media Video 9")) {
            listed = true;
            engine::IBaseFilter *filter = nullptr;
            EXPECT_EQ(engine::CreateCompressorFilter(c, &filter), platform::S_OK);
            if (filter)
                filter->Release();
        }
    }
    EXPECT_TRUE(listed);

    // A second run leaves the store file as it is (not even rewritten).
    const QString file = platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg");
    struct stat before
    {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &before), 0);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    f.close();
    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    struct stat after
    {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), content);

    // A damaged entry is repaired.
    registry.WriteValue(root, entry, QStringLiteral("Options"), QStringLiteral("bogus"));
    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    EXPECT_EQ(registry.ReadValue(root, entry, QStringLiteral("Options")), QStringLiteral("q=2"));
}

TEST(CodecInstaller, FailsWhenTheStoreCannotBeWritten)
{
    testing_support::TestEnvironment env;
    const QString blocker
        = testing_support::WriteFile(env.Root() + QStringLiteral("/blocker"), "x");
    env.Set("VANTOREL_REGISTRY_DIR", blocker + QStringLiteral("/registry"));
    EXPECT_NE(RunToEnd(BuiltProgramDir() + QStringLiteral("wmv9VCMsetup.exe")).exitCode, 0);
}

// ---- The capture library ----------------------------------------------------------------

TEST(CaptureLibrary, RegisteredItServesTheCaptureGraphBuilder)
{
    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    MakeProgramFolder(env.Root() + QStringLiteral("/program/"), ShippedFiles());
    MainDialog dialog(testing_support::TestServices(prompter, clock));
    dialog.m_programDir = env.Root() + QStringLiteral("/program/");
    dialog.m_systemDir = env.SystemDir();

    EXPECT_TRUE(dialog.RegisterServerInProcess(QStringLiteral("qcap.dll")));
    EXPECT_EQ(ClassServer(engine::CLSID_CaptureGraphBuilder2),
              env.SystemDir() + QStringLiteral("/qcap.dll"));

    // Without the engine's own builder the class store finds the module.
    platform::UnregisterBuiltInClass(engine::CLSID_CaptureGraphBuilder2);
    auto builder = platform::CreateInstance<engine::ICaptureGraphBuilder2>(
        engine::CLSID_CaptureGraphBuilder2);
    engine::RegisterGraphClasses();
    ASSERT_TRUE(builder);
    engine::IGraphBuilder *graph = nullptr;
    EXPECT_EQ(builder->GetFiltergraph(&graph), platform::S_OK);
    ASSERT_NE(graph, nullptr);
    engine::IBaseFilter *mux = nullptr;
    EXPECT_EQ(
        builder->SetOutputFileName(
            engine::MEDIASUBTYPE_Avi, env.ScratchDir() + QStringLiteral("/out.avi"), &mux, nullptr),
        platform::S_OK);
    EXPECT_EQ(graph->EnumFilters().size(), 2u);
    if (mux)
        mux->Release();
    graph->Release();
    EXPECT_TRUE(prompter.Records().empty());
}

} // namespace
} // namespace support_tests
