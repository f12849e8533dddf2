// The conversion stage: the converter's command line, the collection rule of its output,
// the progress timer, and every outcome of a run driven by stand-in converters.

#include "main_window_test.h"
#include "stand_in.h"

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "platform/processes.h"
#include "platform/prompter.h"
#include "production/conversion_stage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <csignal>

using testing_support::PromptRecord;
using testing_support::TestEnvironment;

namespace {

const QString kOptions = QStringLiteral(" -ab 128kb -vcodec mpeg4 -b 1200kb  -mbd 2 -flags "
                                        "+4mv+trell -aic 2 -cmp 2 -subcmp 2 -r 30000/1001");
const QStringList kOptionArgs = kOptions.split(' ', Qt::SkipEmptyParts);

// ---- Command line -----------------------------------------------------------------------

struct CommandRow
{
    bool highQuality;
    int width;
    int height;
    const char *sizeText; // between the input path and the fixed options
};

std::ostream &operator<<(std::ostream &out, const CommandRow &row)
{
    return out << (row.highQuality ? "high quality " : "") << row.width << 'x' << row.height;
}

class ConverterCommand : public ::testing::TestWithParam<CommandRow>
{};

TEST_P(ConverterCommand, IsWrittenExactlyAndSplitsIntoTheConvertersArguments)
{
    const CommandRow &row = GetParam();
    const QString line = ConverterCommandLine("/usr/lib/vantorel/KelvoraCfg.dll",
                                              "/home/u/Vantorel/TempData.avi",
                                              "/home/u/Vantorel/Output.mp4",
                                              row.highQuality,
                                              row.width,
                                              row.height);
    EXPECT_EQ(line,
              "\"/usr/lib/vantorel/KelvoraCfg.dll\"  -i \"/home/u/Vantorel/TempData.avi\" "
                  + QString::fromLatin1(row.sizeText) + kOptions
                  + " \"/home/u/Vantorel/Output.mp4\"");
    QStringList expected
        = {"/usr/lib/vantorel/KelvoraCfg.dll", "-i", "/home/u/Vantorel/TempData.avi"};
    if (row.highQuality)
        expected << "-s" << QStringLiteral("%1X%2").arg(row.width).arg(row.height);
    expected << kOptionArgs << "/home/u/Vantorel/Output.mp4";
    EXPECT_EQ(platform::SplitCommandLine(line + "  "), expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes,
                         ConverterCommand,
                         ::testing::Values(CommandRow{false, 640, 480, ""},
                                           CommandRow{true, 320, 480, " -s 320X480"}));

// ---- RunAndCapture ----------------------------------------------------------------------

struct CaptureRow
{
    const char *name;
    const char *script;
    const char *mustContain;    // empty: the result must be empty
    const char *mustNotContain; // or empty
    const char *startsWith = "";
};

std::ostream &operator<<(std::ostream &out, const CaptureRow &row)
{
    return out << row.name;
}

class Capture : public ::testing::TestWithParam<CaptureRow>
{
protected:
    TestEnvironment env;
};

TEST_P(Capture, CollectsFromTheReadThatHoldsTheFirstMarker)
{
    const CaptureRow &row = GetParam();
    const QString script = stand_in::WriteScript(env.ScratchDir() + "/converter", row.script);
    const QString result
        = RunAndCapture(u'"' + script + u'"', QStringLiteral(" "), platform::TheProcesses());
    if (*row.mustContain == 0) {
        EXPECT_EQ(result, QString());
    } else {
        EXPECT_TRUE(result.contains(QString::fromUtf8(row.mustContain))) << result.toStdString();
    }
    if (*row.mustNotContain) {
        EXPECT_FALSE(result.contains(QString::fromUtf8(row.mustNotContain)))
            << result.toStdString();
    }
    if (*row.startsWith) {
        EXPECT_TRUE(result.startsWith(QString::fromUtf8(row.startsWith))) << result.toStdString();
    }
}

// 100 characters: "muxing" padded with dots.
#define HUNDRED \
    "muxing......................................................................................" \
    "........"

INSTANTIATE_TEST_SUITE_P(
    Rules,
    Capture,
    ::testing::Values(
        CaptureRow{"WholeFirstReadIsKept",
                   "printf 'ffmpeg 5.1\\nPress [q] to stop\\nmuxing overhead: 1%%\\n'",
                   "muxing overhead",
                   "",
                   "ffmpeg 5.1"},
        CaptureRow{"EarlierReadsAreDropped",
                   "printf '" HUNDRED "[mp4 @ 1] done\\n'",
                   "[mp4 @ 1] done",
                   "muxing",
                   "[mp4"},
        CaptureRow{"NoMarkerNoText", "printf 'muxing overhead\\n'", "", ""},
        CaptureRow{"StandardErrorToo",
                   "printf 'progress\\n'; sleep 0.1; printf '[x] muxing\\n' >&2",
                   "[x] muxing",
                   ""},
        CaptureRow{"CharacterSplitBetweenReads",
                   "printf "
                   "'[............................................................................."
                   "..................'"
                   "; printf '\\303\\251t\\303\\251\\n'",
                   "\xc3\xa9t\xc3\xa9",
                   ""}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(CaptureStart, AProgramThatCannotStartGivesNothing)
{
    EXPECT_EQ(RunAndCapture("\"/nonexistent/KelvoraCfg.dll\"", " ", platform::TheProcesses()),
              QString());
}

// ---- The stage in the main window -------------------------------------------------------

class Stage : public MainWindowTest
{
public:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        // A real AVI of 4 s, made by the run: stand-ins convert it with the real ffmpeg.
        dialog->m_tempAviPath = scratch + "/TempData.avi";
        ASSERT_EQ(QProcess::execute("ffmpeg",
                                    {"-v",
                                     "quiet",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "testsrc=size=64x48:rate=10",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine",
                                     "-t",
                                     "4",
                                     "-c:v",
                                     "mjpeg",
                                     "-c:a",
                                     "pcm_s16le",
                                     dialog->m_tempAviPath}),
                  0);
        dialog->m_tempAviMade = true;
        dialog->m_outputPath = scratch + "/Output.mp4";
        dialog->m_converterPath = scratch + "/KelvoraCfg.dll";
    }

    // What "GO" does once the render has succeeded, with a fast timer.
    void StartStage()
    {
        dialog->SetIdle(false);
        dialog->m_converting = 1;
        dialog->m_movieStarted = true;
        dialog->m_progressPos = 81;
        dialog->m_progress->setValue(81);
        dialog->ConversionTimer()->setInterval(20);
        dialog->ConversionTimer()->start();
        ASSERT_TRUE(dialog->StartConversionWorker());
    }
    // A stand-in converter ends within seconds.
    bool WaitUntilIdle() { return MainWindowTest::WaitUntilIdle(10000); }
};

struct OutcomeRow
{
    const char *name;
    const char *script; // "$out" is the movie path, "$2" the temporary AVI
    QStringList boxes;  // the first line of each
    bool made;          // the movie stays and the temporary AVI goes
    bool convertOk = false;
};

std::ostream &operator<<(std::ostream &out, const OutcomeRow &row)
{
    return out << row.name;
}

class Outcome : public Stage, public ::testing::WithParamInterface<OutcomeRow>
{};

const QString kSuccess = QStringLiteral("The movie has been created successfully!");
const QString kCreated = QStringLiteral("The movie has been created.");
const QString kFailed = QStringLiteral("Failed to create the movie.");

TEST_P(Outcome, MessagesAndFilesFollowTheConvertersOutputAndTheMovieItMade)
{
    const OutcomeRow &row = GetParam();
    stand_in::WriteScript(
        dialog->m_converterPath,
        QByteArray("for out; do :; done\n"
                   "in=$2; convert() { ffmpeg -v quiet -y -i \"$in\" -c:v mpeg4 -c:a aac "
                   "\"$@\"; }\n")
            + row.script);
    StartStage();
    ASSERT_TRUE(WaitUntilIdle());
    // The run has ended: the window is idle again with an empty bar.
    EXPECT_FALSE(dialog->m_converting);
    EXPECT_FALSE(dialog->ConversionTimer()->isActive());
    EXPECT_EQ(dialog->m_progress->value(), 0);
    EXPECT_EQ(dialog->ControlText(ids::IDC_GO), QStringLiteral("GO"));
    QStringList firstLines;
    for (const QString &text : prompter.BoxTexts())
        firstLines << text.section(u'\n', 0, 0);
    EXPECT_EQ(firstLines, row.boxes) << prompter.BoxTexts().join(u'|').toStdString();
    EXPECT_EQ(dialog->m_convertOk, row.convertOk ? 1 : 0);
    // A failed conversion keeps the temporary AVI and removes what the converter left.
    EXPECT_EQ(QFileInfo::exists(dialog->m_tempAviPath), !row.made);
    EXPECT_EQ(QFileInfo::exists(dialog->m_outputPath), row.made);
    // The pause before the clean-up happens exactly when the movie is there.
    EXPECT_EQ(clock.Sleeps(), row.made ? std::vector<int>{2000} : std::vector<int>{});
    for (const PromptRecord &r : prompter.Records()) {
        if (r.text == kSuccess) {
            EXPECT_EQ(r.caption, QStringLiteral("Congratulation"));
        }
        if (r.text == kCreated) {
            EXPECT_EQ(r.caption, platform::ApplicationTitle());
        }
        EXPECT_EQ(r.kind,
                  r.text.startsWith(kFailed) ? PromptRecord::AppBox : PromptRecord::OwnedBox);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Outcome,
    ::testing::Values(
        OutcomeRow{"Success",
                   "printf 'Press [q] to stop\\n'; convert \"$out\"; printf 'muxing "
                   "overhead: 1%%\\n'",
                   {kSuccess},
                   true,
                   true},
        OutcomeRow{"FailureWithoutMovie", "printf '[x] broken\\n'", {kFailed}, false},
        OutcomeRow{"SilentWithMovie", "convert \"$out\"", {kCreated}, true},
        OutcomeRow{
            "SuccessWordWithoutMovie", "printf '[x] muxing overhead\\n'", {kFailed}, false, true},
        OutcomeRow{
            "FewBytes", "printf '[x] muxing\\n'; printf movie > \"$out\"", {kFailed}, false, true},
        OutcomeRow{
            "CutShort", "convert -t 1 \"$out\"; printf '[x] muxing\\n'", {kFailed}, false, true},
        OutcomeRow{
            "HalfWritten",
            "convert \"$out.x.mp4\"; head -c 3000 \"$out.x.mp4\" > \"$out\"; rm \"$out.x.mp4\"; "
            "printf '[x] muxing\\n'",
            {kFailed},
            false,
            true},
        OutcomeRow{"Crash",
                   "printf '[x] half way\\n'; convert \"$out\"; kill -SEGV $$",
                   {kFailed},
                   false}),

    [](const auto &row) { return std::string(row.param.name); });

TEST_F(Stage, AConverterThatCannotStartIsReportedAsAFailure)
{
    dialog->m_converterPath = scratch + "/missing/KelvoraCfg.dll";
    StartStage();
    ASSERT_TRUE(WaitUntilIdle());
    ASSERT_EQ(prompter.BoxTexts().size(), 1);
    EXPECT_TRUE(prompter.BoxTexts()[0].startsWith(kFailed + "\n"));
    EXPECT_TRUE(QFileInfo::exists(dialog->m_tempAviPath));
}

TEST_F(Stage, TheConverterGetsPathsWithQuotesAsSingleArguments)
{
    QDir().mkpath(scratch + "/a \"b\"");
    dialog->m_tempAviPath = testing_support::WriteFile(scratch + "/a \"b\"/TempData.avi", "RIFF");
    dialog->m_outputPath = scratch + "/a \"b\"/Output.mp4";
    dialog->m_highQuality = 1;
    dialog->m_videoWidth = 480;
    dialog->m_videoHeight = 320;
    const QString argsFile = scratch + "/args.txt";
    stand_in::WriteScript(dialog->m_converterPath,
                          "printf '%s\\n' \"$@\" > '" + argsFile.toUtf8() + "'");
    StartStage();
    ASSERT_TRUE(WaitUntilIdle());
    QFile file(argsFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList args = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QStringList expected = {"-i", dialog->m_tempAviPath, "-s", "480X320"};
    expected << kOptionArgs << dialog->m_outputPath;
    EXPECT_EQ(args, expected);
}

// A converter that writes part of a movie and hangs; returns its pid once the part is
// there.
pid_t StartHangingConverter(Stage &stage, MainDialog &dialog, const QString &scratch)
{
    const QString pidFile = scratch + "/pid";
    stand_in::WriteScript(dialog.m_converterPath,
                          "for out; do :; done; echo $$ > '" + pidFile.toUtf8()
                              + "'; printf part > \"$out\"; exec sleep 30");
    stage.StartStage();
    QElapsedTimer t;
    t.start();
    while (!QFileInfo::exists(dialog.m_outputPath) && t.elapsed() < 10000)
        QTest::qWait(20);
    QFile file(pidFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

// Exit while the converter runs: Cancel (from the menu too) changes nothing; OK ends the
// converter and removes the part of the movie it wrote and the temporary AVI.
TEST_F(Stage, ExitDuringTheConversionAsksFirstAndOkEndsTheConverter)
{
    const pid_t pid = StartHangingConverter(*this, *dialog, scratch);
    ASSERT_GT(pid, 0);
    prompter.QueueAnswer(platform::MessageResult::Cancel);
    dialog->OnMenuExit();
    QTest::qWait(100);
    EXPECT_EQ(prompter.BoxTexts(), QStringList{"Movie creating... Are you sure you want exit it?"});
    EXPECT_TRUE(dialog->m_converting);
    EXPECT_TRUE(QFileInfo::exists(dialog->m_tempAviPath));

    prompter.QueueAnswer(platform::MessageResult::Ok);
    QElapsedTimer t;
    t.start();
    dialog->OnCancel();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_NE(kill(pid, 0), 0); // ended and reaped
    EXPECT_FALSE(QFileInfo::exists(dialog->m_outputPath));
    EXPECT_FALSE(QFileInfo::exists(dialog->m_tempAviPath));
}

// Log-out or shut-down (SIGTERM) closes the window as OK in the exit question does.
TEST_F(Stage, ASignalClosesTheWindowEndsTheConverterAndRemovesWhatTheRunMade)
{
    const pid_t pid = StartHangingConverter(*this, *dialog, scratch);
    ASSERT_GT(pid, 0);
    QTimer::singleShot(100, [] { raise(SIGTERM); });
    EXPECT_EQ(dialog->DoModal(), QDialog::Rejected);
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_FALSE(QFileInfo::exists(dialog->m_outputPath));
    EXPECT_FALSE(QFileInfo::exists(dialog->m_tempAviPath));
}

} // namespace
