#pragma once
// The command line of the program: what it asks for, read with the usual conventions
// ("--opt value" and "--opt=value", -h and -v), and checked before anything else runs.

#include <QStringList>

#include <optional>
#include <variant>

namespace batch {

inline constexpr int kExitMade = 0;
inline constexpr int kExitNotMade = 1;
inline constexpr int kExitBadArguments = 2;

// How progress is shown on standard error.
enum class ProgressMode {
    Line,   // one line rewritten in place (a terminal)
    Tenths, // one line per tenth of the work
    Off,
};

struct Options
{
    QStringList photoFolders;
    QString music;
    QString output;
    int secondsIndex = 1;
    int sizeIndex = 0;
    bool wholeMusic = false;
    bool highQuality = true;
    bool effect = true;
    bool yes = false;
    bool overwrite = false;
    bool timings = false;
    ProgressMode progress = ProgressMode::Off;
};

// What the command line asks for: the window, a batch run, or an exit with this status
// (help, version and every usage error, already printed).
struct OpenWindow
{};
struct ExitWith
{
    int status;
};
using Request = std::variant<OpenWindow, Options, ExitWith>;

// `args` without the program name. `stderrIsTerminal` picks the default progress mode.
Request ReadCommandLine(const QStringList &args, bool stderrIsTerminal);

} // namespace batch
