#include "app/converter_app.h"
#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/media_makers.h"
#include "help/html_help.h"
#include "platform/processes.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

using namespace ids;
using testing_support::FakeClock;
using testing_support::ScriptedPrompter;
using testing_support::TestEnvironment;

namespace {

QList<QWidget *> HelpWindows()
{
    QList<QWidget *> found;
    for (QWidget *w : QApplication::allWidgets()) {
        if (w->objectName() == QStringLiteral("HelpWindow") && w->isVisible())
            found << w;
    }
    return found;
}

class MainDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        help::ResetHtmlHelpLoaderForTests();
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
        QApplication::processEvents();
        // What start-up itself asked is not these tests' business.
        prompter.Clear();
    }
    void TearDown() override
    {
        for (QWidget *w : HelpWindows())
            delete w;
    }

    QPushButton *Button(int id) const { return dialog->Control<QPushButton>(id); }
    // A dialog that opens would wait for the user: once it runs, note it and close it.
    void CloseDialogThatOpens(bool *opened)
    {
        QTimer::singleShot(0, dialog.get(), [opened] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                *opened = true;
                modal->close();
            }
        });
    }

    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

// While a job runs, a user's clicks on the buttons that would change it reach nothing: no
// chooser or dialog opens and the photo list stays as it is. Idle again, they work.
TEST_F(MainDialogTest, WhileBusyTheJobCannotBeChanged)
{
    const QString folder = env.ScratchDir() + QStringLiteral("/photos");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char *name : {"/a.jpg", "/b.jpg"})
        ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(8, 8, Qt::red), folder + name));
    prompter.QueueFolder(folder);
    Button(IDC_ADD_PHOTOS)->click();
    dialog->m_photoList->setCurrentItem(dialog->m_photoList->topLevelItem(1));
    const QStringList photos = dialog->m_photoPaths;
    ASSERT_EQ(photos.size(), 2);
    prompter.Clear();
    dialog->m_progress->setValue(40);
    Button(IDC_GO)->setFocus();

    dialog->SetIdle(false);
    // Every button but the ways out and the help and about boxes, which change no job.
    for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
        const int id = button->objectName().toInt();
        if (id == IDCANCEL || id == IDC_HELP_BUTTON || id == IDC_ABOUT_BUTTON
            || !button->isVisible())
            continue;
        bool modalOpened = false;
        CloseDialogThatOpens(&modalOpened);
        QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
        EXPECT_FALSE(modalOpened || !prompter.Records().empty()) << id;
        EXPECT_EQ(dialog->m_photoPaths, photos) << id;
        prompter.Clear();
    }
    // Enter, pressed twice where the focus now is, neither asks to exit nor ends the job.
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.get(),
                        Qt::Key_Return);
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Button(IDCANCEL)->isEnabled());
    EXPECT_EQ(Button(IDC_GO)->text(), QStringLiteral("Processing"));
    EXPECT_EQ(dialog->ControlText(IDC_STATUS), QStringLiteral("Please waiting..."));
    EXPECT_EQ(dialog->m_progress->value(), 40);

    dialog->SetIdle(true);
    EXPECT_EQ(Button(IDC_GO)->text(), QStringLiteral("GO"));
    EXPECT_EQ(dialog->ControlText(IDC_STATUS), QString());
    EXPECT_EQ(dialog->m_progress->value(), 0);
    QTest::mouseClick(Button(IDC_REMOVE), Qt::LeftButton);
    EXPECT_EQ(dialog->m_photoPaths, photos.first(1));
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
        // The close may be queued behind the event that asked for it.
        EXPECT_TRUE(!finished.isEmpty() || finished.wait()) << name;
        ASSERT_EQ(finished.size(), 1) << name;
        EXPECT_EQ(finished.first().first().toInt(), QDialog::Rejected) << name;
        EXPECT_EQ(dialog->m_stopRequested, 1) << name;
        EXPECT_FALSE(dialog->BackgroundBrush().has_value()) << name;
    }
    EXPECT_TRUE(prompter.Records().empty());
}

// On the way out the clean-up ends a child process still running, and a temporary file
// that is already gone costs no retries.
TEST_F(MainDialogTest, CleanUpEndsTheChildAndPassesOverAMissingTemporaryFile)
{
    auto child = platform::TheProcesses().Start(QStringLiteral("sleep 30"), false);
    ASSERT_TRUE(child.has_value());
    dialog->m_processInfo = *child;
    dialog->m_processRunning = 1;
    dialog->m_tempAviPath = env.ScratchDir() + QStringLiteral("/never-written.avi");
    dialog->m_tempAviMade = true;
    dialog->SetIdle(false);
    dialog->CleanUpOnExit();
    dialog->CleanUpOnExit();
    EXPECT_EQ(dialog->m_processRunning, 0);
    EXPECT_TRUE(dialog->m_processInfo.reaped);
    EXPECT_TRUE(clock.Sleeps().empty());
}

// The question button opens the guide owned by the main window; a second press brings the
// same window forward. Without a help file nothing opens and the program says nothing.
TEST_F(MainDialogTest, TheQuestionButtonOpensTheGuideOwnedByTheMainWindowWhenThereIsOne)
{
    for (int press = 0; press < 2; ++press)
        Button(IDC_HELP_BUTTON)->click();
    QApplication::processEvents();
    const QList<QWidget *> windows = HelpWindows();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows.first()->parentWidget(), dialog.get());
    env.Set("VANTOREL_PROGRAM_DIR", env.ScratchDir());
    dialog->ShowHelp();
    QApplication::processEvents();
    EXPECT_EQ(HelpWindows(), windows);
    EXPECT_TRUE(prompter.Records().empty());
}

// F1 and context help open a guide without owner that the user can click while the main
// window runs modally.
TEST_F(MainDialogTest, FOneAndContextHelpOpenAGuideWithoutOwnerThatWorksBesideTheModalWindow)
{
    ConverterApp app(testing_support::TestServices(prompter, clock));
    dialog->SetApplicationCommandRoute([&app](int id) { app.OnCommand(id); });
    QAction *contextHelp = nullptr;
    for (QAction *a : dialog->MenuBar()->findChildren<QAction *>())
        contextHelp = a->data().toInt() == ID_CONTEXT_HELP ? a : contextHelp;
    ASSERT_NE(contextHelp, nullptr);
    const std::function<void()> ways[]
        = {[&] { QTest::keyClick(dialog.get(), Qt::Key_F1); }, [&] { contextHelp->trigger(); }};
    // Shown again by the modal run, which makes it modal.
    dialog->hide();
    QTimer::singleShot(0, dialog.get(), [&] {
        for (const auto &open : ways) {
            open();
            QApplication::processEvents();
            QWidget *window = HelpWindows().value(0);
            EXPECT_TRUE(window && !window->parentWidget());
            if (!window)
                break;
            // A click through the window system, where modality applies.
            auto tabs = window->findChild<QTabBar *>();
            QTest::mouseClick(window->windowHandle(),
                              Qt::LeftButton,
                              {},
                              tabs->mapTo(window, tabs->tabRect(1).center()));
            EXPECT_EQ(tabs->currentIndex(), 1);
            window->close();
            QApplication::processEvents();
        }
        dialog->OnCommand(IDCANCEL);
    });
    dialog->DoModal();
}

} // namespace
