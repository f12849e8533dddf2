// The conversion stage: the converter's command line, and every outcome of a run driven
// by stand-in converters on a real temporary AVI.

#include "window_fixture.h"

#include "app/batch_progress.h"
#include "production/conversion_stage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <mutex>

using testing_support::WriteScript;

namespace {

// What "GO" has done once the render has succeeded: a real AVI of 4 s, which stand-ins
// convert with the real ffmpeg.
class Stage : public WindowTest
{
public:
    void SetUp() override
    {
        WindowTest::SetUp();
        dialog->m_tempAviPath = scratch + "/TempData.avi";
        const QString make = "ffmpeg -v quiet -f lavfi -i testsrc=size=64x48:rate=10 -f lavfi "
                             "-i sine -t 4 -c:v mjpeg -c:a pcm_s16le ";
        ASSERT_EQ(testing_support::RunToEnd(make + dialog->m_tempAviPath).exitCode, 0);
        dialog->m_tempAviMade = true;
        dialog->m_outputPath = scratch + "/Output.mp4";
        dialog->m_converterPath = scratch + "/KelvoraCfg.dll";
    }

    // The stage as "GO" starts it, with a fast timer.
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

    // A converter that writes part of a movie and hangs; returns its pid once the part
    // is there.
    pid_t StartHangingConverter()
    {
        const QString pidFile = scratch + "/pid";
        WriteScript(dialog->m_converterPath,
                    "for out; do :; done; echo $$ > '" + pidFile.toUtf8()
                        + "'; printf part > \"$out\"; exec sleep 30");
        StartStage();
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(dialog->m_outputPath) && t.elapsed() < 10000)
            QTest::qWait(20);
        QFile file(pidFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    }
};

struct OutcomeRow
{
    const char *name;
    const char *script; // "$out" is the movie path, "$in" the temporary AVI; null: none
    const char *box;    // the first line of the one box
    bool made = false;  // the movie stays and the temporary AVI goes
    bool convertOk = false;
};

class Outcome : public Stage, public ::testing::WithParamInterface<OutcomeRow>
{};

const char *const kSuccess = "The movie has been created successfully!";
const char *const kFailed = "Failed to create the movie.";

TEST_P(Outcome, MessagesAndFilesFollowTheConvertersOutputAndTheMovieItMade)
{
    const OutcomeRow &row = GetParam();
    if (row.script) {
        WriteScript(dialog->m_converterPath,
                    QByteArray("for out; do :; done\nin=$2; convert() { ffmpeg -v quiet -y -i "
                               "\"$in\" -c:v mpeg4 -c:a aac \"$@\"; }\n")
                        + row.script);
    }
    StartStage();
    ASSERT_TRUE(WaitUntilIdle(10000));
    // The run has ended: the window is idle again with an empty bar.
    EXPECT_FALSE(dialog->ConversionTimer()->isActive());
    EXPECT_EQ(dialog->m_progress->value(), 0);
    EXPECT_EQ(dialog->ControlText(ids::IDC_GO), QStringLiteral("GO"));
    QStringList firstLines;
    for (const QString &text : prompter.BoxTexts())
        firstLines << text.section(u'\n', 0, 0);
    EXPECT_EQ(firstLines, QStringList{row.box}) << prompter.BoxTexts().join(u'|').toStdString();
    EXPECT_EQ(dialog->m_convertOk, row.convertOk ? 1 : 0);
    // A failed conversion keeps the temporary AVI and removes what the converter left.
    EXPECT_EQ(QFileInfo::exists(dialog->m_tempAviPath), !row.made);
    EXPECT_EQ(QFileInfo::exists(dialog->m_outputPath), row.made);
    // The pause before the clean-up happens exactly when the movie is there.
    EXPECT_EQ(clock.Sleeps(), row.made ? std::vector<int>{2000} : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Outcome,
    ::testing::Values(
        // The output counts from the read that holds the first "[", on either channel.
        OutcomeRow{
            "Success", "echo 'Press [q]'; convert \"$out\"; echo muxing >&2", kSuccess, true, true},
        OutcomeRow{"MuxingBeforeMarker", "printf 'muxing%094d[x]\\n' 0; convert \"$out\"", kFailed},
        OutcomeRow{"CannotStart", nullptr, kFailed},
        OutcomeRow{"SaysItFailed", "echo '[x] broken'", kFailed},
        OutcomeRow{
            "SaysNothing", "echo muxing; convert \"$out\"", "The movie has been created.", true},
        // Says it made a movie, but there is none, or junk, or a short one.
        OutcomeRow{"NoMovie", "echo '[x] muxing'", kFailed, false, true},
        OutcomeRow{"Junk", "echo '[x] muxing'; echo >\"$out\"", kFailed, false, true},
        OutcomeRow{"Short", "convert -t 1 \"$out\"; echo '[x] muxing'", kFailed, false, true},
        OutcomeRow{"Crash", "echo '[x] half way'; convert \"$out\"; kill -SEGV $$", kFailed}),
    RowName());

TEST_F(Stage, TheConverterGetsItsOptionsAndPathsWithQuotesAsSingleArguments)
{
    QDir().mkpath(scratch + "/a \"b\"");
    dialog->m_tempAviPath = testing_support::WriteFile(scratch + "/a \"b\"/TempData.avi", "RIFF");
    dialog->m_outputPath = scratch + "/a \"b\"/Output.mp4";
    dialog->m_highQuality = 1;
    dialog->m_videoWidth = 480;
    dialog->m_videoHeight = 320;
    const QString argsFile = scratch + "/args.txt";
    WriteScript(dialog->m_converterPath, "printf '%s\\n' \"$@\" > '" + argsFile.toUtf8() + "'");
    StartStage();
    ASSERT_TRUE(WaitUntilIdle(10000));
    QFile file(argsFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts),
              QStringList({"-i", dialog->m_tempAviPath, "-s", "480X320"})
                  + QStringLiteral("-ab 128kb -vcodec mpeg4 -b 1200kb -mbd 2 -flags +4mv+trell "
                                   "-aic 2 -cmp 2 -subcmp 2 -r 30000/1001")
                        .split(' ')
                  + QStringList{dialog->m_outputPath});
}

// Exit while the converter runs: Cancel changes nothing; OK ends the converter and
// removes the part of the movie it wrote and the temporary AVI.
TEST_F(Stage, ExitDuringTheConversionAsksFirstAndOkEndsTheConverter)
{
    const pid_t pid = StartHangingConverter();
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
    const pid_t pid = StartHangingConverter();
    ASSERT_GT(pid, 0);
    QTimer::singleShot(100, [] { raise(SIGTERM); });
    EXPECT_EQ(dialog->DoModal(), QDialog::Rejected);
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_FALSE(QFileInfo::exists(dialog->m_outputPath));
    EXPECT_FALSE(QFileInfo::exists(dialog->m_tempAviPath));
}

// What the batch front end shows while converting comes from here: every piece of the
// converter's output, also what comes before its first "[", as it is read.
TEST_F(Stage, TheOutputListenerHearsTheWholeOutputAndTheConvertersProgressInIt)
{
    std::mutex heardLock;
    QString heard;
    dialog->m_converterOutputListener = [&](const QString &piece) {
        std::lock_guard lock(heardLock);
        heard += piece;
    };
    WriteScript(dialog->m_converterPath,
                "for out; do :; done\nprintf 'Converter 1.0\\n'\n"
                "ffmpeg -nostdin -y -i \"$2\" -c:v mpeg4 -c:a aac \"$out\" 2>&1");
    StartStage();
    ASSERT_TRUE(WaitUntilIdle(30000));
    EXPECT_EQ(dialog->m_convertOk, 1);
    std::lock_guard lock(heardLock);
    EXPECT_TRUE(heard.startsWith(QStringLiteral("Converter 1.0\n"))) << heard.toStdString();
    batch::ConverterProgressReader reader;
    EXPECT_GE(reader.Read(heard).value_or(-1), 95) << heard.toStdString();
}

} // namespace
