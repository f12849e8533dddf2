// The installation steps of a start, driven through a real main window's initialisation
// over the real registry, files and processes.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"
#include "engine/codecs/compressor_list.h"
#include "engine/dshow.h"
#include "engine/engine_classes.h"
#include "engine/graph/device_enum.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using testing_support::operator<<;

using platform::MessageResult;
using platform::RegistryRoot;

const QString kBuiltProgramDir = QStringLiteral(VANTOREL_TEST_PROGRAM_DIR);
const QString kMainKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2");
const QString kSettingsKey = kMainKey + u'\\';

// The registered module of the resizer class, or empty.
QString ResizerServer()
{
    return platform::TheRegistry()
        .ReadValue(RegistryRoot::ClassesRoot,
                   QStringLiteral("CLSID\\%1\\InprocServer32")
                       .arg(engine::CLSID_VantorelResizer.ToString()))
        .value_or(QString());
}

// Makes `dir` a program folder: links to the built support files; "KelvoraCfg.dll", which
// is only copied, may be a small file of its own.
void MakeProgramFolder(const QString &dir)
{
    QDir().mkpath(dir);
    for (const char *file : {"DidirizaDezuzev.dll",
                             "qcap.dll",
                             "regsvr32",
                             "wmv9VCMsetup.exe",
                             "avformat.dll",
                             "avutil.dll",
                             "avcodec.dll",
                             "KelvoraCfg.dll"}) {
        const QString name = QString::fromLatin1(file);
        const QString built = kBuiltProgramDir + name;
        if (name == QLatin1String("KelvoraCfg.dll") && !QFileInfo::exists(built))
            testing_support::WriteFile(dir + name, "#!/bin/sh\nexit 0\n");
        else
            QFile::link(built, dir + name);
    }
}

// Waits until every registration tool started by a test has ended; the tool runs detached
// and would otherwise outlive the test's folders. Nobody's child, it is found in /proc and
// waited for on a pidfd (a tool that hangs is the test's timeout to catch).
void WaitForDetachedTools()
{
    const QString tool
        = QFileInfo(kBuiltProgramDir + QStringLiteral("regsvr32")).canonicalFilePath();
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() <= 0
            || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() != tool)
            continue;
        const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid.toInt(), 0));
        if (fd < 0)
            continue; // ended meanwhile
        pollfd ended{fd, POLLIN, 0};
        while (poll(&ended, 1, -1) < 0 && errno == EINTR) {
        }
        close(fd);
    }
}

const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");

// A private store and system folder, and a program folder of links to the built files.
class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        engine::RegisterEngineClasses();
        MakeProgramFolder(programDir);
        env.Set("VANTOREL_PROGRAM_DIR", programDir);
    }
    void TearDown() override { WaitForDetachedTools(); }

    platform::Services Services() { return testing_support::TestServices(prompter, clock); }
    // One start of the program up to the shown window.
    std::unique_ptr<MainDialog> Start()
    {
        auto dialog = std::make_unique<MainDialog>(Services());
        EXPECT_TRUE(dialog->OnInitDialog());
        return dialog;
    }
    // A setting as stored, bypassing the program.
    std::optional<QString> Stored(const QString &setting) const
    {
        return platform::TheRegistry().ReadValue(RegistryRoot::LocalMachine,
                                                 kSettingsKey + setting);
    }
    void Store(const QString &setting, const QString &value)
    {
        platform::TheRegistry().WriteValue(
            RegistryRoot::LocalMachine, kSettingsKey + setting, QString(), value);
    }
    int CodecPrompts() const
    {
        int n = 0;
        for (const testing_support::PromptRecord &r : prompter.Records())
            n += r.text == kCodecPrompt ? 1 : 0;
        return n;
    }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    const QString programDir = env.Root() + QStringLiteral("/program/");
};

const QStringList kConverterFiles = {QStringLiteral("avformat.dll"),
                                     QStringLiteral("avutil.dll"),
                                     QStringLiteral("avcodec.dll"),
                                     QStringLiteral("KelvoraCfg.dll")};

void UnregisterResizer()
{
    platform::TheRegistry().DeleteKey(
        platform::RegistryRoot::ClassesRoot,
        QStringLiteral("CLSID\\%1").arg(engine::CLSID_VantorelResizer.ToString()));
}

TEST_F(StartupTest, FirstStartWritesTheMarkersRegistersAndCopiesTheConverter)
{
    auto dialog = Start();

    EXPECT_EQ(Stored(QStringLiteral("Version")), QStringLiteral("2.1"));
    EXPECT_EQ(Stored(QStringLiteral("InstallDir")), programDir);
    EXPECT_EQ(Stored(QStringLiteral("Startup")), QStringLiteral("1"));
    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("1"));
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());
    for (const QString &name : kConverterFiles + QStringList{QStringLiteral("DidirizaDezuzev.dll")})
        EXPECT_TRUE(QFileInfo(env.SystemDir() + u'/' + name).isFile()) << qPrintable(name);
    EXPECT_EQ(ResizerServer(), env.SystemDir() + QStringLiteral("/DidirizaDezuzev.dll"));
    EXPECT_EQ(dialog->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));

    // The codec is not installed yet: the question comes, owned by the window, and the
    // default answer (No) is not recorded, so the next start asks again.
    ASSERT_EQ(prompter.Records().size(), 1u);
    const testing_support::PromptRecord question = prompter.Records().front();
    EXPECT_EQ(question.text, kCodecPrompt);
    EXPECT_EQ(question.caption, QStringLiteral("Warning"));
    EXPECT_EQ(question.buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(question.owner, dialog.get());
    Start();
    EXPECT_EQ(CodecPrompts(), 2);
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());
}

TEST_F(StartupTest, LaterStartRegistersInProcessWritesNothingAndRestoresGoneCopies)
{
    Start();
    Store(QStringLiteral("EncodeInstalled"), QStringLiteral("1"));
    WaitForDetachedTools();
    const QString storeFile
        = platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg");
    const QDateTime modifiedBefore = QFileInfo(storeFile).lastModified();
    // Copies dated back show what this start copies again.
    const QDateTime old = QDateTime::currentDateTime().addDays(-30);
    for (const QString &name : kConverterFiles) {
        QFile file(env.SystemDir() + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    prompter.Clear();
    UnregisterResizer();

    auto second = Start();

    EXPECT_EQ(QFileInfo(storeFile).lastModified(), modifiedBefore);
    for (const QString &name : kConverterFiles)
        EXPECT_LT(QFileInfo(env.SystemDir() + u'/' + name).lastModified(), old.addDays(1))
            << qPrintable(name);
    EXPECT_EQ(ResizerServer(), env.SystemDir() + QStringLiteral("/DidirizaDezuzev.dll"));
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_EQ(second->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));
    EXPECT_EQ(second->m_version, QStringLiteral("2.1"));

    // Converter files gone from the system folder are copied there again.
    for (const char *gone : {"/avcodec.dll", "/KelvoraCfg.dll"})
        ASSERT_TRUE(QFile::remove(env.SystemDir() + QString::fromLatin1(gone)));
    auto third = Start();
    for (const QString &name : kConverterFiles)
        EXPECT_TRUE(QFileInfo(env.SystemDir() + u'/' + name).isFile()) << qPrintable(name);
    EXPECT_EQ(third->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));
    EXPECT_TRUE(prompter.Records().empty());
}

// A converter file missing from the program folder stops the copies after the files
// before it; the converter runs from the program folder, and the user learns what it lacks.
TEST_F(StartupTest, MissingAvcodecStopsTheCopiesAfterAvutilAndIsNamed)
{
    QFile::remove(programDir + QStringLiteral("avcodec.dll"));
    Store(QStringLiteral("EncodeInstalled"), QStringLiteral("1"));

    auto dialog = Start();

    const QStringList copied = {QStringLiteral("avformat.dll"), QStringLiteral("avutil.dll")};
    for (const QString &name : kConverterFiles)
        EXPECT_EQ(QFileInfo::exists(env.SystemDir() + u'/' + name), copied.contains(name))
            << qPrintable(name);
    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + QStringLiteral("KelvoraCfg.dll"));
    EXPECT_EQ(prompter.BoxTexts(),
              QStringList{QStringLiteral("The file %1avcodec.dll is missing. Please install "
                                         "Vantorel Converter again.")
                              .arg(programDir)});
}

TEST_F(StartupTest, UnwritableSystemFolderKeepsEverythingInTheProgramFolder)
{
    // A system folder below a plain file cannot be written, not even by root.
    const QString blocker
        = testing_support::WriteFile(env.Root() + QStringLiteral("/blocker"), "x");
    env.Set("VANTOREL_SYSTEM_DIR", blocker + QStringLiteral("/system32"));

    auto dialog = Start();

    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + QStringLiteral("KelvoraCfg.dll"));
    EXPECT_EQ(ResizerServer(), programDir + QStringLiteral("DidirizaDezuzev.dll"));
    // No system folder at all stops start-up before the window is made up.
    env.Set("VANTOREL_SYSTEM_DIR", QStringLiteral("   "));
    EXPECT_FALSE(MainDialog(Services()).OnInitDialog());
}

TEST_F(StartupTest, TheToolRegistersTheResizerUnlessItsPathHasABlank)
{
    auto dialog = std::make_unique<MainDialog>(Services());
    dialog->m_programDir = programDir;
    dialog->m_systemDir = env.SystemDir();
    EXPECT_TRUE(dialog->RegisterServerSilently(QStringLiteral("DidirizaDezuzev.dll")));
    WaitForDetachedTools();
    EXPECT_EQ(ResizerServer(), env.SystemDir() + QStringLiteral("/DidirizaDezuzev.dll"));

    // The copy into the system folder fails, so the tool gets the program folder's path,
    // blank included and without quotes, and fails silently.
    UnregisterResizer();
    const QString blankDir = env.Root() + QStringLiteral("/my program/");
    MakeProgramFolder(blankDir);
    env.Set("VANTOREL_PROGRAM_DIR", blankDir);
    dialog->m_programDir = blankDir;
    dialog->m_systemDir = testing_support::WriteFile(env.Root() + QStringLiteral("/blocker"), "x");
    EXPECT_TRUE(dialog->RegisterServerSilently(QStringLiteral("DidirizaDezuzev.dll")));
    WaitForDetachedTools();
    EXPECT_TRUE(ResizerServer().isEmpty());
    EXPECT_TRUE(prompter.Records().empty());
}

TEST_F(StartupTest, AnsweringYesRunsTheInstallerAndTheNextStartFindsTheCodec)
{
    // Without the installer the user learns where to find it, and start-up goes on.
    const QString installer = programDir + QStringLiteral("wmv9VCMsetup.exe");
    ASSERT_TRUE(QFile::rename(installer, installer + QStringLiteral(".away")));
    prompter.QueueAnswer(MessageResult::Yes);
    Start();
    EXPECT_EQ(prompter.BoxTexts(),
              (QStringList{kCodecPrompt,
                           QStringLiteral("Failed to install the wmv9VCMsetup.exe. Please install "
                                          "it manually from ")
                               + programDir}));
    EXPECT_EQ(prompter.Records().back().kind, testing_support::PromptRecord::AppBox);

    ASSERT_TRUE(QFile::rename(installer + QStringLiteral(".away"), installer));
    prompter.Clear();
    prompter.QueueAnswer(MessageResult::Yes);
    auto first = Start();
    EXPECT_EQ(first->m_processRunning, 0);
    // Installed now, but only recorded once a start has seen it.
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    EXPECT_EQ(platform::TheRegistry().ReadValue(platform::RegistryRoot::LocalMachine, entry),
              QStringLiteral("Microsoft Windows Media Video 9"));
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());
    EXPECT_EQ(CodecPrompts(), 1);

    prompter.Clear();
    Start();
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_EQ(Stored(QStringLiteral("EncodeInstalled")), QStringLiteral("1"));

    // Once recorded, the codec is not looked for again, even when it has gone.
    platform::TheRegistry().DeleteKey(platform::RegistryRoot::LocalMachine, entry);
    Start();
    EXPECT_TRUE(prompter.Records().empty());
}

// A fresh user: nothing but the user's own configuration and data folders, the real
// program folder of the build, and a person who answers Yes to every question.
TEST(FreshUser, TwoStartsAskForTheCodecOnceAndKeepEverythingInTheUsersFolders)
{
    testing_support::TestEnvironment env;
    env.Unset("VANTOREL_REGISTRY_DIR");
    env.Unset("VANTOREL_SYSTEM_DIR");
    env.Set("XDG_CONFIG_HOME", env.Root() + QStringLiteral("/config"));
    env.Set("XDG_DATA_HOME", env.Root() + QStringLiteral("/data"));
    engine::RegisterEngineClasses();
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    for (int start = 0; start < 2; ++start) {
        prompter.Clear();
        prompter.QueueAnswer(MessageResult::Yes);
        MainDialog dialog(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog.OnInitDialog());
        EXPECT_EQ(prompter.BoxTexts(), start == 0 ? QStringList{kCodecPrompt} : QStringList())
            << "start " << start;
    }
    EXPECT_TRUE(
        QFileInfo::exists(env.Root() + QStringLiteral("/config/vantorel/HKEY_LOCAL_MACHINE.reg")));
    EXPECT_TRUE(QFileInfo::exists(env.Root()
                                  + QStringLiteral("/data/vantorel/system/DidirizaDezuzev.dll")));
    WaitForDetachedTools();
}

// ---- The settings store ----------------------------------------------------------------

class SettingsStoreTest : public StartupTest
{
protected:
    MainDialog dialog{Services()};
};

TEST_F(SettingsStoreTest, EachSettingIsTheDefaultValueOfItsOwnSubKey)
{
    // Reading a missing setting creates the main key once; reading again changes nothing.
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Startup")), QString());
    EXPECT_TRUE(platform::TheRegistry().KeyExists(RegistryRoot::LocalMachine, kMainKey));
    const QString store = platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg");
    const QDateTime created = QFileInfo(store).lastModified();
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Admin")), QString());
    EXPECT_EQ(QFileInfo(store).lastModified(), created);

    dialog.WriteAppSetting(QStringLiteral("Admin"), QStringLiteral("0"));
    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("0"));
    EXPECT_TRUE(platform::TheRegistry().ValueNames(RegistryRoot::LocalMachine, kMainKey).isEmpty());
    // Sub-key names match without regard to case.
    platform::TheRegistry().WriteValue(RegistryRoot::LocalMachine,
                                       QStringLiteral("software\\clients\\tarvix2\\STARTUP"),
                                       QString(),
                                       QStringLiteral("1"));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Startup")), QStringLiteral("1"));
    // A named value under the main key, or the key under the classes root, is no setting.
    platform::TheRegistry().WriteValue(
        RegistryRoot::LocalMachine, kMainKey, QStringLiteral("Version"), QStringLiteral("9.9"));
    platform::TheRegistry().WriteValue(RegistryRoot::ClassesRoot,
                                       kMainKey + QStringLiteral("\\Version"),
                                       QString(),
                                       QStringLiteral("8.8"));
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("Version")), QString());
}

struct StoredTextCase
{
    const char *name;
    QString stored;
    QString read;
};

class StoredTextTest : public SettingsStoreTest,
                       public ::testing::WithParamInterface<StoredTextCase>
{};

TEST_P(StoredTextTest, ReadsBackWholeOrNotAtAll)
{
    dialog.WriteAppSetting(QStringLiteral("InstallDir"), GetParam().stored);
    EXPECT_EQ(dialog.ReadAppSetting(QStringLiteral("InstallDir")), GetParam().read);
    // What was written is kept whole, even where it cannot be read back.
    EXPECT_EQ(Stored(QStringLiteral("InstallDir")), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Texts,
    StoredTextTest,
    ::testing::Values(StoredTextCase{"unicode",
                                     QStringLiteral("/home/j\u00f6rg/\u5199\u771f/"),
                                     QStringLiteral("/home/j\u00f6rg/\u5199\u771f/")},
                      StoredTextCase{"longest", QString(511, u'a'), QString(511, u'a')},
                      StoredTextCase{"one_too_long", QString(512, u'a'), QString()},
                      StoredTextCase{"data_after_a_null",
                                     QStringLiteral("2.1") + QChar(u'\0') + QStringLiteral("junk"),
                                     QStringLiteral("2.1")}),
    testing_support::RowName());

// ---- Finding compressors by friendly name over the engine's device enumerator ------------

struct NameCase
{
    bool video;
    const char *name;
    bool found;
};
void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << (c.video ? "video \"" : "audio \"") << c.name << '"';
}

class CompressorName : public StartupTest, public ::testing::WithParamInterface<NameCase>
{};

TEST_P(CompressorName, OnlyTheWholeNameInItsOwnCaseMatches)
{
    MainDialog dialog(Services());
    const NameCase c = GetParam();
    platform::ComPtr<engine::IBaseFilter> filter;
    const bool found = c.video ? dialog.FindVideoCompressor(filter, QString::fromUtf8(c.name))
                               : dialog.FindAudioCompressor(filter);
    EXPECT_EQ(found, c.found);
    // A working compressor: it has an input and an output pin.
    EXPECT_EQ(filter ? filter->EnumPins().size() : 0u, c.found ? 2u : 0u);
    EXPECT_TRUE(prompter.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(Names,
                         CompressorName,
                         ::testing::Values(NameCase{true, "Cinepak Codec by Radius", true},
                                           NameCase{true, "Microsoft Video 1", true},
                                           NameCase{true, "cinepak codec by radius", false},
                                           NameCase{true, "Cinepak Codec", false},
                                           NameCase{true, "Cinepak Codec by Radius ", false},
                                           NameCase{true, "MPEG Layer-3", false},
                                           NameCase{true, "Microsoft Windows Media Video 9", false},
                                           NameCase{false, "MPEG Layer-3", true}));

} // namespace
