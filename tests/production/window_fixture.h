#pragma once
// A real main window, offscreen, opened as the program opens it (start-up included) in a
// private world (registry, system and scratch folders), with the engine's real classes,
// scripted message boxes that note whether the window was busy, and a fake clock.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"

#include <gtest/gtest.h>

#include <QString>

#include <memory>

// Rows with a `name` show it in test names and failure messages. (In the files' own
// unnamed namespace, where their rows are declared.)
namespace {
using testing_support::operator<<;
} // namespace
using testing_support::RowName;

class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // `photos` photos of 96x64 (red, green, blue, yellow, white, ...) shown `seconds`
    // each with `music`, to a 320x240 movie, its temporary AVI in the scratch folder.
    void PrepareJob(int photos, const QString &music, int seconds);
    // A mono 8 kHz tone of `seconds` as WAV (exact lengths).
    QString MakeWav(double seconds);
    // Waits until a run has ended; false when it is still under way after `ms`.
    bool WaitUntilIdle(int ms = 60000);

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    QString scratch;
    std::unique_ptr<MainDialog> dialog;
};
