#include "selection_fixture.h"

#include <QCheckBox>
#include <QDate>
#include <QFile>

#include <sys/stat.h>

using namespace ids;
using selection_test::SelectionFixture;

namespace {

class PhotoCollection : public SelectionFixture, public ::testing::Test
{
protected:
    void SetUp() override { OpenWindow(); }

    // A folder of `count` JPEG files p0.jpg, p1.jpg, ... of sizes 100, 101, ...
    QString FolderOfPhotos(int count)
    {
        const QString folder = MakeFolder(QStringLiteral("photos"));
        for (int i = 0; i < count; ++i)
            MakeFile(folder, QStringLiteral("p%1.jpg").arg(i), 100 + i);
        return folder;
    }

    // Rows and path entries describe the same photos, in the same order.
    void ExpectRowsAndPathsInStep() const { EXPECT_EQ(RowPaths(), dialog->m_photoPaths); }
};

TEST_F(PhotoCollection, ExtensionGroupsDecideTheOrderNotTheNames)
{
    const QString folder = MakeFolder(QStringLiteral("mixed"));
    MakeFile(folder, QStringLiteral("a.gif"), 10);
    MakeFile(folder, QStringLiteral("b.bmp"), 200);
    MakeFile(folder, QStringLiteral("c.jpeg"), 3000);
    MakeFile(folder, QStringLiteral("d.JPG"), 40000);
    MakeFile(folder, QStringLiteral("notes.txt"), 7);
    MakeFile(folder, QStringLiteral("jpg"), 7);
    // Only files are photos: a sub-folder or a FIFO named like one is not listed.
    QDir().mkpath(folder + QStringLiteral("/e.jpg"));
    ASSERT_EQ(mkfifo(QFile::encodeName(folder + QStringLiteral("/f.jpg")).constData(), 0600), 0);

    const QString before = QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"));
    AddFolder(folder);
    const QString after = QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy"));

    EXPECT_EQ(RowTexts(0),
              (QStringList{QStringLiteral("d.JPG"),
                           QStringLiteral("c.jpeg"),
                           QStringLiteral("b.bmp"),
                           QStringLiteral("a.gif")}));
    EXPECT_EQ(RowTexts(2), QStringList(4, folder));
    for (const QString &date : RowTexts(1))
        EXPECT_TRUE(date == before || date == after) << date.toStdString();
    EXPECT_EQ(dialog->m_photoPaths,
              (QStringList{folder + QStringLiteral("/d.JPG"),
                           folder + QStringLiteral("/c.jpeg"),
                           folder + QStringLiteral("/b.bmp"),
                           folder + QStringLiteral("/a.gif")}));
    EXPECT_EQ(dialog->m_totalPhotoBytes, 43210);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QStringLiteral("4"));
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), folder);
    EXPECT_TRUE(dialog->m_photoList->selectedItems().isEmpty());
}

TEST_F(PhotoCollection, AFolderAddedTwiceIsListedAndCountedTwice)
{
    const QString folder = FolderOfPhotos(2);
    AddFolder(folder);
    AddFolder(folder);
    EXPECT_EQ(RowTexts(0),
              (QStringList{QStringLiteral("p0.jpg"),
                           QStringLiteral("p1.jpg"),
                           QStringLiteral("p0.jpg"),
                           QStringLiteral("p1.jpg")}));
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(dialog->m_totalPhotoBytes, 2 * (100 + 101));
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QStringLiteral("4"));
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), folder + u';' + folder);

    // Removing one of the two rows of a photo takes only its own entry: rows and entries
    // stay in step, and Up and Down keep working on the right photos.
    ClickRow(2);
    Click(IDC_REMOVE);
    EXPECT_EQ(RowTexts(0),
              (QStringList{
                  QStringLiteral("p0.jpg"), QStringLiteral("p1.jpg"), QStringLiteral("p1.jpg")}));
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(dialog->m_totalPhotoBytes, 100 + 2 * 101);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QStringLiteral("3"));
    ClickRow(0);
    Click(IDC_DOWN);
    Click(IDC_DOWN);
    EXPECT_EQ(RowTexts(0),
              (QStringList{
                  QStringLiteral("p1.jpg"), QStringLiteral("p1.jpg"), QStringLiteral("p0.jpg")}));
    ExpectRowsAndPathsInStep();
}

// Removing a row: by the button or by the Delete key in the list.
struct RemoveCase
{
    const char *name;
    int photos;
    int removed;
    int selectedAfter; // -1: none
    bool byKey;
};

class RemovingARow : public PhotoCollection, public ::testing::WithParamInterface<RemoveCase>
{};

TEST_P(RemovingARow, TakesRowEntryAndSizeAndMovesTheSelectionUp)
{
    const RemoveCase &c = GetParam();
    AddFolder(FolderOfPhotos(c.photos));
    QStringList expectedNames = RowTexts(0);
    expectedNames.removeAt(c.removed);
    qint64 expectedTotal = 0;
    for (int i = 0; i < c.photos; ++i)
        expectedTotal += i == c.removed ? 0 : 100 + i;

    ClickRow(c.removed);
    if (c.byKey)
        QTest::keyClick(dialog->m_photoList, Qt::Key_Delete);
    else
        Click(IDC_REMOVE);

    EXPECT_EQ(RowTexts(0), expectedNames);
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(dialog->m_totalPhotoBytes, expectedTotal);
    EXPECT_EQ(SelectedRow(), c.selectedAfter);
    if (c.selectedAfter >= 0) {
        EXPECT_EQ(dialog->m_photoList->currentItem(),
                  dialog->m_photoList->topLevelItem(c.selectedAfter));
    }
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), c.photos > 1 ? QString::number(c.photos - 1) : QString());
}

INSTANTIATE_TEST_SUITE_P(Rows,
                         RemovingARow,
                         ::testing::Values(RemoveCase{"FirstOfSeveral", 5, 0, -1, false},
                                           RemoveCase{"FourthOfFive", 5, 3, 2, false},
                                           RemoveCase{"Last", 5, 4, 3, false},
                                           RemoveCase{"Only", 1, 0, -1, false},
                                           RemoveCase{"FirstByKey", 3, 0, -1, true},
                                           RemoveCase{"MiddleByKey", 3, 1, 0, true},
                                           RemoveCase{"OnlyByKey", 1, 0, -1, true}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(PhotoCollection, RemoveAllEmptiesEverythingAndShowsTheRecord)
{
    AddFolder(FolderOfPhotos(1));
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QStringLiteral("1"));
    auto effect = dialog->Control<QCheckBox>(IDC_EFFECT);
    effect->setChecked(false); // not yet taken into the record
    Click(IDC_REMOVE_ALL);
    EXPECT_EQ(dialog->m_photoList->topLevelItemCount(), 0);
    EXPECT_TRUE(dialog->m_photoPaths.isEmpty());
    EXPECT_EQ(dialog->m_totalPhotoBytes, 0);
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), QString());
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QString());
    EXPECT_TRUE(effect->isChecked());
    // The list takes new folders after it.
    AddFolder(FolderOfPhotos(2));
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(Text(IDC_PHOTO_FOLDERS), env.ScratchDir() + QStringLiteral("/photos"));
}

// Up and Down on four photos p0..p3.
struct MoveCase
{
    const char *name;
    int selected;
    int button;
    const char *order; // digits of the photos after the move
    int selectedAfter;
};

class MovingARow : public PhotoCollection, public ::testing::WithParamInterface<MoveCase>
{};

TEST_P(MovingARow, RowsAndPathsMoveTogetherAndTheSelectionFollows)
{
    const MoveCase &c = GetParam();
    const QString folder = FolderOfPhotos(4);
    AddFolder(folder);
    const QStringList datesBefore = RowTexts(1);
    ClickRow(c.selected);
    Click(c.button);

    QStringList expected;
    for (const char *digit = c.order; *digit; ++digit)
        expected << folder + QStringLiteral("/p%1.jpg").arg(QChar::fromLatin1(*digit));
    EXPECT_EQ(dialog->m_photoPaths, expected);
    ExpectRowsAndPathsInStep();
    EXPECT_EQ(RowTexts(1), datesBefore); // all four were made the same day
    EXPECT_EQ(RowTexts(2), QStringList(4, folder));
    EXPECT_EQ(SelectedRow(), c.selectedAfter);
    EXPECT_EQ(dialog->m_totalPhotoBytes, 100 + 101 + 102 + 103);
    EXPECT_EQ(Text(IDC_PHOTO_COUNT), QStringLiteral("4"));
}

INSTANTIATE_TEST_SUITE_P(Moves,
                         MovingARow,
                         ::testing::Values(MoveCase{"UpOnFirst", 0, IDC_UP, "0123", 0},
                                           MoveCase{"UpInMiddle", 2, IDC_UP, "0213", 1},
                                           MoveCase{"UpOnLast", 3, IDC_UP, "0132", 2},
                                           MoveCase{"DownOnFirst", 0, IDC_DOWN, "1023", 1},
                                           MoveCase{"DownInMiddle", 1, IDC_DOWN, "0213", 2},
                                           MoveCase{"DownOnLast", 3, IDC_DOWN, "0123", 3}),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
