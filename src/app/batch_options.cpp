#include "app/batch_options.h"

#include "app/version.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

namespace batch {
namespace {

const char kUsage[]
    = "Usage: vantorel [--batch --photos DIR [--photos DIR ...] --music FILE [OPTION...]]\n"
      "\n"
      "Without arguments, opens the window. With --batch, makes a slideshow movie from the\n"
      "photos of the folders and the music file without a window.\n"
      "  --photos DIR          a folder of photos (JPEG, BMP, GIF); may be repeated\n"
      "  --music FILE          the background music (MP3, WMA, WAV, MPEG)\n"
      "  --output PATH         the movie file, or a folder for Output.mp4 in it\n"
      "                        (default: ~/Vantorel/Output.mp4)\n"
      "  --seconds N           seconds each photo is shown: 2, 4 (default) or 6\n"
      "  --size WxH            320x240 (default), 640x480, 480x320 or 320x480\n"
      "  --whole-music         play the whole music, not only the photos' length\n"
      "  --standard-quality    no high-quality rendering\n"
      "  --no-effect           no transition effect between photos\n"
      "  --overwrite           replace a movie that already exists at the output path\n"
      "  --yes                 answer OK/Yes to questions (default: Cancel/No); implies\n"
      "                        --overwrite\n"
      "  --quiet               no progress\n"
      "  --progress            progress as one line per tenth of the whole run, also in\n"
      "                        a pipe\n"
      "  --timings             print how long each stage took, in seconds\n"
      "  -h, --help            print this help\n"
      "  -v, --version         print the version\n"
      "An option's value may follow it or be joined with '=' (--photos=DIR).\n"
      "Exit status: 0 movie made, 1 not made, 2 bad arguments or a missing folder or file;\n"
      "130 (Ctrl+C, SIGINT), 143 (SIGTERM) or 129 (SIGHUP, the terminal closed) when a\n"
      "batch run is ended by a signal, after removing the files the run had begun.\n";

const QStringList kSeconds{"2", "4", "6"};
const QStringList kSizes{"320x240", "640x480", "480x320", "320x480"};
// Options that only mean something in a batch run.
const QStringList kBatchOnly{"photos",
                             "music",
                             "output",
                             "seconds",
                             "size",
                             "whole-music",
                             "standard-quality",
                             "no-effect",
                             "overwrite",
                             "yes",
                             "quiet",
                             "progress",
                             "timings"};

void PrintLine(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// A usage error: one line naming what is wrong, and where to read more.
ExitWith UsageError(const QString &text)
{
    PrintLine(QStringLiteral("vantorel: ") + text);
    PrintLine(QStringLiteral("Try 'vantorel --help'."));
    return ExitWith{kExitBadArguments};
}

void AddOptions(QCommandLineParser &parser)
{
    parser.addOption({{"h", "help"}, QString()});
    parser.addOption({{"v", "version"}, QString()});
    parser.addOption({"batch", QString()});
    for (const char *valued : {"photos", "music", "output", "seconds", "size"})
        parser.addOption({QString::fromLatin1(valued), QString(), QStringLiteral("value")});
    for (const QString &flag : kBatchOnly.mid(5))
        parser.addOption({flag, QString()});
}

// The values of the batch options; a usage error for a value out of range.
std::variant<Options, ExitWith> ReadBatchOptions(const QCommandLineParser &parser,
                                                 bool stderrIsTerminal)
{
    Options o;
    o.photoFolders = parser.values("photos");
    o.music = parser.value("music");
    o.output = parser.value("output");
    if (o.photoFolders.isEmpty())
        return UsageError(QStringLiteral("--batch needs at least one --photos folder"));
    if (o.music.isEmpty())
        return UsageError(QStringLiteral("--batch needs a --music file"));
    if (parser.isSet("seconds")) {
        o.secondsIndex = kSeconds.indexOf(parser.value("seconds"));
        if (o.secondsIndex < 0)
            return UsageError(QStringLiteral("--seconds must be 2, 4 or 6, not '%1'")
                                  .arg(parser.value("seconds")));
    }
    if (parser.isSet("size")) {
        o.sizeIndex = kSizes.indexOf(parser.value("size").toLower());
        if (o.sizeIndex < 0)
            return UsageError(
                QStringLiteral("--size must be 320x240, 640x480, 480x320 or 320x480, not '%1'")
                    .arg(parser.value("size")));
    }
    o.wholeMusic = parser.isSet("whole-music");
    o.highQuality = !parser.isSet("standard-quality");
    o.effect = !parser.isSet("no-effect");
    o.yes = parser.isSet("yes");
    o.overwrite = o.yes || parser.isSet("overwrite");
    o.timings = parser.isSet("timings");
    if (parser.isSet("quiet"))
        o.progress = ProgressMode::Off;
    else if (parser.isSet("progress"))
        o.progress = ProgressMode::Tenths;
    else
        o.progress = stderrIsTerminal ? ProgressMode::Line : ProgressMode::Off;
    return o;
}

// The folders and the music must be there before a window is built or a question asked.
// Music that is there but is no regular file is refused by the run, with its reason.
std::optional<ExitWith> CheckInputs(const Options &o)
{
    for (const QString &folder : o.photoFolders) {
        if (!QFileInfo(folder).isDir()) {
            PrintLine(QStringLiteral("vantorel: no such photo folder: %1").arg(folder));
            return ExitWith{kExitBadArguments};
        }
    }
    if (!QFileInfo::exists(o.music)) {
        PrintLine(QStringLiteral("vantorel: no such music file: %1").arg(o.music));
        return ExitWith{kExitBadArguments};
    }
    return std::nullopt;
}

} // namespace

Request ReadCommandLine(const QStringList &args, bool stderrIsTerminal)
{
    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(QStringList{QStringLiteral("vantorel")} + args))
        return UsageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return UsageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet("help")) {
        std::fputs(kUsage, stdout);
        return ExitWith{kExitMade};
    }
    if (parser.isSet("version")) {
        std::printf("vantorel %s\n", VANTOREL_VERSION);
        return ExitWith{kExitMade};
    }
    if (!parser.isSet("batch")) {
        for (const QString &name : kBatchOnly) {
            if (parser.isSet(name))
                return UsageError(QStringLiteral("--%1 needs --batch").arg(name));
        }
        return OpenWindow{};
    }
    auto options = ReadBatchOptions(parser, stderrIsTerminal);
    if (auto *exit = std::get_if<ExitWith>(&options))
        return *exit;
    if (const auto missing = CheckInputs(std::get<Options>(options)))
        return *missing;
    return std::get<Options>(options);
}

} // namespace batch
