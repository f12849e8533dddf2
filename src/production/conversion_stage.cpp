#include "production/conversion_stage.h"

#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/prompter.h"
#include "production/render_stage.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QTimer>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include "engine/library_log.h"
#include "engine/timeline/timeline_av.h"

#include <poll.h>

using namespace ids;

namespace {

// The switches after the input (and the frame size): 128 kbit/s audio, MPEG-4 video at
// 1200 kbit/s with the encoder's better decisions, NTSC frame rate.
const QString kFixedOptions = QStringLiteral(" -ab 128kb -vcodec mpeg4 -b 1200kb  -mbd 2 -flags "
                                             "+4mv+trell -aic 2 -cmp 2 -subcmp 2 -r 30000/1001");

constexpr long kReadSize = 100;
constexpr int kAbandonCheckMs = 100;
// How long a converter that has closed its output may take to end before it is ended.
constexpr int kExitWaitMs = 3000;
// Lines of the converter's output kept in the debug log.
constexpr int kLoggedLines = 6;

// The progress bar during the stage: it starts at 81 (set by "GO"), creeps up one step a
// tick and waits at 97 for the converter.
constexpr int kFallbackThreshold = 80;
constexpr int kProgressCap = 97;
constexpr int kProgressDone = 100;
constexpr int kPauseBeforeCleanupMs = 2000;

// How far the movie's length may stray from its source's: a second, or a tenth of it.
constexpr double kLengthSlackSeconds = 1.0;

const QString kFailedMessage = QStringLiteral("Failed to create the movie.");

QString QuotedPath(const QString &path)
{
    if (path.contains(u'"'))
        return platform::QuoteArgument(path);
    return u'"' + path + u'"';
}

// Waits until the child's output can be read; false when the reader is asked to stop.
bool WaitForOutput(int fd, const std::atomic<bool> *abandon)
{
    if (!abandon)
        return true;
    for (;;) {
        if (*abandon)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, kAbandonCheckMs);
        if (r > 0 || (r < 0 && errno != EINTR))
            return true; // readable, closed, or an error that the read reports
    }
}

// Reaps the child whose output has ended. It normally has ended too; one that still runs
// is given kExitWaitMs, then ended, as is one that the reader was asked to stop for (the
// window is closing): it must not go on writing a movie nobody waits for.
int EndChild(platform::Processes &processes, platform::ProcessInfo &child, bool stopping)
{
    if (stopping || !processes.Wait(child, kExitWaitMs)) {
        processes.Terminate(child);
        processes.Wait(child, -1);
    }
    processes.Close(child);
    return child.exitCode;
}

void LogConverterEnd(int exitCode, const QString &captured)
{
    if (exitCode < 0) {
        engine::DebugLog(QStringLiteral("the converter could not be started"));
        return;
    }
    const QStringList lines = captured.split(u'\n');
    engine::DebugLog(
        QStringLiteral("the converter ended with status %1; its last output:\n%2")
            .arg(exitCode)
            .arg(lines.mid(std::max<qsizetype>(0, lines.size() - kLoggedLines)).join(u'\n')));
}

enum class ConverterVerdict {
    Unknown, // it said nothing to judge: the finishing step goes by the movie file alone
    Made,
    Failed, // it did not say it wrote the movie
    Broken, // it ended with an error status or was killed: what it wrote is not used
};

ConverterVerdict JudgeConverter(int exitCode, const QString &captured)
{
    if (exitCode > 0)
        return ConverterVerdict::Broken;
    if (captured.isEmpty())
        return ConverterVerdict::Unknown;
    return captured.contains(QLatin1String("muxing")) ? ConverterVerdict::Made
                                                      : ConverterVerdict::Failed;
}

} // namespace

QString ConverterCommandLine(const QString &converterPath,
                             const QString &tempAviPath,
                             const QString &outputPath,
                             bool highQuality,
                             int width,
                             int height)
{
    QString commandLine = QuotedPath(converterPath) + u' ';
    commandLine += QStringLiteral(" -i ") + QuotedPath(tempAviPath) + u' ';
    if (highQuality)
        commandLine += QStringLiteral(" -s %1X%2").arg(width).arg(height);
    commandLine += kFixedOptions;
    // The container is named: the movie is written under a temporary name first, and a
    // name the user typed may end in ".mpeg4", which ffmpeg does not know.
    commandLine += QStringLiteral(" -f mp4 ") + QuotedPath(outputPath);
    return commandLine;
}

QString RunAndCapture(QString program,
                      QString arguments,
                      platform::Processes &processes,
                      const std::atomic<bool> *abandon,
                      int *exitCode,
                      const std::function<void(const QString &)> &onOutput)
{
    if (exitCode)
        *exitCode = -1;
    const QString commandLine = program + u' ' + arguments;
    std::optional<platform::ProcessInfo> child = processes.Start(commandLine, true);
    if (!child)
        return QString();

    // Bytes in the system's encoding; a character split between two reads is kept by
    // the decoder until its rest arrives.
    QStringDecoder decode(QStringDecoder::System);
    QString collected;
    bool collecting = false;
    char buffer[kReadSize];
    while (WaitForOutput(child->outputFd, abandon)) {
        const long n = processes.ReadOutput(*child, buffer, kReadSize);
        if (n <= 0)
            break;
        const QString text = decode(QByteArrayView(buffer, n));
        if (onOutput)
            onOutput(text);
        if (!collecting && text.contains(u'['))
            collecting = true;
        if (collecting)
            collected += text;
    }
    const int status = EndChild(processes, *child, abandon && *abandon);
    if (exitCode)
        *exitCode = status;
    return collected;
}

unsigned ConversionThreadProc(MainDialog *dialog)
{
    return static_cast<unsigned>(dialog->RunConversion());
}

bool MainDialog::ConversionWorker::Start(MainDialog *dialog)
{
    Join();
    m_abandon = false;
    try {
        m_thread = std::thread(ConversionThreadProc, dialog);
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void MainDialog::ConversionWorker::Join()
{
    if (!m_thread.joinable())
        return;
    m_abandon = true;
    // A box the worker asked for is shown on this thread: let it appear and be answered.
    while (m_prompting)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // The events may have finished the run, and joined the worker, already.
    if (m_thread.joinable())
        m_thread.join();
}

bool MainDialog::StartConversionWorker()
{
    if (!m_conversionWorker)
        m_conversionWorker = std::make_shared<ConversionWorker>();
    return m_conversionWorker->Start(this);
}

void MainDialog::StopConversionWorker()
{
    if (m_conversionWorker)
        m_conversionWorker->Join();
}

void MainDialog::ConnectConversionTimer()
{
    connect(ConversionTimer(), &QTimer::timeout, this, [this] { OnTimer(kConversionTimerId); });
}

int MainDialog::RunConversion()
{
    // Runs on the worker thread: no widget is touched here. Boxes go through the
    // prompter, which shows them on the main thread.
    ConversionWorker &worker = *m_conversionWorker;
    auto fail = [&] { worker.Prompt([&] { m_services.prompter->AppMessageBox(kFailedMessage); }); };

    m_convertOk = 0;
    m_convertFailed = 0;
    m_convertBroken = 0;
    m_processRunning = 0;
    if (m_stopRequested) {
        m_converting = 0;
        return 1;
    }
    // A program path with a double quote cannot be written on a command line at all.
    if (m_outputPath.isEmpty() || m_converterPath.isEmpty() || m_converterPath.contains(u'"')) {
        fail();
        m_convertFailed = 1;
        m_convertBroken = 1;
        m_converting = 0;
        return 0;
    }
    const QString commandLine = ConverterCommandLine(m_converterPath,
                                                     m_tempAviPath,
                                                     m_newMoviePath,
                                                     m_highQuality != 0,
                                                     m_videoWidth,
                                                     m_videoHeight);
    int exitCode = -1;
    const QString captured = TrimmedRight(RunAndCapture(commandLine,
                                                        QStringLiteral(" "),
                                                        *m_services.processes,
                                                        &worker.Abandoned(),
                                                        &exitCode,
                                                        m_converterOutputListener));
    m_processRunning = 0;
    LogConverterEnd(exitCode, captured);

    // The verdict is settled, and a failure shown, before the stage is marked as ended:
    // the finishing step then reads a final m_convertOk, and its own box always follows
    // the worker's.
    const ConverterVerdict verdict = JudgeConverter(exitCode, captured);
    m_convertOk = verdict == ConverterVerdict::Made;
    const bool failed = verdict == ConverterVerdict::Failed || verdict == ConverterVerdict::Broken;
    if (failed) {
        fail();
        m_convertFailed = 1;
        m_convertBroken = verdict == ConverterVerdict::Broken;
    }
    m_converting = 0;
    return failed ? 0 : 1;
}

void MainDialog::OnTimer(int timerId)
{
    if (timerId != kConversionTimerId)
        return;
    if (m_converting) {
        int next = Progress() + 1;
        if (next < kFallbackThreshold)
            next = ++m_progressPos;
        SetProgress(std::min(next, kProgressCap));
    }
    if (!m_converting)
        FinishConversion();
}

namespace {

// Checks the new movie and, when it plays, puts it in the place of the old one. Otherwise
// it is removed with the old movie left as it was, and the temporary AVI stays, so that
// the movie can still be made from it. A converter that failed outright has said so
// already; its file is not even looked at. One that only lacked the word of success has
// been reported as failed, but a movie it made that plays is kept, and not reported again
// when it does not.
bool AcceptNewMovie(MainDialog &dialog)
{
    const QString problem
        = dialog.m_convertBroken
              ? QStringLiteral("the converter failed")
              : MovieProblem(dialog.m_newMoviePath, dialog.m_tempAviPath, dialog.m_outputPath);
    engine::DebugLog(
        QStringLiteral("new movie %1: %2")
            .arg(dialog.m_newMoviePath, problem.isEmpty() ? QStringLiteral("plays") : problem));
    if (problem.isEmpty() && dialog.PutNewMovieInPlace())
        return true;
    dialog.m_tempAviMade = false;
    dialog.DiscardRunFiles();
    if (!problem.isEmpty() && !dialog.m_convertFailed)
        dialog.Services().prompter->AppMessageBox(kFailedMessage + u'\n' + problem);
    return false;
}

} // namespace

void MainDialog::FinishConversion()
{
    ConversionTimer()->stop();
    // The worker has nothing left to do once the stage is marked as ended.
    if (m_conversionWorker)
        m_conversionWorker->Join();
    SetProgress(kProgressDone);
    SetIdle(true);
    UpdateData(false);
    repaint();

    // A closing window ends the converter; what the run made goes, the old movie stays.
    if (m_stopRequested) {
        DiscardRunFiles();
        return;
    }
    if (!AcceptNewMovie(*this))
        return;
    m_movieMade = true;
    m_services.clock->Sleep(kPauseBeforeCleanupMs);
    DiscardRunFiles();
    // Photos that show as black are counted after the success text.
    const QString unreadable
        = m_unreadablePhotos.isEmpty()
              ? QString()
              : QStringLiteral("\n%1 of the photos could not be read and show as black.")
                    .arg(m_unreadablePhotos.size());
    if (m_convertOk) {
        m_services.prompter->MessageBox(this,
                                        QStringLiteral("The movie has been created successfully!")
                                            + unreadable,
                                        QStringLiteral("Congratulation"),
                                        platform::MessageButtons::Ok,
                                        platform::MessageIcon::None);
    } else {
        m_services.prompter->MessageBox(this,
                                        QStringLiteral("The movie has been created.") + unreadable,
                                        platform::ApplicationTitle(),
                                        platform::MessageButtons::Ok,
                                        platform::MessageIcon::None);
    }
    SetProgress(0);
}

QString MovieProblem(const QString &moviePath, const QString &sourcePath, const QString &shownAs)
{
    const MovieFacts movie = ProbeMovie(moviePath);
    if (!movie.exists)
        return QStringLiteral("The converter wrote no movie at %1.").arg(shownAs);
    if (!movie.opened)
        return QStringLiteral("%1 is not a movie that can be played.").arg(shownAs);
    if (!movie.video || !movie.audio)
        return QStringLiteral("%1 lacks its %2.")
            .arg(shownAs, movie.video ? QStringLiteral("sound") : QStringLiteral("pictures"));
    // The converter keeps the length of what it was given.
    const MovieFacts source = ProbeMovie(sourcePath);
    const double expected = source.opened ? source.seconds : 0;
    if (expected > 0
        && std::abs(movie.seconds - expected) > std::max(kLengthSlackSeconds, expected / 10))
        return QStringLiteral("%1 lasts %2 s instead of %3 s.")
            .arg(shownAs)
            .arg(movie.seconds, 0, 'f', 1)
            .arg(expected, 0, 'f', 1);
    return QString();
}

QString production::TempAviShortfall(const QString &path, std::int64_t timeUnits)
{
    const MovieFacts avi = ProbeMovie(path);
    if (!avi.opened)
        return QStringLiteral("%1 cannot be read back.").arg(path);
    const double expected = static_cast<double>(timeUnits) / 1e7;
    if (timeUnits > 0 && avi.seconds < expected - kLengthSlackSeconds)
        return QStringLiteral("The render stopped before %1 was complete: it lasts %2 s of %3 s.")
            .arg(path)
            .arg(avi.seconds, 0, 'f', 1)
            .arg(expected, 0, 'f', 1);
    return QString();
}

MovieFacts ProbeMovie(const QString &path)
{
    MovieFacts facts;
    const QFileInfo info(path);
    facts.exists = info.isFile() && info.size() > 0;
    // Only a regular file is opened: a FIFO would never answer.
    if (!facts.exists)
        return facts;
    const engine::av::FormatContextPtr ctx = engine::av::OpenInput(path);
    if (!ctx)
        return facts;
    facts.opened = true;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVMediaType type = ctx->streams[i]->codecpar->codec_type;
        facts.video = facts.video || type == AVMEDIA_TYPE_VIDEO;
        facts.audio = facts.audio || type == AVMEDIA_TYPE_AUDIO;
    }
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        facts.seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
    return facts;
}
