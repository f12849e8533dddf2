#include "support_fixture.h"

#include "engine/dshow.h"
#include "engine/engine_classes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace support_tests {

using platform::RegistryRoot;

bool RecordingRegistry::CreateKey(RegistryRoot root, const QString &key)
{
    changes << QStringLiteral("create ") + key;
    return platform::TheRegistry().CreateKey(root, key);
}
bool RecordingRegistry::KeyExists(RegistryRoot root, const QString &key) const
{
    return platform::TheRegistry().KeyExists(root, key);
}
std::optional<QString>
RecordingRegistry::ReadValue(RegistryRoot root, const QString &key, const QString &name) const
{
    return platform::TheRegistry().ReadValue(root, key, name);
}
bool RecordingRegistry::WriteValue(RegistryRoot root,
                                   const QString &key,
                                   const QString &name,
                                   const QString &value)
{
    changes << key + u'|' + name + u'=' + value;
    return platform::TheRegistry().WriteValue(root, key, name, value);
}
QStringList RecordingRegistry::SubKeys(RegistryRoot root, const QString &key) const
{
    return platform::TheRegistry().SubKeys(root, key);
}
QStringList RecordingRegistry::ValueNames(RegistryRoot root, const QString &key) const
{
    return platform::TheRegistry().ValueNames(root, key);
}
bool RecordingRegistry::DeleteKey(RegistryRoot root, const QString &key)
{
    changes << QStringLiteral("delete ") + key;
    return platform::TheRegistry().DeleteKey(root, key);
}

std::optional<platform::ProcessInfo> RecordingProcesses::Start(const QString &commandLine,
                                                               bool captureOutput)
{
    starts << commandLine;
    return platform::TheProcesses().Start(commandLine, captureOutput);
}
long RecordingProcesses::ReadOutput(platform::ProcessInfo &process, char *buffer, long size)
{
    return platform::TheProcesses().ReadOutput(process, buffer, size);
}
bool RecordingProcesses::Wait(platform::ProcessInfo &process, int timeoutMs)
{
    return platform::TheProcesses().Wait(process, timeoutMs);
}
bool RecordingProcesses::Terminate(platform::ProcessInfo &process)
{
    return platform::TheProcesses().Terminate(process);
}
void RecordingProcesses::Close(platform::ProcessInfo &process)
{
    platform::TheProcesses().Close(process);
}
bool RecordingProcesses::ShellOpen(const QString &file, const QString &parameters)
{
    shellOpens << file + u' ' + parameters;
    return platform::TheProcesses().ShellOpen(file, parameters);
}

QStringList ShippedFiles()
{
    return {QStringLiteral("DidirizaDezuzev.dll"),
            QStringLiteral("qcap.dll"),
            QStringLiteral("regsvr32"),
            QStringLiteral("wmv9VCMsetup.exe"),
            QStringLiteral("avformat.dll"),
            QStringLiteral("avutil.dll"),
            QStringLiteral("avcodec.dll"),
            QStringLiteral("KelvoraCfg.dll")};
}

QString BuiltProgramDir()
{
    return QStringLiteral(VANTOREL_TEST_PROGRAM_DIR);
}

void MakeProgramFolder(const QString &dir, const QStringList &files)
{
    QDir().mkpath(dir);
    for (const QString &name : files) {
        const QString built = BuiltProgramDir() + name;
        if (name == QLatin1String("KelvoraCfg.dll") && !QFileInfo::exists(built))
            testing_support::WriteFile(dir + name, "#!/bin/sh\nexit 0\n");
        else
            QFile::link(built, dir + name);
    }
}

void WaitForDetachedTools()
{
    const QString tool
        = QFileInfo(BuiltProgramDir() + QStringLiteral("regsvr32")).canonicalFilePath();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20'000) {
        bool running = false;
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (pid.toInt() <= 0)
                continue;
            const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
            if (!exe.isEmpty() && exe == tool) {
                running = true;
                break;
            }
        }
        if (!running)
            return;
        QThread::msleep(20);
    }
}

void StartupTest::SetUp()
{
    engine::RegisterEngineClasses();
    programDir = env.Root() + QStringLiteral("/program/");
    MakeProgramFolder(programDir, ShippedFiles());
    env.Set("VANTOREL_PROGRAM_DIR", programDir);
}

void StartupTest::TearDown()
{
    WaitForDetachedTools();
}

platform::Services StartupTest::Services()
{
    platform::Services s = testing_support::TestServices(prompter, clock);
    s.registry = &registry;
    s.processes = &processes;
    return s;
}

std::unique_ptr<MainDialog> StartupTest::Start()
{
    auto dialog = std::make_unique<MainDialog>(Services());
    EXPECT_TRUE(dialog->OnInitDialog());
    return dialog;
}

std::optional<QString> StartupTest::Stored(const QString &setting) const
{
    return platform::TheRegistry().ReadValue(
        RegistryRoot::LocalMachine, QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\") + setting);
}

void StartupTest::Store(const QString &setting, const QString &value)
{
    platform::TheRegistry().WriteValue(RegistryRoot::LocalMachine,
                                       QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\") + setting,
                                       QString(),
                                       value);
}

QString ClassServer(const platform::Clsid &clsid)
{
    return platform::TheRegistry()
        .ReadValue(RegistryRoot::ClassesRoot,
                   QStringLiteral("CLSID\\%1\\InprocServer32").arg(clsid.ToString()))
        .value_or(QString());
}

QStringList StartupTest::SettingWrites() const
{
    const QString prefix = QStringLiteral("SOFTWARE\\Clients\\Tarvix2\\");
    QStringList writes;
    for (const QString &change : registry.changes) {
        if (change.startsWith(prefix)) {
            QString w = change.mid(prefix.size());
            w.replace(QStringLiteral("|="), QStringLiteral("="));
            writes << w;
        }
    }
    return writes;
}

int StartupTest::CodecPrompts() const
{
    int n = 0;
    for (const testing_support::PromptRecord &r : prompter.Records()) {
        if (r.text == kCodecPrompt)
            ++n;
    }
    return n;
}

} // namespace support_tests
