#pragma once
// Copies a file into the music library's folder under a name the library
// can take (valid UTF-8, no control characters, at most 255 bytes). A file
// with identical content already there under that name is used again, so a
// repeated import makes no second copy. Returns the path relative to the
// music folder, or none when the copy failed.
//
// Downloads come from the internet: the source is opened without following
// a link and without waiting on a fifo, only a regular file is copied, no
// more than the size it had when opened, and the copy keeps the source's
// permission bits within the user's umask (a private file stays private).
#include <QByteArray>
#include <QList>
#include <optional>

QByteArray libraryFileName(const QByteArray &leaf);
// made (when given) tells whether this call wrote a new copy, which the
// caller may remove again when the library does not take it. Without flush
// the copy is written back by the system in its own time, like any plain
// copy: for a batch, where waiting for each file would cost more than all
// the rest (the originals stay until the user empties the Trash).
std::optional<QByteArray> copyIntoLibrary(const QByteArray &path, const QByteArray &musicFolder, const QByteArray &subfolder,
                                          bool *made = nullptr, bool flush = true);
// Every folder copies went into in this run (the music folder's subfolder),
// and whether a path lies in one of them, as written or wherever links lead:
// a library copy is never a download, whatever folder is watched.
QList<QByteArray> libraryCopyFolders();
bool isInLibraryCopyFolder(const QByteArray &path);
void noteLibraryCopyFolder(const QByteArray &folder);
// Makes a folder and its missing parents, by bytes.
bool makeFolders(const QByteArray &path);
// The process's umask, read without changing it (other threads may create files).
unsigned currentUmask();
