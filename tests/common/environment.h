#pragma once
// A private world for one test: its own registry folder, system folder, "Windows" (home)
// folder and scratch folder, set through the environment variables the platform layers
// read, and restored when the test ends. The program folder is the build's program folder
// unless a test points it elsewhere.

#include "platform/class_store.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace testing_support {

class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment &) = delete;
    TestEnvironment &operator=(const TestEnvironment &) = delete;

    QString Root() const { return m_root.path(); }
    QString RegistryDir() const { return Root() + QStringLiteral("/registry"); }
    QString SystemDir() const { return Root() + QStringLiteral("/system"); }
    QString HomeDir() const { return Root() + QStringLiteral("/home"); }
    QString ScratchDir() const { return Root() + QStringLiteral("/scratch"); }

    // Sets an environment variable until the end of the test.
    void Set(const char *name, const QString &value);
    void Unset(const char *name);

private:
    QTemporaryDir m_root;
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

// Takes a built-in class away from the class store for the guard's life; `restore`
// registers it again at the end, also when an assertion ends the test early.
class BuiltInClassAway
{
public:
    BuiltInClassAway(const platform::Clsid &clsid, std::function<void()> restore)
        : m_restore(std::move(restore))
    {
        platform::UnregisterBuiltInClass(clsid);
    }
    ~BuiltInClassAway() { m_restore(); }
    BuiltInClassAway(const BuiltInClassAway &) = delete;
    BuiltInClassAway &operator=(const BuiltInClassAway &) = delete;

private:
    std::function<void()> m_restore;
};

// What a child process did, run to its end.
struct ProcessResult
{
    bool started = false;
    QString output; // standard output and error, mixed
    int exitCode = -1;
};

// Runs a command line (split by the Windows rules) through the process layer, collects
// all it prints and waits at most timeoutMs for it to end.
ProcessResult RunToEnd(const QString &commandLine, int timeoutMs = 60000);

// The pids of this process's children, ended ones not yet reaped (zombies) included.
std::vector<int> ChildProcesses();

// Writes a small file (its directories must exist); returns its path.
QString WriteFile(const QString &path, const QByteArray &content);

} // namespace testing_support
