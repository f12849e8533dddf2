#include "window_fixture.h"

#include "common/media_makers.h"
#include "engine/engine_classes.h"

#include <QApplication>
#include <QTest>

void WindowTest::SetUp()
{
    // As the application does at its start; tests that take a class away get it back.
    engine::RegisterEngineClasses();
    scratch = env.ScratchDir();
    prompter.busy = [this] { return dialog && dialog->m_busy != 0; };
    dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
    ASSERT_TRUE(dialog->OnInitDialog());
    dialog->show();
    QApplication::processEvents();
    // Only the boxes of the case under test count.
    prompter.Clear();
}

void WindowTest::TearDown()
{
    dialog.reset();
    engine::RegisterEngineClasses();
}

void WindowTest::PrepareJob(int photos, const QString &music, int seconds)
{
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::white};
    dialog->m_photoPaths.clear();
    for (int i = 0; i < photos; ++i) {
        const QString path = scratch + QStringLiteral("/photo%1.jpg").arg(i);
        EXPECT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(96, 64, colors[i % 5]), path));
        dialog->m_photoPaths.append(path);
    }
    dialog->m_musicFiles = QStringList{music};
    dialog->m_secondsPerPhoto = seconds;
    dialog->m_sizeIndex = 0;
    dialog->m_videoWidth = 320;
    dialog->m_videoHeight = 240;
    dialog->m_highQuality = 0;
    dialog->m_tempAviPath = scratch + QStringLiteral("/TempData.avi");
}

QString WindowTest::MakeWav(double seconds)
{
    const QString path = scratch + QStringLiteral("/song%1.wav").arg(seconds);
    const auto frames = static_cast<std::int64_t>(seconds * 8000 + 0.5);
    EXPECT_TRUE(testmedia::WriteWav(testmedia::Tone(frames, 440, 8000, 1), path));
    return path;
}

bool WindowTest::WaitUntilIdle(int ms)
{
    return QTest::qWaitFor([this] { return !dialog->m_busy; }, ms);
}
