#pragma once
// The batch front end: makes one movie from the command line through the real main
// window, run offscreen, as a person would with the mouse.
//
//   vantorel --batch --photos DIR [--photos DIR ...] --music FILE [--output PATH]
//            [--seconds 2|4|6] [--size 320x240|640x480|480x320|320x480]
//            [--whole-music] [--standard-quality] [--no-effect] [--yes] [--timings]
//
// Every message box is printed to standard error as "Caption: text"; questions are
// answered OK/Yes with --yes and Cancel/No without it. Exit status: 0 when the movie was
// made, 1 when it was not, 2 for bad arguments.

namespace batch {

// True when the command line asks for the batch front end (--batch, --help, --version).
bool WantsBatch(int argc, char **argv);

// Runs the batch front end; creates its own QApplication. Returns the exit status.
int RunBatch(int argc, char **argv);

} // namespace batch
