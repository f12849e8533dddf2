#pragma once
// SIGTERM (log-out, shut-down), SIGINT (Ctrl+C) and SIGHUP (the terminal went away), turned
// into a call on the main thread: the handler only writes the signal's number into a pipe,
// and a socket notifier on the pipe's other end calls back from the event loop, where the
// program may end its converter and remove its files.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class TerminationSignals
{
public:
    // From now on the three signals call `onSignal` (with the signal's number) from the
    // event loop of this thread, instead of ending the program. One object at a time.
    explicit TerminationSignals(std::function<void(int)> onSignal);
    // The signals end the program again.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// The exit status of a program ended by `signal`, as a shell reports it: 128 + signal.
inline int ExitStatusForSignal(int signal)
{
    return 128 + signal;
}

} // namespace platform
