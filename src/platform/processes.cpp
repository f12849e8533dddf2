#include "platform/processes.h"

#include "platform/system_folders.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {
namespace {

// argv for exec, prepared before fork (nothing may allocate in the child), in the file
// system's encoding.
struct Argv
{
    std::vector<std::string> storage;
    std::vector<char *> pointers;

    explicit Argv(const QStringList &args)
    {
        for (const QString &a : args)
            storage.push_back(QFile::encodeName(a).toStdString());
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

// Marks every descriptor from 3 up close-on-exec, so that the program executed next
// inherits only its standard three. Runs in the child between fork and exec: only
// async-signal-safe calls, no allocation (so no directory listing). close_range does it in
// one call; on kernels before 5.11 (no CLOSE_RANGE_CLOEXEC) every number below the
// descriptor limit is marked instead, a few thousand cheap calls.
void MarkInheritedDescriptorsCloseOnExec(int descriptorLimit)
{
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (int fd = 3; fd < descriptorLimit; ++fd)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
}

// A child that is not detached is killed when the thread that started it goes away, even
// by SIGKILL: it must never go on working (and writing files) for a program that is gone.
// A child whose output is captured also gets a process group of its own, so that Ctrl+C
// at the terminal reaches the program alone, which then ends the child and cleans up.
// Runs in the child; `parent` is the pid of the program, taken before the fork.
void TieToParent(pid_t parent, bool ownGroup)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The program may have died before the line above took effect.
    if (getppid() != parent)
        _exit(127);
    if (ownGroup)
        setpgid(0, 0);
}

// The child's side of Spawn, up to exec: stdin is /dev/null, stdout/stderr go to outFd
// (or stay as they are when outFd < 0, or go to /dev/null when detached). An exec
// failure is written to statusFd (close-on-exec, so a started program closes it).
[[noreturn]] void ExecInChild(const char *file,
                              char *const *argv,
                              int outFd,
                              bool detach,
                              int statusFd,
                              int descriptorLimit,
                              pid_t parent)
{
    if (detach) {
        setsid();
        if (fork() != 0)
            _exit(0);
    } else {
        TieToParent(parent, outFd >= 0);
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
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
    MarkInheritedDescriptorsCloseOnExec(descriptorLimit);
    signal(SIGPIPE, SIG_DFL);
    execv(file, argv);
    const int error = errno;
    WriteAll(statusFd, &error, sizeof error);
    _exit(127);
}

void ReapChild(pid_t pid)
{
    int ignored;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
}

// Forks and executes (ExecInChild). Reports an exec failure back through a close-on-exec
// pipe, so the caller knows whether the program really started. With detach, the
// program runs in a grandchild that nobody waits for.
std::optional<pid_t> Spawn(const QString &path, const QStringList &args, int outFd, bool detach)
{
    Argv argv(args);
    const QByteArray file = QFile::encodeName(path);
    const long openMax = sysconf(_SC_OPEN_MAX);
    const int descriptorLimit = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(status[0]);
        close(status[1]);
        return std::nullopt;
    }
    if (pid == 0)
        ExecInChild(file.constData(),
                    argv.pointers.data(),
                    outFd,
                    detach,
                    status[1],
                    descriptorLimit,
                    parent);
    close(status[1]);
    int childError = 0;
    ssize_t n;
    do {
        n = read(status[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    close(status[0]);
    // The intermediate child of a detached start exits at once; the grandchild is adopted
    // by init. A child whose exec failed is reaped here.
    if (detach || n > 0)
        ReapChild(pid);
    if (n > 0)
        return std::nullopt;
    return pid;
}

// Waits up to timeoutMs (< 0: without limit) for the child to end, without polling: on
// its pidfd where the kernel has pidfd_open, else in waitpid itself (no limit) or in
// short sleeps between checks (with a limit, the fallback).
void WaitForExit(pid_t pid, int timeoutMs)
{
    if (timeoutMs < 0)
        return;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int r = poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
            if (r >= 0 || errno != EINTR)
                break;
        }
        close(pidfd);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0
            || info.si_pid != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
        info.ownGroup = captureOutput;
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
        WaitForExit(process.pid, timeoutMs);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(process.pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
            if (r == process.pid) {
                process.reaped = true;
                process.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            if (r < 0 && errno == EINTR)
                continue;
            return false;
        }
    }

    bool Terminate(ProcessInfo &process) override
    {
        if (process.pid <= 0 || process.reaped)
            return false;
        // A child with a group of its own is ended with whatever it started in it (a
        // script's ffmpeg), which would otherwise keep writing.
        if (process.ownGroup)
            kill(-process.pid, SIGKILL);
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

namespace {

// The program name from commandLine[*i]: quotes group, backslashes are plain characters.
QString ReadProgramName(const QString &commandLine, int *i)
{
    QString program;
    bool quoted = false;
    for (; *i < commandLine.size(); ++*i) {
        const QChar c = commandLine[*i];
        if (c == u'"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && IsBlank(c))
            break;
        program += c;
    }
    return program;
}

// One argument from commandLine[*i]: 2n backslashes before a quote make n and the quote
// groups, 2n + 1 make n and a literal quote; other backslashes are plain; "" inside quotes
// is a literal quote.
QString ReadArgument(const QString &commandLine, int *i)
{
    const int n = commandLine.size();
    QString arg;
    bool quoted = false;
    while (*i < n) {
        const QChar c = commandLine[*i];
        if (c == u'\\') {
            int backslashes = 0;
            for (; *i < n && commandLine[*i] == u'\\'; ++*i)
                ++backslashes;
            if (*i < n && commandLine[*i] == u'"') {
                arg += QString(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    arg += u'"';
                    ++*i;
                }
            } else {
                arg += QString(backslashes, u'\\');
            }
            continue;
        }
        if (c == u'"') {
            if (quoted && *i + 1 < n && commandLine[*i + 1] == u'"') {
                arg += u'"';
                *i += 2;
                continue;
            }
            quoted = !quoted;
            ++*i;
            continue;
        }
        if (!quoted && IsBlank(c))
            break;
        arg += c;
        ++*i;
    }
    return arg;
}

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
    args << ReadProgramName(commandLine, &i);
    for (;;) {
        while (i < n && IsBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        args << ReadArgument(commandLine, &i);
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
