#pragma once
// The conversion stage: a worker thread runs the converter, which turns the temporary AVI
// into the MPEG-4 movie, and judges its output; timer 100 steps the progress bar and, once
// the worker is done, finishes the run on the main thread (MainDialog::FinishConversion).

#include "app/main_dialog.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

namespace platform {
class Processes;
}

// The converter's command line:
//   "<converter>"  -i "<temporary AVI>" [ -s <width>X<height>] <fixed options> -f mp4 "<movie>"
// A path holding a double quote (possible on Linux) is escaped so that it still arrives
// as one argument; every other path stands between plain quotes exactly as it is.
QString ConverterCommandLine(const QString &converterPath,
                             const QString &tempAviPath,
                             const QString &outputPath,
                             bool highQuality,
                             int width,
                             int height);

// Runs `program` + " " + `arguments` with standard output and error on one pipe and
// returns the output from the first 100-byte read that holds a "[" on (earlier reads are
// dropped). A program that cannot start gives an empty text. When `abandon` becomes true
// the reading stops within about 100 ms and the child is ended. The child is always
// reaped before this returns: one still running a few seconds after its output ended is
// ended. `exitCode` gets its exit status (128 + signal when a signal ended it), or -1
// when it could not be started. `onOutput`, when given, sees every piece of output as it
// is read (all of it, also what is dropped), on the calling thread.
QString RunAndCapture(QString program,
                      QString arguments,
                      platform::Processes &processes,
                      const std::atomic<bool> *abandon = nullptr,
                      int *exitCode = nullptr,
                      const std::function<void(const QString &)> &onOutput = {});

// What libavformat makes of a file.
struct MovieFacts
{
    bool exists = false; // a regular file of at least one byte
    bool opened = false; // it opens and its streams can be read
    bool video = false;
    bool audio = false;
    double seconds = 0; // 0 when unknown
};
MovieFacts ProbeMovie(const QString &path);

// Why the finished movie at `moviePath` is not one: missing or empty, not a playable
// movie, without video or sound, or of another length than `sourcePath` (the temporary
// AVI it was made from; not checked when that cannot be read). Empty for a good movie.
// The text calls the movie `shownAs` (the path the user asked for).
QString MovieProblem(const QString &moviePath, const QString &sourcePath, const QString &shownAs);

// The worker's entry; returns RunConversion's result.
unsigned ConversionThreadProc(MainDialog *dialog);

// The worker thread of one run, owned by the main window. It never outlives the window:
// the window's end asks it to stop reading the converter and joins it.
class MainDialog::ConversionWorker
{
public:
    ConversionWorker() = default;
    ConversionWorker(const ConversionWorker &) = delete;
    ConversionWorker &operator=(const ConversionWorker &) = delete;
    ~ConversionWorker() { Join(); }

    // Starts a new worker (after joining a finished one). False when no thread could be
    // started.
    bool Start(MainDialog *dialog);
    // Asks the worker to stop and waits for it. While the worker waits for a message box
    // (shown on this thread), events are processed so that the box can appear.
    void Join();

    // Runs `show` (a message box) unless the worker has been asked to stop.
    template <class F>
    void Prompt(F show)
    {
        m_prompting = true;
        if (!m_abandon)
            show();
        m_prompting = false;
    }

    const std::atomic<bool> &Abandoned() const { return m_abandon; }

private:
    std::thread m_thread;
    std::atomic<bool> m_abandon{false};
    std::atomic<bool> m_prompting{false};
};
