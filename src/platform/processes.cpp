#include "platform/processes.h"

#include "platform/system_folders.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

// argv for exec, prepared before fork (nothing may allocate in the child).
struct Argv
{
    std::vector<std::string> storage;
    std::vector<char *> pointers;

    explicit Argv(const QStringList &args)
    {
        for (const QString &a : args)
            storage.push_back(a.toLocal8Bit().toStdString());
        for (std::string &s : storage)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

// The program to execute: a name with a '/' as it stands, else the first match on PATH.
QString ResolveProgram(const QString &program)
{
    if (program.contains(u'/'))
        return program;
    return QStandardPaths::findExecutable(program);
}

bool IsExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The program and arguments of a command line whose program path is unquoted and holds
// blanks, found as Windows finds them: each blank in turn ends a candidate path
// ("/a b/c d/prog x" tries "/a", "/a b/c", "/a b/c d/prog", then the whole line), the
// first that names an executable file is the program, and the rest of the line is split
// into its arguments. Nothing when no candidate is one.
std::optional<QStringList> SplitAtExistingProgram(const QString &commandLine)
{
    qsizetype start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start]))
        ++start;
    const QString line = commandLine.mid(start);
    if (line.startsWith(u'"'))
        return std::nullopt;
    for (qsizetype end = 0; end <= line.size(); ++end) {
        if (end < line.size() && !IsBlank(line[end]))
            continue;
        const QString candidate = line.left(end);
        if (!candidate.contains(u'/') || !IsExecutableFile(candidate))
            continue;
        // The arguments alone follow the argument rules (no program name in front).
        return QStringList{candidate}
               + SplitCommandLine(QStringLiteral("x ") + line.mid(end)).mid(1);
    }
    return std::nullopt;
}

void WriteAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

// Forks and executes; in the child, stdin is /dev/null and stdout/stderr go to outFd
// (or stay as they are when outFd < 0). Reports an exec failure back through a
// close-on-exec pipe, so the caller knows whether the program really started.
// With detach, the program runs in a grandchild that nobody waits for.
std::optional<pid_t> Spawn(const QString &path, const QStringList &args, int outFd, bool detach)
{
    Argv argv(args);
    const std::string file = path.toLocal8Bit().toStdString();
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(status[0]);
        close(status[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        if (detach) {
            setsid();
            if (fork() != 0)
                _exit(0);
        }
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
            if (detach) {
                dup2(devNull, STDOUT_FILENO);
                dup2(devNull, STDERR_FILENO);
            }
        }
        if (outFd >= 0) {
            dup2(outFd, STDOUT_FILENO);
            dup2(outFd, STDERR_FILENO);
        }
        // Everything else the program holds is closed in the child.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != status[1])
                close(fd);
        }
        signal(SIGPIPE, SIG_DFL);
        execv(file.c_str(), argv.pointers.data());
        const int error = errno;
        WriteAll(status[1], &error, sizeof error);
        _exit(127);
    }
    close(status[1]);
    int childError = 0;
    ssize_t n;
    do {
        n = read(status[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    close(status[0]);
    if (detach) {
        // The intermediate child exits at once; the grandchild is adopted by init.
        int ignored;
        while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    if (n > 0) {
        if (!detach) {
            int ignored;
            while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        }
        return std::nullopt;
    }
    return pid;
}

class LinuxProcesses final : public Processes
{
public:
    std::optional<ProcessInfo> Start(const QString &commandLine, bool captureOutput) override
    {
        QStringList args = SplitCommandLine(commandLine);
        if (args.isEmpty())
            return std::nullopt;
        QString path = ResolveProgram(args.first());
        if (!IsExecutableFile(path)) {
            if (auto found = SplitAtExistingProgram(commandLine)) {
                args = *found;
                path = args.first();
            }
        }
        if (path.isEmpty())
            return std::nullopt;
        int pipeFds[2] = {-1, -1};
        if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0)
            return std::nullopt;
        const auto pid = Spawn(path, args, pipeFds[1], false);
        if (pipeFds[1] >= 0)
            close(pipeFds[1]);
        if (!pid) {
            if (pipeFds[0] >= 0)
                close(pipeFds[0]);
            return std::nullopt;
        }
        ProcessInfo info;
        info.pid = *pid;
        info.outputFd = pipeFds[0];
        return info;
    }

    long ReadOutput(ProcessInfo &process, char *buffer, long size) override
    {
        if (process.outputFd < 0 || size <= 0)
            return -1;
        for (;;) {
            const ssize_t n = read(process.outputFd, buffer, static_cast<size_t>(size));
            if (n < 0 && errno == EINTR)
                continue;
            return static_cast<long>(n);
        }
    }

    bool Wait(ProcessInfo &process, int timeoutMs) override
    {
        if (process.reaped)
            return true;
        if (process.pid <= 0)
            return false;
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(process.pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
            if (r == process.pid) {
                process.reaped = true;
                process.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            if (r < 0 && errno != EINTR)
                return false;
            if (timeoutMs >= 0) {
                if (std::chrono::steady_clock::now() >= deadline)
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    bool Terminate(ProcessInfo &process) override
    {
        if (process.pid <= 0 || process.reaped)
            return false;
        if (kill(process.pid, SIGKILL) != 0)
            return false;
        process.terminated = true;
        return true;
    }

    void Close(ProcessInfo &process) override
    {
        if (process.outputFd >= 0) {
            close(process.outputFd);
            process.outputFd = -1;
        }
        if (process.pid > 0 && !process.reaped)
            Wait(process, process.terminated ? -1 : 0);
    }

    bool ShellOpen(const QString &file, const QString &parameters) override
    {
        QString path;
        if (file.contains(u'/'))
            path = file;
        else if (QFileInfo inProgram(ProgramFolder() + file);
                 inProgram.isFile() && inProgram.isExecutable())
            path = inProgram.filePath();
        else
            path = QStandardPaths::findExecutable(file);
        if (path.isEmpty())
            return false;
        QStringList args{path};
        if (!parameters.isEmpty()) {
            // The parameters alone follow the argument rules (no program name in front).
            args += SplitCommandLine(QStringLiteral("x ") + parameters).mid(1);
        }
        return Spawn(path, args, -1, true).has_value();
    }
};

} // namespace

QStringList SplitCommandLine(const QString &commandLine)
{
    QStringList args;
    const int n = commandLine.size();
    int i = 0;
    while (i < n && IsBlank(commandLine[i]))
        ++i;
    if (i >= n)
        return args;

    // The program name: quotes group, backslashes are plain characters.
    QString program;
    bool quoted = false;
    for (; i < n; ++i) {
        const QChar c = commandLine[i];
        if (c == u'"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsBlank(c))
            break;
        program += c;
    }
    args << program;

    for (;;) {
        while (i < n && IsBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        QString arg;
        quoted = false;
        while (i < n) {
            const QChar c = commandLine[i];
            if (c == u'\\') {
                int backslashes = 0;
                while (i < n && commandLine[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && commandLine[i] == u'"') {
                    arg += QString(backslashes / 2, u'\\');
                    if (backslashes % 2 == 1) {
                        arg += u'"';
                        ++i;
                    }
                } else {
                    arg += QString(backslashes, u'\\');
                }
                continue;
            }
            if (c == u'"') {
                if (quoted && i + 1 < n && commandLine[i + 1] == u'"') {
                    arg += u'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && IsBlank(c))
                break;
            arg += c;
            ++i;
        }
        args << arg;
    }
    return args;
}

QString QuoteArgument(const QString &argument)
{
    if (!argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t')
        && !argument.contains(u'"'))
        return argument;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            // Backslashes before a quote are doubled, and the quote escaped.
            out += QString(backslashes * 2 + 1, u'\\');
            out += u'"';
        } else {
            out += QString(backslashes, u'\\');
            out += c;
        }
        backslashes = 0;
    }
    // Backslashes before the closing quote are doubled.
    out += QString(backslashes * 2, u'\\');
    out += u'"';
    return out;
}

Processes &TheProcesses()
{
    static LinuxProcesses processes;
    return processes;
}

} // namespace platform
