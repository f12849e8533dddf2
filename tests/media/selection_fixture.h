#pragma once
// A main window driven offscreen with a scripted prompter over the real file system,
// and a scratch folder to put photos and music in.

#include "app/main_dialog.h"
#include "common/doubles.h"
#include "common/environment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <ostream>

namespace selection_test {

class SelectionFixture
{
protected:
    void OpenWindow()
    {
        dialog = std::make_unique<MainDialog>(testing_support::TestServices(prompter, clock));
        // The list's columns, as the window's initialisation makes them.
        dialog->InitPhotoListColumns();
        dialog->show();
        QApplication::processEvents();
    }

    // A folder under the scratch folder, made now.
    QString MakeFolder(const QString &name) const
    {
        const QString path = env.ScratchDir() + u'/' + name;
        QDir().mkpath(path);
        return path;
    }

    // A file of `size` bytes in `folder`; returns its full path.
    static QString MakeFile(const QString &folder, const QString &name, int size)
    {
        return testing_support::WriteFile(folder + u'/' + name, QByteArray(size, 'x'));
    }

    // Presses a button of the window with the mouse.
    void Click(int id) const
    {
        auto button = dialog->Control<QPushButton>(id);
        ASSERT_NE(button, nullptr) << id;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Adds a folder through the photos "..." button, the chooser answering `folder`.
    void AddFolder(const QString &folder)
    {
        prompter.QueueFolder(folder);
        Click(ids::IDC_ADD_PHOTOS);
    }

    // Selects a row with the mouse.
    void ClickRow(int row) const
    {
        QTreeWidget *list = dialog->m_photoList;
        QTreeWidgetItem *item = list->topLevelItem(row);
        ASSERT_NE(item, nullptr) << row;
        list->scrollToItem(item);
        QTest::mouseClick(
            list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    }

    int SelectedRow() const
    {
        const QList<QTreeWidgetItem *> selected = dialog->m_photoList->selectedItems();
        return selected.isEmpty() ? -1 : dialog->m_photoList->indexOfTopLevelItem(selected.first());
    }

    QStringList RowTexts(int column) const
    {
        QStringList texts;
        for (int i = 0; i < dialog->m_photoList->topLevelItemCount(); ++i)
            texts << dialog->m_photoList->topLevelItem(i)->text(column);
        return texts;
    }

    // Each row's folder + '/' + name, the photo that the row shows.
    QStringList RowPaths() const
    {
        QStringList paths;
        for (int i = 0; i < dialog->m_photoList->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = dialog->m_photoList->topLevelItem(i);
            paths << item->text(2) + u'/' + item->text(0);
        }
        return paths;
    }

    QString Text(int id) const { return dialog->ControlText(id); }

    testing_support::TestEnvironment env;
    testing_support::ScriptedPrompter prompter;
    testing_support::FakeClock clock;
    std::unique_ptr<MainDialog> dialog;
};

} // namespace selection_test

// Readable texts in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
