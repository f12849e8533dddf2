#pragma once
// Message boxes and the two choosers. Handlers never open a QMessageBox or a QFileDialog
// themselves; they ask the Prompter, which tests replace by a scripted one.
//
// A box asked for on another thread (the conversion worker) is shown on the main thread,
// and the asking thread waits for the answer.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace platform {

enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageIcon { None, Exclamation, Information };
enum class MessageResult { Ok, Cancel, Yes, No };

class Prompter
{
public:
    virtual ~Prompter() = default;

    // The application message box: OK button, exclamation icon, the application's title
    // as caption, owned by the application's active window.
    virtual MessageResult AppMessageBox(const QString &text) = 0;
    // A box owned by `owner` with an explicit caption, buttons and icon.
    virtual MessageResult MessageBox(QWidget *owner,
                                     const QString &text,
                                     const QString &caption,
                                     MessageButtons buttons,
                                     MessageIcon icon)
        = 0;
    // The folder chooser (no owner, whole file system, no title), opened at startFolder.
    // The chosen folder's path without a trailing '/' (except the root "/"), or an empty
    // text when cancelled.
    virtual QString BrowseForFolder(const QString &startFolder) = 0;
    // The file-open dialog, opened at startFolder. `filterList` is
    // "desc|pattern|desc|pattern|...||"; its first entry is selected at first. Returns the
    // chosen file's full path, or nothing when cancelled. With fileMustExist only existing
    // files can be chosen.
    virtual std::optional<QString> OpenFile(QWidget *parent,
                                            const QString &filterList,
                                            bool fileMustExist,
                                            const QString &startFolder)
        = 0;

    // While `decline` is on, every box and chooser is answered as a person declining it
    // would (Cancel, No, or OK where that is the only button; a chooser is cancelled):
    // those open now are closed so, later ones are answered at once without showing. For
    // a program that must end now (a termination signal). Main thread only.
    virtual void DeclineBoxes(bool /*decline*/) {}
    // True while a box or chooser has been shown and its call has not returned yet.
    virtual bool AnyBoxOpen() const { return false; }
};

// The application's title: the program file's name without its extension.
QString ApplicationTitle();

// "mp3 file|*.mp3|All Files|*.*||" -> {"mp3 file (*.mp3)", "All Files (*)"}: "*.*" means
// every file, with or without an extension, as it does where these lists come from.
// A pattern list such as "*.jpg;*.gif" becomes "*.jpg *.gif". A description without a
// pattern is dropped; the list ends at the first empty description.
QStringList ParseFilterList(const QString &filterList);

// The Prompter on QMessageBox and QFileDialog.
Prompter &TheQtPrompter();

} // namespace platform
