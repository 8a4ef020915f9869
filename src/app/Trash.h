#pragma once
// Moving files and folders to the user's trash, following the freedesktop
// trash layout: the home trash for items on the home trash's file system,
// the file system's own ".Trash-<uid>" for items elsewhere. An item is only
// ever renamed into a trash, never copied and never deleted: when no trash
// can take it, it stays where it is.
#include <QByteArray>

namespace Trash {
// True when the item was moved; a path that does not exist is false too.
bool moveToTrash(const QByteArray &path);
// The home trash folder: $XDG_DATA_HOME/Trash.
QByteArray homeTrash();
}
