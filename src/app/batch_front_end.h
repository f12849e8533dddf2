#pragma once
// The command line, and the batch front end: makes one movie through the real main
// window, run offscreen, as a person would with the mouse.
//
//   vantorel --batch --photos DIR [--photos DIR ...] --music FILE [OPTION...]
//
// The command line is read and its folders and music checked before anything else runs.
// Every message box is printed to standard error as "Caption: text"; questions are
// answered OK/Yes with --yes and Cancel/No without it. Exit status: 0 when the movie was
// made, 1 when it was not, 2 for bad arguments or a missing folder or music file.

#include <optional>

namespace batch {

// Reads the command line and carries out what it asks for, unless that is the window.
// Returns the exit status, or nothing when the window should open.
std::optional<int> HandleCommandLine(int argc, char **argv);

} // namespace batch
