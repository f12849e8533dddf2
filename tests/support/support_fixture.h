#pragma once
// The world of the start-up tests: a private store, system folder and program folder
// holding links to the built support files, and recording wrappers around the real
// registry and processes, so that a test sees what start-up did and in which
// order while everything still really happens.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "engine/dshow.h"
#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace support_tests {

// The real registry layer; every change is recorded as "key|name=value" (name empty for
// the default value) or "create key".
class RecordingRegistry final : public platform::Registry
{
public:
    QStringList changes;

    bool CreateKey(platform::RegistryRoot root, const QString &key) override;
    bool KeyExists(platform::RegistryRoot root, const QString &key) const override;
    std::optional<QString>
    ReadValue(platform::RegistryRoot root, const QString &key, const QString &name) const override;
    bool WriteValue(platform::RegistryRoot root,
                    const QString &key,
                    const QString &name,
                    const QString &value) override;
    QStringList SubKeys(platform::RegistryRoot root, const QString &key) const override;
    QStringList ValueNames(platform::RegistryRoot root, const QString &key) const override;
    bool DeleteKey(platform::RegistryRoot root, const QString &key) override;
};

// The real processes; shell starts and process starts are recorded.
class RecordingProcesses final : public platform::Processes
{
public:
    QStringList shellOpens; // "file parameters"
    QStringList starts;     // command lines

    std::optional<platform::ProcessInfo> Start(const QString &commandLine,
                                               bool captureOutput) override;
    long ReadOutput(platform::ProcessInfo &process, char *buffer, long size) override;
    bool Wait(platform::ProcessInfo &process, int timeoutMs) override;
    bool Terminate(platform::ProcessInfo &process) override;
    void Close(platform::ProcessInfo &process) override;
    bool ShellOpen(const QString &file, const QString &parameters) override;
};

// Rows with a `label` show it in failure messages.
// (In the files' own unnamed namespace, where their rows are declared.)
namespace {
template <class Row>
auto operator<<(std::ostream &os, const Row &row) -> decltype(row.label, os)
{
    return os << row.label;
}
} // namespace

// The registered module of a class, or empty.
QString ClassServer(const platform::Clsid &clsid);
// The support files start-up handles, as built into the program folder.
QStringList ShippedFiles();
// The build's program folder, with a trailing '/'.
QString BuiltProgramDir();
// Makes `dir` a program folder: links to the built `files`; "KelvoraCfg.dll", which is
// only copied, may be a small file of its own.
void MakeProgramFolder(const QString &dir, const QStringList &files);
// Waits (up to 20 s) until no registration tool started by a test is running any more;
// the tool runs detached and would otherwise outlive the test's folders.
void WaitForDetachedTools();

class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    platform::Services Services();
    // One start of the program up to the shown window.
    std::unique_ptr<MainDialog> Start();
    // A setting as stored, bypassing the program.
    std::optional<QString> Stored(const QString &setting) const;
    void Store(const QString &setting, const QString &value);
    static QString ResizerServer() { return ClassServer(engine::CLSID_VantorelResizer); }
    // The changes the store received under the program's key, as "Setting=value".
    QStringList SettingWrites() const;
    // Boxes asking to install the codec.
    int CodecPrompts() const;

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    RecordingRegistry registry;
    RecordingProcesses processes;
    QString programDir; // with a trailing '/'
};

inline const QString kCodecPrompt = QStringLiteral(
    "Vantorel will use microsoft windows video codec. Please install the wmv9VCMsetup.exe in "
    "order to get the high-quality product. To install it now?");

} // namespace support_tests
