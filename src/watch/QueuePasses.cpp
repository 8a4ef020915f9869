// The queue passes: a file found new or changed waits in the queue until it
// has stayed unchanged for the settle time, and is then handed over.
#include "base/Log.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/ManagedObjectContext.h"
#include "watch/DirectoryDiffer.h"

#include <QElapsedTimer>
#include <QTimer>

#include <sys/stat.h>

namespace {
bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}
}

void DirectoryDiffer::scheduleQueuePass(double seconds)
{
    if (m_passTimer)
        m_passTimer->start(int(seconds * 1000));
}

// The records of handed-over and gone files are freed between passes: only
// this thread holds file records, and of those only the queue keeps any.
void DirectoryDiffer::reclaimFileRecords()
{
    if (ManagedObjectContext *ctx = managedObjectContext())
        ctx->reclaimDeleted([this](const ManagedObject *o) {
            const auto *file = dynamic_cast<const File *>(o);
            return file && !m_fileQueue.find(file);
        });
}

// A file dated ahead of the clock stays "new" at every scan until its date has
// passed: its record is kept after the hand-over, with the size and date it was
// handed over with, so an unchanged one is not handed over again (also after a
// restart). Only such records carry a date; waiting records carry none.
void DirectoryDiffer::handOver(File *file, quint64 size, const std::optional<Date> &mtime)
{
    const QByteArray name = file->name();
    DirectoryDifferDelegate *delegate = m_delegate;
    m_inHandOver = true;
    delegate->startIconAnimation();
    delegate->directoryDifferFileAddedOrUpdated(this, name);
    m_inHandOver = false;
    if (file->isDeleted())
        return;
    // An import cut short (a quit, a full disk) keeps its record as waiting:
    // the next start offers the file again.
    if (delegate->directoryDifferImportInterrupted(this, name)) {
        Log::f("%@ was not imported to the end; it is offered again at the next start", name);
        return;
    }
    // Rewritten while it was imported: a scan queued it again, in its new form.
    if (const FileQueueEntry *again = m_fileQueue.find(file); again && (again->size != size || again->mtime != mtime))
        return;
    if (mtime && *mtime > dateNow()) {
        file->setSize(size);
        file->setModified(mtime);
    } else if (Directory *now = file->directory()) {
        // Where the record is now: its folder may have been renamed while
        // the import turned this thread's loop.
        now->deleteFileNamed(file->name(), true);
    }
}

bool DirectoryDiffer::isHandedOverDatedAhead(const File *record) const
{
    return record && record->modified() && !m_fileQueue.contains(record->name());
}

// One pass over the queue: a file unchanged for the settle time is handed
// over, a changed one waits again; a pass that runs long leaves the rest
// for a quick next pass. Returns what stays queued.
QList<FileQueueEntry> DirectoryDiffer::passOverQueue(const QList<FileQueueEntry> &taken, bool *hurry, bool *handedOver)
{
    const auto settle = std::chrono::nanoseconds(qint64(m_timings.settleSeconds * 1e9));
    const auto renameGrace = std::chrono::nanoseconds(qint64(std::max(2.0, 4 * m_timings.latencySeconds) * 1e9));
    QList<FileQueueEntry> kept;
    QElapsedTimer started;
    started.start();
    for (const FileQueueEntry &entry : taken) {
        if (*hurry || m_cancelled || !m_watching) {
            kept << entry;
            continue;
        }
        File *file = entry.file;
        Directory *dir = file->isDeleted() ? nullptr : file->directory();
        if (!dir)
            continue; // its folder was removed from the watched tree meanwhile
        if (std::chrono::steady_clock::now() - entry.since > settle) {
            const QByteArray name = file->name();
            quint64 size = 0;
            const std::optional<Date> mtime = dir->mtimeForFilename(name, true, &size);
            if (!mtime) {
                // Its folder gone too: most likely renamed, the event on its
                // way; the records follow it then. Gone for good after a while.
                if (!isFolder(dir->name()) && std::chrono::steady_clock::now() - entry.since < settle + renameGrace)
                    kept << entry;
                else
                    dir->deleteFileNamed(name, true); // gone, or no longer a regular file
            } else if (size == entry.size && mtime == entry.mtime) {
                handOver(file, size, mtime);
                *handedOver = true;
            } else {
                file->setSize(size);
                kept << FileQueueEntry{file, std::chrono::steady_clock::now(), size, mtime};
            }
        } else {
            kept << entry;
        }
        if (double(started.nsecsElapsed()) / 1e9 > m_timings.hurrySeconds)
            *hurry = true;
    }
    return kept;
}

void DirectoryDiffer::processQueue()
{
    if (!m_watching)
        return;
    if (m_inPass || m_inHandOver) {
        // A hand-over turns this thread's event loop: a pass is never run
        // inside another one; the running pass schedules the next.
        std::lock_guard lock(m_statsMutex);
        ++m_stats.deferredPasses;
        return;
    }
    m_inPass = true;
    {
        std::lock_guard lock(m_statsMutex);
        ++m_stats.passes;
    }
    bool hurry = false;
    bool handedOver = false;
    if (!m_fileQueue.isEmpty())
        m_fileQueue.putBack(passOverQueue(m_fileQueue.takeAll(), &hurry, &handedOver));
    m_inPass = false;
    // A record left in the saved store means "still waiting": once files
    // are handed over, the store must say so, or the next start would
    // import them again.
    if (handedOver) {
        save();
        reclaimFileRecords();
    }
    if (!m_watching)
        return;
    if (hurry) {
        Log::f("hurry up");
        scheduleQueuePass(m_timings.hurrySeconds);
    } else {
        m_delegate.load()->stopIconAnimation();
        scheduleQueuePass(m_timings.passSeconds);
    }
}

void DirectoryDiffer::queueFile(File *file, quint64 size, const std::optional<Date> &mtime)
{
    m_fileQueue.add(file, size, mtime);
}
