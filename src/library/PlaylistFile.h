#pragma once
// The stored playlist as an M3U file any player opens: it lies in the music
// folder, so the entries MPD keeps (relative to that folder) resolve from
// the file's own folder.
#include <QByteArray>
#include <QList>

// Writes the entries, one a line, replacing the file in one step; a file
// that already holds them is left untouched. False when it could not be written.
bool writeM3u(const QByteArray &path, const QList<QByteArray> &entries);
