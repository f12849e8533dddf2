// The batch run's progress: the converter's own progress read out of its output, and the
// lines printed in a pipe, one per tenth of the whole run.

#include "app/batch_progress.h"
#include "common/table_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testing_support::operator<<;

struct ReaderCase
{
    const char *name;
    std::vector<const char *> pieces; // the output as the reads cut it
    int percent;                      // -1: none yet
};

class ConverterOutput : public ::testing::TestWithParam<ReaderCase>
{};

TEST_P(ConverterOutput, GivesTheShareOfTheInputWritten)
{
    batch::ConverterProgressReader reader;
    std::optional<int> percent;
    for (const char *piece : GetParam().pieces)
        percent = reader.Read(QString::fromUtf8(piece));
    EXPECT_EQ(percent.value_or(-1), GetParam().percent);
}

// Lines as ffmpeg 5.1 writes them.
const char kHeader[] = "Input #0, avi, from 'TempData.avi':\n"
                       "  Duration: 00:00:10.00, start: 0.000000, bitrate: 1000 kb/s\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Pieces,
    ConverterOutput,
    ::testing::Values(
        ReaderCase{"StatusLineAfterTheLength",
                   {kHeader, "frame=   75 fps= 30 q=2.0 size=     256kB time=00:00:02.50 bitrate= 800kbits/s\r"},
                   25},
        ReaderCase{"PiecesCutInsideTheNumbers",
                   {"  Duration: 00:0", "0:10.00, start: 0.0\nframe=  10 time=00:00:0", "7.50 bitrate\r"},
                   75},
        ReaderCase{"UnfinishedStatusLineWaitsForItsEnd",
                   {kHeader, "frame=  10 time=00:00:05.00 bitrate\r", "frame=  20 time=00:00:0"},
                   50},
        ReaderCase{"LatestStatusLineCounts",
                   {kHeader, "time=00:00:01.00\rtime=00:00:06.00\rtime=00:00:09.00\r"},
                   90},
        ReaderCase{"NoLengthNoPercent", {"frame=   75 time=00:00:02.50 bitrate\r"}, -1},
        ReaderCase{"TimeNotKnownYet", {kHeader, "frame=    0 size=0kB time=N/A bitrate=N/A\r"}, -1},
        ReaderCase{"ZeroLengthIsNoLength",
                   {"  Duration: 00:00:00.00, start\n", "time=00:00:01.00\r"},
                   -1},
        ReaderCase{"PastTheEndStaysAtAHundred", {kHeader, "time=00:00:10.04 bitrate\n"}, 100},
        ReaderCase{"TheOutputsLengthDoesNotReplaceTheInputs",
                   {kHeader, "  Duration: 00:00:20.00, bitrate: N/A\n", "time=00:00:05.00\r"},
                   50},
        ReaderCase{"HoursAndMinutes",
                   {"  Duration: 01:00:00.00, start\n", "time=00:45:00.00\r"},
                   75}),
    testing_support::RowName());
// clang-format on

TEST(BatchProgressInAPipe, EveryTenthOfTheWholeRunOnceInOrderAcrossBothStages)
{
    ::testing::internal::CaptureStderr();
    {
        batch::BatchProgress progress(batch::ProgressMode::Tenths);
        progress.BeginStage(QStringLiteral("Rendering"), 0, 25);
        for (int percent : {4, 12, 28, 44, 56, 100})
            progress.Show(percent);
        progress.BeginStage(QStringLiteral("Converting"), 25, 100);
        for (int percent : {0, 50, 30, 50, 100})
            progress.Show(percent);
        progress.End();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Rendering...\nRendering: 10%\nRendering: 20%\nConverting...\nConverting: 30%\n"
              "Converting: 40%\nConverting: 50%\nConverting: 60%\nConverting: 70%\n"
              "Converting: 80%\nConverting: 90%\nConverting: 100%\n");
}

} // namespace
