// The differ's thread, its start and stop requests and event handling. The
// queue passes are in QueuePasses.cpp, the scanning in DirectoryScanner.cpp.
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
    shutDown();
}

void DirectoryDiffer::shutDown()
{
    if (!m_thread)
        return;
    m_cancelled = true;
    wakeUp();
    // A hand-over under way (an import running a tool) returns first: until the
    // thread has ended, the differ and everything the import calls stay whole.
    QElapsedTimer waited;
    waited.start();
    while (!m_thread->wait(5000)) {
        Log::f("Directory Differ: waiting for the running import to end (%i s)", int(waited.elapsed() / 1000));
        wakeUp();
    }
    delete m_thread;
    m_thread = nullptr;
}

void DirectoryDiffer::simulateLostEvents()
{
    m_lostEventsRequested = true;
    wakeUp();
}

DifferStats DirectoryDiffer::stats() const
{
    std::lock_guard lock(m_statsMutex);
    return m_stats;
}

void DirectoryDiffer::wakeUp()
{
    // The thread's dispatcher goes when the thread ends: it is only used
    // while the thread says it is there.
    std::lock_guard lock(m_dispatcherMutex);
    if (m_dispatcher)
        m_dispatcher->wakeUp();
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
    m_passTimer = new QTimer(m_threadContext);
    m_passTimer->setSingleShot(true);
    QObject::connect(m_passTimer, &QTimer::timeout, m_threadContext, [this] { processQueue(); });
    // Wakes the loop at least once a second, as the request flags are polled.
    QTimer tick;
    tick.start(1000);
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    {
        std::lock_guard lock(m_dispatcherMutex);
        m_dispatcher = dispatcher;
    }
    m_ready = true;
    QElapsedTimer sinceIdle;
    sinceIdle.start();
    while (!m_cancelled) {
        handleRequests();
        if (m_lostEventsRequested.exchange(false) && m_watching)
            SCEvents::sharedPathWatcher()->recoverLostEvents();
        // Back in this loop no pass or hand-over is running: they run inside processEvents.
        if (m_watching && sinceIdle.elapsed() >= qint64(m_timings.idleSeconds * 1000)) {
            sinceIdle.restart();
            // The idle work imports too: a pass due meanwhile waits for it to end.
            m_inHandOver = true;
            if (DirectoryDifferDelegate *delegate = m_delegate)
                delegate->directoryDifferIdle(this);
            m_inHandOver = false;
            if (m_watching && m_passTimer && !m_passTimer->isActive())
                scheduleQueuePass(m_timings.passSeconds);
        }
        dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (m_watching)
        stopSCEvents();
    delete m_threadContext;
    m_threadContext = nullptr;
    m_passTimer = nullptr;
    std::lock_guard lock(m_dispatcherMutex);
    m_dispatcher = nullptr;
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
    forgetVanishedRecords();
    // Files still waiting from before a restart keep waiting: the replay does
    // not find them again, as their folders' scan dates already cover them.
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
    // Changes gathered but not yet handled are scanned first: a download
    // renamed into place just before a quit (its date before the folder's
    // last scan) is then remembered as waiting, and offered at the next start.
    SCEvents::sharedPathWatcher()->flushEventStreamSync();
    SCEvents::sharedPathWatcher()->stopWatchingPaths();
    m_watching = false;
    // The pass chain ends here; the next start begins the only new one. Waiting
    // files keep their queue entries and records (a record in the saved store
    // means "still waiting" at the next start).
    if (m_passTimer)
        m_passTimer->stop();
    m_batchScanned = false;
}

void DirectoryDiffer::save()
{
    if (ManagedObjectContext *ctx = managedObjectContext()) {
        StoreError ignored;
        ctx->save(&ignored);
        std::lock_guard lock(m_statsMutex);
        ++m_stats.saves;
    }
}

void DirectoryDiffer::pathWatcherEventOccurred(SCEvents *, const SCEvent &event)
{
    if (!m_watching)
        return;
    DirectoryDifferDelegate *delegate = m_delegate;
    delegate->startIconAnimation();
    const QByteArray path = event.eventPath();
    if (ManagedObjectContext *ctx = managedObjectContext()) {
        // Finding the root, adding the chain and scanning hold the store: the
        // main thread may delete a watched folder's record at any moment.
        auto storeLock = ctx->lock();
        Directory *root = directoryContainingPath(path);
        // Only the part below the watched folder counts: ~/download itself is watched.
        if (fileIsInExcludedDirType(root ? path.mid(root->name().size()) : path)) {
            Log::f("  Event was in an excluded dir type");
            delegate->stopIconAnimation();
            return;
        }
        Log::line(QString());
        if (root && !event.renamedFrom().isEmpty())
            followRename(root, event.renamedFrom(), path);
        const bool appeared = event.eventFlag() & kFSEventStreamEventFlagFolderAppeared;
        if (root && !appeared)
            followRenamesWhileStopped(root, path);
        int depth = 0;
        Directory *dir = root ? root->addSubdirectoryChainLeadingToPath(path, m_subdirMaxDepth, &depth, appeared) : nullptr;
        if (root && !dir) {
            if (depth > m_subdirMaxDepth)
                Log::f("Event was at a higher depth then maxDepth: %i", int(m_subdirMaxDepth));
        } else if (dir) {
            QElapsedTimer started;
            started.start();
            scanDirectory(dir, depth, false, event.eventDate());
            // The event id and the store are written once for the whole batch.
            m_batchScanned = true;
            m_batchLastId = event.eventId();
            Log::f("Scan took %.3f seconds", double(started.nsecsElapsed()) / 1e9);
        }
    } else {
        checkMOC();
    }
    delegate->stopIconAnimation();
}

void DirectoryDiffer::pathWatcherBatchEnded(SCEvents *)
{
    // The first batch of a start is the replay of every folder: a folder
    // that moved while stopped has been met by now. Later, a new folder may
    // reuse a deleted one's inode.
    forgetUnfoundFolders();
    if (!m_batchScanned)
        return;
    m_batchScanned = false;
    m_delegate.load()->directoryDifferReceivedLastSCEvent(this, m_batchLastId);
    save();
}

// The records of a renamed folder follow it: what was imported stays
// imported, and what was still waiting keeps waiting under its new name.
void DirectoryDiffer::followRename(Directory *root, const QByteArray &from, const QByteArray &to)
{
    Directory *old = root->findSubdirectory(from);
    Directory *existing = root->findSubdirectory(to);
    if (!old || old == root || old->name() != from || (existing && existing->name() == to))
        return;
    int depth = 0;
    Directory *parent = parentPath(to) == root->name() ? root : root->addSubdirectoryChainLeadingToPath(parentPath(to), m_subdirMaxDepth, &depth);
    if (!parent)
        return;
    Log::f("  %@ was renamed to %@; its records go with it", from, to);
    old->moveTree(parent, to);
    m_fileQueue.namesChanged();
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
