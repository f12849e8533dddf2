#include "app/batch_front_end.h"

#include "app/batch_options.h"
#include "app/batch_progress.h"
#include "app/main_dialog.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "platform/termination_signals.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include <unistd.h>

using namespace ids;

namespace batch {
namespace {

// Answers the choosers with the command line's paths and prints every box.
class BatchPrompter final : public platform::Prompter
{
public:
    BatchPrompter(bool yes, BatchProgress &progress)
        : m_yes(yes)
        , m_progress(progress)
    {}

    void QueueFolder(const QString &folder) { m_folders.push_back(folder); }
    void QueueFile(const QString &file) { m_files.push_back(file); }

    platform::MessageResult AppMessageBox(const QString &text) override
    {
        Print(platform::ApplicationTitle(), text);
        return platform::MessageResult::Ok;
    }

    platform::MessageResult MessageBox(QWidget *,
                                       const QString &text,
                                       const QString &caption,
                                       platform::MessageButtons buttons,
                                       platform::MessageIcon) override
    {
        if (buttons == platform::MessageButtons::Ok) {
            Print(caption, text);
            return platform::MessageResult::Ok;
        }
        if (m_yes) {
            Print(caption, text);
            return buttons == platform::MessageButtons::YesNo ? platform::MessageResult::Yes
                                                              : platform::MessageResult::Ok;
        }
        // A question declined once (the codec question comes at start and again before
        // the render) is not printed again.
        if (FirstTimeDeclined(text))
            Print(caption, text + QStringLiteral(" [answered No; --yes answers Yes]"));
        return buttons == platform::MessageButtons::YesNo ? platform::MessageResult::No
                                                          : platform::MessageResult::Cancel;
    }

    QString BrowseForFolder(const QString &) override
    {
        std::lock_guard lock(m_mutex);
        if (m_folders.empty())
            return QString();
        const QString folder = m_folders.front();
        m_folders.pop_front();
        return folder;
    }

    std::optional<QString> OpenFile(QWidget *, const QString &, bool, const QString &) override
    {
        std::lock_guard lock(m_mutex);
        if (m_files.empty())
            return std::nullopt;
        const QString file = m_files.front();
        m_files.pop_front();
        return file;
    }

private:
    bool FirstTimeDeclined(const QString &text)
    {
        std::lock_guard lock(m_mutex);
        return m_declined.insert(text).second;
    }

    void Print(const QString &caption, const QString &text)
    {
        // The conversion worker prints too.
        std::lock_guard lock(m_mutex);
        m_progress.PrintLine(caption + QStringLiteral(": ") + text);
    }

    const bool m_yes;
    BatchProgress &m_progress;
    std::mutex m_mutex;
    std::deque<QString> m_folders;
    std::deque<QString> m_files;
    std::set<QString> m_declined;
};

// The window pauses before it cleans up so that a person sees the full bar; a batch run
// has nobody watching, and ends as soon as its work is done.
class NoPauseClock final : public platform::Clock
{
public:
    void Sleep(int) override {}
};

QString Absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

double Seconds(qint64 ms)
{
    return static_cast<double>(ms) / 1000.0;
}

// Chooses the photos, the music and the output, and sets the settings, as a person would.
void FillWindow(MainDialog &dialog, BatchPrompter &prompter, const Options &options)
{
    for (const QString &folder : options.photoFolders) {
        prompter.QueueFolder(Absolute(folder));
        dialog.OnCommand(IDC_ADD_PHOTOS);
    }
    prompter.QueueFile(Absolute(options.music));
    dialog.OnCommand(IDC_CHOOSE_MUSIC);
    if (!options.output.isEmpty()) {
        // A folder is chosen with the output chooser; a file name is typed into the box.
        if (QFileInfo(options.output).isDir()) {
            prompter.QueueFolder(Absolute(options.output));
            dialog.OnCommand(IDC_CHOOSE_OUTPUT);
        } else {
            dialog.SetControlText(IDC_OUTPUT, Absolute(options.output));
        }
    }
    dialog.m_secondsIndex = options.secondsIndex;
    dialog.m_sizeIndex = options.sizeIndex;
    dialog.m_playWholeMusic = options.wholeMusic ? 1 : 0;
    dialog.m_highQuality = options.highQuality ? 1 : 0;
    dialog.ApplySettings();
    dialog.Control<QCheckBox>(IDC_EFFECT)->setChecked(options.effect);
}

// Reads the real file system and changes nothing, so that the movie's path can be worked
// out before the run without deleting or creating anything.
class LookOnlyFileSystem final : public platform::FileSystem
{
public:
    explicit LookOnlyFileSystem(const platform::FileSystem &real)
        : m_real(real)
    {}

    QStringList FindByExtension(const QString &folder, const QString &extension) const override
    {
        return m_real.FindByExtension(folder, extension);
    }
    std::optional<platform::FileStatus> Status(const QString &path) const override
    {
        return m_real.Status(path);
    }
    bool Exists(const QString &path) const override { return m_real.Exists(path); }
    bool CopyFile(const QString &, const QString &, bool) override { return false; }
    bool DeleteFile(const QString &) override { return true; }
    bool CreateFolder(const QString &) override { return true; }
    bool CreateNewFile(const QString &) override { return true; }
    bool ReplaceFile(const QString &, const QString &) override { return true; }

private:
    const platform::FileSystem &m_real;
};

// The path "GO" will give the movie, worked out as "GO" does, with nothing touched.
QString PlannedMoviePath(MainDialog &dialog)
{
    LookOnlyFileSystem fs(*dialog.Services().fileSystem);
    return dialog.PlanMoviePath(fs);
}

// A movie already at the output path is kept unless the command line allows replacing it;
// this is decided before "GO", which would replace it. False (and the reason printed)
// when the run must not start.
bool OutputMayBeWritten(MainDialog &dialog, BatchProgress &progress, const Options &options)
{
    const QString movie = PlannedMoviePath(dialog);
    if (options.overwrite || movie.isEmpty() || !QFileInfo::exists(movie))
        return true;
    progress.PrintLine(
        QStringLiteral("vantorel: %1 already exists; --overwrite replaces it").arg(movie));
    return false;
}

struct StageTimes
{
    qint64 startupMs = 0;
    qint64 renderMs = 0;
    std::optional<qint64> conversionMs;
    qint64 finishMs = 0;
};

// "GO" returns once the conversion stage has begun. The window looks at the worker on its
// 5-second tick; here the run is finished as soon as the worker has ended.
void WaitForConversion(MainDialog &dialog,
                       BatchProgress &progress,
                       StageTimes &times,
                       const int &signalled)
{
    QElapsedTimer stage;
    stage.start();
    while (dialog.m_busy && !signalled) {
        if (!times.conversionMs && !dialog.m_converting) {
            times.conversionMs = stage.elapsed();
            stage.restart();
            // The converter finished writing; its last status line may fall short of the
            // input's length by a frame.
            if (dialog.m_convertOk)
                progress.Show(100);
            dialog.OnTimer(kConversionTimerId);
            continue;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    if (times.conversionMs)
        times.finishMs = stage.elapsed();
}

void PrintTimings(const StageTimes &times, qint64 wholeMs)
{
    std::fprintf(stderr, "startup: %.2f s\n", Seconds(times.startupMs));
    std::fprintf(stderr, "render: %.2f s\n", Seconds(times.renderMs));
    std::fprintf(stderr, "conversion: %.2f s\n", Seconds(times.conversionMs.value_or(0)));
    std::fprintf(stderr, "finishing: %.2f s\n", Seconds(times.finishMs));
    std::fprintf(stderr, "whole run: %.2f s\n", Seconds(wholeMs));
}

// The converter's own progress, read from its output on the conversion worker's thread,
// moves the conversion stage's percentage.
void FollowConverter(MainDialog &dialog, BatchProgress &progress)
{
    auto reader = std::make_shared<ConverterProgressReader>();
    dialog.m_converterOutputListener = [&progress, reader](const QString &piece) {
        if (const std::optional<int> percent = reader->Read(piece))
            progress.Show(*percent);
    };
}

// Renders and converts; true when the movie was made.
bool MakeMovie(MainDialog &dialog, BatchProgress &progress, StageTimes &times, const int &signalled)
{
    const int divisor = dialog.RenderProgressDivisor();
    // The whole run is shared between the stages as the window's bar shares it: the render
    // takes the first 1/divisor, the conversion the rest.
    const int renderShare = 100 / divisor;
    bool rendering = true;
    const QMetaObject::Connection shown
        = QObject::connect(dialog.m_progress,
                           &QProgressBar::valueChanged,
                           &dialog,
                           [&progress, &rendering, divisor](int value) {
                               // The bar gives the render 1/divisor of its length.
                               if (rendering)
                                   progress.Show(value * divisor);
                           });
    QElapsedTimer stage;
    stage.start();
    progress.BeginStage(QStringLiteral("Rendering"), 0, renderShare);
    FollowConverter(dialog, progress);
    dialog.OnCommand(IDC_GO);
    rendering = false;
    for (const QString &photo : dialog.m_unreadablePhotos)
        progress.PrintLine(
            QStringLiteral("vantorel: cannot decode %1; it shows as black").arg(photo));
    times.renderMs = stage.elapsed();
    if (dialog.m_busy)
        progress.BeginStage(QStringLiteral("Converting"), renderShare, 100);
    WaitForConversion(dialog, progress, times, signalled);
    QObject::disconnect(shown);
    progress.End();

    // An old movie at the path may still be there: only the run's own verdict counts. A
    // movie that plays is made, even when the converter did not say so.
    return dialog.m_movieMade;
}

int RunBatch(const Options &options, int argc, char **argv)
{
    QElapsedTimer whole;
    whole.start();
    // No screen is needed: the window is built and driven offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::ApplicationTitle());
    MainDialog::RegisterMediaClasses();

    BatchProgress progress(options.progress);
    BatchPrompter prompter(options.yes, progress);
    NoPauseClock clock;
    platform::Services services = platform::Services::Real();
    services.prompter = &prompter;
    services.clock = &clock;

    MainDialog dialog(services);
    if (!dialog.OnInitDialog()) {
        progress.PrintLine(QStringLiteral("vantorel: the program could not start"));
        return kExitNotMade;
    }
    dialog.show();
    StageTimes times;
    times.startupMs = whole.elapsed();

    FillWindow(dialog, prompter, options);
    if (!OutputMayBeWritten(dialog, progress, options))
        return kExitNotMade;
    // A signal ends the converter and removes what the run made, as the window's exit does.
    int signalled = 0;
    platform::TerminationSignals endings([&](int signal) {
        signalled = signal;
        dialog.m_stopRequested = 1;
        dialog.CleanUpOnExit();
    });
    const bool made = MakeMovie(dialog, progress, times, signalled);
    if (signalled)
        return platform::ExitStatusForSignal(signalled);
    if (options.timings)
        PrintTimings(times, whole.elapsed());
    if (made)
        std::printf("%s\n", dialog.m_outputPath.toLocal8Bit().constData());
    return made ? kExitMade : kExitNotMade;
}

} // namespace

std::optional<int> HandleCommandLine(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args << QFile::decodeName(argv[i]);
        // A name that is not valid in the system's encoding (UTF-8) cannot be held as
        // text: it would name another file, or none. Said as it is, not as a missing one.
        if (QFile::encodeName(args.last()) != QByteArray(argv[i])) {
            std::fprintf(
                stderr, "vantorel: '%s' is not a valid UTF-8 name; please rename it\n", argv[i]);
            return kExitBadArguments;
        }
    }
    const Request request = ReadCommandLine(args, isatty(STDERR_FILENO) != 0);
    if (const auto *exit = std::get_if<ExitWith>(&request))
        return exit->status;
    if (const auto *options = std::get_if<Options>(&request))
        return RunBatch(*options, argc, argv);
    return std::nullopt;
}

} // namespace batch
