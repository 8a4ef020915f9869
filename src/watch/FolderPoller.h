#pragma once
// Watches folder trees by looking at them again and again: for folders on
// network file systems (NFS, SMB/CIFS, FUSE), whose changes made by other
// machines never raise inotify events. Each look compares every folder's
// entries (name, size, modification time) with the previous look.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <functional>

class FolderPoller {
public:
    // A folder new since the last look has appeared; one found under a new
    // name (the same folder on the same disk) carries its old path.
    using Changed = std::function<void(const QByteArray &folder, bool appeared, const QByteArray &renamedFrom)>;
    using Excluded = std::function<bool(const QByteArray &path)>;

    // True for a folder on a file system that needs polling (or always, when
    // RIVULET_FORCE_POLLING is set, which the tests use).
    static bool needsPolling(const QByteArray &folder);
    // Seconds between looks: 10, or RIVULET_POLL_SECONDS.
    static double interval();

    FolderPoller(Excluded excluded, Changed changed) : m_excluded(std::move(excluded)), m_changed(std::move(changed)) {}
    void addRoot(const QByteArray &root);
    void removeRoot(const QByteArray &root);
    bool hasRoot(const QByteArray &root) const { return m_roots.contains(root); }
    // One look at every tree: reports each folder that is new or changed.
    void poll();
    QList<QByteArray> folders() const { return m_signatures.keys(); }

private:
    void look(const QByteArray &root, bool report);
    Excluded m_excluded;
    Changed m_changed;
    QList<QByteArray> m_roots;
    QHash<QByteArray, quint64> m_signatures;
    QHash<QByteArray, QPair<quint64, quint64>> m_identities; // each folder's device and inode
};
