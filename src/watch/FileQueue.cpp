// The queue of files waiting to settle.
#include "watch/FileQueue.h"

#include "store/File.h"

#include <QHash>

const FileQueueEntry *FileQueue::find(const File *file) const
{
    for (const FileQueueEntry &e : m_entries)
        if (e.file == file)
            return &e;
    return nullptr;
}

void FileQueue::add(File *file, quint64 size, const std::optional<Date> &mtime)
{
    if (!file)
        return;
    const FileQueueEntry entry{file, std::chrono::steady_clock::now(), size, mtime};
    const QByteArray name = file->name();
    if (m_names.contains(name)) {
        for (FileQueueEntry &e : m_entries)
            if (e.file == file)
                e = entry;
        return;
    }
    m_names.insert(name);
    m_entries.append(entry);
}

QList<FileQueueEntry> FileQueue::takeAll()
{
    QList<FileQueueEntry> taken = std::move(m_entries);
    m_entries.clear();
    m_names.clear();
    return taken;
}

void FileQueue::putBack(QList<FileQueueEntry> kept)
{
    QHash<File *, FileQueueEntry> newer;
    for (const FileQueueEntry &e : std::as_const(m_entries))
        newer.insert(e.file, e);
    for (FileQueueEntry &e : kept)
        if (newer.contains(e.file) && newer.value(e.file).since > e.since)
            e = newer.value(e.file);
    QSet<QByteArray> names;
    for (const FileQueueEntry &e : std::as_const(kept))
        names.insert(e.file->name());
    for (const FileQueueEntry &e : std::as_const(m_entries))
        if (!names.contains(e.file->name())) {
            names.insert(e.file->name());
            kept.append(e);
        }
    // A scan inside a hand-over may have queued the very file being handed
    // over; one dated ahead keeps its record, which must not go round again.
    kept.removeIf([](const FileQueueEntry &e) {
        return !e.file->isDeleted() && e.file->modified() && e.file->modified() == e.mtime && e.file->size() == e.size;
    });
    m_entries = std::move(kept);
    namesChanged();
}

void FileQueue::namesChanged()
{
    m_names.clear();
    for (const FileQueueEntry &e : std::as_const(m_entries))
        m_names.insert(e.file->name());
}
