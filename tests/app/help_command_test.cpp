#include "app/converter_app.h"
#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "help/about_dialog.h"
#include "help/html_help.h"
#include "resources/dialog_builder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

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

class HelpCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        help::ResetHtmlHelpLoaderForTests();
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
        QApplication::processEvents();
        prompter.Clear();
    }
    void TearDown() override
    {
        for (QWidget *w : HelpWindows())
            delete w;
    }

    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

TEST_F(HelpCommand, TheQuestionButtonOpensTheGuideOwnedByTheMainWindow)
{
    dialog->Control<QPushButton>(IDC_HELP_BUTTON)->click();
    QApplication::processEvents();
    const QList<QWidget *> windows = HelpWindows();
    ASSERT_EQ(windows.size(), 1);
    QWidget *window = windows.first();
    EXPECT_EQ(window->parentWidget(), dialog.get());
    auto topic = window->findChild<QTextBrowser *>(QStringLiteral("topic"));
    ASSERT_NE(topic, nullptr);
    EXPECT_TRUE(topic->toPlainText().contains(QStringLiteral("Vantorel Converter")));
    window->grab().save(env.Root() + QStringLiteral("/../help-window.png"));

    // A second press brings the same window forward.
    dialog->Control<QPushButton>(IDC_HELP_BUTTON)->click();
    QApplication::processEvents();
    EXPECT_EQ(HelpWindows(), windows);
}

TEST_F(HelpCommand, FOneAndContextHelpOpenAGuideWithoutOwnerThatWorksBesideTheModalWindow)
{
    ConverterApp app(testing_support::TestServices(prompter, clock));
    dialog->SetApplicationCommandRoute([&app](int id) { app.OnCommand(id); });
    QAction *contextHelp = nullptr;
    for (QAction *a : dialog->MenuBar()->findChildren<QAction *>())
        contextHelp = a->data().toInt() == ID_CONTEXT_HELP ? a : contextHelp;
    ASSERT_NE(contextHelp, nullptr);
    const std::function<void()> ways[]
        = {[&] { QTest::keyClick(dialog.get(), Qt::Key_F1); }, [&] { contextHelp->trigger(); }};
    const auto openClickAndClose = [&](const std::function<void()> &open) {
        open();
        QApplication::processEvents();
        const QList<QWidget *> windows = HelpWindows();
        ASSERT_EQ(windows.size(), 1);
        QWidget *window = windows.first();
        EXPECT_EQ(window->parentWidget(), nullptr);
        // A click of the user's (through the window system, where modality applies)
        // reaches the guide while the main window runs modally.
        auto tabs = window->findChild<QTabBar *>();
        ASSERT_NE(tabs, nullptr);
        const QPoint indexTab = tabs->mapTo(window, tabs->tabRect(1).center());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, indexTab);
        EXPECT_EQ(tabs->currentIndex(), 1);
        window->close();
        QApplication::processEvents();
    };
    // Shown again by the modal run, which makes it modal.
    dialog->hide();
    QTimer::singleShot(0, dialog.get(), [&] {
        for (const auto &open : ways)
            openClickAndClose(open);
        dialog->OnCommand(IDCANCEL);
    });
    dialog->DoModal();
}

TEST_F(HelpCommand, WithoutAHelpFileNothingOpens)
{
    env.Set("VANTOREL_PROGRAM_DIR", env.ScratchDir());
    dialog->ShowHelp();
    QApplication::processEvents();
    EXPECT_TRUE(HelpWindows().isEmpty());
    // The program says nothing of its own when help cannot be shown.
    EXPECT_TRUE(prompter.Records().empty());
}

} // namespace
