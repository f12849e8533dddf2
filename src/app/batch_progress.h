#pragma once
// Progress of a batch run on standard error: on a terminal one line rewritten in place
// with the stage, the stage's percentage and its time left; otherwise one line per tenth
// of the whole run (each tenth once, in order, across the stages), or nothing. Both
// threads print through it (boxes and the converter's progress from the conversion
// worker too), so a box never lands in the middle of the progress line.

#include "app/batch_options.h"

#include <QElapsedTimer>
#include <QString>

#include <mutex>
#include <optional>

namespace batch {

class BatchProgress
{
public:
    explicit BatchProgress(ProgressMode mode)
        : m_mode(mode)
    {}

    // A new stage ("Rendering", "Converting") that makes up the part from `wholeFrom` to
    // `wholeTo` percent of the whole run: its own percentage starts from 0.
    void BeginStage(const QString &stage, int wholeFrom, int wholeTo);
    // The stage's percentage, 0 to 100; a value below the last one is ignored.
    void Show(int percent);
    // Prints a line of its own on standard error, after the progress line if one is shown.
    void PrintLine(const QString &line);
    // Ends the progress line, if one is shown.
    void End();

private:
    void EndLineLocked();

    const ProgressMode m_mode;
    std::mutex m_mutex;
    QString m_stage;
    QElapsedTimer m_stageTimer;
    int m_percent = -1;
    int m_wholeFrom = 0;
    int m_wholeTo = 100;
    // Tenths of the whole run printed so far, for the line-per-tenth mode.
    int m_wholeTenths = 0;
    bool m_midLine = false;
    int m_lastWidth = 0;
};

// Reads the converter's progress out of its output as it arrives, in pieces cut anywhere:
// the length of its input from "Duration: 00:00:12.34", and how far the movie is written
// from the latest "time=00:00:05.67" of its status lines.
class ConverterProgressReader
{
public:
    // Takes the next piece; the conversion's percentage (0 to 100) once a status line
    // after the length has been read, else nothing.
    std::optional<int> Read(const QString &piece);

private:
    void ReadLine(const QString &line);

    QString m_pending; // the unfinished last line
    std::optional<double> m_inputSeconds;
    std::optional<int> m_percent;
};

} // namespace batch
