// The installation steps of a start, driven through a real main window's initialisation
// over the real registry, files and processes; the settings store and codec discovery.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
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

using platform::MessageResult;
using platform::RegistryRoot;

const QString kBuiltProgramDir = QStringLiteral(VANTOREL_TEST_PROGRAM_DIR);
const QString kMainKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2");
const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");
const QStringList kConverterFiles = {"avformat.dll", "avutil.dll", "avcodec.dll", "KelvoraCfg.dll"};

// The registered module of the resizer class, or empty.
QString ResizerServer()
{
    const QString key = "CLSID\\" + engine::CLSID_VantorelResizer.ToString() + "\\InprocServer32";
    return platform::TheRegistry().ReadValue(RegistryRoot::ClassesRoot, key).value_or(QString());
}

// Makes `dir` a program folder: links to the built support files; "KelvoraCfg.dll", which
// is only copied, may be a small file of its own.
void MakeProgramFolder(const QString &dir)
{
    QDir().mkpath(dir);
    for (const QString &name :
         kConverterFiles
             + QStringList{"DidirizaDezuzev.dll", "qcap.dll", "regsvr32", "wmv9VCMsetup.exe"}) {
        if (name == "KelvoraCfg.dll" && !QFileInfo::exists(kBuiltProgramDir + name))
            testing_support::WriteFile(dir + name, "#!/bin/sh\nexit 0\n");
        else
            QFile::link(kBuiltProgramDir + name, dir + name);
    }
}

// Waits until every registration tool started by a test has ended; the tool runs detached
// and would otherwise outlive the test's folders. Nobody's child, it is found in /proc and
// waited for on a pidfd (a tool that hangs is the test's timeout to catch).
void WaitForDetachedTools()
{
    const QString tool = QFileInfo(kBuiltProgramDir + "regsvr32").canonicalFilePath();
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() <= 0 || QFileInfo("/proc/" + pid + "/exe").symLinkTarget() != tool)
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
                                                 kMainKey + u'\\' + setting);
    }
    QString System(const QString &name) const { return env.SystemDir() + u'/' + name; }
    int CodecPrompts() const { return prompter.BoxTexts().count(kCodecPrompt); }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    const QString programDir = env.Root() + QStringLiteral("/program/");
};

void UnregisterResizer()
{
    platform::TheRegistry().DeleteKey(RegistryRoot::ClassesRoot,
                                      "CLSID\\" + engine::CLSID_VantorelResizer.ToString());
}

TEST_F(StartupTest, FirstStartInstallsAndLaterStartsRestoreOnlyWhatHasGone)
{
    auto dialog = Start();

    EXPECT_EQ(Stored("Version"), QStringLiteral("2.1"));
    EXPECT_EQ(Stored("InstallDir"), programDir);
    EXPECT_EQ(Stored("Startup"), QStringLiteral("1"));
    EXPECT_EQ(Stored("Admin"), QStringLiteral("1"));
    for (const QString &name : kConverterFiles + QStringList{"DidirizaDezuzev.dll"})
        EXPECT_TRUE(QFileInfo(System(name)).isFile()) << qPrintable(name);
    EXPECT_EQ(ResizerServer(), System("DidirizaDezuzev.dll"));
    EXPECT_EQ(dialog->m_converterPath, System("KelvoraCfg.dll"));

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
    EXPECT_FALSE(Stored("EncodeInstalled").has_value());

    // A later start registers in process, writes nothing and copies only what has gone.
    platform::TheRegistry().WriteValue(
        RegistryRoot::LocalMachine, kMainKey + "\\EncodeInstalled", QString(), "1");
    WaitForDetachedTools();
    const QString storeFile = platform::RegistryFolder() + "/HKEY_LOCAL_MACHINE.reg";
    const QDateTime modifiedBefore = QFileInfo(storeFile).lastModified();
    // Copies dated back show what this start copies again.
    const QDateTime old = QDateTime::currentDateTime().addDays(-30);
    for (const QString &name : kConverterFiles) {
        QFile file(System(name));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    prompter.Clear();
    UnregisterResizer();

    auto second = Start();
    EXPECT_EQ(QFileInfo(storeFile).lastModified(), modifiedBefore);
    for (const QString &name : kConverterFiles)
        EXPECT_LT(QFileInfo(System(name)).lastModified(), old.addDays(1)) << qPrintable(name);
    EXPECT_EQ(ResizerServer(), System("DidirizaDezuzev.dll"));
    EXPECT_EQ(second->m_version, QStringLiteral("2.1"));

    // Converter files gone from the system folder are copied there again.
    for (const char *gone : {"avcodec.dll", "KelvoraCfg.dll"})
        ASSERT_TRUE(QFile::remove(System(gone)));
    auto third = Start();
    for (const QString &name : kConverterFiles)
        EXPECT_TRUE(QFileInfo(System(name)).isFile()) << qPrintable(name);
    EXPECT_EQ(third->m_converterPath, System("KelvoraCfg.dll"));
    EXPECT_TRUE(prompter.Records().empty());
}

// A converter file missing from the program folder stops the copies after the files
// before it; the converter runs from the program folder, and the user learns what it lacks.
TEST_F(StartupTest, MissingAvcodecStopsTheCopiesAfterAvutilAndIsNamed)
{
    QFile::remove(programDir + "avcodec.dll");
    auto dialog = Start();
    for (const QString &name : kConverterFiles)
        EXPECT_EQ(QFileInfo::exists(System(name)), kConverterFiles.indexOf(name) < 2)
            << qPrintable(name);
    EXPECT_EQ(Stored("Admin"), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + "KelvoraCfg.dll");
    EXPECT_EQ(prompter.BoxTexts().value(0),
              "The file " + programDir
                  + "avcodec.dll is missing. Please install Vantorel "
                    "Converter again.");
}

TEST_F(StartupTest, UnwritableSystemFolderKeepsEverythingInTheProgramFolder)
{
    // A system folder below a plain file cannot be written, not even by root.
    const QString blocker = testing_support::WriteFile(env.Root() + "/blocker", "x");
    env.Set("VANTOREL_SYSTEM_DIR", blocker + "/system32");
    auto dialog = Start();
    EXPECT_EQ(Stored("Admin"), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + "KelvoraCfg.dll");
    EXPECT_EQ(ResizerServer(), programDir + "DidirizaDezuzev.dll");
    // No system folder at all stops start-up before the window is made up.
    env.Set("VANTOREL_SYSTEM_DIR", QStringLiteral("   "));
    EXPECT_FALSE(MainDialog(Services()).OnInitDialog());
}

// The copy into the system folder fails, so the tool gets the program folder's path,
// blank included and without quotes, and fails silently.
TEST_F(StartupTest, TheToolCannotRegisterTheResizerFromAPathWithABlank)
{
    const QString blankDir = env.Root() + "/my program/";
    MakeProgramFolder(blankDir);
    env.Set("VANTOREL_PROGRAM_DIR", blankDir);
    MainDialog dialog(Services());
    dialog.m_programDir = blankDir;
    dialog.m_systemDir = testing_support::WriteFile(env.Root() + "/blocker", "x");
    EXPECT_TRUE(dialog.RegisterServerSilently("DidirizaDezuzev.dll"));
    WaitForDetachedTools();
    EXPECT_TRUE(ResizerServer().isEmpty());
    EXPECT_TRUE(prompter.Records().empty());
}

TEST_F(StartupTest, AnsweringYesRunsTheInstallerAndTheNextStartFindsTheCodec)
{
    // Without the installer the user learns where to find it, and start-up goes on.
    const QString installer = programDir + "wmv9VCMsetup.exe";
    ASSERT_TRUE(QFile::rename(installer, installer + ".away"));
    prompter.QueueAnswer(MessageResult::Yes);
    Start();
    EXPECT_EQ(prompter.BoxTexts(),
              (QStringList{kCodecPrompt,
                           "Failed to install the wmv9VCMsetup.exe. Please install it manually "
                           "from "
                               + programDir}));
    EXPECT_EQ(prompter.Records().back().kind, testing_support::PromptRecord::AppBox);

    ASSERT_TRUE(QFile::rename(installer + ".away", installer));
    prompter.Clear();
    prompter.QueueAnswer(MessageResult::Yes);
    EXPECT_EQ(Start()->m_processRunning, 0);
    // Installed now, but only recorded once a start has seen it.
    const QString entry = engine::kCompressorListKeyVideo + "\\wmv9";
    EXPECT_EQ(platform::TheRegistry().ReadValue(RegistryRoot::LocalMachine, entry),
              QStringLiteral("Microsoft Windows Media Video 9"));
    EXPECT_FALSE(Stored("EncodeInstalled").has_value());
    EXPECT_EQ(CodecPrompts(), 1);

    prompter.Clear();
    Start();
    EXPECT_EQ(Stored("EncodeInstalled"), QStringLiteral("1"));
    // Once recorded, the codec is not looked for again, even when it has gone.
    platform::TheRegistry().DeleteKey(RegistryRoot::LocalMachine, entry);
    Start();
    EXPECT_TRUE(prompter.Records().empty());
}

// ---- The settings store ----------------------------------------------------------------

TEST_F(StartupTest, EachSettingIsTheDefaultValueOfItsOwnSubKey)
{
    MainDialog dialog(Services());
    platform::Registry &registry = platform::TheRegistry();
    // Reading a missing setting creates the main key once; reading again changes nothing.
    EXPECT_EQ(dialog.ReadAppSetting("Startup"), QString());
    EXPECT_TRUE(registry.KeyExists(RegistryRoot::LocalMachine, kMainKey));
    const QString store = platform::RegistryFolder() + "/HKEY_LOCAL_MACHINE.reg";
    const QDateTime created = QFileInfo(store).lastModified();
    EXPECT_EQ(dialog.ReadAppSetting("Admin"), QString());
    EXPECT_EQ(QFileInfo(store).lastModified(), created);

    dialog.WriteAppSetting("Admin", "0");
    EXPECT_EQ(Stored("Admin"), QStringLiteral("0"));
    EXPECT_TRUE(registry.ValueNames(RegistryRoot::LocalMachine, kMainKey).isEmpty());
    // Sub-key names match without regard to case.
    registry.WriteValue(
        RegistryRoot::LocalMachine, "software\\clients\\tarvix2\\STARTUP", QString(), "1");
    EXPECT_EQ(dialog.ReadAppSetting("Startup"), QStringLiteral("1"));
    // A named value under the main key, or the key under the classes root, is no setting.
    registry.WriteValue(RegistryRoot::LocalMachine, kMainKey, "Version", "9.9");
    registry.WriteValue(RegistryRoot::ClassesRoot, kMainKey + "\\Version", QString(), "8.8");
    EXPECT_EQ(dialog.ReadAppSetting("Version"), QString());

    // What was written is kept whole, even where it cannot be read back.
    const QString unicode = QStringLiteral("/home/j\u00f6rg/\u5199\u771f/");
    for (const auto &[stored, read] :
         {std::pair{unicode, unicode},
          std::pair{QString(511, u'a'), QString(511, u'a')},
          std::pair{QString(512, u'a'), QString()},
          std::pair{"2.1" + QString(QChar(u'\0')) + "junk", QString("2.1")}}) {
        dialog.WriteAppSetting("InstallDir", stored);
        EXPECT_EQ(dialog.ReadAppSetting("InstallDir"), read) << stored.size();
        EXPECT_EQ(Stored("InstallDir"), stored);
    }
}

// The positive finds are the render's: the preferred compressor, the fallback and the audio
// compressor. Names are compared whole, in their own case, within their category.
TEST_F(StartupTest, CompressorsAreFoundByTheirWholeNameInItsOwnCase)
{
    MainDialog dialog(Services());
    platform::ComPtr<engine::IBaseFilter> filter;
    for (const char *name :
         {"cinepak codec by radius", "Cinepak Codec", "Cinepak Codec by Radius ", "MPEG Layer-3"})
        EXPECT_FALSE(dialog.FindVideoCompressor(filter, name)) << name;
    EXPECT_FALSE(filter);
    ASSERT_TRUE(dialog.FindVideoCompressor(filter, "Microsoft Video 1"));
    EXPECT_EQ(filter->EnumPins().size(), 2u); // a working compressor: an input and an output
}

} // namespace
