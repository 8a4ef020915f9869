#pragma once
// The kernel side of the event stream: inotify watches on every folder of
// the watched trees (polling for trees on network file systems), gathered
// for the latency and delivered as one batch of changed folders. Lives on
// the thread that started it.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <functional>
#include <memory>

class FolderPoller;

class QSocketNotifier;
class QTimer;

class InotifyBackend : public QObject {
    Q_OBJECT
public:
    struct Change {
        QByteArray path;
        quint32 flags = 0;
        QByteArray renamedFrom; // the folder's path before a rename inside the watched trees
    };
    using Deliver = std::function<void(const QList<Change> &)>;

    InotifyBackend(QList<QByteArray> roots, QList<QByteArray> excluded, double latencySeconds, Deliver deliver);
    ~InotifyBackend() override;
    bool start();
    // Every folder being watched now, roots first.
    QList<QByteArray> watchedFolders() const;
    // Delivers what has been gathered so far at once.
    void flush();
    // Reads what is still in the kernel's queue, then delivers.
    void flushSync();
    // What follows a kernel queue overflow: every root walked again.
    void recoverFromOverflow();
    int watchCount() const { return int(m_pathByWatch.size()); }

private:
    void readEvents();
    // New folders are reported with flags when reportNewFolders is set.
    void watchTree(const QByteArray &folder, bool reportNewFolders, quint32 flags = 0, const QByteArray &renamedFrom = {});
    void pollTree(const QByteArray &root, bool reportNow);
    void unwatchTree(const QByteArray &folder);
    void forgetWatch(int wd);
    void rootLost(const QByteArray &root);
    void note(const QByteArray &path, quint32 flags, const QByteArray &renamedFrom = {});
    void checkMissingRoots();
    bool isExcluded(const QByteArray &path) const;

    QList<QByteArray> m_roots;
    QList<QByteArray> m_excluded;
    Deliver m_deliver;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_latencyTimer = nullptr;
    QTimer *m_missingRootsTimer = nullptr;
    QHash<int, QByteArray> m_pathByWatch;
    QHash<QByteArray, int> m_watchByPath;
    QSet<QByteArray> m_missingRoots;
    QList<Change> m_pending;
    QHash<QByteArray, int> m_pendingIndex;
    bool m_limitLogged = false;
    // Cookies of folders moved out of a watched folder: the same cookie on a
    // move in is a rename inside the watched trees, not a folder that appeared.
    QList<QPair<quint32, QByteArray>> m_movedOutCookies;
    // Roots on network file systems are polled instead of watched.
    std::unique_ptr<FolderPoller> m_poller;
    QTimer *m_pollTimer = nullptr;
};
