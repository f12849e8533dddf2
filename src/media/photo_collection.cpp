// The photo collection of the main window: folders of photos become rows of the
// "Selected Files" list and entries of m_photoPaths, which the movie shows in order.
//
// Row i of the list and entry i of m_photoPaths always describe the same photo. Every
// operation here changes both together, by index, so that a folder added twice (and so
// the same path in several rows) can never put them out of step.

#include "app/main_dialog.h"
#include "media/chooser_folders.h"
#include "platform/file_system.h"
#include "platform/prompter.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <functional>

using namespace ids;

namespace {

// The extension groups, in the order in which they are listed.
const char *const kPhotoExtensions[] = {"jpg", "jpeg", "bmp", "gif"};

enum PhotoColumn { kNameColumn = 0, kDateColumn = 1, kFolderColumn = 2, kColumnCount = 3 };

// A folder and a name in it. The chooser gives folders without a trailing '/', except
// the root itself.
QString JoinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// Passes one kind of event of a control to a handler of the main window. Owned by the
// control it watches.
class EventHook final : public QObject
{
public:
    // `handler` returns true when it has answered the event (the control does not see it).
    EventHook(QWidget *watched, std::function<bool(QEvent *)> handler)
        : QObject(watched)
        , m_handler(std::move(handler))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent() && m_handler(event))
            return true;
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<bool(QEvent *)> m_handler;
};

// The selected row of the list, or -1 when none is selected.
int SelectedRow(const QTreeWidget *list)
{
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    if (selected.isEmpty())
        return -1;
    return list->indexOfTopLevelItem(selected.first());
}

void SelectRow(QTreeWidget *list, int row)
{
    QTreeWidgetItem *item = list->topLevelItem(row);
    list->setCurrentItem(item);
    item->setSelected(true);
}

// Every change keeps the list and the path entries of equal length, and moving rows relies
// on it. Should they ever differ, a move does nothing rather than touch a missing entry.
bool InStep(const QTreeWidget *list, const QStringList &paths)
{
    const bool inStep = list->topLevelItemCount() == paths.size();
    Q_ASSERT(inStep);
    return inStep;
}

// Exchanges the three texts of two rows; row `to` is written first.
void SwapRowTexts(QTreeWidget *list, int from, int to)
{
    QTreeWidgetItem *a = list->topLevelItem(from);
    QTreeWidgetItem *b = list->topLevelItem(to);
    QString fromTexts[kColumnCount], toTexts[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) {
        fromTexts[c] = a->text(c);
        toTexts[c] = b->text(c);
    }
    for (int c = 0; c < kColumnCount; ++c)
        b->setText(c, fromTexts[c]);
    for (int c = 0; c < kColumnCount; ++c)
        a->setText(c, toTexts[c]);
}

} // namespace

void MainDialog::InitPhotoListColumns()
{
    m_columnTitles.clear();
    m_columnTitles << QStringLiteral("File Name") << QStringLiteral("Create Date")
                   << QStringLiteral("Path");
    const int width = m_photoList->contentsRect().width() / static_cast<int>(m_columnTitles.size());
    m_photoList->setColumnCount(static_cast<int>(m_columnTitles.size()));
    m_photoList->setHeaderLabels(m_columnTitles);
    for (int i = 0; i < m_columnTitles.size(); ++i) {
        m_photoList->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
        m_photoList->setColumnWidth(i, width);
    }
}

void MainDialog::ConnectSelectionNotifications()
{
    // The Delete key in the list removes the selected row, but only while "Remove" may be
    // used (not while a movie is being made). The key is answered in every case; other
    // keys are left to the list.
    new EventHook(m_photoList, [this](QEvent *event) {
        if (event->type() != QEvent::KeyPress
            || static_cast<QKeyEvent *>(event)->key() != Qt::Key_Delete)
            return false;
        if (Control(IDC_REMOVE)->isEnabled())
            OnRemovePhoto();
        return true;
    });
    new EventHook(Control(IDC_MUSIC_FILE), [this](QEvent *event) {
        if (event->type() == QEvent::FocusOut)
            OnMusicFieldKillFocus();
        return false;
    });
}

QString MainDialog::BrowseForFolder(const QString &startFolder)
{
    return m_services.prompter->BrowseForFolder(startFolder);
}

void MainDialog::OnAddPhotoFolder()
{
    // Next to the folder added last, else in the user's pictures.
    const QStringList shownFolders = ControlText(IDC_PHOTO_FOLDERS).split(u';', Qt::SkipEmptyParts);
    const QString folder = BrowseForFolder(
        media::ChooserStartFolder(shownFolders.isEmpty() ? QString() : shownFolders.last(),
                                  QStandardPaths::PicturesLocation));
    // The edit box lists every folder asked for; a cancelled chooser still adds its
    // separator.
    const QString shown = ControlText(IDC_PHOTO_FOLDERS);
    SetControlText(IDC_PHOTO_FOLDERS, shown.isEmpty() ? folder : shown + u';' + folder);
    if (!folder.isEmpty()) {
        for (const char *extension : kPhotoExtensions)
            ScanFolder(folder, QString::fromLatin1(extension));
    }
    UpdatePhotoCount();
}

int MainDialog::ScanFolder(const QString &folder, const QString &extension)
{
    // The folder and the names are taken exactly as they are: on this system a name may
    // end in blanks, and trimming them would scan or list another folder.
    platform::FileSystem &fs = *m_services.fileSystem;
    const QStringList names = fs.FindByExtension(folder, extension);
    for (const QString &name : names) {
        const QString path = JoinPath(folder, name);
        const auto status = fs.Status(path);
        // Only files are photos: a folder, a device or a FIFO named like one is not listed
        // (reading a FIFO would wait for a writer that never comes).
        if (status && !status->isRegularFile)
            continue;
        auto item = new QTreeWidgetItem;
        item->setText(kNameColumn, name);
        if (status) {
            item->setText(kDateColumn,
                          status->created.toLocalTime().toString(QStringLiteral("MM-dd-yyyy")));
            m_totalPhotoBytes += status->size;
        }
        item->setText(kFolderColumn, folder);
        m_photoList->addTopLevelItem(item);
        m_photoPaths.append(path);
    }
    return m_photoList->topLevelItemCount();
}

void MainDialog::OnRemovePhoto()
{
    const int row = SelectedRow(m_photoList);
    if (row >= 0) {
        QTreeWidgetItem *item = m_photoList->topLevelItem(row);
        const QString path = JoinPath(item->text(kFolderColumn), item->text(kNameColumn));
        // The file's size now: a file deleted since it was listed subtracts nothing.
        if (const auto status = m_services.fileSystem->Status(path))
            m_totalPhotoBytes -= status->size;
        RemovePhotoPath(row);
        delete m_photoList->takeTopLevelItem(row);
        if (row > 0) {
            SelectRow(m_photoList, row - 1);
            m_photoList->setFocus();
            m_photoList->viewport()->repaint();
        } else {
            m_photoList->clearSelection();
        }
    }
    UpdatePhotoCount();
    repaint();
}

bool MainDialog::RemovePhotoPath(int row)
{
    if (row < 0 || row >= m_photoPaths.size())
        return false;
    m_photoPaths.removeAt(row);
    return true;
}

void MainDialog::OnRemoveAllPhotos()
{
    m_photoList->clear();
    m_photoPaths.clear();
    m_totalPhotoBytes = 0;
    SetControlText(IDC_PHOTO_FOLDERS, QString());
    UpdatePhotoCount();
    UpdateData(false);
}

void MainDialog::OnPhotoUp()
{
    const int row = SelectedRow(m_photoList);
    if (row <= 0 || !InStep(m_photoList, m_photoPaths))
        return;
    SwapRowTexts(m_photoList, row, row - 1);
    // The selection follows the moved photo.
    SelectRow(m_photoList, row - 1);
    m_photoList->setFocus();
    m_photoPaths.move(row, row - 1);
    UpdateData(true);
}

void MainDialog::OnPhotoDown()
{
    const int row = SelectedRow(m_photoList);
    if (row < 0 || row >= m_photoList->topLevelItemCount() - 1
        || !InStep(m_photoList, m_photoPaths))
        return;
    SwapRowTexts(m_photoList, row, row + 1);
    SelectRow(m_photoList, row + 1);
    m_photoList->setFocus();
    m_photoPaths.move(row, row + 1);
    UpdateData(false);
}

void MainDialog::RecountPhotoBytes()
{
    qint64 total = 0;
    for (const QString &path : std::as_const(m_photoPaths)) {
        if (const auto status = m_services.fileSystem->Status(path))
            total += status->size;
    }
    m_totalPhotoBytes = total;
}

void MainDialog::UpdatePhotoCount()
{
    SetControlText(IDC_PHOTO_COUNT,
                   m_photoPaths.isEmpty() ? QString() : QString::number(m_photoPaths.size()));
}
