#include "app/batch_progress.h"

#include <cstdio>

namespace batch {
namespace {

QString MinutesSeconds(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

void BatchProgress::BeginStage(const QString &stage)
{
    std::lock_guard lock(m_mutex);
    m_stage = stage;
    m_stageTimer.start();
    m_percent = -1;
    if (m_mode == ProgressMode::Off)
        return;
    EndLineLocked();
    std::fprintf(stderr, "%s...", stage.toLocal8Bit().constData());
    if (m_mode == ProgressMode::Tenths)
        std::fputc('\n', stderr);
    else {
        m_midLine = true;
        m_lastWidth = static_cast<int>(stage.size()) + 3;
    }
    std::fflush(stderr);
}

void BatchProgress::Show(int percent)
{
    std::lock_guard lock(m_mutex);
    percent = std::min(percent, 100);
    if (m_mode == ProgressMode::Off || percent <= m_percent)
        return;
    const int before = m_percent;
    m_percent = percent;
    if (m_mode == ProgressMode::Tenths) {
        if (m_percent / 10 > before / 10 || before < 0)
            std::fprintf(stderr, "%s: %d%%\n", m_stage.toLocal8Bit().constData(), m_percent);
        std::fflush(stderr);
        return;
    }
    QString line = QStringLiteral("%1: %2%").arg(m_stage).arg(m_percent, 3);
    const qint64 elapsedMs = m_stageTimer.elapsed();
    // An estimate needs a little of the work done first.
    if (m_percent >= 3 && m_percent < 100)
        line += QStringLiteral(", about %1 left")
                    .arg(MinutesSeconds(elapsedMs * (100 - m_percent) / m_percent));
    const int width = static_cast<int>(line.size());
    // Blanks cover the rest of a longer line written before.
    std::fprintf(
        stderr, "\r%s%*s", line.toLocal8Bit().constData(), std::max(0, m_lastWidth - width), "");
    std::fflush(stderr);
    m_lastWidth = width;
    m_midLine = true;
}

void BatchProgress::PrintLine(const QString &line)
{
    std::lock_guard lock(m_mutex);
    EndLineLocked();
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

void BatchProgress::End()
{
    std::lock_guard lock(m_mutex);
    EndLineLocked();
}

void BatchProgress::EndLineLocked()
{
    if (m_midLine)
        std::fputc('\n', stderr);
    m_midLine = false;
    m_lastWidth = 0;
}

} // namespace batch
