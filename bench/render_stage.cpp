// The production stage alone: 60 photos of 3000x2000 shown 4 s each with the transition
// effect, default settings (a 640x480 intermediate with "High-quality Movie"), an MP3
// soundtrack, rendered through RenderSlideshowToAvi into the temporary AVI with the
// preferred compressor. Prints the frames per second of the stage, then times the
// converter's command on that AVI.
//
//   bench_render_stage [photos]

#include "app/main_dialog.h"
#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "platform/processes.h"
#include "platform/prompter.h"
#include "platform/registry.h"
#include "production/conversion_stage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// Answers every box the way a person in a hurry would, and says what it was asked.
class BenchPrompter final : public platform::Prompter
{
public:
    platform::MessageResult AppMessageBox(const QString &text) override
    {
        std::printf("box: %s\n", qPrintable(text));
        return platform::MessageResult::Ok;
    }
    platform::MessageResult MessageBox(QWidget *,
                                       const QString &text,
                                       const QString &,
                                       platform::MessageButtons buttons,
                                       platform::MessageIcon) override
    {
        std::printf("question: %s\n", qPrintable(text));
        return buttons == platform::MessageButtons::YesNo ? platform::MessageResult::No
                                                          : platform::MessageResult::Ok;
    }
    QString BrowseForFolder(const QString &) override { return QString(); }
    std::optional<QString> OpenFile(QWidget *, const QString &, bool, const QString &) override
    {
        return std::nullopt;
    }
};

// A photo-like picture: a diagonal gradient with a few shapes, different for every index.
bool MakePhoto(const QString &path, int index)
{
    QImage image(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 3000, 2000);
    gradient.setColorAt(0, QColor::fromHsv((index * 37) % 360, 160, 230));
    gradient.setColorAt(1, QColor::fromHsv((index * 37 + 120) % 360, 200, 90));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 12; ++k) {
        painter.setBrush(QColor::fromHsv((index * 53 + k * 29) % 360, 220, 200));
        painter.drawEllipse(QPoint((k * 613 + index * 97) % 3000, (k * 389 + index * 151) % 2000),
                            150 + k * 20,
                            100 + k * 15);
    }
    painter.end();
    return image.save(path, "JPEG", 90);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int photos = argc > 1 ? std::atoi(argv[1]) : 60;

    QTemporaryDir scratch;
    const QString root = scratch.path();
    for (const char *folder : {"registry", "system", "home", "photos"})
        QDir().mkpath(root + u'/' + QLatin1String(folder));
    qputenv("VANTOREL_REGISTRY_DIR", (root + QStringLiteral("/registry")).toUtf8());
    qputenv("VANTOREL_SYSTEM_DIR", (root + QStringLiteral("/system")).toUtf8());
    qputenv("VANTOREL_WINDOWS_DIR", (root + QStringLiteral("/home")).toUtf8());
    const QString programDir
        = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));

    // The preferred compressor, as its installer enters it.
    auto &registry = platform::TheRegistry();
    const auto machine = platform::RegistryRoot::LocalMachine;
    const QString entry = engine::kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    registry.WriteValue(
        machine, entry, QString(), QStringLiteral("Microsoft Windows Media Video 9"));
    registry.WriteValue(machine, entry, engine::kCompressorEncoderValue, QStringLiteral("mpeg4"));
    registry.WriteValue(machine, entry, engine::kCompressorOptionsValue, QStringLiteral("q=2"));
    engine::RegisterEngineClasses();

    std::printf("making %d photos of 3000x2000 and a 60 s MP3...\n", photos);
    QStringList photoPaths;
    for (int i = 0; i < photos; ++i) {
        const QString path
            = root + QStringLiteral("/photos/photo%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
        if (!MakePhoto(path, i)) {
            std::printf("cannot write %s\n", qPrintable(path));
            return 1;
        }
        photoPaths.append(path);
    }
    const QString music = root + QStringLiteral("/song.mp3");
    if (QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-v"),
                           QStringLiteral("error"),
                           QStringLiteral("-f"),
                           QStringLiteral("lavfi"),
                           QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:sample_rate=44100:duration=60"),
                           QStringLiteral("-ac"),
                           QStringLiteral("2"),
                           QStringLiteral("-b:a"),
                           QStringLiteral("128k"),
                           music})
        != 0) {
        std::printf("cannot make the music with ffmpeg\n");
        return 1;
    }

    BenchPrompter prompter;
    platform::Services services = platform::Services::Real();
    services.prompter = &prompter;
    MainDialog dialog(services);
    dialog.m_photoPaths = photoPaths;
    dialog.m_musicFiles = QStringList{music};
    dialog.m_tempAviPath = root + QStringLiteral("/TempData.avi");
    dialog.m_outputPath = root + QStringLiteral("/Output.mp4");
    dialog.m_programDir = programDir + u'/';

    const int seconds = dialog.m_secondsPerPhoto;
    const double movieSeconds = (photos + 1) * seconds + seconds; // T = V, plus one photo
    const auto frames = static_cast<long long>(std::ceil(movieSeconds * 30000.0 / 1001.0));
    std::printf("render stage: %d photos, %d s each, effect %s, frame %dx%d (high quality %d)\n",
                photos,
                seconds,
                dialog.m_addMotionEffect ? "on" : "off",
                dialog.m_videoWidth * 2,
                dialog.m_videoHeight * 2,
                dialog.m_highQuality);

    // Processor time of all threads too: on a machine shared with other work the wall
    // clock alone says little.
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    const bool rendered = dialog.RenderSlideshowToAvi();
    const double renderSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const double renderCpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (!rendered) {
        std::printf("the render stage failed\n");
        return 1;
    }
    std::printf("render stage: %lld frames (%.1f s of movie) in %.2f s: %.0f frames per second, "
                "AVI %.1f MiB\n",
                frames,
                movieSeconds,
                renderSeconds,
                static_cast<double>(frames) / renderSeconds,
                static_cast<double>(QFileInfo(dialog.m_tempAviPath).size()) / (1024.0 * 1024.0));
    std::printf("render stage: %.2f s of processor time (all threads), %.2f cores busy\n",
                renderCpu,
                renderCpu / renderSeconds);

    // The converter's command on the same AVI, as the conversion stage runs it.
    const QString converter = programDir + QStringLiteral("/KelvoraCfg.dll");
    const QString commandLine = ConverterCommandLine(converter,
                                                     dialog.m_tempAviPath,
                                                     dialog.m_outputPath,
                                                     dialog.m_highQuality,
                                                     dialog.m_videoWidth,
                                                     dialog.m_videoHeight);
    std::printf("converter: %s\n", qPrintable(commandLine));
    QStringList arguments = platform::SplitCommandLine(commandLine);
    const QString program = arguments.takeFirst();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    timer.restart();
    process.start(program, arguments);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(-1);
    const double convertSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const QByteArray output = process.readAll();
    const bool made
        = finished && output.contains("muxing") && QFileInfo(dialog.m_outputPath).size() > 0;
    std::printf("converter: %s in %.2f s (%.0f frames per second), movie %.1f MiB\n",
                made ? "movie made" : "FAILED",
                convertSeconds,
                static_cast<double>(frames) / convertSeconds,
                static_cast<double>(QFileInfo(dialog.m_outputPath).size()) / (1024.0 * 1024.0));
    if (!made)
        std::printf("%s\n", output.right(2000).constData());
    std::printf("whole movie: %.2f s\n", renderSeconds + convertSeconds);
    return made ? 0 : 1;
}
