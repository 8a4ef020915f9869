#include "watch/InotifyBackend.h"
#include "base/Log.h"
#include "watch/DirectoryListing.h"
#include "watch/FileClassification.h"
#include "watch/FolderPoller.h"
#include "base/PathContainment.h"
#include "watch/SCEvent.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr quint32 kRootMask = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_DELETE
                               | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
// Inside a tree links are not followed, so a link to a folder above makes no loop.
constexpr quint32 kWatchMask = kRootMask | IN_DONT_FOLLOW;
// How often a watched root that does not exist is looked for again.
constexpr int kMissingRootPollMs = 2000;

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A watched root may be a link to a folder (Downloads on another disk).
bool isRootFolder(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QByteArray resolved(const QByteArray &path)
{
    char buf[PATH_MAX];
    return ::realpath(path.constData(), buf) ? QByteArray(buf) : path;
}
}

InotifyBackend::InotifyBackend(QList<QByteArray> roots, QList<QByteArray> excluded, double latencySeconds, Deliver deliver)
    : m_roots(std::move(roots)), m_excluded(std::move(excluded)), m_deliver(std::move(deliver))
{
    m_latencyTimer = new QTimer(this);
    m_latencyTimer->setSingleShot(true);
    m_latencyTimer->setInterval(int(latencySeconds * 1000));
    connect(m_latencyTimer, &QTimer::timeout, this, &InotifyBackend::flush);
    m_missingRootsTimer = new QTimer(this);
    m_missingRootsTimer->setInterval(kMissingRootPollMs);
    connect(m_missingRootsTimer, &QTimer::timeout, this, &InotifyBackend::checkMissingRoots);
}

InotifyBackend::~InotifyBackend()
{
    // The poller goes first: it reports into this backend.
    m_poller.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InotifyBackend::start()
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        // Polling still works: every root is looked at in turn instead.
        Log::f("Could not start watching folders: %@; looking at them every %.1f s instead",
               QString::fromLocal8Bit(strerror(errno)), FolderPoller::interval());
    } else {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &InotifyBackend::readEvents);
    }
    for (const QByteArray &root : std::as_const(m_roots)) {
        if (!isRootFolder(root)) {
            m_missingRoots.insert(root);
            continue;
        }
        const QByteArray real = resolved(root);
        if (real != root)
            Log::f("Watching %@, which is the folder %@", root, real);
        if (m_fd < 0 || FolderPoller::needsPolling(root))
            pollTree(root, false);
        else
            watchTree(root, false);
    }
    if (!m_missingRoots.isEmpty())
        m_missingRootsTimer->start();
    return m_fd >= 0 || m_poller;
}

void InotifyBackend::pollTree(const QByteArray &root, bool reportNow)
{
    if (!m_poller) {
        m_poller = std::make_unique<FolderPoller>([this](const QByteArray &p) { return isExcluded(p); },
                                                  [this](const QByteArray &folder, bool appeared, const QByteArray &renamedFrom) {
                                                      note(folder, appeared ? kFSEventStreamEventFlagFolderAppeared : 0, renamedFrom);
                                                  });
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(int(FolderPoller::interval() * 1000));
        connect(m_pollTimer, &QTimer::timeout, this, [this] {
            // A polled root that is gone is looked for like any missing root.
            for (const QByteArray &root : m_roots) {
                if (m_poller->hasRoot(root) && !isRootFolder(root)) {
                    m_poller->removeRoot(root);
                    note(root, kFSEventStreamEventFlagRootChanged);
                    m_missingRoots.insert(root);
                    m_missingRootsTimer->start();
                }
            }
            m_poller->poll();
        });
        m_pollTimer->start();
    }
    m_poller->addRoot(root);
    if (reportNow)
        for (const QByteArray &folder : m_poller->folders())
            if (pathIsInside(folder, root))
                note(folder, 0);
}

QList<QByteArray> InotifyBackend::watchedFolders() const
{
    QList<QByteArray> folders;
    for (const QByteArray &root : m_roots)
        if (m_watchByPath.contains(root))
            folders << root;
    for (auto it = m_watchByPath.cbegin(); it != m_watchByPath.cend(); ++it)
        if (!m_roots.contains(it.key()))
            folders << it.key();
    if (m_poller)
        for (const QByteArray &folder : m_poller->folders())
            if (!folders.contains(folder))
                folders << folder;
    return folders;
}

bool InotifyBackend::isExcluded(const QByteArray &path) const
{
    for (const QByteArray &ex : m_excluded)
        if (pathIsInside(path, ex))
            return true;
    return false;
}

void InotifyBackend::watchTree(const QByteArray &top, bool reportNewFolders, quint32 flags, const QByteArray &renamedFrom)
{
    if (m_fd < 0)
        return;
    QList<QByteArray> pending{top};
    while (!pending.isEmpty()) {
        const QByteArray folder = pending.takeLast();
        // Below a root, a folder of an unfinished download (the unpacking
        // scratch folder among them) is never watched, nor what it holds:
        // its events would be ignored, and an archive may hold any number of folders.
        if (isExcluded(folder) || (!m_roots.contains(folder) && pathIsInExcludedDirType(leafName(folder))))
            continue;
        const quint32 mask = m_roots.contains(folder) ? kRootMask : kWatchMask;
        const int wd = ::inotify_add_watch(m_fd, folder.constData(), mask);
        if (wd < 0) {
            if (errno == ENOSPC && !m_limitLogged) {
                Log::f("Could not watch %@: the limit of inotify watches is reached", folder);
                m_limitLogged = true;
            }
            continue;
        }
        // The same path may have held another folder before (one renamed over
        // it, or deleted and made again while events were lost).
        const int old = m_watchByPath.value(folder, -1);
        const bool known = old == wd && m_pathByWatch.value(wd) == folder;
        if (old >= 0 && old != wd && m_pathByWatch.value(old) == folder)
            m_pathByWatch.remove(old);
        m_pathByWatch.insert(wd, folder);
        m_watchByPath.insert(folder, wd);
        // Files made before the watch existed are found by scanning the new folder.
        if (reportNewFolders && !known)
            note(folder, flags, folder == top ? renamedFrom : QByteArray());
        for (const DirectoryEntry &sub : listDirectory(folder, directoryTester))
            pending << folder + '/' + sub.name;
    }
}

void InotifyBackend::unwatchTree(const QByteArray &top)
{
    for (auto it = m_watchByPath.begin(); it != m_watchByPath.end();) {
        if (pathIsInside(it.key(), top)) {
            ::inotify_rm_watch(m_fd, it.value());
            m_pathByWatch.remove(it.value());
            it = m_watchByPath.erase(it);
        } else {
            ++it;
        }
    }
}

// A watch the kernel dropped: forgotten by its descriptor, so a folder that
// meanwhile took the same path keeps its own watch.
void InotifyBackend::forgetWatch(int wd)
{
    const auto found = m_pathByWatch.constFind(wd);
    if (found == m_pathByWatch.cend())
        return;
    const QByteArray folder = *found;
    m_pathByWatch.erase(found);
    if (m_watchByPath.value(folder, -1) == wd)
        m_watchByPath.remove(folder);
}

// A root deleted, moved away or unmounted: reported, and looked for again.
void InotifyBackend::rootLost(const QByteArray &root)
{
    unwatchTree(root);
    note(root, kFSEventStreamEventFlagRootChanged);
    m_missingRoots.insert(root);
    m_missingRootsTimer->start();
}

// Events were lost: walk every root again, watching new folders and dropping
// folders that are gone, then have every folder looked at.
void InotifyBackend::recoverFromOverflow()
{
    Log::f("Events were lost; looking at every watched folder again");
    for (const QByteArray &root : std::as_const(m_roots)) {
        if (m_missingRoots.contains(root) || (m_poller && m_poller->hasRoot(root)))
            continue;
        if (!isRootFolder(root)) {
            rootLost(root);
            continue;
        }
        QList<QByteArray> stale;
        for (auto it = m_watchByPath.cbegin(); it != m_watchByPath.cend(); ++it)
            if (pathIsInside(it.key(), root) && it.key() != root && !isFolder(it.key()))
                stale << it.key();
        for (const QByteArray &gone : stale) {
            const int wd = m_watchByPath.take(gone);
            ::inotify_rm_watch(m_fd, wd);
            m_pathByWatch.remove(wd);
        }
        // A folder first seen now appeared while events were lost.
        watchTree(root, true, kFSEventStreamEventFlagFolderAppeared);
    }
    for (const QByteArray &folder : watchedFolders())
        note(folder, kFSEventStreamEventFlagMustScanSubDirs);
}

void InotifyBackend::flushSync()
{
    if (m_fd >= 0)
        readEvents();
    flush();
}

void InotifyBackend::note(const QByteArray &path, quint32 flags, const QByteArray &renamedFrom)
{
    auto found = m_pendingIndex.constFind(path);
    if (found != m_pendingIndex.cend()) {
        m_pending[*found].flags |= flags;
        if (!renamedFrom.isEmpty())
            m_pending[*found].renamedFrom = renamedFrom;
    } else {
        m_pendingIndex.insert(path, int(m_pending.size()));
        m_pending.append({path, flags, renamedFrom});
    }
    if (!m_latencyTimer->isActive())
        m_latencyTimer->start();
}

void InotifyBackend::flush()
{
    m_latencyTimer->stop();
    if (m_pending.isEmpty())
        return;
    const QList<Change> batch = std::move(m_pending);
    m_pending.clear();
    m_pendingIndex.clear();
    m_deliver(batch);
}

void InotifyBackend::readEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (char *p = buffer; p < buffer + n;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(p);
            p += sizeof(inotify_event) + ev->len;
            if (ev->mask & IN_Q_OVERFLOW) {
                recoverFromOverflow();
                continue;
            }
            const auto found = m_pathByWatch.constFind(ev->wd);
            if (found == m_pathByWatch.cend())
                continue;
            const QByteArray folder = *found;
            const bool isRoot = m_roots.contains(folder);
            if (ev->mask & (IN_IGNORED | IN_UNMOUNT | IN_DELETE_SELF | IN_MOVE_SELF)) {
                forgetWatch(ev->wd);
                if (isRoot && !m_missingRoots.contains(folder))
                    rootLost(folder);
                continue;
            }
            if (ev->len > 0 && (ev->mask & IN_ISDIR)) {
                const QByteArray child = folder + '/' + QByteArray(ev->name);
                if (ev->mask & (IN_CREATE | IN_MOVED_TO)) {
                    QByteArray from;
                    for (qsizetype i = 0; (ev->mask & IN_MOVED_TO) && i < m_movedOutCookies.size(); ++i)
                        if (m_movedOutCookies[i].first == ev->cookie)
                            from = m_movedOutCookies.takeAt(i).second;
                    watchTree(child, true, from.isEmpty() ? kFSEventStreamEventFlagFolderAppeared : 0, from);
                } else if (ev->mask & IN_MOVED_FROM) {
                    // Only a folder that was watched is followed: one of unfinished downloads appears.
                    const bool watched = m_watchByPath.contains(child);
                    unwatchTree(child);
                    if (m_movedOutCookies.size() >= 64)
                        m_movedOutCookies.removeFirst();
                    if (watched)
                        m_movedOutCookies.append({ev->cookie, child});
                }
            }
            note(folder, 0);
        }
    }
}

void InotifyBackend::checkMissingRoots()
{
    for (auto it = m_missingRoots.begin(); it != m_missingRoots.end();) {
        if (isRootFolder(*it)) {
            const QByteArray root = *it;
            it = m_missingRoots.erase(it);
            if (m_fd < 0 || FolderPoller::needsPolling(root))
                pollTree(root, true);
            else
                watchTree(root, true);
        } else {
            ++it;
        }
    }
    if (m_missingRoots.isEmpty())
        m_missingRootsTimer->stop();
}
