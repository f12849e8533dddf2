// The support programs shipped beside the program, as built: the registration tool, the
// codec installer and the capture library.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"
#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/capture_graph.h"
#include "platform/class_store.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

using testing_support::operator<<;

using platform::RegistryRoot;
using testing_support::RunToEnd;

const QString kProgramDir = QStringLiteral(VANTOREL_TEST_PROGRAM_DIR);

// The registered module of a class, or empty.
QString ClassServer(const platform::Clsid &clsid)
{
    return platform::TheRegistry()
        .ReadValue(RegistryRoot::ClassesRoot,
                   QStringLiteral("CLSID\\%1\\InprocServer32").arg(clsid.ToString()))
        .value_or(QString());
}

struct ToolCase
{
    const char *name;
    const char *arguments; // %P: the program folder, %B: a folder with a blank,
                           // %M: a missing file
    int exitCode;
    const char *outputHas; // nullptr: no output at all
    bool registered;
};

class RegistrationTool : public ::testing::TestWithParam<ToolCase>
{};

TEST_P(RegistrationTool, RegistersReportsAndFails)
{
    testing_support::TestEnvironment env;
    const ToolCase c = GetParam();
    const QString blankDir = env.Root() + QStringLiteral("/with blank");
    QDir().mkpath(blankDir);
    QFile::copy(kProgramDir + QStringLiteral("DidirizaDezuzev.dll"),
                blankDir + QStringLiteral("/DidirizaDezuzev.dll"));
    const QString arguments = QString::fromUtf8(c.arguments)
                                  .replace(QStringLiteral("%P"), kProgramDir)
                                  .replace(QStringLiteral("%B"), blankDir)
                                  .replace(QStringLiteral("%M"), env.Root() + "/missing.dll");
    const auto r = RunToEnd(u'"' + kProgramDir + QStringLiteral("regsvr32\" ") + arguments);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_TRUE(c.outputHas ? r.output.contains(QString::fromUtf8(c.outputHas))
                            : r.output.isEmpty())
        << qPrintable(r.output);
    EXPECT_EQ(!ClassServer(engine::CLSID_VantorelResizer).isEmpty(), c.registered);
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    RegistrationTool,
    ::testing::Values(ToolCase{"silent", "/S %PDidirizaDezuzev.dll", 0, nullptr, true},
                      ToolCase{"reporting", "%PDidirizaDezuzev.dll", 0, "succeeded", true},
                      ToolCase{"bare_name", "/s DidirizaDezuzev.dll", 0, nullptr, true},
                      ToolCase{"missing_file", "%M", 3, "failed to load", false},
                      ToolCase{"no_entry_point", "%Pavutil.dll", 4, "DllRegisterServer", false},
                      ToolCase{"blank_split", "/s %B/DidirizaDezuzev.dll", 3, nullptr, false},
                      ToolCase{"nothing_to_register", "/s", 1, nullptr, false}),
    testing_support::RowName());

TEST(CodecInstaller, AddsThePreferredCompressorOnceAndRepairsADamagedEntry)
{
    testing_support::TestEnvironment env;
    const QString installer = kProgramDir + QStringLiteral("wmv9VCMsetup.exe");
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    auto &registry = platform::TheRegistry();
    const auto root = RegistryRoot::LocalMachine;

    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    EXPECT_EQ(registry.SubKeys(root, engine::kCompressorListKeyVideo), QStringList{"wmv9"});
    EXPECT_EQ(registry.ReadValue(root, entry), "Microsoft Windows Media Video 9");
    EXPECT_EQ(registry.ReadValue(root, entry, "Encoder"), "mpeg4");
    EXPECT_EQ(registry.ReadValue(root, entry, "Options"), "q=2");

    // A second run leaves the store file as it is (not even rewritten).
    const QByteArray file
        = QFile::encodeName(platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg"));
    struct stat before
    {
    }, after{};
    ASSERT_EQ(stat(file.constData(), &before), 0);
    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    ASSERT_EQ(stat(file.constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // A damaged entry is repaired.
    registry.WriteValue(root, entry, "Options", "bogus");
    EXPECT_EQ(RunToEnd(installer).exitCode, 0);
    EXPECT_EQ(registry.ReadValue(root, entry, "Options"), "q=2");
    // A store that cannot be written is a failure.
    env.Set("VANTOREL_REGISTRY_DIR",
            testing_support::WriteFile(env.Root() + "/blocker", "x") + "/registry");
    EXPECT_NE(RunToEnd(installer).exitCode, 0);
}

TEST(CaptureLibrary, RegisteredItServesTheCaptureGraphBuilder)
{
    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    MainDialog dialog(testing_support::TestServices(prompter, clock));
    dialog.m_programDir = kProgramDir;
    dialog.m_systemDir = env.SystemDir();

    EXPECT_FALSE(dialog.RegisterServerInProcess("missing.dll"));
    EXPECT_TRUE(dialog.RegisterServerInProcess("qcap.dll"));
    EXPECT_EQ(ClassServer(engine::CLSID_CaptureGraphBuilder2), env.SystemDir() + "/qcap.dll");

    // Without the engine's own builder the class store finds the module.
    engine::RegisterEngineClasses();
    const testing_support::BuiltInClassAway away(engine::CLSID_CaptureGraphBuilder2,
                                                 engine::RegisterGraphClasses);
    auto builder = platform::CreateInstance<engine::ICaptureGraphBuilder2>(
        engine::CLSID_CaptureGraphBuilder2);
    ASSERT_TRUE(builder);
    engine::IGraphBuilder *graph = nullptr;
    EXPECT_EQ(builder->GetFiltergraph(&graph), platform::S_OK);
    ASSERT_NE(graph, nullptr);
    engine::IBaseFilter *mux = nullptr;
    EXPECT_EQ(builder->SetOutputFileName(
                  engine::MEDIASUBTYPE_Avi, env.ScratchDir() + "/out.avi", &mux, nullptr),
              platform::S_OK);
    EXPECT_EQ(graph->EnumFilters().size(), 2u);
    if (mux)
        mux->Release();
    graph->Release();

    // A registration whose module is gone is the same as none.
    platform::TheRegistry().WriteValue(RegistryRoot::ClassesRoot,
                                       QStringLiteral("CLSID\\%1\\InprocServer32")
                                           .arg(engine::CLSID_CaptureGraphBuilder2.ToString()),
                                       QString(),
                                       env.Root() + "/missing.dll");
    platform::HRESULT hr = platform::S_OK;
    EXPECT_FALSE(platform::CreateInstance<engine::ICaptureGraphBuilder2>(
        engine::CLSID_CaptureGraphBuilder2, &hr));
    EXPECT_EQ(hr, platform::REGDB_E_CLASSNOTREG);
}

} // namespace
