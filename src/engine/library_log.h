#pragma once
// FFmpeg's own log lines ("[mp3 @ 0x...] ...") and the image decoders' complaints that Qt
// passes on ("qt.gui.imageio.jpeg: Corrupt JPEG data ...") never reach the user's
// terminal: they go to the debug log, which the user turns on with the environment
// variable VANTOREL_DEBUG_LOG:
//   unset or empty   the lines are dropped (the default)
//   "1"              standard error
//   anything else    the path of a file the lines are appended to
// The program's own messages are not affected.

#include <QString>

namespace engine {

// Routes the libraries' log through the debug log. Called once at start-up, before any
// library call; later calls do nothing. Thread-safe: the engine logs from its threads.
void InstallLibraryLog();

// Appends one line of the program's own to the debug log, prefixed "[vantorel] ": why a
// step failed, where the user sees only a message or nothing at all. Nothing when the
// log is off. Thread-safe.
void DebugLog(const QString &line);

} // namespace engine
