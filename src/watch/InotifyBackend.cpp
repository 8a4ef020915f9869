#include "watch/InotifyBackend.h"
#include "base/Log.h"
#include "watch/DirectoryListing.h"
#include "watch/FolderPoller.h"
#include "base/PathContainment.h"
#include "watch/SCEvent.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr quint32 kWatchMask = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_DELETE
                               | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
// How often a watched root that does not exist is looked for again.
constexpr int kMissingRootPollMs = 2000;

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
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
        Log::f("Could not start watching folders: %@", QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyBackend::readEvents);
    for (const QByteArray &root : std::as_const(m_roots)) {
        if (!isFolder(root))
            m_missingRoots.insert(root);
        else if (FolderPoller::needsPolling(root))
            pollTree(root, false);
        else
            watchTree(root, false);
    }
    if (!m_missingRoots.isEmpty())
        m_missingRootsTimer->start();
    return true;
}

void InotifyBackend::pollTree(const QByteArray &root, bool reportNow)
{
    if (!m_poller) {
        m_poller = std::make_unique<FolderPoller>([this](const QByteArray &p) { return isExcluded(p); },
                                                  [this](const QByteArray &folder) { note(folder, 0); });
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(int(FolderPoller::interval() * 1000));
        connect(m_pollTimer, &QTimer::timeout, this, [this] {
            // A polled root that is gone is looked for like any missing root.
            for (const QByteArray &root : m_roots) {
                if (m_poller->hasRoot(root) && !isFolder(root)) {
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

void InotifyBackend::watchTree(const QByteArray &top, bool reportNewFolders)
{
    QList<QByteArray> pending{top};
    while (!pending.isEmpty()) {
        const QByteArray folder = pending.takeLast();
        if (isExcluded(folder) || m_watchByPath.contains(folder))
            continue;
        const int wd = ::inotify_add_watch(m_fd, folder.constData(), kWatchMask);
        if (wd < 0) {
            if (errno == ENOSPC && !m_limitLogged) {
                Log::f("Could not watch %@: the limit of inotify watches is reached", folder);
                m_limitLogged = true;
            }
            continue;
        }
        m_pathByWatch.insert(wd, folder);
        m_watchByPath.insert(folder, wd);
        // Files made before the watch existed are found by scanning the new folder.
        if (reportNewFolders)
            note(folder, 0);
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

void InotifyBackend::note(const QByteArray &path, quint32 flags)
{
    auto found = m_pendingIndex.constFind(path);
    if (found != m_pendingIndex.cend()) {
        m_pending[*found].flags |= flags;
    } else {
        m_pendingIndex.insert(path, int(m_pending.size()));
        m_pending.append({path, flags});
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
                // Events were lost: every folder must be looked at again.
                for (const QByteArray &folder : watchedFolders())
                    note(folder, kFSEventStreamEventFlagMustScanSubDirs);
                continue;
            }
            const auto found = m_pathByWatch.constFind(ev->wd);
            if (found == m_pathByWatch.cend())
                continue;
            const QByteArray folder = *found;
            if (ev->mask & IN_IGNORED) {
                m_pathByWatch.remove(ev->wd);
                m_watchByPath.remove(folder);
                continue;
            }
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                unwatchTree(folder);
                if (m_roots.contains(folder)) {
                    note(folder, kFSEventStreamEventFlagRootChanged);
                    m_missingRoots.insert(folder);
                    m_missingRootsTimer->start();
                }
                continue;
            }
            if (ev->len > 0 && (ev->mask & IN_ISDIR)) {
                const QByteArray child = folder + '/' + QByteArray(ev->name);
                if (ev->mask & (IN_CREATE | IN_MOVED_TO))
                    watchTree(child, true);
                else if (ev->mask & IN_MOVED_FROM)
                    unwatchTree(child);
            }
            note(folder, 0);
        }
    }
}

void InotifyBackend::checkMissingRoots()
{
    for (auto it = m_missingRoots.begin(); it != m_missingRoots.end();) {
        if (isFolder(*it)) {
            const QByteArray root = *it;
            it = m_missingRoots.erase(it);
            if (FolderPoller::needsPolling(root))
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
