#pragma once
// The user's standard folders on a freedesktop system, as byte paths.
#include <QByteArray>
#include <QString>
#include <optional>

namespace StandardFolders {
QByteArray home();
// The XDG Downloads folder ($XDG_DOWNLOAD_DIR, then user-dirs.dirs, then an
// existing ~/Downloads); none when the user has none.
std::optional<QByteArray> downloads();
// The XDG Music folder, found the same way; ~/Music when the user has none.
QByteArray music();
// $XDG_DATA_HOME, or ~/.local/share; none when there is no home folder.
std::optional<QByteArray> dataHome();
QByteArray configHome();
// Rivulet's own data folder: dataHome() + "/Rivulet", or the temporary
// folder's "Rivulet" when there is no home folder.
QByteArray applicationSupport();
// Makes applicationSupport() private to this account before anything is put
// in it: made 0700 when missing (with the XDG data folder, 0700), tightened
// to 0700 when an earlier version left it open. In the shared temporary
// folder only a folder of this account's own, of mode 0700, is used: anyone
// may plant one there. Empty when the folder may be used, else why not.
QString prepareApplicationSupport();
// An absolute path in its clean form: no empty, "." or ".." components and no
// trailing "/", worked out on the bytes; none for a relative path.
std::optional<QByteArray> cleanAbsolutePath(const QByteArray &path);
}
