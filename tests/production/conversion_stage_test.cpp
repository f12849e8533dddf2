// The conversion stage: every outcome of a run driven by stand-in converters on a real
// temporary AVI over the user's old movie, the real converter's movie, and the ways out
// while the converter runs (Exit, signals, a signal while a box is open).

#include "window_fixture.h"

#include "app/batch_progress.h"
#include "common/media_makers.h"
#include "platform/prompter.h"
#include "production/conversion_stage.h"
#include "production/render_stage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <mutex>

using testing_support::ChildProcesses;
using testing_support::WriteScript;

namespace {

const QByteArray kOldMovie = "the user's old movie";

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// What "GO" has done once the render has succeeded: a real AVI of 4 s, which stand-ins
// convert with the real ffmpeg, and an old movie at the movie's path.
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
        dialog->m_outputPath = testing_support::WriteFile(scratch + "/Output.mp4", kOldMovie);
        dialog->m_converterPath = scratch + "/KelvoraCfg.dll";
    }

    // The stage as "GO" starts it, with a fast timer.
    void StartStage()
    {
        dialog->SetIdle(false);
        ASSERT_TRUE(dialog->PrepareNewMovie());
        dialog->m_converting = 1;
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(dialog->m_newMoviePath).size() > 0; }));
        QFile file(pidFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    }

    // Besides the converter, the folder holds the old or new movie and, when it was kept,
    // the temporary AVI: nothing the run made is left over.
    QStringList ScratchFiles() const
    {
        QStringList files = QDir(scratch).entryList(QDir::Files, QDir::Name);
        files.removeAll("KelvoraCfg.dll");
        files.removeAll("pid");
        return files;
    }
};

struct OutcomeRow
{
    const char *name;
    const char *script; // "$out" is the movie path, "$in" the temporary AVI; null: none
    QStringList boxes;  // the first line of each box
    bool made = false;  // the new movie replaced the old one and the temporary AVI went
    bool convertOk = false;
};

class Outcome : public Stage, public ::testing::WithParamInterface<OutcomeRow>
{};

const QString kSuccess = "The movie has been created successfully!";
const QString kCreated = "The movie has been created.";
const QString kFailed = "Failed to create the movie.";

TEST_P(Outcome, MessagesAndFilesFollowTheConvertersOutputStatusAndTheMovieItMade)
{
    const OutcomeRow &row = GetParam();
    if (row.script) {
        WriteScript(dialog->m_converterPath,
                    QByteArray("for out; do :; done\nin=$2; convert() { ffmpeg -v quiet -y -i "
                               "\"$in\" -c:v mpeg4 -c:a aac \"$@\"; }\n")
                        + row.script);
    }
    StartStage();
    ASSERT_TRUE(WaitUntilIdle(20000));
    EXPECT_FALSE(dialog->ConversionTimer()->isActive());
    QStringList firstLines;
    for (const QString &text : prompter.BoxTexts())
        firstLines << text.section(u'\n', 0, 0);
    EXPECT_EQ(firstLines, row.boxes) << prompter.BoxTexts().join(u'|').toStdString();
    // The reason names the movie the user asked for, not the file it was written into.
    EXPECT_FALSE(prompter.BoxTexts().join(u'|').contains(".part"));
    EXPECT_EQ(dialog->m_convertOk, row.convertOk ? 1 : 0);
    EXPECT_EQ(dialog->m_movieMade, row.made);
    // The old movie goes only for a new one that plays; a failed conversion keeps the
    // temporary AVI, so that the movie can still be made from it.
    if (row.made) {
        const testmedia::AviContents movie = testmedia::ReadAvi(dialog->m_outputPath);
        EXPECT_TRUE(movie.opened && movie.streams.size() == 2);
    } else {
        EXPECT_EQ(Contents(dialog->m_outputPath), kOldMovie);
    }
    EXPECT_EQ(ScratchFiles(),
              row.made ? QStringList{"Output.mp4"} : QStringList({"Output.mp4", "TempData.avi"}));
    // The pause before the clean-up happens exactly when the movie is there.
    EXPECT_EQ(clock.Sleeps().size(), row.made ? 1u : 0u);
    // Every converter has been reaped, or ended and reaped.
    EXPECT_EQ(ChildProcesses(), std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Outcome,
    ::testing::Values(
        // The output counts from the first "[" on, on either channel.
        OutcomeRow{"Success",
                   "echo 'Press [q]'; convert \"$out\"; echo muxing >&2",
                   {kSuccess},
                   true,
                   true},
        OutcomeRow{"SaysNothing", "echo muxing; convert \"$out\"", {kCreated}, true},
        OutcomeRow{"CannotStart", nullptr, {kFailed}},
        OutcomeRow{"SaysItFailed", "echo '[x] broken'", {kFailed}},
        OutcomeRow{"FailsWithStatus", "echo '[x] broken' >&2; exit 1", {kFailed}},
        // No word of success, but a movie that plays: it is kept, and the second box says
        // that it was made.
        OutcomeRow{
            "NoMuxingButPlays", "echo '[x] done'; convert \"$out\"", {kFailed, kCreated}, true},
        // Says it made a movie, but there is none, or junk, or a short one.
        OutcomeRow{"NoMovie", "echo '[x] muxing'", {kFailed}, false, true},
        OutcomeRow{"Junk", "echo '[x] muxing'; echo >\"$out\"", {kFailed}, false, true},
        OutcomeRow{"Short", "convert -t 1 \"$out\"; echo '[x] muxing'", {kFailed}, false, true},
        // A whole movie, but the converter's status says it failed.
        OutcomeRow{"MuxingButStatus1", "convert \"$out\"; echo '[x] muxing'; exit 1", {kFailed}},
        OutcomeRow{"Crash", "echo '[x] half way'; convert \"$out\"; kill -SEGV $$", {kFailed}},
        OutcomeRow{"KilledHalfWay", "echo '[x]'; printf part >\"$out\"; kill -KILL $$", {kFailed}},
        // Closes its output but goes on running: it is ended after a while, and its
        // movie is not trusted.
        OutcomeRow{"RunsOnAfterItsOutput",
                   "convert \"$out\"; echo '[x] muxing'; exec >&- 2>&-; exec sleep 60",
                   {kFailed}}),
    RowName());

// Exit while the converter runs: Cancel changes nothing; OK ends the converter and
// removes what the run made, and the old movie stays.
TEST_F(Stage, ExitDuringTheConversionAsksFirstAndOkEndsTheConverter)
{
    const pid_t pid = StartHangingConverter();
    ASSERT_GT(pid, 0);
    prompter.QueueAnswer(platform::MessageResult::Cancel);
    dialog->OnCommand(ids::IDCANCEL);
    EXPECT_EQ(prompter.BoxTexts(), QStringList{"Movie creating... Are you sure you want exit it?"});
    EXPECT_TRUE(dialog->m_converting);
    EXPECT_EQ(kill(pid, 0), 0);
    EXPECT_TRUE(QFileInfo::exists(dialog->m_tempAviPath));

    prompter.QueueAnswer(platform::MessageResult::Ok);
    dialog->OnCommand(ids::IDCANCEL);
    EXPECT_EQ(ChildProcesses(), std::vector<int>{}); // ended and reaped
    EXPECT_EQ(Contents(dialog->m_outputPath), kOldMovie);
    EXPECT_EQ(ScratchFiles(), QStringList{"Output.mp4"});
}

// A signal while a real box waits for an answer: the box closes as declined and the
// window ends at once, as after OK in the exit question.
struct BoxRow
{
    const char *name;
    const char *converter; // null: the hanging one, and the exit question is asked
    const char *box;
};

class SignalDuringABox : public Stage, public ::testing::WithParamInterface<BoxRow>
{};

TEST_P(SignalDuringABox, ClosesTheBoxAndEndsAsAfterExit)
{
    const BoxRow &row = GetParam();
    prompter.showOn = &platform::TheQtPrompter();
    if (row.converter) {
        WriteScript(dialog->m_converterPath, row.converter);
        StartStage();
    } else {
        ASSERT_GT(StartHangingConverter(), 0);
        dialog->OnMenuExit();
    }
    // Once the box is up, the signal comes.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            poll.stop();
            raise(SIGTERM);
        }
    });
    poll.start(10);
    EXPECT_EQ(dialog->DoModal(), QDialog::Rejected);
    EXPECT_EQ(prompter.BoxTexts().value(0), QString::fromUtf8(row.box));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(ChildProcesses(), std::vector<int>{});
    EXPECT_EQ(Contents(dialog->m_outputPath), kOldMovie);
    EXPECT_FALSE(QFileInfo::exists(dialog->m_newMoviePath));
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    SignalDuringABox,
    ::testing::Values(
        BoxRow{"ExitQuestion", nullptr, "Movie creating... Are you sure you want exit it?"},
        BoxRow{"WorkersFailure", "echo '[x] broken'; exit 1", "Failed to create the movie."}),
    RowName());

// The temporary AVI is checked against the timeline before the converter gets it: a
// file cut short or unreadable is named, a complete one passes.
TEST_F(Stage, ATemporaryAviShorterThanTheTimelineOrUnreadableIsRefused)
{
    const std::int64_t second = 10'000'000;
    EXPECT_EQ(production::TempAviShortfall(dialog->m_tempAviPath, 4 * second), QString());
    EXPECT_TRUE(production::TempAviShortfall(dialog->m_tempAviPath, 8 * second)
                    .contains("it lasts 4.0 s of 8.0 s"));
    const QString junk = testing_support::WriteFile(scratch + "/junk.avi", "RIFF....AVI ");
    EXPECT_TRUE(production::TempAviShortfall(junk, 0).contains("cannot be read back"));
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
    std::lock_guard lock(heardLock);
    EXPECT_TRUE(heard.startsWith(QStringLiteral("Converter 1.0\n"))) << heard.toStdString();
    EXPECT_GE(batch::ConverterProgressReader().Read(heard).value_or(-1), 95);
}

} // namespace
