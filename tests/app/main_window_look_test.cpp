#include "app/main_dialog.h"
#include "platform/skin.h"
#include "resources/dialog_builder.h"
#include "resources/dialog_template.h"
#include "support/doubles.h"
#include "support/environment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace ids;
using testing_support::FakeClock;
using testing_support::ScriptedPrompter;
using testing_support::TestEnvironment;

namespace {

class MainWindowLook : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
        QApplication::processEvents();
    }

    // The client area as it is on screen now.
    QImage GrabClient() const { return dialog->Client()->grab().toImage(); }

    TestEnvironment env;
    ScriptedPrompter prompter;
    FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

TEST_F(MainWindowLook, ControlsStandAtTheirDialogUnitPlaces)
{
    const resources::DialogTemplate *t = resources::FindDialog(resources::IDD_MAIN);
    const QSize base = resources::DialogBaseUnits(resources::DialogFont(*t));
    ASSERT_GT(base.width(), 3);
    ASSERT_GT(base.height(), 8);
    for (const resources::ControlTemplate &c : t->controls) {
        const QRect expected = resources::DialogUnitsToPixels(c.rect, base);
        const QRect actual = dialog->Control(c.id)->geometry();
        EXPECT_EQ(actual.topLeft(), expected.topLeft()) << c.id;
        EXPECT_EQ(actual.width(), expected.width()) << c.id;
    }
    const QRect client = resources::DialogUnitsToPixels(QRect(QPoint(), t->size), base);
    EXPECT_EQ(dialog->Client()->size(), client.size());
    // Saved for a person to look at.
    dialog->grab().save(env.Root() + QStringLiteral("/../main-window.png"));
}

TEST_F(MainWindowLook, TheBandAndTheBackgroundHaveTheirColours)
{
    const QImage image = GrabClient();
    const int width = dialog->Client()->width();
    const QColor band(251, 251, 230);
    const QColor background(230, 230, 240);
    // Inside the band, away from its text (the lines start at x = 10).
    EXPECT_EQ(image.pixelColor(2, 2), band);
    EXPECT_EQ(image.pixelColor(width - 37, 49), band);
    EXPECT_EQ(image.pixelColor(width / 2, 48), band);
    // Just outside it: right of it (below the "!" button) and below it.
    const QRect about = dialog->Control(IDC_ABOUT_BUTTON)->geometry();
    ASSERT_LT(about.bottom() + 2, dialog->Control(1001)->geometry().top());
    EXPECT_EQ(image.pixelColor(width - 35, about.bottom() + 2), background);
    EXPECT_EQ(image.pixelColor(2, 51), background);
    // The bottom left corner holds no control.
    EXPECT_EQ(image.pixelColor(3, image.height() - 3), background);

    // Both lines of text are drawn: dark pixels in each line's row band.
    auto hasText = [&](int top) {
        for (int y = top; y < top + 14; ++y)
            for (int x = 10; x < width - 40; ++x)
                if (image.pixelColor(x, y).lightness() < 100)
                    return true;
        return false;
    };
    EXPECT_TRUE(hasText(5));
    EXPECT_TRUE(hasText(25));
}

TEST_F(MainWindowLook, StaticControlsShareTheBackgroundUntilTheBrushIsGone)
{
    auto musicField = dialog->Control(IDC_MUSIC_FILE);
    const QImage field = musicField->grab().toImage();
    EXPECT_EQ(field.pixelColor(field.width() / 2, field.height() / 2), QColor(230, 230, 240));
    auto output = dialog->Control(IDC_OUTPUT);
    const QImage editable = output->grab().toImage();
    EXPECT_NE(editable.pixelColor(editable.width() / 2, editable.height() / 2),
              QColor(230, 230, 240));

    dialog->CleanUpOnExit();
    EXPECT_FALSE(dialog->BackgroundBrush().has_value());
    const QImage after = musicField->grab().toImage();
    EXPECT_NE(after.pixelColor(after.width() / 2, after.height() / 2), QColor(230, 230, 240));
}

TEST_F(MainWindowLook, AMinimisedWindowShowsTheIconCentredUnderTheBand)
{
    const QSize size = dialog->Client()->size();
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        dialog->Paint(painter, true);
    }
    const int x = (size.width() - 32 + 1) / 2;
    const int y = (size.height() - 32 + 1) / 2;
    QImage icon(32, 32, QImage::Format_RGB32);
    icon.fill(QColor(230, 230, 240));
    {
        QPainter painter(&icon);
        dialog->m_hIcon.paint(&painter, QRect(0, 0, 32, 32));
    }
    EXPECT_EQ(image.copy(x, y, 32, 32), icon);
    // And it is really the program's picture, not an empty icon.
    ASSERT_FALSE(dialog->m_hIcon.isNull());
    EXPECT_NE(icon.pixelColor(16, 16), QColor(230, 230, 240));
    // The band is drawn after the icon, at its place.
    EXPECT_EQ(image.pixelColor(2, 2), QColor(251, 251, 230));
}

} // namespace

namespace {

TEST(Skin, TheStoredSkinIsAppliedToDialogsAndRemovedAtExit)
{
    resources::EnsureResourcesLoaded();
    platform::Skin &skin = platform::TheSkin();
    skin.Init();
    ASSERT_TRUE(skin.LoadFromResource(QString::fromLatin1(resources::kSkinResourceName)));
    EXPECT_FALSE(skin.LoadFromResource(QStringLiteral("NOSUCHSKIN")));
    skin.ApplyToDialogs(QStringLiteral("Dialog"));
    EXPECT_TRUE(qApp->styleSheet().contains(QStringLiteral("QDialog QPushButton")));
    skin.Exit();
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

} // namespace
