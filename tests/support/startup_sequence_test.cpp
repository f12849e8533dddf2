// The installation steps of a start, driven through a real main window's initialisation.

#include "support_fixture.h"

#include <QDateTime>
#include <QFile>

#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace support_tests {
namespace {

using platform::MessageButtons;
using platform::MessageResult;

const QStringList kConverterFiles = {QStringLiteral("avformat.dll"),
                                     QStringLiteral("avutil.dll"),
                                     QStringLiteral("avcodec.dll"),
                                     QStringLiteral("KelvoraCfg.dll")};

TEST_F(StartupTest, FirstStartWritesTheMarkersRegistersTwiceAndCopiesTheConverterInOrder)
{
    auto dialog = Start();

    EXPECT_EQ(SettingWrites(),
              (QStringList{QStringLiteral("Version=2.1"),
                           QStringLiteral("InstallDir=") + programDir,
                           QStringLiteral("Startup=1"),
                           QStringLiteral("Admin=1")}));
    EXPECT_TRUE(Stored(QStringLiteral("InstallDir"))->endsWith(u'/'));
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());

    // The resizer and the converter files are copied into the system folder.
    for (const QString &name : kConverterFiles + QStringList{QStringLiteral("DidirizaDezuzev.dll")})
        EXPECT_TRUE(QFileInfo(env.SystemDir() + u'/' + name).isFile()) << qPrintable(name);

    // Registered in-process from the system folder's copy, and by the tool, silently,
    // from the same copy.
    const QString systemCopy = env.SystemDir() + QStringLiteral("/DidirizaDezuzev.dll");
    EXPECT_EQ(ResizerServer(), systemCopy);
    EXPECT_EQ(processes.shellOpens, QStringList{QStringLiteral("regsvr32 /s ") + systemCopy});

    EXPECT_EQ(dialog->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));
    // The codec is not installed yet: the question comes, owned by the window, and the
    // default answer (No) starts nothing.
    ASSERT_EQ(prompter.Records().size(), 1u);
    const testing_support::PromptRecord question = prompter.Records().front();
    EXPECT_EQ(question.text, kCodecPrompt);
    EXPECT_EQ(question.caption, QStringLiteral("Warning"));
    EXPECT_EQ(question.buttons, MessageButtons::YesNo);
    EXPECT_EQ(question.icon, platform::MessageIcon::None);
    EXPECT_EQ(question.owner, dialog.get());
    EXPECT_TRUE(processes.starts.isEmpty());

    // Nothing recorded the answer No: the next start asks again.
    Start();
    EXPECT_EQ(CodecPrompts(), 2);
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());
}

TEST_F(StartupTest, LaterStartOnlyRegistersInProcessLocatesAndWritesNothing)
{
    Start();
    Store(QStringLiteral("EncodeInstalled"), QStringLiteral("1"));
    WaitForDetachedTools();
    const QString storeFile
        = platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg");
    const QFileInfo before(storeFile);
    const QDateTime modifiedBefore = before.lastModified();
    registry.changes.clear();
    // Copies dated back show what this start copies again.
    const QDateTime old = QDateTime::currentDateTime().addDays(-30);
    for (const QString &name : kConverterFiles) {
        QFile file(env.SystemDir() + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    processes.shellOpens.clear();
    prompter.Clear();
    // The resizer's registration is removed, to see that this start makes it again.
    platform::TheRegistry().DeleteKey(
        platform::RegistryRoot::ClassesRoot,
        QStringLiteral("CLSID\\%1").arg(engine::CLSID_VantorelResizer.ToString()));

    auto second = Start();

    EXPECT_TRUE(SettingWrites().isEmpty()) << qPrintable(SettingWrites().join(u','));
    EXPECT_FALSE(registry.changes.contains(QStringLiteral("create SOFTWARE\\Clients\\Tarvix2")));
    EXPECT_EQ(QFileInfo(storeFile).lastModified(), modifiedBefore);
    for (const QString &name : kConverterFiles)
        EXPECT_LT(QFileInfo(env.SystemDir() + u'/' + name).lastModified(), old.addDays(1))
            << qPrintable(name);
    EXPECT_TRUE(processes.shellOpens.isEmpty());
    EXPECT_EQ(ResizerServer(), env.SystemDir() + QStringLiteral("/DidirizaDezuzev.dll"));
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_EQ(second->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));
    EXPECT_EQ(second->m_version, QStringLiteral("2.1"));
}

TEST_F(StartupTest, ALaterStartRestoresConverterFilesGoneFromTheSystemFolderOrNamesTheMissingOne)
{
    Start();
    Store(QStringLiteral("EncodeInstalled"), QStringLiteral("1"));
    for (const char *gone : {"/avcodec.dll", "/KelvoraCfg.dll"})
        ASSERT_TRUE(QFile::remove(env.SystemDir() + QString::fromLatin1(gone)));
    prompter.Clear();

    auto second = Start();
    for (const QString &name : kConverterFiles)
        EXPECT_TRUE(QFileInfo(env.SystemDir() + u'/' + name).isFile()) << qPrintable(name);
    EXPECT_EQ(second->m_converterPath, env.SystemDir() + QStringLiteral("/KelvoraCfg.dll"));
    EXPECT_TRUE(prompter.Records().empty());

    // Gone from both folders: the converter runs from the program folder, and the user
    // learns which file it lacks.
    ASSERT_TRUE(QFile::remove(env.SystemDir() + QStringLiteral("/avcodec.dll")));
    ASSERT_TRUE(QFile::remove(programDir + QStringLiteral("avcodec.dll")));
    auto third = Start();
    EXPECT_EQ(third->m_converterPath, programDir + QStringLiteral("KelvoraCfg.dll"));
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
    const QString systemDir = blocker + QStringLiteral("/system32");
    env.Set("VANTOREL_SYSTEM_DIR", systemDir);

    auto dialog = Start();

    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + QStringLiteral("KelvoraCfg.dll"));
    const QString fromProgram = programDir + QStringLiteral("DidirizaDezuzev.dll");
    EXPECT_EQ(ResizerServer(), fromProgram);
    EXPECT_EQ(processes.shellOpens, QStringList{QStringLiteral("regsvr32 /s ") + fromProgram});
}

TEST_F(StartupTest, MissingAvcodecStopsTheCopiesAfterAvutil)
{
    QFile::remove(programDir + QStringLiteral("avcodec.dll"));

    auto dialog = Start();

    EXPECT_TRUE(QFileInfo::exists(env.SystemDir() + QStringLiteral("/avformat.dll")));
    EXPECT_TRUE(QFileInfo::exists(env.SystemDir() + QStringLiteral("/avutil.dll")));
    EXPECT_FALSE(QFileInfo::exists(env.SystemDir() + QStringLiteral("/avcodec.dll")));
    EXPECT_FALSE(QFileInfo::exists(env.SystemDir() + QStringLiteral("/KelvoraCfg.dll")));
    EXPECT_EQ(Stored(QStringLiteral("Admin")), QStringLiteral("0"));
    EXPECT_EQ(dialog->m_converterPath, programDir + QStringLiteral("KelvoraCfg.dll"));
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
    platform::TheRegistry().DeleteKey(
        platform::RegistryRoot::ClassesRoot,
        QStringLiteral("CLSID\\%1").arg(engine::CLSID_VantorelResizer.ToString()));
    processes.shellOpens.clear();
    const QString blankDir = env.Root() + QStringLiteral("/my program/");
    MakeProgramFolder(blankDir, ShippedFiles());
    const QString blocker
        = testing_support::WriteFile(env.Root() + QStringLiteral("/blocker"), "x");
    env.Set("VANTOREL_PROGRAM_DIR", blankDir);
    env.Set("VANTOREL_SYSTEM_DIR", blocker + QStringLiteral("/system32"));
    dialog->m_programDir = blankDir;
    dialog->m_systemDir = blocker + QStringLiteral("/system32");
    EXPECT_TRUE(dialog->RegisterServerSilently(QStringLiteral("DidirizaDezuzev.dll")));
    WaitForDetachedTools();
    EXPECT_EQ(processes.shellOpens,
              QStringList{QStringLiteral("regsvr32 /s ") + blankDir
                          + QStringLiteral("DidirizaDezuzev.dll")});
    EXPECT_TRUE(ResizerServer().isEmpty());
    EXPECT_TRUE(prompter.Records().empty());
}

TEST_F(StartupTest, InstallerMissingNamesTheProgramFolderAndStartUpGoesOn)
{
    QFile::remove(programDir + QStringLiteral("wmv9VCMsetup.exe"));
    prompter.QueueAnswer(MessageResult::Yes);

    auto dialog = Start();

    EXPECT_EQ(prompter.BoxTexts(),
              (QStringList{kCodecPrompt,
                           QStringLiteral("Failed to install the wmv9VCMsetup.exe. Please install "
                                          "it manually from ")
                               + programDir}));
    EXPECT_EQ(prompter.Records().back().kind, testing_support::PromptRecord::AppBox);
    EXPECT_EQ(dialog->m_processRunning, 0);
    EXPECT_FALSE(dialog->InstallVideoCodec());
    EXPECT_EQ(processes.starts.last(), programDir + QStringLiteral("wmv9VCMsetup.exe"));
}

TEST_F(StartupTest, AnsweringYesRunsTheInstallerAndTheNextStartFindsTheCodec)
{
    prompter.QueueAnswer(MessageResult::Yes);
    auto first = Start();

    EXPECT_EQ(processes.starts, QStringList{programDir + QStringLiteral("wmv9VCMsetup.exe")});
    EXPECT_EQ(first->m_processRunning, 0);
    // Installed now, but only recorded once a start has seen it.
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    EXPECT_EQ(platform::TheRegistry().ReadValue(platform::RegistryRoot::LocalMachine, entry),
              QStringLiteral("Microsoft Windows Media Video 9"));
    EXPECT_FALSE(Stored(QStringLiteral("EncodeInstalled")).has_value());
    EXPECT_EQ(CodecPrompts(), 1);

    prompter.Clear();
    auto second = Start();
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_EQ(Stored(QStringLiteral("EncodeInstalled")), QStringLiteral("1"));
    EXPECT_EQ(processes.starts.size(), 1);

    // Once recorded, the codec is not looked for again, even when it has gone.
    platform::TheRegistry().DeleteKey(platform::RegistryRoot::LocalMachine, entry);
    registry.changes.clear();
    auto third = Start();
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_TRUE(SettingWrites().isEmpty());
}

// A fresh user: nothing but the user's own configuration and data folders, the real
// program folder of the build, and a person who answers Yes to every question.
TEST(FreshUser, TwoStartsAskForTheCodecAtMostOnce)
{
    testing_support::TestEnvironment env;
    env.Unset("VANTOREL_REGISTRY_DIR");
    env.Unset("VANTOREL_SYSTEM_DIR");
    env.Set("XDG_CONFIG_HOME", env.Root() + QStringLiteral("/config"));
    env.Set("XDG_DATA_HOME", env.Root() + QStringLiteral("/data"));
    engine::RegisterEngineClasses();
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    int prompts = 0;
    for (int start = 0; start < 3; ++start) {
        prompter.Clear();
        prompter.QueueAnswer(MessageResult::Yes);
        MainDialog dialog(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog.OnInitDialog());
        for (const QString &text : prompter.BoxTexts()) {
            EXPECT_EQ(text, kCodecPrompt) << "start " << start;
            ++prompts;
        }
        if (start > 0) {
            EXPECT_TRUE(prompter.BoxTexts().isEmpty()) << "start " << start;
        }
    }
    EXPECT_LE(prompts, 1);
    // Everything went to the user's own folders.
    EXPECT_TRUE(
        QFileInfo::exists(env.Root() + QStringLiteral("/config/vantorel/HKEY_LOCAL_MACHINE.reg")));
    EXPECT_TRUE(QFileInfo::exists(env.Root()
                                  + QStringLiteral("/data/vantorel/system/DidirizaDezuzev.dll")));
    WaitForDetachedTools();
}

} // namespace
} // namespace support_tests
