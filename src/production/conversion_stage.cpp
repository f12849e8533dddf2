#include "production/conversion_stage.h"

#include "platform/file_system.h"
#include "platform/processes.h"
#include "platform/prompter.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QTimer>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavformat/avformat.h>
}

#include <poll.h>

using namespace ids;

namespace {

// The switches after the input (and the frame size): 128 kbit/s audio, MPEG-4 video at
// 1200 kbit/s with the encoder's better decisions, NTSC frame rate.
const QString kFixedOptions = QStringLiteral(" -ab 128kb -vcodec mpeg4 -b 1200kb  -mbd 2 -flags "
                                             "+4mv+trell -aic 2 -cmp 2 -subcmp 2 -r 30000/1001");

constexpr long kReadSize = 100;
constexpr int kAbandonCheckMs = 100;

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
    commandLine += u' ' + QuotedPath(outputPath);
    return commandLine;
}

QString RunAndCapture(QString program,
                      QString arguments,
                      platform::Processes &processes,
                      const std::atomic<bool> *abandon,
                      const std::function<void(const QString &)> &onOutput)
{
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
    // The pipe is closed; a child that ended is reaped. One that still runs when the
    // reader is asked to stop (the window is closing) is ended and waited for: it must
    // not go on writing a movie nobody waits for.
    if (abandon && *abandon)
        processes.Terminate(*child);
    processes.Wait(*child, abandon && *abandon ? -1 : 1000);
    processes.Close(*child);
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
    m_processRunning = 0;
    if (m_stopRequested) {
        m_converting = 0;
        return 1;
    }
    // A program path with a double quote cannot be written on a command line at all.
    if (m_outputPath.isEmpty() || m_converterPath.isEmpty() || m_converterPath.contains(u'"')) {
        fail();
        m_convertFailed = 1;
        m_converting = 0;
        return 0;
    }
    const QString commandLine = ConverterCommandLine(m_converterPath,
                                                     m_tempAviPath,
                                                     m_outputPath,
                                                     m_highQuality != 0,
                                                     m_videoWidth,
                                                     m_videoHeight);
    const QString captured = TrimmedRight(RunAndCapture(commandLine,
                                                        QStringLiteral(" "),
                                                        *m_services.processes,
                                                        &worker.Abandoned(),
                                                        m_converterOutputListener));
    m_processRunning = 0;

    // The verdict is settled, and a failure shown, before the stage is marked as ended:
    // the finishing step then reads a final m_convertOk, and its own box always follows
    // the worker's.
    int result = 1;
    if (captured.isEmpty()) {
        // Nothing to judge: the finishing step goes by the movie file alone.
    } else if (captured.contains(QLatin1String("muxing"))) {
        m_convertOk = 1;
    } else {
        fail();
        m_convertFailed = 1;
        result = 0;
    }
    m_converting = 0;
    return result;
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

    // A closing window has ended the converter and removed what the run made.
    if (m_stopRequested)
        return;
    // The worker has said that the conversion failed: whatever the converter left is
    // broken. The temporary AVI stays, so that the movie can still be made from it.
    if (m_convertFailed) {
        m_tempAviMade = false;
        DiscardRunFiles();
        return;
    }
    const QString problem = MovieProblem(m_outputPath, m_tempAviPath);
    if (!problem.isEmpty()) {
        m_tempAviMade = false;
        DiscardRunFiles();
        m_services.prompter->AppMessageBox(kFailedMessage + u'\n' + problem);
        return;
    }
    m_movieStarted = false;
    m_movieMade = true;
    m_services.clock->Sleep(kPauseBeforeCleanupMs);
    DiscardRunFiles();
    if (m_convertOk) {
        m_services.prompter->MessageBox(this,
                                        QStringLiteral("The movie has been created successfully!"),
                                        QStringLiteral("Congratulation"),
                                        platform::MessageButtons::Ok,
                                        platform::MessageIcon::None);
    } else {
        m_services.prompter->MessageBox(this,
                                        QStringLiteral("The movie has been created."),
                                        platform::ApplicationTitle(),
                                        platform::MessageButtons::Ok,
                                        platform::MessageIcon::None);
    }
    SetProgress(0);
}

QString MovieProblem(const QString &moviePath, const QString &sourcePath)
{
    const MovieFacts movie = ProbeMovie(moviePath);
    if (!movie.exists)
        return QStringLiteral("The converter wrote no movie at %1.").arg(moviePath);
    if (!movie.opened)
        return QStringLiteral("%1 is not a movie that can be played.").arg(moviePath);
    if (!movie.video || !movie.audio)
        return QStringLiteral("%1 lacks its %2.")
            .arg(moviePath, movie.video ? QStringLiteral("sound") : QStringLiteral("pictures"));
    // The converter keeps the length of what it was given.
    const MovieFacts source = ProbeMovie(sourcePath);
    const double expected = source.opened ? source.seconds : 0;
    if (expected > 0
        && std::abs(movie.seconds - expected) > std::max(kLengthSlackSeconds, expected / 10))
        return QStringLiteral("%1 lasts %2 s instead of %3 s.")
            .arg(moviePath)
            .arg(movie.seconds, 0, 'f', 1)
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
    AVFormatContext *ctx = nullptr;
    if (avformat_open_input(&ctx, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return facts;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        facts.opened = true;
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVMediaType type = ctx->streams[i]->codecpar->codec_type;
            facts.video = facts.video || type == AVMEDIA_TYPE_VIDEO;
            facts.audio = facts.audio || type == AVMEDIA_TYPE_AUDIO;
        }
        if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
            facts.seconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
    }
    avformat_close_input(&ctx);
    return facts;
}
