#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"
#include "help/html_help.h"
#include "settings/settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSize>
#include <QTabBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>

using namespace ids;
using testing_support::FakeClock;
using testing_support::ScriptedPrompter;
using testing_support::TestEnvironment;

namespace {

using testing_support::operator<<;

const auto Seconds = [](SettingsDialog *d) { return d->Control<QComboBox>(IDC_SECONDS_COMBO); };
const auto Sizes = [](SettingsDialog *d) { return d->Control<QComboBox>(IDC_SIZE_COMBO); };
const auto Click = [](QWidget *button) { QTest::mouseClick(button, Qt::LeftButton, {}, {6, 6}); };

// Types over the whole text of a list's field, as a user does.
void TypeInto(QComboBox *combo, const QString &text)
{
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), text);
}

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window->show();
        QApplication::processEvents();
    }

    // Presses "Setting"; `act` gets the settings dialog once it runs modally and must end
    // it. A dialog still open after `act` is a failure (and is closed).
    void RunSetting(std::function<void(SettingsDialog *)> act)
    {
        bool ran = false;
        // Queued now, run by the dialog's own event loop once it is open.
        QTimer::singleShot(0, window.get(), [&] {
            auto dialog = qobject_cast<SettingsDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            ran = true;
            act(dialog);
            QApplication::processEvents();
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the settings dialog is still open";
                dialog->reject();
            }
        });
        QTest::mouseClick(window->Control<QPushButton>(IDC_SETTING), Qt::LeftButton);
        EXPECT_TRUE(ran);
    }

    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<MainDialog> window
        = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
};

enum class End { OkButton, EnterInSecondsField, EnterInSizeField, CancelButton, CloseBox };

struct SettingsCase
{
    const char *name;
    const char *typeSeconds, *typeSize; // typed into the fields, or nullptr
    bool togglePlayWhole, toggleHighQuality;
    End end;
    // The record afterwards.
    int secondsIndex, sizeIndex;
    BOOL playWholeMusic, highQuality;
    int secondsPerPhoto, width, height;
};

class SettingsChoice : public SettingsTest, public ::testing::WithParamInterface<SettingsCase>
{};

TEST_P(SettingsChoice, OkTakesTheChoicesAndDerivesTheMovieValuesOtherEndsTouchNothing)
{
    const SettingsCase &c = GetParam();
    // A frame rate that only ApplySettings puts back: shows whether the record was touched.
    window->m_frameRate = 25.0;
    RunSetting([&](SettingsDialog *d) {
        if (c.typeSeconds)
            TypeInto(Seconds(d), QString::fromLatin1(c.typeSeconds));
        if (c.typeSize)
            TypeInto(Sizes(d), QString::fromLatin1(c.typeSize));
        if (c.togglePlayWhole)
            Click(d->Control(IDC_PLAY_WHOLE_MUSIC));
        if (c.toggleHighQuality)
            Click(d->Control(IDC_HIGH_QUALITY));
        if (c.end == End::OkButton || c.end == End::CancelButton)
            Click(d->Control(c.end == End::OkButton ? IDOK : IDCANCEL));
        else if (c.end == End::CloseBox)
            d->close();
        else
            QTest::keyClick((c.end == End::EnterInSizeField ? Sizes(d) : Seconds(d))->lineEdit(),
                            Qt::Key_Return);
    });
    EXPECT_EQ(window->m_secondsIndex, c.secondsIndex);
    EXPECT_EQ(window->m_sizeIndex, c.sizeIndex);
    EXPECT_EQ(window->m_playWholeMusic, c.playWholeMusic);
    EXPECT_EQ(window->m_highQuality, c.highQuality);
    EXPECT_EQ(window->m_secondsPerPhoto, c.secondsPerPhoto);
    EXPECT_EQ(QSize(window->m_videoWidth, window->m_videoHeight), QSize(c.width, c.height));
    const bool taken = c.end == End::OkButton || c.end == End::EnterInSecondsField
                       || c.end == End::EnterInSizeField;
    EXPECT_DOUBLE_EQ(window->m_frameRate, taken ? 29.97 : 25.0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Choices, SettingsChoice,
    ::testing::Values(
        //           name                          type  type       play   high   end                       -> secs size play high s/photo  w    h
        SettingsCase{"SixSecondsAt480x320",         "6",     "480x320", false, false, End::OkButton,             2,   2,   0,   1,   6,     480, 320},
        SettingsCase{"BothChecksToggled",           nullptr, nullptr,   true,  true,  End::OkButton,             1,   0,   1,   0,   4,     320, 240},
        SettingsCase{"TypedSizeMatchingNothing",    nullptr, "800x600", false, false, End::OkButton,             1,  -1,   0,   1,   4,     320, 240},
        SettingsCase{"TypedSecondsThenEnter",       "6",     nullptr,   false, false, End::EnterInSecondsField,  2,   0,   0,   1,   6,     320, 240},
        SettingsCase{"TypedUnknownSizeThenEnter",   nullptr, "big",     false, false, End::EnterInSizeField,     1,  -1,   0,   1,   4,     320, 240},
        SettingsCase{"CancelAfterChanges",          "6",     "640x480", true,  true,  End::CancelButton,         1,   0,   0,   1,   4,     320, 240},
        SettingsCase{"CloseBoxAfterChanges",        "6",     "1x1",     false, true,  End::CloseBox,             1,   0,   0,   1,   4,     320, 240}),
    testing_support::RowName());
// clang-format on

TEST_F(SettingsTest, ReopeningShowsTheChoicesTakenBefore)
{
    RunSetting([](SettingsDialog *d) {
        Seconds(d)->setCurrentIndex(2);
        Sizes(d)->setCurrentIndex(2);
        Click(d->Control(IDC_PLAY_WHOLE_MUSIC));
        Click(d->Control(IDOK));
    });
    RunSetting([](SettingsDialog *d) {
        EXPECT_EQ(Seconds(d)->currentText(), QStringLiteral("6"));
        EXPECT_EQ(Sizes(d)->currentText(), QStringLiteral("480x320"));
        EXPECT_TRUE(d->Control<QCheckBox>(IDC_PLAY_WHOLE_MUSIC)->isChecked());
        EXPECT_TRUE(d->Control<QCheckBox>(IDC_HIGH_QUALITY)->isChecked());
        // Typed texts that match no entry.
        TypeInto(Sizes(d), QStringLiteral("huge"));
        TypeInto(Seconds(d), QStringLiteral("10"));
        Click(d->Control(IDOK));
    });
    RunSetting([](SettingsDialog *d) {
        // Nothing selected: both fields are empty; the lists keep their entries.
        EXPECT_EQ(Sizes(d)->currentText() + Seconds(d)->currentText(), QString());
        EXPECT_EQ(Sizes(d)->count(), 4);
        EXPECT_EQ(Seconds(d)->count(), 3);
        // OK without a choice keeps "no choice".
        Click(d->Control(IDOK));
    });
    EXPECT_EQ(window->m_secondsIndex, -1);
    EXPECT_EQ(window->m_sizeIndex, -1);
    EXPECT_EQ(window->m_secondsPerPhoto, 0);
    EXPECT_EQ(QSize(window->m_videoWidth, window->m_videoHeight), QSize(320, 240));
}

TEST_F(SettingsTest, TerminationSignalWhileSettingIsOpenEndsTheWindow)
{
    window->hide();
    QTimer::singleShot(0, window.get(), [&] {
        RunSetting([](SettingsDialog *d) {
            // Log-out: the window ends without waiting for the dialog's answer.
            raise(SIGTERM);
            EXPECT_TRUE(QTest::qWaitFor([d] { return !d->isVisible(); }));
        });
    });
    EXPECT_EQ(window->DoModal(), QDialog::Rejected);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(SettingsTest, FOneOpensTheGuideAtTheSettingsPageUsableBesideTheDialog)
{
    help::ResetHtmlHelpLoaderForTests();
    // As in the program: the window has started (and set up the help engine) before
    // "Setting" can be pressed.
    ASSERT_TRUE(window->OnInitDialog());
    RunSetting([](SettingsDialog *d) {
        // A key the dialog's shortcuts see reaches the active window.
        d->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([d] { return QApplication::activeWindow() == d; }));
        QTest::keyClick(d, Qt::Key_F1);
        QApplication::processEvents();
        QWidget *guide = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            guide = w->objectName() == QStringLiteral("HelpWindow") && w->isVisible() ? w : guide;
        ASSERT_NE(guide, nullptr);
        EXPECT_EQ(guide->findChild<QTextBrowser *>(QStringLiteral("topic"))->source().path(),
                  QStringLiteral("/settings.html"));
        // A click through the window system, where modality applies, reaches the guide
        // while the dialog waits.
        auto *tabs = guide->findChild<QTabBar *>();
        QTest::mouseClick(guide->windowHandle(),
                          Qt::LeftButton,
                          {},
                          tabs->mapTo(guide, tabs->tabRect(1).center()));
        EXPECT_EQ(tabs->currentIndex(), 1);
        delete guide;
        Click(d->Control(IDCANCEL));
    });
    help::ResetHtmlHelpLoaderForTests();
}

} // namespace
