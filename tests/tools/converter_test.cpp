// The converter KelvoraCfg.dll: option translation and the checks before ffmpeg runs,
// against a stand-in ffmpeg on PATH, and one real conversion of each quality.

#include "common/doubles.h"
#include "common/environment.h"
#include "common/media_makers.h"
#include "common/table_rows.h"
#include "platform/processes.h"
#include "production/conversion_stage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSize>

using testing_support::RunToEnd;
using testing_support::TestEnvironment;
using testing_support::WriteScript;

namespace {

using testing_support::operator<<;

class Converter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(programDir);
        QDir().mkpath(fakeBin);
        // The converter, with links (to anything) for the three libraries it checks for.
        converter = programDir + QStringLiteral("/KelvoraCfg.dll");
        ASSERT_TRUE(QFile::copy(QStringLiteral(CONVERTER_PROGRAM), converter));
        for (const char *name : {"avcodec.dll", "avformat.dll", "avutil.dll"})
            QFile::link(converter, programDir + u'/' + QLatin1String(name));
        // The stand-in ffmpeg reports where its input comes from and its arguments.
        WriteScript(fakeBin + "/ffmpeg",
                    "PATH=/usr/bin:/bin\necho \"stdin=$(readlink "
                    "/proc/$$/fd/0)\"\nprintf 'arg=%s\\n' \"$@\"");
        env.Set("PATH", fakeBin);
    }

    TestEnvironment env;
    const QString programDir = env.Root() + "/program", fakeBin = env.Root() + "/bin";
    QString converter;
};

// The program's command line, through the real ffmpeg, makes the movie it asks for: the
// frame size of "-s" for the high quality (else the input's), 30000/1001 frames a second,
// MPEG-4 video with sound, its index before the media data so that a player starts at once.
TEST_F(Converter, TheProgramsCommandLineMakesTheMovieItAsksFor)
{
    const QString avi = env.Root() + "/in.avi";
    ASSERT_EQ(RunToEnd("/usr/bin/ffmpeg -v quiet -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi "
                       "-i sine -t 2 -c:v mjpeg -c:a pcm_s16le "
                       + avi)
                  .exitCode,
              0);
    env.Set("PATH", "/usr/bin:/bin");
    for (const bool highQuality : {true, false}) {
        const QString movie = env.Root() + "/clip.part.mp4"; // as the program names it
        const testing_support::ProcessResult r
            = RunToEnd(ConverterCommandLine(converter, avi, movie, highQuality, 320, 240) + "  ");
        ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
        const testmedia::AviContents mp4 = testmedia::ReadAvi(movie);
        ASSERT_EQ(mp4.streams.size(), 2u);
        const auto &video = mp4.streams[mp4.streams[0].audio ? 1 : 0];
        EXPECT_EQ(video.codec, QStringLiteral("mpeg4"));
        EXPECT_EQ(QSize(video.width, video.height), highQuality ? QSize(320, 240) : QSize(64, 48));
        EXPECT_EQ(std::int64_t{video.frameRateNum} * 1001,
                  std::int64_t{video.frameRateDen} * 30000);
        QFile file(movie);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
        QFile::remove(movie);
    }
}

// The lowest Simple Profile level whose frame size, macroblock rate and bit rate admit
// the stream (ffmpeg numbers level 0b as 9 and 4a as 4). ffmpeg reads no input: its stdin
// is /dev/null even when the program's is a terminal or a pipe left open.
TEST_F(Converter, LabelsTheLowestSimpleProfileLevelThatAdmitsTheStream)
{
    const char *const rows[][4] = {{"176X144", "64kb", "15", "1"},
                                   {"176X144", "128kb", "15", "9"},
                                   {"176X144", "64kb", "30000/1001", "2"},
                                   {"352X288", "128kb", "30000/1001", "3"},
                                   {"640X480", "1200kb", "30", "4"},
                                   {"640X480", "1200kb", "31", "5"},
                                   {"960X720", "1200kb", "30000/1001", "6"},
                                   {"1920X1080", "1200kb", "30000/1001", ""},
                                   // Found by fuzzing: the size overflowed an int.
                                   {"2147483647X2147483647", "1200kb", "30", ""}};
    for (const auto &row : rows) {
        // Started with a file as its input, as a terminal or an open pipe would be.
        const testing_support::ProcessResult r = RunToEnd(
            "/bin/sh -c "
            + platform::QuoteArgument(
                QStringLiteral(
                    "exec '%1' -i /t/in.avi -s %2 -vcodec mpeg4 -b %3 -r %4 /t/out.mp4 <'%1'")
                    .arg(converter, row[0], row[1], row[2])));
        EXPECT_EQ(r.exitCode, 0) << row[0];
        EXPECT_TRUE(r.output.contains("stdin=/dev/null")) << r.output.toStdString();
        EXPECT_EQ(QRegularExpression("\narg=-level:v\narg=(\\w*)\n").match(r.output).captured(1),
                  QString::fromLatin1(row[3]))
            << row[0] << " " << row[1] << " " << row[2];
    }
}

struct RefusalRow
{
    const char *name;
    const char *breakIt; // shell command run in the program folder before the converter
    const char *reason;  // in the line that begins with "["
    int exitCode;
};

class ConverterRefuses : public Converter, public ::testing::WithParamInterface<RefusalRow>
{};

TEST_P(ConverterRefuses, SaysWhyOnALineThatBeginsWithAMarker)
{
    const RefusalRow &row = GetParam();
    testing_support::ProcessResult setup
        = RunToEnd("/bin/sh -c "
                   + platform::QuoteArgument("PATH=/usr/bin:/bin; cd '" + programDir + "' && "
                                             + QString::fromUtf8(row.breakIt)));
    ASSERT_EQ(setup.exitCode, 0) << setup.output.toStdString();

    const testing_support::ProcessResult r = RunToEnd(
        ConverterCommandLine(converter, "/t/TempData.avi", "/t/Output.mp4", true, 320, 240));
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, row.exitCode);
    EXPECT_TRUE(r.output.startsWith("[")) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QString::fromUtf8(row.reason))) << r.output.toStdString();
    EXPECT_FALSE(r.output.contains("arg=")) << "ffmpeg ran anyway";
    // The stage judges this output as a failure (no "muxing" after the marker).
    EXPECT_FALSE(r.output.contains("muxing"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    ConverterRefuses,
    ::testing::Values(
        RefusalRow{"MissingLibrary", "rm avutil.dll", "avutil.dll is missing", 3},
        RefusalRow{"DanglingLink",
                   "rm avcodec.dll && ln -s gone avcodec.dll",
                   "avcodec.dll is missing",
                   3},
        RefusalRow{"NoFfmpeg", "rm ../bin/ffmpeg", "ffmpeg: not found on PATH", 127},
        RefusalRow{"FfmpegNotExecutable", "chmod a-x ../bin/ffmpeg", "cannot run ffmpeg", 126}),
    testing_support::RowName());

} // namespace
