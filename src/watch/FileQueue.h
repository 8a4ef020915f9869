#pragma once

#include "base/Date.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <chrono>
#include <optional>

class File;

// Queue ages are measured on the steady clock: a step of the wall clock must
// neither shorten nor stretch the settle wait.
using SteadyTime = std::chrono::steady_clock::time_point;

struct FileQueueEntry {
    File *file = nullptr;
    SteadyTime since{}; // when the file was last seen changing
    // Its size and date when last seen: it is settled while they stay.
    quint64 size = 0;
    std::optional<Date> mtime;
};

// The files waiting to settle, in the order they were found, and the set of
// their names for quick tests: the two change only together, here.
class FileQueue {
public:
    bool isEmpty() const { return m_entries.isEmpty(); }
    const QList<FileQueueEntry> &entries() const { return m_entries; }
    bool contains(const QByteArray &name) const { return m_names.contains(name); }
    const FileQueueEntry *find(const File *file) const;
    // Queues the file; one queued already starts its wait over: it has not
    // settled, and keeping the older date would let a pass hand over a file
    // still being written.
    void add(File *file, quint64 size, const std::optional<Date> &mtime);
    // Empties the queue for a pass.
    QList<FileQueueEntry> takeAll();
    // Puts back what a pass kept. What scans queued during the pass joins it,
    // and a newer sighting of the same file wins.
    void putBack(QList<FileQueueEntry> kept);
    // Records' names changed (a folder was renamed).
    void namesChanged();

private:
    QList<FileQueueEntry> m_entries;
    QSet<QByteArray> m_names;
};
