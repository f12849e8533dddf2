#pragma once
// The rules that turn the text of the output box into the movie's path, its working
// folder and the temporary AVI beside it. They are written once over a path style:
//   Windows  "\" (then "/") separates; a path without a drive takes the drive of the
//            Windows folder; a bare drive "D:" means its root.
//   Posix    "/" separates; a path that does not start with "/" or "~/" is taken under
//            the home folder (the counterpart of a drive root); no bare-drive rule.
// The program uses the Posix style; the Windows style keeps the rules checkable against
// their original examples.

#include <QString>

#include <functional>
#include <optional>

namespace platform {
class FileSystem;
}

namespace production {

enum class PathStyle { Windows, Posix };

inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;

struct OutputPathRequest
{
    // The output box as typed.
    QString typed;
    // The Windows folder of the window's record (Posix: the home folder with a trailing
    // "/"); where a path without a drive (a relative path) is anchored.
    QString windowsDir;
    // Extension of the movie ("mp4").
    QString outputExt;
    // The working folder of the previous run; kept when the movie path has no folder.
    QString previousWorkDir;
    // Asks the system for the Windows folder; used only when the box is empty.
    std::function<std::optional<QString>()> askWindowsFolder;
};

struct OutputPathPlan
{
    // Empty when the run may go on; otherwise the message to show, and the run stops.
    QString message;
    // The failure wants the keyboard focus on the output box.
    bool focusOutputBox = false;
    // The text the output box shows afterwards; a null text leaves the box as it is.
    QString boxText;
    QString outputPath;
    QString workDir;
    QString tempAviPath;
};

// Makes the movie path and checks that a file can be written there. Files touched: an
// old file at the movie path itself is deleted and a probe file made and removed there;
// one missing folder level may be created; for an empty box the default folder is made.
// No other file is deleted or truncated.
OutputPathPlan
PlanOutputPaths(PathStyle style, const OutputPathRequest &request, platform::FileSystem &fs);

// Creates `path` as a new empty file and removes it again; true when that worked. Never
// truncates: an existing file at the path makes the probe fail.
bool CanCreateFile(platform::FileSystem &fs, const QString &path);

} // namespace production
