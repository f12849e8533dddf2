#include "common/environment.h"

#include "platform/processes.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace testing_support {

TestEnvironment::TestEnvironment()
{
    QDir().mkpath(RegistryDir());
    QDir().mkpath(SystemDir());
    QDir().mkpath(HomeDir());
    QDir().mkpath(ScratchDir());
    Set("VANTOREL_REGISTRY_DIR", RegistryDir());
    Set("VANTOREL_SYSTEM_DIR", SystemDir());
    Set("VANTOREL_WINDOWS_DIR", HomeDir());
    Set("VANTOREL_PROGRAM_DIR", QStringLiteral(VANTOREL_TEST_PROGRAM_DIR));
}

TestEnvironment::~TestEnvironment()
{
    for (const auto &[name, value] : m_saved) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void TestEnvironment::Set(const char *name, const QString &value)
{
    Unset(name);
    qputenv(name, value.toLocal8Bit());
}

void TestEnvironment::Unset(const char *name)
{
    if (!m_saved.count(name))
        m_saved[name]
            = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qunsetenv(name);
}

ProcessResult RunToEnd(const QString &commandLine, int timeoutMs)
{
    platform::Processes &processes = platform::TheProcesses();
    ProcessResult result;
    auto child = processes.Start(commandLine, true);
    if (!child)
        return result;
    result.started = true;
    QByteArray bytes;
    char buffer[4096];
    long n;
    while ((n = processes.ReadOutput(*child, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    if (processes.Wait(*child, timeoutMs))
        result.exitCode = child->exitCode;
    processes.Close(*child);
    result.output = QString::fromUtf8(bytes);
    return result;
}

std::vector<int> ChildProcesses()
{
    std::vector<int> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (pid.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> after = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (after.size() > 1 && after[1].toInt() == getpid())
            children.push_back(pid.toInt());
    }
    return children;
}

QString WriteFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

} // namespace testing_support
