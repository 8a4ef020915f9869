#pragma once
// Copies a file into the music library's folder under a name the library
// can take (valid UTF-8, no control characters, at most 255 bytes). A file
// with identical content already there under that name is used again, so a
// repeated import makes no second copy. Returns the path relative to the
// music folder, or none when the copy failed.
#include <QByteArray>
#include <optional>

QByteArray libraryFileName(const QByteArray &leaf);
std::optional<QByteArray> copyIntoLibrary(const QByteArray &path, const QByteArray &musicFolder, const QByteArray &subfolder);
