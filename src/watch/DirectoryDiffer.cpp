// The differ's thread, its start and stop requests, event handling and queue
// passes. The scanning operations are in DirectoryScanner.cpp.
#include "watch/DirectoryDiffer.h"
#include "base/Log.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/ManagedObjectContext.h"
#include "watch/FileClassification.h"
#include "base/PathContainment.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <QTimer>

DirectoryDiffer::DirectoryDiffer(ContextProvider context, Timings timings) : m_context(std::move(context)), m_timings(timings)
{
    m_thread = QThread::create([this] { threadMain(); });
    m_thread->setObjectName(QStringLiteral("DirectoryDiffer"));
    m_thread->start();
    while (!m_ready)
        QThread::yieldCurrentThread();
}

DirectoryDiffer::~DirectoryDiffer()
{
    m_cancelled = true;
    wakeUp();
    if (m_thread->wait(5000)) {
        delete m_thread;
    } else {
        // Still inside an import: the thread ends with the process.
        Log::f("Directory Differ: thread still busy at exit");
    }
}

void DirectoryDiffer::wakeUp()
{
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(m_thread))
        dispatcher->wakeUp();
}

void DirectoryDiffer::startWatchingWithLastSCEvent(quint64 lastSCEvent)
{
    Log::f("Directory Differ: startWatching");
    {
        std::lock_guard lock(m_requestsMutex);
        m_requests.append(lastSCEvent);
    }
    wakeUp();
}

void DirectoryDiffer::stopWatching()
{
    Log::f("Directory Differ: stopWatching");
    {
        std::lock_guard lock(m_requestsMutex);
        m_requests.append(std::nullopt);
    }
    wakeUp();
}

void DirectoryDiffer::setRoots(const std::vector<Directory *> &roots)
{
    std::lock_guard lock(m_rootsMutex);
    m_roots = roots;
}

std::vector<Directory *> DirectoryDiffer::roots() const
{
    std::lock_guard lock(m_rootsMutex);
    return m_roots;
}

void DirectoryDiffer::setExclusions(const std::vector<Directory *> &exclusions)
{
    std::lock_guard lock(m_rootsMutex);
    m_exclusions = exclusions;
}

std::vector<Directory *> DirectoryDiffer::exclusions() const
{
    std::lock_guard lock(m_rootsMutex);
    return m_exclusions;
}

void DirectoryDiffer::threadMain()
{
    m_threadContext = new QObject;
    // Wakes the loop at least once a second, as the request flags are polled.
    QTimer tick;
    tick.start(1000);
    m_ready = true;
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    while (!m_cancelled) {
        handleRequests();
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (m_watching)
        stopSCEvents();
    delete m_threadContext;
    m_threadContext = nullptr;
}

// A start while watching and a stop while stopped change nothing; a stop
// followed by a start restarts with the roots and exclusions as they are now.
void DirectoryDiffer::handleRequests()
{
    for (;;) {
        std::optional<quint64> request;
        {
            std::lock_guard lock(m_requestsMutex);
            if (m_requests.isEmpty())
                return;
            request = m_requests.takeFirst();
        }
        if (request && !m_watching) {
            m_watching = true;
            setupSCEventsWithLastSCEvent(*request);
        } else if (!request && m_watching) {
            stopSCEvents();
            m_watching = false;
        }
    }
}

void DirectoryDiffer::setupSCEventsWithLastSCEvent(quint64 lastSCEvent)
{
    logDirectories();
    m_watching = true;
    m_fileQueue.clear();
    m_queuedNames.clear();
    SCEvents *events = SCEvents::sharedPathWatcher();
    events->setDelegate(this);
    events->setNotificationLatency(m_timings.latencySeconds);
    QList<QByteArray> paths, excluded;
    for (Directory *root : roots())
        paths << root->name();
    for (Directory *ex : exclusions())
        excluded << ex->name();
    events->setExcludedPaths(excluded);
    Log::f("SCEvents start watching directories; last event %lu:", lastSCEvent);
    for (const QByteArray &p : paths)
        Log::f("  %@", p);
    Log::f("SCEvents exclude directories:");
    for (const QByteArray &p : excluded)
        Log::f("  %@", p);
    if (lastSCEvent == 0)
        events->startWatchingPaths(paths);
    else
        events->startWatchingPaths(paths, lastSCEvent);
    scheduleQueuePass(m_timings.passSeconds);
}

void DirectoryDiffer::stopSCEvents()
{
    if (!m_watching)
        return;
    Log::f("Directory Differ: stopSCEvents");
    SCEvents::sharedPathWatcher()->stopWatchingPaths();
    m_watching = false;
    // Files that were waiting are forgotten; new events find them again.
    for (const FileQueueEntry &entry : std::as_const(m_fileQueue))
        if (!entry.file->isDeleted())
            if (Directory *dir = entry.file->directory())
                dir->deleteFileNamed(entry.file->name(), true);
    m_fileQueue.clear();
    m_queuedNames.clear();
}

void DirectoryDiffer::scheduleQueuePass(double seconds)
{
    QTimer::singleShot(int(seconds * 1000), m_threadContext, [this] { processQueue(); });
}

void DirectoryDiffer::pathWatcherEventOccurred(SCEvents *, const SCEvent &event)
{
    if (!m_watching)
        return;
    DirectoryDifferDelegate *delegate = m_delegate;
    delegate->startIconAnimation();
    const QByteArray path = event.eventPath();
    if (fileIsInExcludedDirType(path)) {
        Log::f("  Event was in an excluded dir type");
    } else if (Directory *root = directoryContainingPath(path)) {
        Log::line(QString());
        int depth = 0;
        Directory *dir = checkMOC() ? root->addSubdirectoryChainLeadingToPath(path, m_subdirMaxDepth, &depth) : nullptr;
        if (!dir) {
            if (depth > m_subdirMaxDepth)
                Log::f("Event was at a higher depth then maxDepth: %i", int(m_subdirMaxDepth));
        } else {
            QElapsedTimer started;
            started.start();
            scanDirectory(dir, depth, false, event.eventDate());
            delegate->directoryDifferReceivedLastSCEvent(this, event.eventId());
            StoreError ignored;
            if (ManagedObjectContext *ctx = managedObjectContext())
                ctx->save(&ignored);
            Log::f("Scan took %.3f seconds", double(started.nsecsElapsed()) / 1e9);
        }
    } else {
        Log::line(QString());
    }
    delegate->stopIconAnimation();
}

void DirectoryDiffer::processQueue()
{
    if (!m_watching)
        return; // ends this chain of passes; the next start begins another
    bool hurry = false;
    bool handedOver = false;
    if (!m_fileQueue.isEmpty()) {
        const QList<FileQueueEntry> taken = std::move(m_fileQueue);
        m_fileQueue.clear();
        m_queuedNames.clear();
        QList<FileQueueEntry> kept;
        QElapsedTimer started;
        started.start();
        for (const FileQueueEntry &entry : taken) {
            if (hurry) {
                kept << entry;
                continue;
            }
            File *file = entry.file;
            Directory *dir = file->isDeleted() ? nullptr : file->directory();
            if (!dir)
                continue; // its folder was removed from the watched tree meanwhile
            if (secondsBetween(entry.date, dateNow()) > m_timings.settleSeconds) {
                const QByteArray name = file->name();
                quint64 size = 0;
                const std::optional<Date> mtime = dir->mtimeForFilename(name, true, &size);
                if (mtime && size == file->size() && mtime == file->modified()) {
                    DirectoryDifferDelegate *delegate = m_delegate;
                    delegate->startIconAnimation();
                    delegate->directoryDifferFileAddedOrUpdated(this, name);
                    dir->deleteFileNamed(name, true);
                    handedOver = true;
                } else {
                    file->setSize(size);
                    file->setModified(mtime);
                    kept << FileQueueEntry{file, dateNow()};
                }
            } else {
                kept << entry;
            }
            if (double(started.nsecsElapsed()) / 1e9 > m_timings.hurrySeconds)
                hurry = true;
        }
        addQueue(m_fileQueue, &kept);
        m_fileQueue = std::move(kept);
        m_queuedNames.clear();
        for (const FileQueueEntry &e : std::as_const(m_fileQueue))
            m_queuedNames.insert(e.file->name());
    }
    // A record left in the saved store means "still waiting": once files
    // are handed over, the store must say so, or the next start would
    // import them again.
    if (handedOver) {
        StoreError ignored;
        if (ManagedObjectContext *ctx = managedObjectContext())
            ctx->save(&ignored);
    }
    if (hurry) {
        Log::f("hurry up");
        scheduleQueuePass(m_timings.hurrySeconds);
    } else {
        m_delegate.load()->stopIconAnimation();
        scheduleQueuePass(m_timings.passSeconds);
    }
}

bool DirectoryDiffer::fileIsInExcludedDirType(const QByteArray &path)
{
    return pathIsInExcludedDirType(path);
}

Directory *DirectoryDiffer::directoryContainingPath(const QByteArray &path) const
{
    Directory *found = nullptr;
    for (Directory *root : roots())
        if (!root->isDeleted() && pathIsInside(path, root->name()))
            found = root;
    return found;
}

void DirectoryDiffer::addQueue(const QList<FileQueueEntry> &source, QList<FileQueueEntry> *destination)
{
    QSet<QByteArray> names;
    for (const FileQueueEntry &e : std::as_const(*destination))
        names.insert(e.file->name());
    for (const FileQueueEntry &e : source) {
        const QByteArray name = e.file->name();
        if (!names.contains(name)) {
            names.insert(name);
            destination->append(e);
        }
    }
}

void DirectoryDiffer::queueFile(File *file)
{
    const QByteArray name = file->name();
    if (m_queuedNames.contains(name)) {
        // A scan found the file changed again while it waited: it has not
        // settled, so its wait starts over. Keeping the older date would let
        // the next pass hand over a file that is still being written.
        for (FileQueueEntry &entry : m_fileQueue)
            if (entry.file == file)
                entry.date = dateNow();
        return;
    }
    m_queuedNames.insert(name);
    m_fileQueue.append(FileQueueEntry{file, dateNow()});
}

void DirectoryDiffer::logDirectories() const
{
    Log::f("Watching these directories:");
    for (Directory *root : roots())
        Log::f("  %@", root->name());
    Log::f(" excluding:");
    for (Directory *ex : exclusions())
        Log::f("  %@", ex->name());
}

bool DirectoryDiffer::checkMOC() const
{
    if (managedObjectContext())
        return true;
    Log::f("ManagedObjectContext not set");
    return false;
}
