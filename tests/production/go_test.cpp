// "GO": the large-photo-set warning, typed music, Enter while a run is under way, and
// whole runs through the real render with a stand-in converter.

#include "main_window_test.h"
#include "stand_in.h"

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/media_makers.h"
#include "engine/engine_classes.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

using platform::MessageResult;
using testing_support::PromptRecord;

namespace {

const QString kWarning = QStringLiteral("Please do not increase more than 60 megabytes of photos, "
                                        "otherwise may fail. Do you want to continue?");
const QString kNoMusic = QStringLiteral("Please select a background music.");
const QString kNoPhotos = QStringLiteral("Please select photos before starting.");

class Go : public MainWindowTest
{
protected:
    void SetUp() override
    {
        // As the application does at its start.
        engine::RegisterEngineClasses();
        MainWindowTest::SetUp();
        dialog->show();
    }
};

struct VolumeRow
{
    qint64 bytes;
    std::optional<MessageResult> answer;
    QStringList boxes;
};

std::ostream &operator<<(std::ostream &out, const VolumeRow &row)
{
    return out << row.bytes << " bytes";
}

class PhotoVolume : public Go, public ::testing::WithParamInterface<VolumeRow>
{};

TEST_P(PhotoVolume, MoreThanSixtyMillionBytesAsksFirst)
{
    const VolumeRow &row = GetParam();
    // A listed photo of that size on disk (sparse: it takes no room); GO counts what is there.
    const QString photo = testing_support::WriteFile(scratch + "/big.jpg", "");
    ASSERT_TRUE(QFile::resize(photo, row.bytes));
    dialog->m_photoPaths = QStringList{photo};
    if (row.answer)
        prompter.QueueAnswer(*row.answer);
    dialog->SetControlText(ids::IDC_OUTPUT, scratch + "/clip");
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_EQ(prompter.BoxTexts(), row.boxes);
    const std::vector<PromptRecord> records = prompter.Records();
    if (!records.empty() && records[0].text == kWarning) {
        EXPECT_EQ(records[0].caption, QStringLiteral("Warning"));
        EXPECT_EQ(records[0].buttons, platform::MessageButtons::OkCancel);
        EXPECT_EQ(records[0].icon, platform::MessageIcon::None);
    }
    EXPECT_EQ(dialog->ControlText(ids::IDC_OUTPUT), scratch + "/clip");
    // Only a run that went on has settled the movie's path.
    EXPECT_EQ(dialog->m_outputPath.isEmpty(), !row.boxes.contains(kNoMusic));
    EXPECT_FALSE(dialog->m_busy);
}

INSTANTIATE_TEST_SUITE_P(
    Threshold,
    PhotoVolume,
    ::testing::Values(VolumeRow{60000000, std::nullopt, {kNoMusic}},
                      VolumeRow{60000001, MessageResult::Cancel, {kWarning}},
                      VolumeRow{60000001, MessageResult::Ok, {kWarning, kNoMusic}},
                      VolumeRow{5000000000LL, MessageResult::Ok, {kWarning, kNoMusic}}));

TEST_F(Go, TypedMusicIsTakenOnlyWhenTheFileExists)
{
    const QString music = testing_support::WriteFile(scratch + "/song.mp3", "ID3");
    dialog->SetControlText(ids::IDC_MUSIC_FILE, scratch + "/missing.mp3");
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_TRUE(dialog->m_musicFiles.isEmpty());
    EXPECT_EQ(prompter.BoxTexts(), QStringList{kNoMusic});

    prompter.Clear();
    dialog->SetControlText(ids::IDC_MUSIC_FILE, music);
    dialog->OnCommand(ids::IDC_GO);
    EXPECT_EQ(dialog->m_musicFiles, QStringList{music});
    EXPECT_EQ(prompter.BoxTexts(), QStringList{kNoPhotos});
}

TEST_F(Go, EnterWhileARunIsUnderWayStartsNoSecondRun)
{
    const QString oldMovie = testing_support::WriteFile(scratch + "/clip.mp4", "an older movie");
    dialog->SetControlText(ids::IDC_OUTPUT, scratch + "/clip");
    dialog->SetIdle(false);
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(prompter.Records().empty());
    EXPECT_TRUE(dialog->m_outputPath.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(oldMovie));
    EXPECT_EQ(dialog->ControlText(ids::IDC_OUTPUT), scratch + "/clip");

    // Idle, the same key starts a run, which settles the path before the render finds no
    // music; the old movie stays, as no new one was made.
    dialog->SetIdle(true);
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(prompter.BoxTexts(), QStringList{kNoMusic});
    EXPECT_EQ(dialog->m_outputPath, scratch + "/clip.mp4");
    EXPECT_TRUE(QFileInfo::exists(oldMovie));
    EXPECT_EQ(QDir(scratch).entryList(QDir::Files), QStringList{"clip.mp4"});
}

TEST_F(Go, AWholeRunRendersHandsOverToTheConverterAndFinishes)
{
    const QString photos = scratch + "/photos";
    QDir().mkpath(photos);
    ASSERT_TRUE(testmedia::SaveJpeg(testmedia::SolidImage(64, 48, Qt::red), photos + "/a.jpg"));
    ASSERT_TRUE(testmedia::SaveBmp(testmedia::SolidImage(48, 64, Qt::blue), photos + "/b.bmp"));
    const QString music = scratch + "/song.mp3";
    ASSERT_TRUE(
        testmedia::WriteMusic(testmedia::Tone(44100 * 8, 440), testmedia::MusicKind::Mp3, music));
    // The stand-in converter records what it was given and converts with ffmpeg.
    const QString converter = scratch + "/KelvoraCfg.dll";
    const QString seen = scratch + "/seen.txt";
    stand_in::WriteScript(
        converter,
        "for out; do :; done\n"
        "printf '%s\\n' \"$@\" >> '"
            + seen.toUtf8()
            + "'\n"
              "printf 'Press [q] to stop\\n'; ffmpeg -v quiet -i \"$2\" \"$out\"; "
              "printf 'muxing overhead\\n'");
    dialog->m_converterPath = converter;
    // The preferred video compressor, as a person who accepted the offer at start has it.
    ASSERT_TRUE(dialog->InstallVideoCodec());
    prompter.QueueFolder(photos);
    dialog->OnCommand(ids::IDC_ADD_PHOTOS);
    prompter.QueueFile(music);
    dialog->OnCommand(ids::IDC_CHOOSE_MUSIC);
    ASSERT_EQ(dialog->m_photoPaths.size(), 2);
    dialog->m_secondsIndex = 0;
    dialog->m_highQuality = 0;
    dialog->ApplySettings();
    dialog->SetControlText(ids::IDC_OUTPUT, scratch + "/out/movie.avi");
    // A file of the user's has the temporary file's name: the runs use a name of their own.
    QDir().mkpath(scratch + "/out");
    const QString mine = testing_support::WriteFile(scratch + "/out/TempData.avi", "mine");
    dialog->ConversionTimer()->setInterval(20);
    prompter.Clear();

    for (int run = 0; run < 2; ++run) {
        QList<int> progress;
        auto c = QObject::connect(
            dialog->m_progress, &QProgressBar::valueChanged, [&progress](int v) { progress << v; });
        dialog->OnCommand(ids::IDC_GO);
        ASSERT_TRUE(WaitUntilIdle()) << "run " << run;
        QObject::disconnect(c);
        EXPECT_EQ(dialog->m_outputPath, scratch + "/out/movie.mp4");
        EXPECT_EQ(prompter.BoxTexts(), QStringList{"The movie has been created successfully!"})
            << run;
        EXPECT_EQ(QDir(scratch + "/out").entryList(QDir::Files, QDir::Name),
                  QStringList({"TempData.avi", "movie.mp4"}));
        EXPECT_EQ(QFileInfo(mine).size(), 4);
        EXPECT_TRUE(QFileInfo(dialog->m_outputPath).size() > 0);
        // The render stays at or below 80; the conversion stage starts at 81.
        ASSERT_TRUE(progress.contains(81)) << run;
        for (int v : progress.mid(0, progress.indexOf(81)))
            EXPECT_LE(v, 80);
        EXPECT_EQ(progress.last(), 0);
        prompter.Clear();
    }
    QFile file(seen);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList args = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(args.count(QStringLiteral("-i")), 2);
    EXPECT_EQ(args.count(scratch + "/out/TempData-1.avi"), 2);
    EXPECT_FALSE(args.contains(QStringLiteral("-s")));
}

} // namespace
