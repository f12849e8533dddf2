// A real movie made end to end: photos and music made here, the program run as a process
// through its batch front end, the result opened with libavformat.

#include "app/version.h"
#include "common/environment.h"
#include "common/media_makers.h"
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <cstdlib>

#include <sys/stat.h>

using testing_support::TestEnvironment;

namespace {

using ProgramRun = testing_support::ProcessResult;

// Runs the program; the test's environment gives it its own registry, system, home and
// data folders.
ProgramRun RunProgram(const QStringList &args)
{
    QString commandLine
        = platform::QuoteArgument(QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "vantorel"));
    for (const QString &a : args)
        commandLine += u' ' + platform::QuoteArgument(a);
    return testing_support::RunToEnd(commandLine, 120000);
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// A stage's seconds from the --timings lines ("render: 1.23 s").
double Timing(const ProgramRun &run, const char *stage)
{
    const QString key = QString::fromLatin1(stage) + QStringLiteral(": ");
    const qsizetype at = run.output.indexOf(key);
    return at < 0 ? 1e9 : run.output.mid(at + key.size()).section(u' ', 0, 0).toDouble();
}

class BatchMovie : public ::testing::Test
{
protected:
    void SetUp() override
    {
        env.Set("XDG_CONFIG_HOME", env.Root() + "/config");
        env.Set("XDG_DATA_HOME", env.Root() + "/data");
        env.Set("HOME", env.HomeDir());
        photos = env.ScratchDir() + "/photos";
        QDir().mkpath(photos);
    }

    TestEnvironment env;
    QString photos;
};

TEST_F(BatchMovie, PhotosAndMusicBecomeAnMpeg4MovieOfTheRightLength)
{
    // Three photos of three formats and sizes, and 20 s of music (longer than the show).
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(400, 300, Qt::red), photos + "/1.jpg"));
    ASSERT_TRUE(testmedia::SaveBmp(testmedia::SolidImage(200, 300, Qt::green), photos + "/2.bmp"));
    ASSERT_TRUE(testmedia::SaveGif(testmedia::SolidImage(320, 240, Qt::yellow), photos + "/3.gif"));
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 20, 440), testmedia::MusicKind::Mp3, music));
    const QString movie = env.ScratchDir() + "/out/slideshow.mp4";
    QDir().mkpath(env.ScratchDir() + "/out");
    // "TempData.avi" is taken by a link to a file of the user's: the run neither writes
    // through it nor removes it, and uses a free name of its own.
    const QString thesis = testing_support::WriteFile(env.ScratchDir() + "/thesis.doc", "mine");
    ASSERT_TRUE(QFile::link(thesis, env.ScratchDir() + "/out/TempData.avi"));

    const ProgramRun run = RunProgram({"--batch",
                                       "--photos",
                                       photos,
                                       "--music",
                                       music,
                                       "--output",
                                       movie,
                                       "--seconds",
                                       "2",
                                       "--size",
                                       "320x240",
                                       "--standard-quality",
                                       "--yes",
                                       "--timings"});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Congratulation: The movie has been created successfully!"))
        << run.output.toStdString();
    EXPECT_TRUE(QFileInfo(env.ScratchDir() + "/out/TempData.avi").isSymLink());
    EXPECT_EQ(Contents(thesis), "mine");
    EXPECT_EQ(QDir(env.ScratchDir() + "/out").entryList(QDir::Files | QDir::System, QDir::Name),
              QStringList({"TempData.avi", "slideshow.mp4"}));
    // In a pipe there is no progress, and the run ends as soon as the movie is made.
    EXPECT_FALSE(run.output.contains(u'%')) << run.output.toStdString();
    EXPECT_LE(Timing(run, "whole run"),
              Timing(run, "startup") + Timing(run, "render") + Timing(run, "conversion") + 0.5)
        << run.output.toStdString();
    // The first start put links to the system's libraries into the system folder, not copies.
    for (const char *library : {"/avcodec.dll", "/avformat.dll", "/avutil.dll"})
        EXPECT_TRUE(QFileInfo(env.SystemDir() + library).isSymLink()) << library;

    const testmedia::AviContents mp4 = testmedia::ReadAvi(movie);
    ASSERT_TRUE(mp4.opened);
    ASSERT_EQ(mp4.streams.size(), 2u);
    const auto &video = mp4.streams[mp4.streams[0].audio ? 1 : 0];
    EXPECT_EQ(video.codec, QStringLiteral("mpeg4"));
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(std::int64_t{video.frameRateNum} * 1001, std::int64_t{video.frameRateDen} * 30000);
    // N = 3 photos of s = 2 s: the show is (N + 1) * s = 8 s of music, and the video runs
    // s seconds longer.
    EXPECT_NEAR(video.seconds, 10.0, 2 * 1001.0 / 30000.0);

    // The pictures at chosen frames (29.97 per second): the red photo wiped in three
    // quarters of the way (1.5 s), half way through its dissolve into the green one (3 s),
    // and the yellow one alone (8 s).
    const std::vector<testmedia::FrameColours> frames = testmedia::DecodeVideoColours(movie);
    ASSERT_GE(frames.size(), 298u);
    const auto near = [](std::uint32_t got, std::uint32_t want) {
        for (int shift : {16, 8, 0}) {
            if (std::abs(int((got >> shift) & 0xff) - int((want >> shift) & 0xff)) > 32)
                return false;
        }
        return true;
    };
    for (const auto &[frame, colour] :
         {std::pair{45, 0xff0000u}, std::pair{90, 0x808000u}, std::pair{240, 0xffff00u}}) {
        EXPECT_TRUE(near(frames[frame].top, colour))
            << frame << ": " << std::hex << frames[frame].top;
        EXPECT_TRUE(near(frames[frame].bottom, colour))
            << frame << ": " << std::hex << frames[frame].bottom;
    }
    // The music sounds up to T = 8 s and not after.
    const testmedia::Pcm sound = testmedia::DecodeAudio(movie);
    ASSERT_GT(sound.Frames(), 0);
    std::int64_t last = 0;
    for (std::int64_t i = 0; i < sound.Frames(); ++i) {
        if (std::abs(sound.samples[static_cast<std::size_t>(i * sound.channels)]) >= 2000)
            last = i;
    }
    EXPECT_NEAR(static_cast<double>(last) / sound.rate, 8.0, 0.05);
}

TEST_F(BatchMovie, AnExistingMovieIsKeptUnlessOverwriteAndProgressComesPerTenth)
{
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(320, 240, Qt::red), photos + "/1.jpg"));
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 3, 440), testmedia::MusicKind::Mp3, music));
    const QByteArray old("the user's own movie");
    const QString movie = testing_support::WriteFile(env.ScratchDir() + "/movie.mp4", old);
    const QStringList args{
        "--batch", "--photos", photos, "--music", music, "--output=" + movie, "--seconds=2"};

    // Without --yes the missing preferred compressor is named, with the way to install it.
    const ProgramRun kept = RunProgram(args);
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_TRUE(kept.output.contains(movie + " already exists")) << kept.output.toStdString();
    EXPECT_EQ(kept.output.count("wmv9VCMsetup.exe in order to get the high-quality product. To "
                                "install it now? [answered No; --yes answers Yes]"),
              1)
        << kept.output.toStdString();
    QFile file(movie);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), old);
    file.close();

    // With the compressor installed, --overwrite replaces the movie.
    ASSERT_EQ(testing_support::RunToEnd(
                  QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "wmv9VCMsetup.exe"), 60000)
                  .exitCode,
              0);
    const ProgramRun replaced = RunProgram(args + QStringList{"--overwrite", "--progress"});
    ASSERT_EQ(replaced.exitCode, 0) << replaced.output.toStdString();
    EXPECT_GT(QFileInfo(movie).size(), old.size());
    // One line per tenth of the render, never going back.
    const QStringList lines = replaced.output.split(u'\n').filter("Rendering: ");
    EXPECT_LE(lines.size(), 11);
    int last = -1;
    for (const QString &line : lines) {
        const int percent = line.section(u' ', 1).chopped(1).toInt();
        if (last >= 0) {
            EXPECT_GT(percent / 10, last / 10) << replaced.output.toStdString();
        }
        last = percent;
    }
    EXPECT_FALSE(lines.isEmpty()) << replaced.output.toStdString();
}

TEST_F(BatchMovie, LibraryLogLinesStayOffTheTerminal)
{
    // Text named like music: FFmpeg's own complaints about it ("[mp3 @ 0x...] ...") stay
    // off the terminal, and reach the debug log when the user asks for one.
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(64, 48, Qt::red), photos + "/1.jpg"));
    const QString text = testing_support::WriteFile(env.ScratchDir() + "/text.mp3",
                                                    QByteArray("not music\n").repeated(200));
    const QStringList args
        = {"--batch", "--photos", photos, "--music", text, "--output", env.ScratchDir() + "/t.mp4"};
    const ProgramRun quiet = RunProgram(args);
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_FALSE(quiet.output.contains(" @ 0x")) << quiet.output.toStdString();
    const QString logPath = env.ScratchDir() + "/debug.log";
    env.Set("VANTOREL_DEBUG_LOG", logPath);
    RunProgram(args);
    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains(" @ 0x"));
}

// Runs that must stop before anything of the user's is touched: each says why, and the
// old movie, the inputs and whatever stands at the movie's path are as they were.
TEST_F(BatchMovie, RunsThatCannotMakeAMovieSayWhyAndLoseNothing)
{
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(64, 48, Qt::red), photos + "/1.jpg"));
    const QString s = env.ScratchDir();
    const QString song = s + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100, 440), testmedia::MusicKind::Mp3, song));
    const QString songMp4 = s + "/song.mp4";
    ASSERT_TRUE(QFile::copy(song, songMp4));
    const QString empty = testing_support::WriteFile(s + "/empty.mp3", "");
    const QString fifoSong = s + "/fifo.mp3";
    ASSERT_EQ(mkfifo(fifoSong.toUtf8().constData(), 0600), 0);
    const QString old = testing_support::WriteFile(s + "/old.mp4", "my old movie");
    const QString thesis = testing_support::WriteFile(s + "/thesis.doc", "mine");
    ASSERT_TRUE(QFile::link(thesis, s + "/link.mp4"));
    ASSERT_EQ(mkfifo((s + "/fifo.mp4").toUtf8().constData(), 0600), 0);

    const struct
    {
        QString music;
        QString output;
        QByteArray said; // in the output
    } runs[] = {
        // Broken music: the old movie stays; the file and the reason follow the message.
        {empty, old, "Failed to put filename\n" + empty.toUtf8() + ": the file is empty"},
        {fifoSong,
         old,
         "Failed to put filename\n" + fifoSong.toUtf8() + ": it is not a regular file"},
        // Something other than a regular file at the movie's path.
        {song, s + "/link.mp4", "link.mp4 is a symbolic link"},
        {song, s + "/fifo.mp4", "fifo.mp4 is a device, FIFO or socket"},
        // The movie would replace its own music.
        {songMp4, songMp4, "The movie would replace " + songMp4.toUtf8()},
    };
    for (const auto &r : runs) {
        const ProgramRun run = RunProgram(
            {"--batch", "--photos", photos, "--music", r.music, "--output", r.output, "--yes"});
        EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(r.said))) << run.output.toStdString();
    }
    EXPECT_EQ(Contents(old), "my old movie");
    EXPECT_EQ(Contents(thesis), "mine");
    EXPECT_TRUE(QFileInfo(s + "/link.mp4").isSymLink());
    EXPECT_TRUE(QFileInfo(s + "/fifo.mp4").exists());
    EXPECT_EQ(QFileInfo(songMp4).size(), QFileInfo(song).size());
    EXPECT_TRUE(QDir(s).entryList({"TempData*"}, QDir::AllEntries | QDir::System).isEmpty());
}

// A disk that fills up during the render: the run says so and leaves nothing behind.
TEST_F(BatchMovie, ADiskThatFillsUpIsNamedAndThePartialFileRemoved)
{
    const QString small = env.ScratchDir() + "/small";
    QDir().mkpath(small);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=200k", "tmpfs", small}) != 0)
        GTEST_SKIP() << "a small disk needs mount (root)";
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(
            testmedia::SaveJpeg(testmedia::SolidImage(640, 480, QColor::fromHsv(i * 60, 200, 200)),
                                photos + QStringLiteral("/%1.jpg").arg(i)));
    }
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 2, 440), testmedia::MusicKind::Mp3, music));
    const ProgramRun run = RunProgram(
        {"--batch", "--photos", photos, "--music", music, "--output", small + "/m.mp4", "--yes"});
    const QStringList left = QDir(small).entryList(QDir::Files);
    QProcess::execute("umount", {small});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains("Could not run compression graph\nThe disk is full: " + small
                                    + "/TempData.avi could not be written."))
        << run.output.toStdString();
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

// A signal during the run ends it with the shell's status for that signal and removes
// what the run made, and only that.
TEST_F(BatchMovie, ASignalEndsTheRunAndRemovesWhatItMade)
{
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(
            testmedia::SaveJpeg(testmedia::SolidImage(640, 480, QColor::fromHsv(i * 9, 200, 200)),
                                photos + QStringLiteral("/%1.jpg").arg(i, 2, 10, QChar(u'0'))));
    }
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 2, 440), testmedia::MusicKind::Mp3, music));
    const QString out = env.ScratchDir() + "/out";
    QDir().mkpath(out);
    const QString mine = testing_support::WriteFile(out + "/TempData.avi", "mine");
    for (const auto &[signal, status] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "vantorel"),
                      {"--batch",
                       "--photos",
                       photos,
                       "--music",
                       music,
                       "--output",
                       out + "/movie.mp4",
                       "--seconds",
                       "6",
                       "--size",
                       "640x480",
                       "--yes"});
        ASSERT_TRUE(program.waitForStarted());
        // The run's own temporary file appears once the render has begun.
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(out + "/TempData-1.avi") && t.elapsed() < 60000)
            program.waitForFinished(20);
        ASSERT_TRUE(QFileInfo::exists(out + "/TempData-1.avi"));
        kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), status) << program.readAll().toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"TempData.avi"});
        EXPECT_EQ(Contents(mine), "mine");
    }
}

// One command line, what it must end with, and what it must print.
struct CommandLineCase
{
    const char *name;
    QStringList args; // "PHOTOS", "MUSIC" and "MISSING" stand for the test's own paths
    int exitCode;
    QString printed;
};

class BatchCommandLine : public BatchMovie, public ::testing::WithParamInterface<CommandLineCase>
{};

// Every case ends before a window is built: nothing is written to the settings store, and
// no question is asked.
TEST_P(BatchCommandLine, EndsBeforeAnythingRunsWithItsExitStatusAndOneLine)
{
    const QString music = testing_support::WriteFile(env.ScratchDir() + "/song.wav", "RIFF");
    env.Unset("QT_QPA_PLATFORM");
    env.Unset("DISPLAY");
    env.Unset("WAYLAND_DISPLAY");
    QStringList args = GetParam().args;
    args.replaceInStrings("PHOTOS", photos).replaceInStrings("MUSIC", music);
    args.replaceInStrings("MISSING", env.ScratchDir() + "/missing");

    QString printed = GetParam().printed;
    printed.replace("MISSING", env.ScratchDir() + "/missing");

    const ProgramRun run = RunProgram(args);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(printed)) << run.output.toStdString();
    if (run.exitCode == 2) {
        EXPECT_EQ(run.output.count(u'\n'), printed.contains("no such") ? 1 : 2)
            << run.output.toStdString();
    }
    EXPECT_TRUE(QDir(env.RegistryDir()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    BatchCommandLine,
    ::testing::Values(
        CommandLineCase{"Help", {"-h"}, 0, "--photos DIR"},
        CommandLineCase{"Version", {"-v"}, 0, "vantorel " VANTOREL_VERSION "\n"},
        CommandLineCase{"UnknownOption",
                        {"--photo=PHOTOS"},
                        2,
                        "vantorel: Unknown option 'photo'.\nTry 'vantorel --help'."},
        CommandLineCase{"StrayArgument", {"--batch", "extra"}, 2, "unexpected argument 'extra'"},
        CommandLineCase{
            "BatchOptionWithoutBatch", {"--music", "MUSIC"}, 2, "--music needs --batch"},
        CommandLineCase{"NoMusic", {"--batch", "--photos=PHOTOS"}, 2, "needs a --music file"},
        CommandLineCase{
            "MissingValue", {"--batch", "--photos"}, 2, "Missing value after '--photos'"},
        CommandLineCase{"BadSeconds",
                        {"--batch", "--photos=PHOTOS", "--music=MUSIC", "--seconds=5"},
                        2,
                        "--seconds must be 2, 4 or 6, not '5'"},
        CommandLineCase{
            "MissingFolder",
            {"--batch", "--photos", "PHOTOS", "--photos", "MISSING", "--music", "MUSIC"},
            2,
            "vantorel: no such photo folder: MISSING"},
        CommandLineCase{"MissingMusic",
                        {"--batch", "--photos", "PHOTOS", "--music", "MISSING.mp3"},
                        2,
                        "vantorel: no such music file: MISSING.mp3"}),
    [](const auto &row) { return std::string(row.param.name); });

} // namespace
