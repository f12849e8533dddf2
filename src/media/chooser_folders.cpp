#include "media/chooser_folders.h"

#include <QDir>
#include <QFileInfo>

namespace media {

QString ChooserStartFolder(const QString &held, QStandardPaths::StandardLocation kind)
{
    // A relative text in a box says nothing about where the user's files are.
    const QFileInfo heldInfo(held.trimmed());
    if (!held.trimmed().isEmpty() && heldInfo.isAbsolute() && QFileInfo(heldInfo.path()).isDir())
        return heldInfo.path();
    // Qt reads the user's folders from user-dirs.dirs; an unset one names a folder under
    // home that may not exist.
    const QString usual = QStandardPaths::writableLocation(kind);
    if (!usual.isEmpty() && QFileInfo(usual).isDir())
        return usual;
    return QDir::homePath();
}

} // namespace media
