// The photo list, the music field and the output proposal of a main window driven offscreen
// with the mouse and keyboard, a scripted prompter answering the choosers, over real files.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"
#include "common/table_rows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace ids;

namespace {

using testing_support::operator<<;

class MediaSelection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialog->InitPhotoListColumns();
        dialog->show();
        QApplication::processEvents();
    }

    // A folder under the scratch folder with files of the given names (separated by blanks),
    // of sizes 100, 101, ...
    QString MakeFolder(const QString &name, const char *files = "") const
    {
        const QString path = env.ScratchDir() + u'/' + name;
        QDir().mkpath(path);
        const QStringList names = QString::fromLatin1(files).split(u' ', Qt::SkipEmptyParts);
        for (int i = 0; i < names.size(); ++i)
            testing_support::WriteFile(path + u'/' + names[i], QByteArray(100 + i, 'x'));
        return path;
    }

    void Click(int id) const
    {
        QTest::mouseClick(dialog->Control<QPushButton>(id), Qt::LeftButton);
    }
    void AddFolder(const QString &folder)
    {
        prompter.QueueFolder(folder);
        Click(IDC_ADD_PHOTOS);
    }
    void ClickRow(int row) const
    {
        QTreeWidget *list = dialog->m_photoList;
        QTest::mouseClick(list->viewport(),
                          Qt::LeftButton,
                          {},
                          list->visualItemRect(list->topLevelItem(row)).center());
    }
    QStringList RowTexts(int column) const
    {
        QStringList texts;
        for (int i = 0; i < dialog->m_photoList->topLevelItemCount(); ++i)
            texts << dialog->m_photoList->topLevelItem(i)->text(column);
        return texts;
    }
    // Rows (folder + '/' + name) and path entries describe the same photos, in the same order.
    void ExpectRowsAndPathsInStep() const
    {
        QStringList rows;
        for (int i = 0; i < dialog->m_photoList->topLevelItemCount(); ++i)
            rows << RowTexts(2)[i] + u'/' + RowTexts(0)[i];
        EXPECT_EQ(rows, dialog->m_photoPaths);
    }
    QString Text(int id) const { return dialog->ControlText(id); }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    std::unique_ptr<MainDialog> dialog
        = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
};

TEST_F(MediaSelection, ExtensionGroupsDecideTheOrderNotTheNames)
{
    const QString folder = MakeFolder("mixed", "a.gif b.bmp c.jpeg d.JPG notes.txt jpg");
    // Only files are photos: a sub-folder or a FIFO named like one is not listed.
    QDir().mkpath(folder + "/e.jpg");
    ASSERT_EQ(mkfifo(QFile::encodeName(folder + "/f.jpg").constData(), 0600), 0);

    const QString before = QDate::currentDate().toString("MM-dd-yyyy");
    AddFolder(folder);
    const QString after = QDate::currentDate().toString("MM-dd-yyyy");

    EXPECT_EQ(RowTexts(0).join(u' '), "d.JPG c.jpeg b.bmp a.gif");
    EXPECT_EQ(RowTexts(2), QStringList(4, folder));
    for (const QString &date : RowTexts(1))
        EXPECT_TRUE(date == before || date == after) << date.toStdString();
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(dialog->m_totalPhotoBytes, 100 + 101 + 102 + 103);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), "4");
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), folder);
    EXPECT_TRUE(dialog->m_photoList->selectedItems().isEmpty());
}

TEST_F(MediaSelection, AFolderAddedTwiceIsListedTwiceAndRemoveAllEmptiesEverything)
{
    const QString folder = MakeFolder("photos", "p0.jpg p1.jpg");
    AddFolder(folder);
    AddFolder(folder);
    EXPECT_EQ(RowTexts(0).join(u' '), "p0.jpg p1.jpg p0.jpg p1.jpg");
    EXPECT_EQ(dialog->m_totalPhotoBytes, 2 * (100 + 101));
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), folder + u';' + folder);

    // Removing one of the two rows of a photo takes only its own entry: rows and entries
    // stay in step, and Down keeps working on the right photos.
    ClickRow(2);
    Click(IDC_REMOVE);
    EXPECT_EQ(dialog->m_totalPhotoBytes, 100 + 2 * 101);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), "3");
    ClickRow(0);
    Click(IDC_DOWN);
    Click(IDC_DOWN);
    EXPECT_EQ(RowTexts(0).join(u' '), "p1.jpg p1.jpg p0.jpg");
    ExpectRowsAndPathsInStep();

    auto effect = dialog->Control<QCheckBox>(IDC_EFFECT);
    effect->setChecked(false); // not yet taken into the record, which Remove All shows
    Click(IDC_REMOVE_ALL);
    EXPECT_EQ(dialog->m_photoList->topLevelItemCount() + dialog->m_photoPaths.size(), 0);
    EXPECT_EQ(dialog->m_totalPhotoBytes, 0);
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS) + Text(IDC_PHOTO_COUNT), QString());
    EXPECT_TRUE(effect->isChecked());
}

// Delete, Remove, Up and Down on a row of four photos p0..p3.
struct EditCase
{
    const char *name;
    int selected;
    int action;        // a button, or 0 for the Delete key in the list
    const char *order; // digits of the photos afterwards
    int selectedAfter; // -1: none
};

class EditingARow : public MediaSelection, public ::testing::WithParamInterface<EditCase>
{};

TEST_P(EditingARow, RowsAndPathsChangeTogetherAndTheSelectionFollows)
{
    const EditCase &c = GetParam();
    const QString folder = MakeFolder("photos", "p0.jpg p1.jpg p2.jpg p3.jpg");
    AddFolder(folder);
    ClickRow(c.selected);
    if (c.action)
        Click(c.action);
    else
        QTest::keyClick(dialog->m_photoList, Qt::Key_Delete);

    QStringList expected;
    qint64 bytes = 0;
    for (const char *digit = c.order; *digit; ++digit) {
        expected << folder + QStringLiteral("/p%1.jpg").arg(QChar::fromLatin1(*digit));
        bytes += 100 + (*digit - '0');
    }
    EXPECT_EQ(dialog->m_photoPaths, expected);
    ExpectRowsAndPathsInStep();
    // The selection moves with the row, and the current row with it.
    QTreeWidgetItem *selected = dialog->m_photoList->selectedItems().value(0);
    EXPECT_EQ(dialog->m_photoList->indexOfTopLevelItem(selected), c.selectedAfter);
    if (selected) {
        EXPECT_EQ(dialog->m_photoList->currentItem(), selected);
    }
    EXPECT_EQ(dialog->m_totalPhotoBytes, bytes);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QString::number(expected.size()));
}

INSTANTIATE_TEST_SUITE_P(Rows,
                         EditingARow,
                         ::testing::Values(EditCase{"DeleteFirst", 0, 0, "123", -1},
                                           EditCase{"DeleteMiddle", 1, 0, "023", 0},
                                           EditCase{"RemoveLast", 3, IDC_REMOVE, "012", 2},
                                           EditCase{"UpOnFirst", 0, IDC_UP, "0123", 0},
                                           EditCase{"UpInMiddle", 2, IDC_UP, "0213", 1},
                                           EditCase{"DownInMiddle", 1, IDC_DOWN, "0213", 2},
                                           EditCase{"DownOnLast", 3, IDC_DOWN, "0123", 3}),
                         testing_support::RowName());

TEST_F(MediaSelection, ChoosingMusicKeepsOnlyTheLastChoiceAndLeavingTheFieldAppendsACopy)
{
    const QString folder = MakeFolder("music", "first.wav a.mp3");
    const QString song = folder + QStringLiteral("/a.mp3");
    for (const std::optional<QString> &choice :
         {std::optional(folder + QStringLiteral("/first.wav")),
          std::optional(song),
          std::optional<QString>()}) {
        prompter.QueueFile(choice);
        Click(IDC_CHOOSE_MUSIC);
    }
    EXPECT_EQ(dialog->m_musicFiles, QStringList{song});
    EXPECT_EQ(Text(IDC_MUSIC_FILE), song);

    // Tabbing away from the field appends the file again while it exists; an empty field
    // (trailing blanks do not count) empties the list.
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    auto field = dialog->Control<QLineEdit>(IDC_MUSIC_FILE);
    const auto tabThroughField = [&] {
        field->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        QTest::keyClick(field, Qt::Key_Tab);
        QApplication::processEvents();
    };
    tabThroughField();
    EXPECT_EQ(dialog->m_musicFiles, (QStringList{song, song}));
    ASSERT_TRUE(QFile::remove(song));
    tabThroughField();
    EXPECT_EQ(dialog->m_musicFiles, (QStringList{song, song}));
    dialog->SetControlText(IDC_MUSIC_FILE, QStringLiteral("   "));
    tabThroughField();
    EXPECT_TRUE(dialog->m_musicFiles.isEmpty());
}

// The proposal replaces what was typed, and stays a proposal until "GO".
TEST_F(MediaSelection, ChoosingTheOutputFolderProposesOutputDotExtensionInIt)
{
    const QString scratch = env.ScratchDir();
    for (const auto &[folder, extension, expected] :
         {std::tuple{MakeFolder("a/b c"), "mp4", scratch + "/a/b c/Output.mp4"},
          std::tuple{QStringLiteral("/"), "mp4", QStringLiteral("/Output.mp4")},
          std::tuple{MakeFolder("Videos"), "avi", scratch + "/Videos/Output.avi"}}) {
        dialog->SetControlText(IDC_OUTPUT, QStringLiteral("typed by the user"));
        dialog->m_outputExt = QString::fromLatin1(extension);
        prompter.QueueFolder(folder);
        Click(IDC_CHOOSE_OUTPUT);
        EXPECT_EQ(Text(IDC_OUTPUT), expected);
        EXPECT_TRUE(dialog->m_outputPath.isEmpty());
    }
}

} // namespace
