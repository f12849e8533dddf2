#pragma once
// Progress of a batch run on standard error: on a terminal one line rewritten in place
// with the stage, the percentage and the time left; otherwise one line per tenth of the
// work, or nothing. Both threads print through it (boxes from the conversion worker too),
// so a box never lands in the middle of the progress line.

#include "app/batch_options.h"

#include <QElapsedTimer>
#include <QString>

#include <mutex>

namespace batch {

class BatchProgress
{
public:
    explicit BatchProgress(ProgressMode mode)
        : m_mode(mode)
    {}

    // A new stage ("Rendering", "Converting"): its percentage starts from 0.
    void BeginStage(const QString &stage);
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
    bool m_midLine = false;
    int m_lastWidth = 0;
};

} // namespace batch
