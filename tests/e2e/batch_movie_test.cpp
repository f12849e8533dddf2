// A real movie made end to end: photos and music made here, the program run as a process
// through its batch front end, the result opened with libavformat.

#include "common/doubles.h"
#include "common/environment.h"
#include "common/media_makers.h"
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSignalSpy>

#include <csignal>
#include <cstdlib>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::TestEnvironment;

namespace {

using ProgramRun = testing_support::ProcessResult;

const QString kProgram = QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "vantorel");

ProgramRun RunProgram(const QStringList &args)
{
    QString commandLine = platform::QuoteArgument(kProgram);
    for (const QString &a : args)
        commandLine += u' ' + platform::QuoteArgument(a);
    return testing_support::RunToEnd(commandLine, 120000);
}

QStringList BatchArgs(const QString &photos, const QString &music, const QString &output)
{
    return {"--batch", "--photos", photos, "--music", music, "--output", output};
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// A fresh user: nothing but the user's own home, configuration and data folders.
class BatchMovie : public ::testing::Test
{
protected:
    void SetUp() override
    {
        env.Unset("VANTOREL_REGISTRY_DIR");
        env.Unset("VANTOREL_SYSTEM_DIR");
        env.Set("XDG_CONFIG_HOME", env.Root() + "/config");
        env.Set("XDG_DATA_HOME", env.Root() + "/data");
        env.Set("HOME", env.HomeDir());
        photos = env.ScratchDir() + "/photos";
        QDir().mkpath(photos);
    }

    // `count` photos of `size` in many colours, and an MP3 tone of `seconds`.
    QString MakeJob(int count, QSize size, int seconds)
    {
        for (int i = 0; i < count; ++i) {
            const QImage image = testmedia::SolidImage(
                size.width(), size.height(), QColor::fromHsv(i * 9, 200, 200));
            EXPECT_TRUE(testmedia::SaveJpeg(image, photos + QStringLiteral("/%1.jpg").arg(i)));
        }
        const QString music = env.ScratchDir() + "/song.mp3";
        EXPECT_TRUE(testmedia::WriteMusic(
            testmedia::Tone(44100 * seconds, 440), testmedia::MusicKind::Mp3, music));
        return music;
    }

    TestEnvironment env;
    QString photos;
};

// The movie of three photos (red, green, yellow) of 2 s each at 320x240, with music longer
// than the show: an MP4 of that size, rate and length, with its pictures and sound.
void ExpectTheSlideshow(const QString &movie)
{
    const testmedia::AviContents mp4 = testmedia::ReadAvi(movie);
    EXPECT_TRUE(mp4.format.contains("mp4")) << mp4.format.toStdString();
    ASSERT_EQ(mp4.streams.size(), 2u);
    const auto &video = mp4.streams[mp4.streams[0].audio ? 1 : 0];
    EXPECT_EQ(video.width, 320);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(std::int64_t{video.frameRateNum} * 1001, std::int64_t{video.frameRateDen} * 30000);
    // N = 3 photos of s = 2 s: (N + 1) * s = 8 s of music, and the video s seconds longer.
    EXPECT_NEAR(video.seconds, 10.0, 2 * 1001.0 / 30000.0);
    // An independent reader sees the index before the media data, and the lowest Simple
    // Profile level that admits 320x240 at 1200 kbit/s.
    for (const auto &[inform, expected] : {std::pair{"General;%IsStreamable%", "Yes"},
                                           std::pair{"Video;%Format_Profile%", "Simple@L4a"}}) {
        const ProgramRun info = testing_support::RunToEnd(
            QStringLiteral("mediainfo --Inform=%1 %2")
                .arg(QString::fromLatin1(inform), platform::QuoteArgument(movie)));
        EXPECT_EQ(info.output.trimmed(), QString::fromLatin1(expected)) << inform;
    }
    // Frames (29.97 a second) with the red photo wiped in (1.5 s), half way through its
    // dissolve into the green one (3 s), and the yellow one alone (8 s).
    const std::vector<testmedia::FrameColours> frames = testmedia::DecodeVideoColours(movie);
    ASSERT_GE(frames.size(), 298u);
    for (const auto &[frame, colour] :
         {std::pair{45, 0xff0000u}, std::pair{90, 0x808000u}, std::pair{240, 0xffff00u}}) {
        for (const std::uint32_t got : {frames[frame].top, frames[frame].bottom}) {
            for (int shift : {16, 8, 0})
                EXPECT_NEAR((got >> shift) & 0xff, (colour >> shift) & 0xff, 32) << frame;
        }
    }
    const testmedia::Pcm sound = testmedia::DecodeAudio(movie);
    std::int64_t last = 0;
    for (std::int64_t i = 0; i < sound.Frames(); ++i) {
        if (std::abs(sound.samples[static_cast<std::size_t>(i * sound.channels)]) >= 2000)
            last = i;
    }
    EXPECT_NEAR(static_cast<double>(last) / sound.rate, 8.0, 0.05);
}

TEST_F(BatchMovie, PhotosAndMusicBecomeAnMpeg4MovieOfTheRightLength)
{
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(400, 300, Qt::red), photos + "/1.jpg"));
    ASSERT_TRUE(testmedia::SaveBmp(testmedia::SolidImage(200, 300, Qt::green), photos + "/2.bmp"));
    ASSERT_TRUE(testmedia::SaveGif(testmedia::SolidImage(320, 240, Qt::yellow), photos + "/3.gif"));
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 20, 440), testmedia::MusicKind::Mp3, music));
    // Blanks and quotes in the path reach the converter whole; ".mpeg4" names an MP4.
    const QString out = env.ScratchDir() + "/out \"q\"", movie = out + "/slideshow.MPEG4";
    QDir().mkpath(out);
    // An older movie at the path is kept without --overwrite (or --yes); the missing
    // preferred compressor is named, with the way to install it.
    testing_support::WriteFile(movie, "the user's own movie");
    const QStringList args = BatchArgs(photos, music, movie)
                             + QStringList{"--seconds=2", "--size=320x240", "--standard-quality"};
    const ProgramRun kept = RunProgram(args);
    EXPECT_EQ(kept.exitCode, 1);
    EXPECT_TRUE(kept.output.contains(movie + " already exists")) << kept.output.toStdString();
    EXPECT_TRUE(kept.output.contains("wmv9VCMsetup.exe in order to get the high-quality product. "
                                     "To install it now? [answered No; --yes answers Yes]"));
    EXPECT_EQ(Contents(movie), "the user's own movie");

    const ProgramRun run
        = RunProgram(args + QStringList{"--overwrite", "--yes", "--progress", "--timings"});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("\nwhole run: ")) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Congratulation: The movie has been created successfully!"))
        << run.output.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"slideshow.MPEG4"});
    // One progress line per tenth of the whole run, in order, through both stages: the
    // conversion's come from the converter's own output.
    QStringList tenths;
    for (const QString &line : run.output.split(u'\n')) {
        if (line.startsWith("Rendering: ") || line.startsWith("Converting: "))
            tenths << line.section(u' ', 1);
    }
    EXPECT_EQ(tenths,
              QStringList({"10%", "20%", "30%", "40%", "50%", "60%", "70%", "80%", "90%", "100%"}))
        << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("\nConverting: 50%\n")) << run.output.toStdString();

    // The store and the system folder are in the user's own folders.
    EXPECT_TRUE(QFileInfo::exists(env.Root() + "/config/vantorel/HKEY_LOCAL_MACHINE.reg"));
    EXPECT_TRUE(QFileInfo::exists(env.Root() + "/data/vantorel/system/DidirizaDezuzev.dll"));
    ExpectTheSlideshow(movie);
}

// Runs that must stop before anything of the user's is touched say why; the old movie and
// the inputs stay. The media libraries' own complaints ("[mp3 @ 0x...] ...") stay off the
// terminal, and reach the debug log the user asked for.
TEST_F(BatchMovie, RunsThatCannotMakeAMovieSayWhyAndLoseNothing)
{
    const QString song = MakeJob(1, {64, 48}, 1);
    const QString s = env.ScratchDir();
    const QString text
        = testing_support::WriteFile(s + "/text.mp3", QByteArray("not music\n").repeated(200));
    env.Set("VANTOREL_DEBUG_LOG", s + "/debug.log");
    const QString songMp4 = s + "/song.mp4";
    ASSERT_TRUE(QFile::copy(song, songMp4));
    const QString empty = testing_support::WriteFile(s + "/empty.mp3", "");
    const QString old = testing_support::WriteFile(s + "/old.mp4", "my old movie");
    // Photos none of which can be read: the first one is named.
    QDir().mkpath(s + "/junk");
    const QString first = testing_support::WriteFile(s + "/junk/a.jpg", "");
    testing_support::WriteFile(s + "/junk/b.gif", "GIF89a");

    const struct
    {
        QString photos, music, output;
        QByteArray said; // in the output
    } runs[] = {
        // Broken music: the old movie stays; the file and the reason follow the message.
        {photos, empty, old, "Failed to put filename\n" + empty.toUtf8() + ": the file is empty"},
        {photos, text, old, "Failed to put filename\n" + text.toUtf8()},
        // The movie would replace its own music.
        {photos, songMp4, songMp4, "The movie would replace " + songMp4.toUtf8()},
        {s + "/junk", song, old, "None of the photos can be read: " + first.toUtf8()},
    };
    for (const auto &r : runs) {
        const ProgramRun run = RunProgram(BatchArgs(r.photos, r.music, r.output) << "--yes");
        EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(r.said))) << run.output.toStdString();
        EXPECT_FALSE(run.output.contains(" @ 0x")) << run.output.toStdString();
    }
    EXPECT_TRUE(Contents(s + "/debug.log").contains(" @ 0x"));
    EXPECT_EQ(Contents(old), "my old movie");
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
    const QString music = MakeJob(4, {640, 480}, 2);
    const ProgramRun run = RunProgram(BatchArgs(photos, music, small + "/m.mp4") << "--yes");
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
    const QString music = MakeJob(40, {640, 480}, 2);
    const QString out = env.ScratchDir() + "/out";
    QDir().mkpath(out);
    const QString mine = testing_support::WriteFile(out + "/TempData.avi", "mine");
    for (const auto &[signal, status] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(kProgram,
                      BatchArgs(photos, music, out + "/movie.mp4")
                          + QStringList{"--seconds", "6", "--size", "640x480", "--yes"});
        ASSERT_TRUE(program.waitForStarted());
        // The run's own temporary file appears once the render has begun: woken by each
        // change of the folder, the test looks for it until it is there or the run ends.
        QFileSystemWatcher watcher({out});
        QSignalSpy changed(&watcher, &QFileSystemWatcher::directoryChanged);
        while (!QFileInfo::exists(out + "/TempData-1.avi") && program.state() == QProcess::Running)
            changed.wait();
        ASSERT_TRUE(QFileInfo::exists(out + "/TempData-1.avi"));
        kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), status) << program.readAll().toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"TempData.avi"});
        EXPECT_EQ(Contents(mine), "mine");
    }
}

// Photos that cannot be decoded are named, one line each; the movie is made of the rest,
// and counts them.
TEST_F(BatchMovie, UnreadablePhotosAreNamedAndTheMovieMadeOfTheRest)
{
    const QString music = MakeJob(2, {64, 48}, 2);
    // The start of a real photo: the decoder complains of it, to the debug log only.
    QFile photo(photos + "/" + QDir(photos).entryList(QDir::Files).first());
    ASSERT_TRUE(photo.open(QIODevice::ReadOnly));
    const QString bad = testing_support::WriteFile(photos + "/bad.jpg", photo.read(100));
    const QString movie = env.ScratchDir() + "/movie.mp4";
    const ProgramRun some = RunProgram(BatchArgs(photos, music, movie) << "--seconds=2");
    EXPECT_EQ(some.exitCode, 0) << some.output.toStdString();
    EXPECT_FALSE(some.output.contains("JPEG")) << some.output.toStdString();
    EXPECT_EQ(some.output.count("cannot decode"), 1) << some.output.toStdString();
    EXPECT_TRUE(some.output.contains("vantorel: cannot decode " + bad + "; it shows as black"));
    EXPECT_TRUE(some.output.contains("successfully!\n1 of the photos could not be read"))
        << some.output.toStdString();
    EXPECT_TRUE(QDir(env.ScratchDir()).entryList({"TempData*", "*.part*"}).isEmpty());
}

// The converter's stand-in, found on PATH by the real converter: it notes its pid and
// runs until it is ended, or fails at once when STAND_IN is "fail".
class StandInConverter : public BatchMovie
{
protected:
    void SetUp() override
    {
        BatchMovie::SetUp();
        // Orphans of the program become this test's children, so that a converter that
        // outlived the program can be waited for.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const QString bin = env.Root() + "/bin";
        QDir().mkpath(bin);
        pidFile = env.Root() + "/converter.pid";
        testing_support::WriteScript(bin + "/ffmpeg",
                                     "[ \"$STAND_IN\" = fail ] && { echo '[x] broken'; exit 1; }\n"
                                     "echo $$ > '"
                                         + pidFile.toUtf8()
                                         + "'\nfor out; do :; done\nprintf part > \"$out\"\n"
                                           "exec sleep 60");
        music = MakeJob(2, {64, 48}, 2); // with the real ffmpeg
        env.Set("PATH", bin + ":" + qEnvironmentVariable("PATH"));
        out = env.ScratchDir() + "/out";
        QDir().mkpath(out);
        movie = testing_support::WriteFile(out + "/movie.mp4", "my old movie");
    }
    void TearDown() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }

    // Starts the program in a process group of its own, as a shell starts a job, and
    // returns the converter's pid once it runs.
    pid_t StartUntilTheConverterRuns(QProcess &program)
    {
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.setChildProcessModifier([] { setpgid(0, 0); });
        program.start(kProgram, BatchArgs(photos, music, movie) << "--overwrite");
        if (!program.waitForStarted())
            return 0;
        for (int i = 0; i < 3000 && QFileInfo(pidFile).size() == 0; ++i)
            program.waitForFinished(20);
        return static_cast<pid_t>(Contents(pidFile).trimmed().toInt());
    }

    QString pidFile;
    QString music;
    QString out;
    QString movie;
};

// A converter that fails: the screen says the movie failed and no more, the debug log
// says why, the old movie stays and so does the temporary AVI, from which the movie can
// still be made.
TEST_F(StandInConverter, AFailedConversionSaysWhyInTheDebugLogOnly)
{
    env.Set("STAND_IN", "fail");
    const QString log = env.Root() + "/debug.log";
    env.Set("VANTOREL_DEBUG_LOG", log);
    const ProgramRun run = RunProgram(BatchArgs(photos, music, movie) << "--overwrite");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains("Failed to create the movie.")) << run.output.toStdString();
    EXPECT_FALSE(run.output.contains("[x] broken")) << run.output.toStdString();
    EXPECT_TRUE(Contents(log).contains("the converter ended with status 1; its last output:\n"
                                       "[x] broken\n"))
        << Contents(log).toStdString();
    EXPECT_EQ(Contents(movie), "my old movie");
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name),
              QStringList({"TempData.avi", "movie.mp4"}));
}

// Ctrl+C at the terminal (SIGINT to the job's process group) ends the run as interrupted:
// the converter is ended, what the run made goes, and the old movie stays.
TEST_F(StandInConverter, CtrlCDuringTheConversionEndsTheRunAsInterrupted)
{
    QProcess program;
    const pid_t converter = StartUntilTheConverterRuns(program);
    ASSERT_GT(converter, 0) << program.readAll().toStdString();
    kill(-static_cast<pid_t>(program.processId()), SIGINT);
    ASSERT_TRUE(program.waitForFinished(60000));
    const QString said = QString::fromLocal8Bit(program.readAll());
    EXPECT_EQ(program.exitCode(), 130) << said.toStdString();
    EXPECT_FALSE(said.contains("Failed to create the movie.")) << said.toStdString();
    EXPECT_EQ(Contents(movie), "my old movie");
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"movie.mp4"});
    EXPECT_NE(kill(converter, 0), 0);
}

// A program killed outright takes its converter along: nothing goes on writing a movie
// nobody waits for.
TEST_F(StandInConverter, KillingTheProgramEndsTheConverter)
{
    QProcess program;
    const pid_t converter = StartUntilTheConverterRuns(program);
    ASSERT_GT(converter, 0) << program.readAll().toStdString();
    kill(static_cast<pid_t>(program.processId()), SIGKILL);
    ASSERT_TRUE(program.waitForFinished(60000));
    // The orphaned converter is this test's child now: it has been killed, not left to run.
    int status = 0;
    ASSERT_EQ(waitpid(converter, &status, 0), converter);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(Contents(movie), "my old movie");
}

// A photo folder whose name is not valid UTF-8 exists, but cannot be carried as text: the
// run says so instead of calling it missing.
TEST_F(BatchMovie, AFolderNameThatIsNotUtf8IsNamedAsSuch)
{
    const QByteArray folder = QFile::encodeName(env.ScratchDir()) + "/bad\xff";
    ASSERT_EQ(mkdir(folder.constData(), 0700), 0);
    const QString music = testing_support::WriteFile(env.ScratchDir() + "/song.wav", "RIFF");
    const ProgramRun run = testing_support::RunToEnd(
        "/bin/sh -c "
        + platform::QuoteArgument(QStringLiteral("exec '" VANTOREL_TEST_PROGRAM_DIR
                                                 "vantorel' --batch --photos \"$(printf "
                                                 "'%1/bad\\377')\" --music '%2'")
                                      .arg(env.ScratchDir(), music)));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.output.contains("is not a valid UTF-8 name; please rename it"))
        << run.output.toStdString();
    EXPECT_FALSE(run.output.contains("no such photo folder")) << run.output.toStdString();
    rmdir(folder.constData()); // the temporary folder's clean-up cannot name it either
}

// Help and bad command lines end before a window is built, saying what is wrong (status
// 2): nothing is written to the settings store.
TEST_F(BatchMovie, BadCommandLinesEndBeforeAnythingRuns)
{
    const QString music = testing_support::WriteFile(env.ScratchDir() + "/song.wav", "RIFF");
    const QString missing = env.ScratchDir() + "/missing";
    env.Unset("QT_QPA_PLATFORM");
    env.Unset("DISPLAY");
    env.Unset("WAYLAND_DISPLAY");
    const struct
    {
        QStringList args;
        QString printed;
        int exitCode = 2;
    } cases[] = {
        {{"-h"}, "--photos DIR", 0},
        {{"--photo=" + photos}, "vantorel: Unknown option 'photo'.\nTry 'vantorel --help'."},
        {{"--music", music}, "--music needs --batch"},
        {{"--batch", "extra"}, "unexpected argument 'extra'"},
        {{"--batch", "--photos=" + photos}, "needs a --music file"},
        {{"--batch", "--photos=" + photos, "--music=" + music, "--seconds=5"},
         "--seconds must be 2, 4 or 6, not '5'"},
        {{"--batch", "--photos", photos, "--photos", missing, "--music", music},
         "vantorel: no such photo folder: " + missing},
        {{"--batch", "--photos", photos, "--music", missing}, "no such music file: " + missing},
    };
    for (const auto &c : cases) {
        const ProgramRun run = RunProgram(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(c.printed)) << run.output.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(env.Root() + "/config"));
}

} // namespace
