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

// Makes the movie path and checks that a file can be written there. Files touched: a
// probe file is made and removed at the movie path (beside it, under a free name, when an
// old movie is there: that one stays until the new movie is about to be written); one
// missing folder level may be created; for an empty box the default folder is made.
// Nothing is deleted or truncated. Anything at the path but a regular file (a folder, a
// link, a device, a FIFO) stops the run with a message that says what is in the way.
OutputPathPlan
PlanOutputPaths(PathStyle style, const OutputPathRequest &request, platform::FileSystem &fs);

// Creates `path` as a new empty file and removes it again; true when that worked. Never
// truncates: an existing file at the path makes the probe fail.
bool CanCreateFile(platform::FileSystem &fs, const QString &path);

// Empty when `path` is free or a regular file; otherwise the message for the user: "The
// output file can't be created. ..." and a line that says what is in the way (a symbolic
// link, a folder, a device or FIFO).
QString WhatIsInTheWay(platform::FileSystem &fs, const QString &path);

// Creates the run's temporary AVI in `workDir` as a new file: "TempData.avi", or when that
// name is taken (by anything, a link included) "TempData-1.avi", "TempData-2.avi", ...
// Nothing existing is opened or followed. The path made, or an empty text.
QString CreateTempAvi(platform::FileSystem &fs, const QString &workDir);

// Creates the file the converter writes the new movie into, beside the movie (so that it
// can take the movie's place in one step once it has been checked): "clip.part.mp4" for
// "clip.mp4" or "clip.mpeg4", or "clip.part-1.mp4", ... when that name is taken. Native
// paths only. The path made, or an empty text.
QString CreateNewMovieFile(platform::FileSystem &fs, const QString &moviePath);

} // namespace production
