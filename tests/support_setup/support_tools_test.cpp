// The files shipped beside the program, as built: the registration tool, the codec
// installer, the library links, the resizer and the capture library.

#include "support_fixture.h"

#include "engine/capture_graph.h"
#include "engine/compressor_list.h"
#include "engine/default_resizer.h"
#include "engine/engine_classes.h"
#include "engine/resizer.h"
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

struct RunResult
{
    int exitCode = -1;
    QString output;
};

// Runs a command line to its end, its output captured.
RunResult RunToEnd(const QString &commandLine)
{
    RunResult r;
    auto process = platform::TheProcesses().Start(commandLine, true);
    if (!process)
        return r;
    QByteArray output;
    char buffer[256];
    long n;
    while ((n = platform::TheProcesses().ReadOutput(*process, buffer, sizeof buffer)) > 0)
        output.append(buffer, n);
    platform::TheProcesses().Wait(*process, -1);
    r.exitCode = process->exitCode;
    platform::TheProcesses().Close(*process);
    r.output = QString::fromLocal8Bit(output);
    return r;
}

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

TEST(RegistrationTool, TheResizerRecordsTheFileItWasLoadedFrom)
{
    testing_support::TestEnvironment env;
    const QString copy = env.ScratchDir() + QStringLiteral("/DidirizaDezuzev.dll");
    ASSERT_TRUE(QFile::copy(BuiltProgramDir() + QStringLiteral("DidirizaDezuzev.dll"), copy));
    // A relative path, from the copy's folder: the class store needs the full one.
    EXPECT_EQ(RunToEnd(Quoted(BuiltProgramDir() + QStringLiteral("regsvr32"))
                       + QStringLiteral(" /s ") + copy)
                  .exitCode,
              0);
    EXPECT_EQ(ClassServer(engine::CLSID_VantorelResizer), copy);
}

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

// ---- The library links -------------------------------------------------------------------

class LibraryLinkTest : public ::testing::TestWithParam<std::pair<const char *, const char *>>
{};

TEST_P(LibraryLinkTest, LoadsAsTheSystemLibrary)
{
    const QString path = BuiltProgramDir() + QString::fromLatin1(GetParam().first);
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    void *handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(handle, GetParam().second), nullptr);
    dlclose(handle);
}

INSTANTIATE_TEST_SUITE_P(Links,
                         LibraryLinkTest,
                         ::testing::Values(std::pair{"avcodec.dll", "avcodec_version"},
                                           std::pair{"avformat.dll", "avformat_version"},
                                           std::pair{"avutil.dll", "avutil_version"}));

// ---- The resizer ------------------------------------------------------------------------

// A picture without black, so that anything black in the frame is a bar.
std::vector<std::uint8_t> MakePicture(int width, int height, int stride)
{
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = data.data() + static_cast<std::size_t>(y) * stride + x * 3;
            p[0] = static_cast<std::uint8_t>(60 + (x * 160) / std::max(1, width - 1));
            p[1] = static_cast<std::uint8_t>(60 + (y * 160) / std::max(1, height - 1));
            p[2] = static_cast<std::uint8_t>((x / 4 + y / 4) % 2 ? 200 : 90);
        }
    }
    return data;
}

struct Frame
{
    int width, height, stride;
    std::vector<std::uint8_t> data;
    Frame(int w, int h)
        : width(w)
        , height(h)
        , stride(w * 3 + 5)
        , data(static_cast<std::size_t>(stride) * h, 0xAB)
    {}
    engine::RgbImageTarget Target() { return {data.data(), width, height, stride}; }
    const std::uint8_t *At(int x, int y) const
    {
        return data.data() + static_cast<std::size_t>(y) * stride + x * 3;
    }
    bool Black(int x, int y) const
    {
        return At(x, y)[0] == 0 && At(x, y)[1] == 0 && At(x, y)[2] == 0;
    }
};

struct FitCase
{
    int sourceWidth, sourceHeight, frameWidth, frameHeight;
};
void PrintTo(const FitCase &c, std::ostream *os)
{
    *os << c.sourceWidth << 'x' << c.sourceHeight << " into " << c.frameWidth << 'x'
        << c.frameHeight;
}

class ResizerModuleTest : public ::testing::TestWithParam<FitCase>
{
protected:
    void SetUp() override
    {
        // The resizer's module is registered by its own entry point, as start-up does.
        const QString module = BuiltProgramDir() + QStringLiteral("DidirizaDezuzev.dll");
        void *handle = dlopen(QFile::encodeName(module).constData(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        auto registerServer
            = reinterpret_cast<platform::RegisterServerFn>(dlsym(handle, "DllRegisterServer"));
        ASSERT_NE(registerServer, nullptr);
        EXPECT_EQ(registerServer(), platform::S_OK);
        dlclose(handle);
        EXPECT_EQ(ClassServer(engine::CLSID_VantorelResizer), module);
    }

    testing_support::TestEnvironment env;
};

TEST_P(ResizerModuleTest, FitsWithTheSameGeometryAsTheDefaultResizer)
{
    const FitCase c = GetParam();
    platform::HRESULT hr = platform::E_FAIL;
    auto resizer = platform::CreateInstance<engine::IResizer>(engine::CLSID_VantorelResizer, &hr);
    ASSERT_EQ(hr, platform::S_OK);
    ASSERT_TRUE(resizer);
    const auto fallback = engine::CreateDefaultResizer();

    const int stride = c.sourceWidth * 3 + 7;
    const std::vector<std::uint8_t> picture = MakePicture(c.sourceWidth, c.sourceHeight, stride);
    const engine::RgbImageView source{picture.data(), c.sourceWidth, c.sourceHeight, stride};
    Frame ours(c.frameWidth, c.frameHeight);
    Frame theirs(c.frameWidth, c.frameHeight);
    ASSERT_EQ(resizer->FitInto(source, ours.Target()), platform::S_OK);
    ASSERT_EQ(fallback->FitInto(source, theirs.Target()), platform::S_OK);

    const engine::FitResult fit
        = engine::FitRect(c.sourceWidth, c.sourceHeight, c.frameWidth, c.frameHeight);
    long sumOurs = 0, sumTheirs = 0;
    for (int y = 0; y < c.frameHeight; ++y) {
        for (int x = 0; x < c.frameWidth; ++x) {
            const bool inside
                = x >= fit.x && x < fit.x + fit.width && y >= fit.y && y < fit.y + fit.height;
            ASSERT_EQ(ours.Black(x, y), !inside) << x << "," << y;
            ASSERT_EQ(theirs.Black(x, y), !inside) << x << "," << y;
            for (int k = 0; k < 3; ++k) {
                sumOurs += ours.At(x, y)[k];
                sumTheirs += theirs.At(x, y)[k];
            }
        }
        // The padding behind each row is not written.
        EXPECT_EQ(ours.data[static_cast<std::size_t>(y) * ours.stride + c.frameWidth * 3], 0xAB);
    }
    // The same picture: average brightness within 2 levels.
    const double pixels = 3.0 * fit.width * fit.height;
    EXPECT_NEAR(sumOurs / pixels, sumTheirs / pixels, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Shapes,
                         ResizerModuleTest,
                         ::testing::Values(FitCase{64, 32, 40, 40}, // wide: bars above and below
                                           FitCase{30, 90, 64, 48}, // tall: bars left and right
                                           FitCase{80, 60, 40, 30}, // same shape, smaller
                                           FitCase{16, 12, 64, 48}, // same shape, larger
                                           FitCase{40, 30, 40, 30}, // same size
                                           FitCase{1, 50, 32, 24},  // one pixel wide
                                           FitCase{640, 480, 352, 240}));

TEST(ResizerModule, RefusesAnEmptySourceAndLeavesTheFrameBlack)
{
    testing_support::TestEnvironment env;
    void *handle = dlopen(
        QFile::encodeName(BuiltProgramDir() + QStringLiteral("DidirizaDezuzev.dll")).constData(),
        RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    auto create = reinterpret_cast<platform::ModuleFactoryFn>(
        dlsym(handle, platform::kModuleFactoryExport));
    ASSERT_NE(create, nullptr);
    void *object = nullptr;
    EXPECT_EQ(create(&engine::CLSID_CaptureGraphBuilder2, &engine::IResizer::kIid, &object),
              platform::CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(create(&engine::CLSID_VantorelResizer, &engine::IResizer::kIid, &object),
              platform::S_OK);
    auto resizer
        = platform::ComPtr<engine::IResizer>::Attach(static_cast<engine::IResizer *>(object));
    Frame frame(8, 6);
    EXPECT_EQ(resizer->FitInto(engine::RgbImageView{nullptr, 0, 0, 0}, frame.Target()),
              platform::E_INVALIDARG);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_TRUE(frame.Black(x, y));
    resizer.Reset();
    dlclose(handle);
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

// ---- In-process registration ------------------------------------------------------------

struct ServerCase
{
    const char *label;
    const char *file; // the file in the program folder
    bool registered;
};

class InProcessRegistrationTest : public StartupTest,
                                  public ::testing::WithParamInterface<ServerCase>
{};

TEST_P(InProcessRegistrationTest, TrueOnlyWhenTheEntryPointWasCalled)
{
    const ServerCase c = GetParam();
    QFile::link(QStringLiteral(SUPPORT_NO_ENTRY_MODULE),
                programDir + QStringLiteral("noentry.dll"));
    testing_support::WriteFile(programDir + QStringLiteral("garbage.dll"), "not a library");
    MainDialog dialog(Services());
    dialog.m_programDir = programDir;
    dialog.m_systemDir = env.SystemDir();

    EXPECT_EQ(dialog.RegisterServerInProcess(QString::fromLatin1(c.file)), c.registered);
    EXPECT_TRUE(prompter.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(Servers,
                         InProcessRegistrationTest,
                         ::testing::Values(ServerCase{"resizer", "DidirizaDezuzev.dll", true},
                                           ServerCase{"capture", "qcap.dll", true},
                                           ServerCase{"no_entry_point", "noentry.dll", false},
                                           ServerCase{"not_a_library", "garbage.dll", false},
                                           ServerCase{"missing", "absent.dll", false}),
                         [](const auto &row) { return std::string(row.param.label); });

} // namespace
} // namespace support_tests
