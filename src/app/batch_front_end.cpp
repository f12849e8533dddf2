#include "app/batch_front_end.h"

#include "app/main_dialog.h"
#include "engine/engine_classes.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/termination_signals.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressBar>
#include <QThread>

#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>

#include <unistd.h>

using namespace ids;

namespace batch {
namespace {

constexpr const char *kVersion = "2.1";
constexpr int kExitMade = 0;
constexpr int kExitNotMade = 1;
constexpr int kExitBadArguments = 2;

const char kUsage[]
    = "Usage: vantorel --batch --photos DIR [--photos DIR ...] --music FILE [--output PATH]\n"
      "                [--seconds 2|4|6] [--size 320x240|640x480|480x320|320x480]\n"
      "                [--whole-music] [--standard-quality] [--no-effect] [--yes] [--timings]\n"
      "\n"
      "Makes a slideshow movie from the photos of the folders and the music file.\n"
      "  --photos DIR          a folder of photos (JPEG, BMP, GIF); may be repeated\n"
      "  --music FILE          the background music (MP3, WMA, WAV, MPEG)\n"
      "  --output PATH         the movie file, or a folder for Output.mp4 in it\n"
      "                        (default: ~/Vantorel/Output.mp4)\n"
      "  --seconds N           seconds each photo is shown (default 4)\n"
      "  --size WxH            movie size (default 320x240)\n"
      "  --whole-music         play the whole music, not only the photos' length\n"
      "  --standard-quality    no high-quality rendering\n"
      "  --no-effect           no transition effect between photos\n"
      "  --yes                 answer OK/Yes to questions (default: Cancel/No)\n"
      "  --timings             print how long each stage took, in seconds\n"
      "  --help, --version\n"
      "Exit status: 0 movie made, 1 not made, 2 bad arguments.\n";

struct Options
{
    QStringList photoFolders;
    QString music;
    QString output;
    int secondsIndex = 1;
    int sizeIndex = 0;
    bool wholeMusic = false;
    bool highQuality = true;
    bool effect = true;
    bool yes = false;
    bool timings = false;
};

void PrintError(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Parses the arguments after the program name; nothing (and a message printed) when they
// are not valid.
std::optional<Options> ParseOptions(const QStringList &args)
{
    Options o;
    bool batch = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                PrintError(QStringLiteral("vantorel: %1 needs a value").arg(a));
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == QLatin1String("--batch")) {
            batch = true;
        } else if (a == QLatin1String("--photos")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            o.photoFolders << *v;
        } else if (a == QLatin1String("--music")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            o.music = *v;
        } else if (a == QLatin1String("--output")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            o.output = *v;
        } else if (a == QLatin1String("--seconds")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            const int index = QStringList{"2", "4", "6"}.indexOf(*v);
            if (index < 0) {
                PrintError(QStringLiteral("vantorel: --seconds must be 2, 4 or 6"));
                return std::nullopt;
            }
            o.secondsIndex = index;
        } else if (a == QLatin1String("--size")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            const int index
                = QStringList{"320x240", "640x480", "480x320", "320x480"}.indexOf(v->toLower());
            if (index < 0) {
                PrintError(QStringLiteral(
                    "vantorel: --size must be 320x240, 640x480, 480x320 or 320x480"));
                return std::nullopt;
            }
            o.sizeIndex = index;
        } else if (a == QLatin1String("--whole-music")) {
            o.wholeMusic = true;
        } else if (a == QLatin1String("--standard-quality")) {
            o.highQuality = false;
        } else if (a == QLatin1String("--no-effect")) {
            o.effect = false;
        } else if (a == QLatin1String("--yes")) {
            o.yes = true;
        } else if (a == QLatin1String("--timings")) {
            o.timings = true;
        } else {
            PrintError(QStringLiteral("vantorel: unknown argument %1").arg(a));
            return std::nullopt;
        }
    }
    if (!batch) {
        PrintError(QStringLiteral("vantorel: batch options need --batch"));
        return std::nullopt;
    }
    if (o.photoFolders.isEmpty() || o.music.isEmpty()) {
        PrintError(QStringLiteral("vantorel: --photos and --music are required"));
        return std::nullopt;
    }
    return o;
}

// Answers the choosers with the command line's paths and prints every box.
class BatchPrompter final : public platform::Prompter
{
public:
    explicit BatchPrompter(bool yes)
        : m_yes(yes)
    {}

    void QueueFolder(const QString &folder) { m_folders.push_back(folder); }
    void QueueFile(const QString &file) { m_files.push_back(file); }
    bool SawFailure() const { return m_sawFailure; }

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
        Print(caption, text);
        switch (buttons) {
        case platform::MessageButtons::Ok:
            return platform::MessageResult::Ok;
        case platform::MessageButtons::OkCancel:
            return m_yes ? platform::MessageResult::Ok : platform::MessageResult::Cancel;
        case platform::MessageButtons::YesNo:
            return m_yes ? platform::MessageResult::Yes : platform::MessageResult::No;
        }
        return platform::MessageResult::Cancel;
    }

    QString BrowseForFolder() override
    {
        std::lock_guard lock(m_mutex);
        if (m_folders.empty())
            return QString();
        const QString folder = m_folders.front();
        m_folders.pop_front();
        return folder;
    }

    std::optional<QString> OpenFile(QWidget *, const QString &, bool fileMustExist) override
    {
        std::lock_guard lock(m_mutex);
        if (m_files.empty())
            return std::nullopt;
        const QString file = m_files.front();
        m_files.pop_front();
        // The chooser only lets a person pick something that exists (the run then refuses
        // what is not a regular file, with its reason).
        if (fileMustExist && !QFileInfo::exists(file)) {
            std::fprintf(stderr, "vantorel: no such file: %s\n", file.toLocal8Bit().constData());
            return std::nullopt;
        }
        return file;
    }

private:
    void Print(const QString &caption, const QString &text)
    {
        // The conversion worker prints too.
        std::lock_guard lock(m_mutex);
        if (text.startsWith(QLatin1String("Failed to create the movie.")))
            m_sawFailure = true;
        std::fprintf(stderr,
                     "%s%s: %s\n",
                     m_midLine ? "\n" : "",
                     caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        std::fflush(stderr);
        m_midLine = false;
    }

public:
    // Progress on standard error: a bar redrawn in place on a terminal, one line per
    // change otherwise.
    void ShowProgress(int value)
    {
        std::lock_guard lock(m_mutex);
        if (isatty(STDERR_FILENO)) {
            const int filled = value * 40 / 100;
            std::fprintf(stderr,
                         "\r[%s%s] %3d%%",
                         std::string(filled, '#').c_str(),
                         std::string(40 - filled, ' ').c_str(),
                         value);
            m_midLine = true;
        } else {
            std::fprintf(stderr, "Progress: %d%%\n", value);
        }
        std::fflush(stderr);
    }

    void EndLine()
    {
        std::lock_guard lock(m_mutex);
        if (m_midLine)
            std::fprintf(stderr, "\n");
        m_midLine = false;
    }

private:
    const bool m_yes;
    std::mutex m_mutex;
    std::deque<QString> m_folders;
    std::deque<QString> m_files;
    bool m_sawFailure = false;
    bool m_midLine = false;
};

QString Absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

double Seconds(qint64 ms)
{
    return static_cast<double>(ms) / 1000.0;
}

} // namespace

bool WantsBatch(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--batch" || a == "--help" || a == "--version")
            return true;
    }
    return false;
}

int RunBatch(int argc, char **argv)
{
    QElapsedTimer whole;
    whole.start();
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QLatin1String("--help"))) {
        std::fputs(kUsage, stdout);
        return kExitMade;
    }
    if (args.contains(QLatin1String("--version"))) {
        std::printf("vantorel %s\n", kVersion);
        return kExitMade;
    }
    const std::optional<Options> options = ParseOptions(args);
    if (!options) {
        std::fputs(kUsage, stderr);
        return kExitBadArguments;
    }

    // No screen is needed: the window is built and driven offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::ApplicationTitle());
    engine::RegisterEngineClasses();

    BatchPrompter prompter(options->yes);
    platform::Services services = platform::Services::Real();
    services.prompter = &prompter;

    MainDialog dialog(services);
    if (!dialog.OnInitDialog()) {
        PrintError(QStringLiteral("vantorel: the program could not start"));
        return kExitNotMade;
    }
    dialog.show();
    const qint64 startupMs = whole.elapsed();

    for (const QString &folder : options->photoFolders) {
        prompter.QueueFolder(Absolute(folder));
        dialog.OnCommand(IDC_ADD_PHOTOS);
    }
    prompter.QueueFile(Absolute(options->music));
    dialog.OnCommand(IDC_CHOOSE_MUSIC);
    if (!options->output.isEmpty()) {
        // A folder is chosen with the output chooser; a file name is typed into the box.
        if (QFileInfo(options->output).isDir()) {
            prompter.QueueFolder(Absolute(options->output));
            dialog.OnCommand(IDC_CHOOSE_OUTPUT);
        } else {
            dialog.SetControlText(IDC_OUTPUT, Absolute(options->output));
        }
    }
    dialog.m_secondsIndex = options->secondsIndex;
    dialog.m_sizeIndex = options->sizeIndex;
    dialog.m_playWholeMusic = options->wholeMusic ? 1 : 0;
    dialog.m_highQuality = options->highQuality ? 1 : 0;
    dialog.ApplySettings();
    dialog.Control<QCheckBox>(IDC_EFFECT)->setChecked(options->effect);

    QObject::connect(dialog.m_progress,
                     &QProgressBar::valueChanged,
                     &dialog,
                     [&prompter](int value) { prompter.ShowProgress(value); });

    // A signal ends the converter and removes what the run made (the window's exit).
    int signalled = 0;
    platform::TerminationSignals endings([&](int signal) {
        signalled = signal;
        dialog.m_stopRequested = 1;
        dialog.CleanUpOnExit();
    });
    QElapsedTimer stage;
    stage.start();
    dialog.OnCommand(IDC_GO);
    const qint64 renderMs = stage.elapsed();
    // "GO" returns once the conversion stage has begun; the run then ends with the
    // finishing step, which returns the window to idle.
    std::optional<qint64> conversionMs;
    stage.restart();
    while (dialog.m_busy && !signalled) {
        if (!conversionMs && !dialog.m_converting)
            conversionMs = stage.elapsed();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    prompter.EndLine();
    if (signalled)
        return platform::ExitStatusForSignal(signalled);

    // An old movie at the path may still be there: only the run's own verdict counts.
    const bool made = dialog.m_movieMade && !prompter.SawFailure();
    if (options->timings) {
        std::fprintf(stderr, "startup: %.2f s\n", Seconds(startupMs));
        std::fprintf(stderr, "render: %.2f s\n", Seconds(renderMs));
        std::fprintf(stderr, "conversion: %.2f s\n", Seconds(conversionMs.value_or(0)));
        std::fprintf(stderr, "whole run: %.2f s\n", Seconds(whole.elapsed()));
    }
    if (made)
        std::printf("%s\n", dialog.m_outputPath.toLocal8Bit().constData());
    return made ? kExitMade : kExitNotMade;
}

} // namespace batch
