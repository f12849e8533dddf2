#pragma once
// A main window as the program opens it, with scripted message boxes, a fake clock and a
// scratch folder of its own; shared by the tests that drive the window.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>

#include <memory>

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        // Only the boxes of the case under test count.
        prompter.Clear();
        scratch = env.ScratchDir();
    }

    // Waits until a run has ended; false when it is still under way after `ms`.
    bool WaitUntilIdle(int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (dialog->m_busy && t.elapsed() < ms)
            QTest::qWait(10);
        return !dialog->m_busy;
    }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    QString scratch;
    std::unique_ptr<MainDialog> dialog;
};
