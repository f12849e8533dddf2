// The real message boxes and file chooser, answered by clicking as a person would.

#include "common/environment.h"
#include "platform/prompter.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

using namespace platform;

namespace {

// Hands the modal window to `answer` once it shows.
void WhenModalShows(std::function<void(QWidget *)> answer)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->deleteLater();
            timer->stop();
            answer(modal);
        }
    });
    timer->start(10);
}

} // namespace

// The conversion worker asks too: the box shows on the main thread, with the buttons asked
// for, and the worker gets the button that was clicked.
TEST(QtPrompter, AQuestionFromAWorkerThreadReturnsTheClickedButton)
{
    WhenModalShows([](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Caption"));
        EXPECT_EQ(box->text(), QStringLiteral("Go on?"));
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        box->button(QMessageBox::No)->click();
    });
    std::atomic<bool> done = false;
    MessageResult result = MessageResult::Yes;
    std::thread worker([&] {
        result = TheQtPrompter().MessageBox(nullptr,
                                            QStringLiteral("Go on?"),
                                            QStringLiteral("Caption"),
                                            MessageButtons::YesNo,
                                            MessageIcon::Exclamation);
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(result, MessageResult::No);
}

TEST(QtPrompter, TheFileChooserOffersTheFiltersAndReturnsTheChosenFile)
{
    testing_support::TestEnvironment env;
    const QString music = testing_support::WriteFile(env.ScratchDir() + "/song.mp3", "x");
    WhenModalShows([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->nameFilters(), QStringList{"Music (*.mp3 *.wma)"});
        dialog->selectFile(music);
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open)->click();
    });
    EXPECT_EQ(TheQtPrompter().OpenFile(
                  nullptr, QStringLiteral("Music|*.mp3;*.wma||"), true, env.ScratchDir()),
              music);
}

// "All Files" ("*.*") of the program's lists shows every file, a name without a dot too.
TEST(QtPrompter, AllFilesListsFilesWithAndWithoutAnExtension)
{
    testing_support::TestEnvironment env;
    testing_support::WriteFile(env.ScratchDir() + "/song.mp3", "x");
    testing_support::WriteFile(env.ScratchDir() + "/song", "x");
    QStringList listed;
    WhenModalShows([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_TRUE(dialog);
        dialog->selectNameFilter(dialog->nameFilters().last());
        const auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
        ASSERT_TRUE(view);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                listed.clear();
                for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                    listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
                return listed.size() == 2;
            },
            10000));
        dialog->reject();
    });
    EXPECT_FALSE(
        TheQtPrompter()
            .OpenFile(
                nullptr, QStringLiteral("mp3 file|*.mp3|All Files|*.*||"), true, env.ScratchDir())
            .has_value());
    listed.sort();
    EXPECT_EQ(listed, QStringList({"song", "song.mp3"}));
}
