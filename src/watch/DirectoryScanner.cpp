// Scanning a watched folder for new and changed music, scanning an unpacked
// archive, and the exclusion walk that makes a folder look freshly scanned.
#include "base/Log.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/ManagedObjectContext.h"
#include "watch/DirectoryDiffer.h"
#include "watch/DirectoryListing.h"
#include "base/PathContainment.h"

#include <algorithm>
#include <sys/stat.h>

namespace {
int countEntries(const std::vector<DirectoryEntry> &entries, EntryFilter filter)
{
    int n = 0;
    for (const DirectoryEntry &e : entries)
        n += filter(e) ? 1 : 0;
    return n;
}

int keepAll(const DirectoryEntry &) { return 1; }

// Visits top and every folder record below it, parents before their children.
template <typename Visit>
void forEachFolderBelow(Directory *top, Visit visit)
{
    std::vector<Directory *> pending{top};
    while (!pending.empty()) {
        Directory *d = pending.back();
        pending.pop_back();
        const auto subs = d->subdirectories();
        pending.insert(pending.end(), subs.begin(), subs.end());
        visit(d);
    }
}
}

QString DirectoryDiffer::loggingPadForDepth(int depth)
{
    return QString(qMax(0, depth) * 2, QLatin1Char(' '));
}

void DirectoryDiffer::scanDirectory(Directory *dir, int currentDepth, bool scanningArchive, Date date)
{
    scanDirectory(dir, currentDepth, scanningArchive, date, nullptr, nullptr);
}

void DirectoryDiffer::scanDirectory(Directory *dir, int currentDepth, bool scanningArchive, Date date, int *numFiles, int *numMusicFiles)
{
    const QString pad = loggingPadForDepth(currentDepth);
    Log::f("%@Checking %@ (lastScanTime: %@)", pad, dir->name(), dir->lastScanTime());
    // The scan date never moves past the time of the scan: a file dated ahead
    // (a zip made east of here, curl -R against a fast clock) would otherwise
    // hide every later file of the folder until that time.
    const Date scanTime = dateNow();
    Date scanDate = date;
    QList<QByteArray> seen;
    if (scanningArchive)
        scanUnpackedFolder(dir, currentDepth, date, numFiles, numMusicFiles);
    else if (!scanWatchedFolder(dir, pad, scanTime, &scanDate, &seen))
        return;
    if (scanDate > scanTime)
        scanDate = scanTime;
    dir->setLastScanTime(scanDate);
    dir->setFilenames(scanningArchive ? QList<QByteArray>() : seen);
}

// An unpacked archive: its files are complete, handed over at once; its
// folders are scanned in turn.
void DirectoryDiffer::scanUnpackedFolder(Directory *dir, int currentDepth, Date date, int *numFiles, int *numMusicFiles)
{
    const QString pad = loggingPadForDepth(currentDepth);
    const auto all = listDirectory(dir->name(), keepAll);
    if (numFiles)
        *numFiles += countEntries(all, fileTester);
    // Only regular files count, as music and as files: a link or a folder
    // named like music would otherwise push the share past one.
    if (numMusicFiles)
        *numMusicFiles += countEntries(all, [](const DirectoryEntry &e) -> int { return fileTester(e) && musicFileTester(e); });
    std::vector<DirectoryEntry> entries;
    for (const DirectoryEntry &e : all)
        if (musicFileOrDirectoryTester(e))
            entries.push_back(e);
    for (const DirectoryEntry &e : entries) {
        if (e.type == kEntryTypeFile) {
            // Unpacked files are complete: hand them over at once.
            dir->deleteFileNamed(e.name, false);
            m_delegate.load()->directoryDifferFileAddedOrUpdated(this, dir->fullName(e.name, false));
        } else if (e.type == kEntryTypeFolder) {
            Directory *child = nullptr;
            if (dir->addSubdirectoryNamed(e.name, false, &child))
                Log::f("%@   %@ added (SUBDIR)", pad, child->name());
            if (!child)
                continue;
            if (currentDepth >= m_subdirMaxDepth) {
                Log::f("%@  Max subdirectory depth reached; not descending into subdirectories", pad);
            } else {
                Log::f("%@  Descending into subdirectories (depth:%i)", pad, currentDepth + 1);
                scanDirectory(child, currentDepth + 1, true, date, numFiles, numMusicFiles);
            }
        }
    }
}

// A watched folder: each music file or archive is judged against the
// folder's last scan and its record. False when the folder left the tree.
bool DirectoryDiffer::scanWatchedFolder(Directory *dir, const QString &pad, Date scanTime, Date *scanDate, QList<QByteArray> *seen)
{
    const QByteArray folder = dir->name();
    // Only regular files are ever handed over: never a link, fifo or device with a music name.
    std::vector<DirectoryEntry> entries;
    for (DirectoryEntry &e : listDirectory(folder, musicFileOrArchiveTester))
        if (e.type == kEntryTypeFile)
            entries.push_back(std::move(e));
    // The files are looked at (lstat, slow on a network disk) before the
    // store is taken, and the log lines written after it is let go.
    struct Seen {
        quint64 size = 0;
        std::optional<Date> mtime;
    };
    std::vector<Seen> stats(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        stats[i].mtime = dir->mtimeForFilename(folder + '/' + entries[i].name, true, &stats[i].size);
    // A folder renamed before its event came is not scanned as empty: its
    // record keeps its date and names for the rename to carry along.
    struct stat folderStat;
    if (::stat(folder.constData(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode)) {
        Log::f("%@  %@ is gone, not scanning", pad, folder);
        return false;
    }
    QStringList notes;
    auto note = [&notes](const char *fmt, const auto &...args) { notes << Log::format(fmt, {Log::Arg(args)...}); };
    struct LogAfter {
        QStringList &notes;
        ~LogAfter()
        {
            for (const QString &n : std::as_const(notes))
                Log::line(n);
        }
    } logAfter{notes};
    // A normal scan makes no delegate calls, so it holds the store for the rest of its length.
    ManagedObjectContext *ctx = dir->managedObjectContext();
    auto storeLock = ctx->lock();
    if (dir->isDeleted())
        return false; // the main thread removed the folder from the watched tree
    dir->setInode(folderStat.st_ino);
    const std::optional<Date> lastScan = dir->lastScanTime();
    const std::optional<QList<QByteArray>> earlier = dir->filenames();
    const std::optional<QList<QByteArray>> recentAtLastScan = dir->recentNames();
    if (!earlier)
        dir->noteFirstScanOfRun();
    const auto uncertainty = std::chrono::nanoseconds(qint64(m_timings.uncertaintySeconds * 1e9));
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirectoryEntry &e = entries[i];
        seen->append(e.name);
        const quint64 size = stats[i].size;
        const std::optional<Date> mtime = stats[i].mtime;
        File *known = dir->findFileNamed(e.name, false);
        const bool queued = known && m_fileQueue.contains(known->name());
        if (!lastScan || (mtime && *mtime > *lastScan)) {
            note("  + %@ is new (FILE): mtime: %@ size:%lu", e.name, mtime, size);
            if (isHandedOverDatedAhead(known) && known->size() == size && known->modified() == mtime) {
                note("%@    %@ is dated ahead and was handed over already, not adding", pad, e.name);
                continue;
            }
            // A file dated ahead stays "new" at every scan: while it waits
            // unchanged, a scan must not start its wait over.
            bool waitingUnchanged = false;
            if (const FileQueueEntry *q = queued ? m_fileQueue.find(known) : nullptr)
                waitingUnchanged = q->size == size && q->mtime == mtime;
            File *file = dir->addFileNamed(e.name, false, size);
            if (mtime && *mtime > *scanDate)
                *scanDate = *mtime;
            if (size == 0) {
                note("%@  %@ has zero size, remembering..", pad, e.name);
                continue;
            }
            if (!waitingUnchanged)
                queueFile(file, size, mtime);
            continue;
        }
        if (size == 0)
            continue;
        if (known) {
            if (isHandedOverDatedAhead(known)) {
                // Its date has passed: the folder's scan date covers it now,
                // unless it was written again since its hand-over.
                const bool rewritten = known->size() != size || known->modified() != mtime;
                dir->deleteFileNamed(e.name, false);
                if (rewritten) {
                    note("%@    %@ was written again since it was handed over, adding to queue", pad, e.name);
                    queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
                }
                continue;
            }
            if (known->size() == 0) {
                note("%@    %@ had zero length, now it doesn't, adding to queue", pad, e.name);
                queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
                continue;
            }
            // A record outlives its hand-over only when the program ended while the
            // file was waiting: it is still owed an import. Only the first scan of
            // the folder in a run can tell; later ones may meet records a running
            // pass holds.
            if (!earlier && !queued) {
                note("%@    %@ was still waiting when Rivulet last ended, adding to queue", pad, e.name);
                queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
                continue;
            }
        }
        if (!known && !earlier && takeVanishedWaiting(dir, e.name, size)) {
            note("%@    %@ was still waiting when Rivulet last ended, in a folder since renamed, adding to queue", pad, e.name);
            queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
            continue;
        }
        if (*mtime <= *lastScan - uncertainty)
            continue;
        if (!earlier && (!recentAtLastScan || recentAtLastScan->contains(e.name))) {
            note("%@    %@ has mtime within uncertainty time of last scan, but we haven't scanned here before on this run, not adding", pad, e.name);
            continue;
        }
        if (!earlier) {
            note("%@    %@ has mtime within uncertainty time of last scan, but came after it, before Rivulet last ended, adding", pad, e.name);
            queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
            continue;
        }
        if (const std::optional<Directory::Stamp> before = dir->recentStamp(e.name);
            before && *before != Directory::Stamp{size, mtime} && !queued) {
            note("%@    %@ has mtime within uncertainty time of last scan, but changed since, adding", pad, e.name);
            queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
            continue;
        }
        if (earlier->contains(e.name)) {
            note("%@    %@ has mtime within uncertainty time of last scan, but has been processed already, not adding", pad, e.name);
            continue;
        }
        note("%@    %@ has mtime within uncertainty time of last scan, and not in dir's list of filenames, adding", pad, e.name);
        queueFile(dir->addFileNamed(e.name, false, size), size, mtime);
    }
    *scanDate = std::min(*scanDate, scanTime);
    QList<QByteArray> recent;
    QHash<QByteArray, Directory::Stamp> stamps;
    for (size_t i = 0; i < entries.size(); ++i)
        if (stats[i].mtime && *stats[i].mtime > *scanDate - uncertainty) {
            recent << entries[i].name;
            stamps.insert(entries[i].name, {stats[i].size, stats[i].mtime});
        }
    dir->setRecentNames(recent, stamps);
    return true;
}

float DirectoryDiffer::scanDirectoryAtPath(const QByteArray &path)
{
    if (!checkMOC())
        return 0;
    ManagedObjectContext *ctx = managedObjectContext();
    auto *dir = ctx->insertNew<Directory>();
    dir->setName(path);
    int numFiles = 0, numMusicFiles = 0;
    scanDirectory(dir, 0, true, dateNow(), &numFiles, &numMusicFiles);
    // The record belongs to no tree and is never read again: drop it and what the scan added.
    ctx->deleteObject(dir);
    const float fraction = numFiles ? float(numMusicFiles) / float(numFiles) : 0.0f;
    Log::f("Fraction of scanned directories files that were music files:%.2f", fraction);
    return fraction;
}

void DirectoryDiffer::excludeDirectoryByScanTime(Directory *dir, int currentDepth)
{
    const QString pad = loggingPadForDepth(currentDepth);
    const Date until = dateAddSeconds(dateNow(), m_timings.exclusionLeadSeconds);
    Log::f("   Excluded %@ by setting last scan time to %@", dir->name(), until);
    dir->setLastScanTime(until);
    for (const DirectoryEntry &sub : listDirectory(dir->name(), directoryTester)) {
        Directory *child = nullptr;
        if (dir->addSubdirectoryNamed(sub.name, false, &child))
            Log::f("%@   %@ added (SUBDIR)", pad, child->name());
        if (!child)
            continue;
        if (currentDepth < m_subdirMaxDepth) {
            Log::f("%@  Descending into subdirectories (depth:%i)", pad, currentDepth + 1);
            excludeDirectoryByScanTime(child, currentDepth + 1);
        } else {
            Log::f("%@  Max subdirectory depth reached; not descending into subdirectories", pad);
        }
    }
}

void DirectoryDiffer::excludeDirectoryByScanTimeAtPath(const QByteArray &path)
{
    Directory *root = directoryContainingPath(path);
    if (!root) {
        Log::f("  subdir of: %@", "not found");
        return;
    }
    Log::f("  subdir of: %@", root->name());
    int depth = 0;
    auto storeLock = root->managedObjectContext()->lock();
    if (Directory *dir = root->addSubdirectoryChainLeadingToPath(path, m_subdirMaxDepth, &depth))
        excludeDirectoryByScanTime(dir, depth);
}

// At a start: a record whose file is gone says nothing any more. A folder
// not found where its record says (renamed or deleted while Rivulet was
// stopped) keeps its file records until the start's replay has looked for it
// by inode. A waiting file in a folder that cannot be looked for (its record
// older than the inode) is remembered by name for this run. A watched folder
// that is not there (a disk not mounted) keeps its records.
void DirectoryDiffer::forgetVanishedRecords()
{
    ManagedObjectContext *ctx = managedObjectContext();
    if (!ctx)
        return;
    // Files are forgotten only at the first start of a run: at a restart
    // while running, a rename may not have been followed yet and its files
    // only look gone. Folders are looked for at every start.
    const bool firstStart = !m_startedOnce.exchange(true);
    auto storeLock = ctx->lock();
    if (firstStart)
        m_vanishedWaiting.clear();
    m_vanishedFolders.clear();
    for (Directory *root : roots()) {
        struct stat st;
        if (root->isDeleted() || ::stat(root->name().constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        forEachFolderBelow(root, [&](Directory *d) {
            const bool inVanished = std::any_of(m_vanishedFolders.cbegin(), m_vanishedFolders.cend(),
                                                [d](const VanishedFolder &v) { return pathIsInside(d->name(), v.path); });
            if (d != root && d->inode() && !inVanished
                && (::stat(d->name().constData(), &st) != 0 || !S_ISDIR(st.st_mode) || quint64(st.st_ino) != d->inode()))
                m_vanishedFolders << VanishedFolder{root->name(), d->name(), d->inode()};
            else if (!inVanished && firstStart)
                forgetGoneFiles(d, root->name());
        });
    }
}

// The records of files no longer there go; a waiting one is remembered by
// name when rootName is given.
void DirectoryDiffer::forgetGoneFiles(Directory *dir, const QByteArray &rootName)
{
    for (File *f : dir->files()) {
        const QByteArray name = f->name();
        quint64 size = 0;
        if (m_fileQueue.contains(name) || dir->mtimeForFilename(name, true, &size))
            continue;
        if (!f->modified() && !rootName.isEmpty())
            m_vanishedWaiting << VanishedWaiting{rootName, name.mid(name.lastIndexOf('/') + 1), f->size()};
        Log::f("  %@ is gone; its record goes", name);
        dir->deleteFileNamed(name, true);
    }
}

// After the start's replay: a folder not found again was deleted or moved
// out of the watched tree, and its files' records go.
void DirectoryDiffer::forgetUnfoundFolders()
{
    ManagedObjectContext *ctx = managedObjectContext();
    if (m_vanishedFolders.isEmpty() || !ctx)
        return;
    auto storeLock = ctx->lock();
    for (const VanishedFolder &v : std::as_const(m_vanishedFolders)) {
        Directory *root = directoryContainingPath(v.path);
        Directory *d = root ? root->findSubdirectory(v.path) : nullptr;
        if (d && d->name() == v.path)
            forgetGoneFilesBelow(d);
    }
    m_vanishedFolders.clear();
}

void DirectoryDiffer::forgetGoneFilesBelow(Directory *dir)
{
    forEachFolderBelow(dir, [this](Directory *d) { forgetGoneFiles(d, QByteArray()); });
}

// A folder renamed while Rivulet was stopped is found again by its inode
// (the records' own folder is gone or another one now): its records go with
// it, so what it held stays imported and what was waiting keeps waiting.
void DirectoryDiffer::followRenamesWhileStopped(Directory *root, const QByteArray &path)
{
    if (m_vanishedFolders.isEmpty())
        return;
    const QByteArray rootName = root->name();
    QList<QByteArray> chain;
    for (QByteArray p = path; pathIsInside(p, rootName) && p != rootName; p = parentPath(p))
        chain.prepend(p);
    for (const QByteArray &p : chain) {
        Directory *known = root->findSubdirectory(p);
        if (known && known->name() == p)
            continue;
        struct stat st;
        if (::stat(p.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;
        for (qsizetype i = 0; i < m_vanishedFolders.size(); ++i) {
            const VanishedFolder v = m_vanishedFolders.at(i);
            if (v.root == rootName && v.inode == quint64(st.st_ino)) {
                m_vanishedFolders.removeAt(i);
                followRename(root, v.path, p);
                if (Directory *moved = root->findSubdirectory(p); moved && moved->name() == p)
                    forgetGoneFilesBelow(moved);
                break;
            }
        }
    }
}

// A file still being written when the run ended may have grown since.
bool DirectoryDiffer::takeVanishedWaiting(Directory *dir, const QByteArray &name, quint64 size)
{
    for (qsizetype i = 0; i < m_vanishedWaiting.size(); ++i) {
        const VanishedWaiting &v = m_vanishedWaiting.at(i);
        if (v.leaf == name && v.size <= size && pathIsInside(dir->name(), v.root)) {
            m_vanishedWaiting.removeAt(i);
            return true;
        }
    }
    return false;
}
