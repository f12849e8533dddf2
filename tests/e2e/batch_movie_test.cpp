// A real movie made end to end: photos and music made here, the program run as a process
// through its batch front end, the result opened with libavformat.

#include "platform/processes.h"
#include "support/environment.h"
#include "support/media_makers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavformat/avformat.h>
}

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
    ASSERT_TRUE(testmedia::SaveBmp(testmedia::SplitImage(200, 300, Qt::green, Qt::blue),
                                   photos + "/2.bmp"));
    ASSERT_TRUE(testmedia::SaveGif(testmedia::SolidImage(320, 240, Qt::yellow), photos + "/3.gif"));
    const QString music = env.ScratchDir() + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 20, 440), testmedia::MusicKind::Mp3, music));
    const QString movie = env.ScratchDir() + "/out/slideshow.mp4";
    QDir().mkpath(env.ScratchDir() + "/out");

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
                                       "--yes"});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Congratulation: The movie has been created successfully!"))
        << run.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(env.ScratchDir() + "/out/TempData.avi"));

    AVFormatContext *ctx = nullptr;
    ASSERT_EQ(avformat_open_input(&ctx, movie.toUtf8().constData(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(ctx, nullptr), 0);
    const AVStream *video = nullptr;
    const AVStream *audio = nullptr;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            video = ctx->streams[i];
        else if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio = ctx->streams[i];
    }
    ASSERT_NE(video, nullptr);
    EXPECT_NE(audio, nullptr);
    EXPECT_EQ(video->codecpar->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(video->codecpar->width, 320);
    EXPECT_EQ(video->codecpar->height, 240);
    EXPECT_EQ(static_cast<int64_t>(video->avg_frame_rate.num) * 1001,
              static_cast<int64_t>(video->avg_frame_rate.den) * 30000);
    // N = 3 photos of s = 2 s: the show is (N + 1) * s = 8 s of music, and the video runs
    // s seconds longer.
    const double seconds = static_cast<double>(video->duration) * av_q2d(video->time_base);
    EXPECT_NEAR(seconds, 10.0, 2 * 1001.0 / 30000.0);
    avformat_close_input(&ctx);
}

TEST_F(BatchMovie, BadArgumentsAndAMissingMusicAreReportedByTheExitStatus)
{
    EXPECT_EQ(RunProgram({"--batch", "--photos", photos}).exitCode, 2);
    EXPECT_EQ(
        RunProgram({"--batch", "--photos", photos, "--music", "x.mp3", "--seconds", "5"}).exitCode,
        2);
    const ProgramRun help = RunProgram({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.contains("--photos DIR"));

    // An empty photo folder: the run stops with the program's own message.
    const ProgramRun run = RunProgram({"--batch",
                                       "--photos",
                                       photos,
                                       "--music",
                                       env.ScratchDir() + "/none.mp3",
                                       "--output",
                                       env.ScratchDir() + "/m.mp4"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains("vantorel: Please select")) << run.output.toStdString();

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

} // namespace
