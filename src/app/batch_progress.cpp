#include "app/batch_progress.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace batch {
namespace {

QString MinutesSeconds(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// "12:34:56.78" (hours, minutes, seconds) in the captured groups 1 to 3, as seconds.
double SecondsOf(const QRegularExpressionMatch &m)
{
    return m.captured(1).toDouble() * 3600 + m.captured(2).toDouble() * 60
           + m.captured(3).toDouble();
}

} // namespace

void BatchProgress::BeginStage(const QString &stage, int wholeFrom, int wholeTo)
{
    std::lock_guard lock(m_mutex);
    m_stage = stage;
    m_wholeFrom = wholeFrom;
    m_wholeTo = std::max(wholeFrom, wholeTo);
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
    m_percent = percent;
    if (m_mode == ProgressMode::Tenths) {
        // Every tenth of the whole run that this step reached or passed gets its line.
        const int whole = m_wholeFrom + (m_wholeTo - m_wholeFrom) * m_percent / 100;
        for (; m_wholeTenths < whole / 10; ++m_wholeTenths)
            std::fprintf(
                stderr, "%s: %d%%\n", m_stage.toLocal8Bit().constData(), 10 * (m_wholeTenths + 1));
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

std::optional<int> ConverterProgressReader::Read(const QString &piece)
{
    m_pending += piece;
    // Status lines end with a carriage return (they are rewritten in place on a terminal),
    // other lines with a line feed.
    qsizetype start = 0;
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending[i] == u'\r' || m_pending[i] == u'\n') {
            ReadLine(m_pending.mid(start, i - start));
            start = i + 1;
        }
    }
    m_pending.remove(0, start);
    return m_percent;
}

void ConverterProgressReader::ReadLine(const QString &line)
{
    static const QRegularExpression duration(
        QStringLiteral("Duration: (\\d+):(\\d+):(\\d+(?:\\.\\d+)?)"));
    static const QRegularExpression time(QStringLiteral("time=(\\d+):(\\d+):(\\d+(?:\\.\\d+)?)"));
    // The first length is the input's; later ones belong to other files.
    if (!m_inputSeconds) {
        const QRegularExpressionMatch m = duration.match(line);
        if (m.hasMatch() && SecondsOf(m) > 0)
            m_inputSeconds = SecondsOf(m);
        return;
    }
    const QRegularExpressionMatch m = time.match(line);
    if (!m.hasMatch())
        return;
    const int percent = static_cast<int>(std::floor(100 * SecondsOf(m) / *m_inputSeconds));
    m_percent = std::clamp(percent, 0, 100);
}

} // namespace batch
