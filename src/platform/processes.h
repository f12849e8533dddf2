#pragma once
// Child processes. A command line is one text, as on Windows: it is split into the
// program and its arguments by the Windows rules (SplitCommandLine), never handed to a
// shell. A child's standard input is /dev/null - never a closed descriptor, which the
// child would reuse for the first file it opens.

#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace platform {

// A started child. The pid has no separate thread handle on Linux.
struct ProcessInfo
{
    pid_t pid = 0;
    // Read end of the pipe carrying the child's standard output and error, or -1.
    int outputFd = -1;
    // Set once the child has been waited for (its pid may then belong to another process).
    bool reaped = false;
    // Set by Terminate: the child has been told to end and is reaped by Close.
    bool terminated = false;
    // The child leads a process group of its own (children whose output is captured).
    bool ownGroup = false;
    // Its exit status once reaped; 128 + the signal's number when a signal ended it.
    int exitCode = 0;
};

class Processes
{
public:
    virtual ~Processes() = default;

    // Starts the command line. With captureOutput the child's standard output and
    // standard error go into one pipe (ProcessInfo::outputFd), and the child leads a
    // process group of its own (a terminal's Ctrl+C reaches only this program, which ends
    // the child itself); otherwise they are the program's own. Either way the child is
    // killed when the thread that started it ends, the program included, so a child
    // still running must be waited for or terminated by that thread. Nothing when the
    // program cannot be found or executed.
    virtual std::optional<ProcessInfo> Start(const QString &commandLine, bool captureOutput) = 0;
    // Reads up to `size` bytes of the child's output, waiting for some; 0 at its end
    // (the child and everything it started closed the pipe), -1 on an error.
    virtual long ReadOutput(ProcessInfo &process, char *buffer, long size) = 0;
    // Waits until the child ends; timeoutMs < 0 waits without limit. True when it has
    // ended (its exit code in process.exitCode).
    virtual bool Wait(ProcessInfo &process, int timeoutMs) = 0;
    // Ends the child at once (it cannot choose an exit code on Linux: it is killed). The
    // child is reaped by Wait or Close, so that a thread reading its output can still
    // finish with it.
    virtual bool Terminate(ProcessInfo &process) = 0;
    // Releases what is held for the child: the pipe, and the child itself once it has
    // ended or been terminated (a child still running otherwise is left to run).
    virtual void Close(ProcessInfo &process) = 0;
    // The shell's "open" verb for a program: starts `file` from the program folder, else
    // from PATH, with `parameters` split by the Windows rules; detached, output discarded.
    // True when it was started.
    virtual bool ShellOpen(const QString &file, const QString &parameters) = 0;
};

Processes &TheProcesses();

// Splits a command line as Windows does for a program's arguments: blanks and tabs
// separate; "..." groups; 2n backslashes before a quote give n backslashes and the quote
// groups, 2n+1 give n backslashes and a literal quote; a doubled quote inside quotes is a
// literal quote; other backslashes are literal. The first item (the program) ends at the
// first blank outside quotes, and backslashes in it are always literal.
QStringList SplitCommandLine(const QString &commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged (quotes only
// when it needs them).
QString QuoteArgument(const QString &argument);

} // namespace platform
