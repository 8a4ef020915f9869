#pragma once
// Names the import pipeline and the unpacking share.
#include <QByteArray>

// "zip" or "rar" for an archive's path by its extension, else empty.
QByteArray archiveType(const QByteArray &path);

// The folder an archive's unpacked files are kept in: its name without the
// extension when that names a child folder, else "Unpacked archive".
QByteArray keepFolderName(const QByteArray &archive, const QByteArray &type);
