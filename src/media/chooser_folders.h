#pragma once
// Where the music, photo and output choosers open.

#include <QStandardPaths>
#include <QString>

namespace media {

// The folder that holds `held` (the file or folder a box shows) when that folder exists;
// otherwise the user's folder of this kind (XDG_MUSIC_DIR, XDG_PICTURES_DIR,
// XDG_VIDEOS_DIR) when it exists; otherwise the home folder.
QString ChooserStartFolder(const QString &held, QStandardPaths::StandardLocation kind);

} // namespace media
