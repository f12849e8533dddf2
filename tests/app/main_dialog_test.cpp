#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "platform/processes.h"
#include "platform/system_folders.h"
#include "resources/dialog_template.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace ids;
using platform::MessageButtons;
using platform::MessageResult;
using testing_support::FakeClock;
using testing_support::PromptRecord;
using testing_support::ScriptedPrompter;
using testing_support::TestEnvironment;

namespace {

class MainDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
        QApplication::processEvents();
        // What start-up itself asked is not these tests' business.
        prompter.Clear();
    }

    QPushButton *Button(int id) const { return dialog->Control<QPushButton>(id); }

    // Runs the event loop until the dialog has been closed, at most a second.
    bool WaitUntilClosed()
    {
        for (int i = 0; i < 100 && dialog->isVisible(); ++i)
            QTest::qWait(10);
        return !dialog->isVisible();
    }

    QString MakeTempFile()
    {
        return testing_support::WriteFile(env.ScratchDir() + QStringLiteral("/TempData.avi"),
                                          "RIFF");
    }

    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

TEST(MainDialogInit, AMissingWindowsFolderOnlyLeavesItEmptyAndNoSystemFolderStopsEarly)
{
    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    struct Folders : platform::SystemFolders
    {
        std::optional<QString> windows, system;
        QString ModuleFileName() const override { return QStringLiteral("/opt/vantorel/vantorel"); }
        std::optional<QString> WindowsFolder() const override { return windows; }
        std::optional<QString> SystemFolder() const override { return system; }
    } folders;
    platform::Services services = testing_support::TestServices(prompter, clock);
    services.folders = &folders;

    folders.system = QStringLiteral("/var/lib/vantorel/system  ");
    MainDialog complete(services);
    EXPECT_TRUE(complete.OnInitDialog());
    EXPECT_TRUE(complete.m_windowsDir.isEmpty());
    EXPECT_EQ(complete.m_systemDir, QStringLiteral("/var/lib/vantorel/system"));
    EXPECT_EQ(complete.m_programDir, QStringLiteral("/opt/vantorel/"));

    folders.system = QStringLiteral("   ");
    MainDialog stopped(services);
    EXPECT_FALSE(stopped.OnInitDialog());
    // The title and brush were set, the system menu item and columns were not.
    EXPECT_EQ(stopped.windowTitle(), stopped.m_title);
    EXPECT_TRUE(stopped.BackgroundBrush().has_value());
    EXPECT_EQ(stopped.SystemMenu()->actions().size(), 3);
    EXPECT_EQ(stopped.m_photoList->columnCount(), 0);
}

TEST_F(MainDialogTest, SetIdleSwitchesBetweenBusyAndIdle)
{
    const int toggled[] = {IDC_REMOVE,
                           IDC_REMOVE_ALL,
                           IDC_UP,
                           IDC_DOWN,
                           IDC_SETTING,
                           IDC_ADD_PHOTOS,
                           IDC_CHOOSE_MUSIC,
                           IDC_CHOOSE_OUTPUT};
    const int untouched[] = {IDC_EFFECT,
                             IDC_PHOTO_FOLDERS,
                             IDC_MUSIC_FILE,
                             IDC_OUTPUT,
                             IDC_PHOTO_LIST,
                             IDCANCEL,
                             IDC_HELP_BUTTON,
                             IDC_ABOUT_BUTTON};
    dialog->m_progress->setValue(40);
    dialog->m_addMotionEffect = 0;
    Button(IDC_GO)->setFocus();

    dialog->SetIdle(false);
    // Enter, pressed twice where the focus now is, neither asks to exit nor ends the job.
    for (int i = 0; i < 2; ++i) {
        QWidget *focus = dialog->focusWidget();
        QTest::keyClick(focus ? focus : dialog.get(), Qt::Key_Return);
    }
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->m_busy, 1);
    EXPECT_FALSE(Button(IDC_GO)->isEnabled());
    EXPECT_EQ(Button(IDC_GO)->text(), QStringLiteral("Processing"));
    EXPECT_EQ(dialog->ControlText(IDC_STATUS), QStringLiteral("Please waiting..."));
    for (int id : toggled)
        EXPECT_FALSE(dialog->Control(id)->isEnabled()) << id;
    for (int id : untouched)
        EXPECT_TRUE(dialog->Control(id)->isEnabled()) << id;
    EXPECT_EQ(dialog->m_progress->value(), 40);
    // The record went out to the check box.
    EXPECT_FALSE(dialog->Control<QCheckBox>(IDC_EFFECT)->isChecked());

    dialog->SetIdle(true);
    EXPECT_EQ(dialog->m_busy, 0);
    EXPECT_TRUE(Button(IDC_GO)->isEnabled());
    EXPECT_EQ(Button(IDC_GO)->text(), QStringLiteral("GO"));
    EXPECT_EQ(dialog->ControlText(IDC_STATUS), QString());
    for (int id : toggled)
        EXPECT_TRUE(dialog->Control(id)->isEnabled()) << id;
    EXPECT_EQ(dialog->m_progress->value(), 0);
}

TEST_F(MainDialogTest, EveryWayOutWhileIdleClosesWithoutAQuestion)
{
    using Way = std::function<void(MainDialog &)>;
    const std::vector<std::pair<const char *, Way>> ways = {
        {"Exit button", [](MainDialog &d) { d.Control<QPushButton>(IDCANCEL)->click(); }},
        {"Escape", [](MainDialog &d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](MainDialog &d) { d.close(); }},
        {"menu Exit", [](MainDialog &d) { d.OnCommand(ID_FILE_EXIT); }},
        {"system menu Close", [](MainDialog &d) { d.OnSysCommand(SC_CLOSE); }},
    };
    for (const auto &[name, way] : ways) {
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
        prompter.Clear();
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        way(*dialog);
        EXPECT_TRUE(WaitUntilClosed()) << name;
        ASSERT_EQ(finished.size(), 1) << name;
        EXPECT_EQ(finished.first().first().toInt(), QDialog::Rejected) << name;
        EXPECT_EQ(dialog->m_stopRequested, 1) << name;
        EXPECT_FALSE(dialog->BackgroundBrush().has_value()) << name;
    }
    EXPECT_TRUE(prompter.Records().empty());
}

TEST_F(MainDialogTest, ExitWhileBusyAsksAndCancelKeepsTheJob)
{
    const QString temp = MakeTempFile();
    dialog->m_tempAviPath = temp;
    dialog->m_tempAviMade = true;
    dialog->SetIdle(false);
    prompter.QueueAnswer(MessageResult::Cancel);
    Button(IDCANCEL)->click();
    QApplication::processEvents();
    ASSERT_EQ(prompter.Records().size(), 1u);
    const PromptRecord r = prompter.Records().front();
    EXPECT_EQ(r.kind, PromptRecord::OwnedBox);
    EXPECT_EQ(r.text, QStringLiteral("Movie creating... Are you sure you want exit it?"));
    EXPECT_EQ(r.caption, QStringLiteral("Warning"));
    EXPECT_EQ(r.buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->m_stopRequested, 0);
    EXPECT_TRUE(QFile::exists(temp));

    prompter.QueueAnswer(MessageResult::Ok);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(WaitUntilClosed());
    EXPECT_EQ(dialog->m_stopRequested, 1);
    EXPECT_FALSE(QFile::exists(temp));
}

TEST_F(MainDialogTest, CleanUpRetriesAStubbornTemporaryFileElevenTimes)
{
    const QString temp = MakeTempFile();
    // An immutable file cannot be deleted, not even by root.
    const auto chattr = [&](const char *flag) {
        return QProcess::execute(QStringLiteral("chattr"), {QLatin1String(flag), temp}) == 0;
    };
    if (!chattr("+i"))
        GTEST_SKIP() << "chattr +i does not work here";
    dialog->m_tempAviPath = temp;
    dialog->m_tempAviMade = true;
    dialog->SetIdle(false);
    dialog->CleanUpOnExit();
    EXPECT_EQ(clock.Sleeps(), std::vector<int>(11, 5000));
    EXPECT_TRUE(QFile::exists(temp));
    EXPECT_EQ(dialog->m_stopRequested, 1);
    chattr("-i");
}

TEST_F(MainDialogTest, CleanUpDoesNotWaitForAFileThatIsAlreadyGone)
{
    dialog->m_tempAviPath = env.ScratchDir() + QStringLiteral("/never-written.avi");
    dialog->m_tempAviMade = true;
    dialog->SetIdle(false);
    dialog->CleanUpOnExit();
    // Running it a second time, as on the way out, does not wait either.
    dialog->CleanUpOnExit();
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(MainDialogTest, CleanUpEndsAChildProcessItStillHolds)
{
    auto child = platform::TheProcesses().Start(QStringLiteral("sleep 30"), false);
    ASSERT_TRUE(child.has_value());
    dialog->m_processInfo = *child;
    dialog->m_processRunning = 1;
    dialog->CleanUpOnExit();
    EXPECT_EQ(dialog->m_processRunning, 0);
    EXPECT_TRUE(dialog->m_processInfo.reaped);
}

} // namespace
