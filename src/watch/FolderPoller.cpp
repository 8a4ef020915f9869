#include "watch/FolderPoller.h"
#include "base/PathContainment.h"

#include <QSet>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {
// File system magic numbers (statfs f_type) of file systems that change behind inotify's back.
constexpr unsigned long kNfs = 0x6969, kSmb = 0x517B, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42, kFuse = 0x65735546;
constexpr double kDefaultInterval = 10.0;

quint64 mix(quint64 h, quint64 v)
{
    return (h ^ v) * 0x100000001b3ULL;
}
}

bool FolderPoller::needsPolling(const QByteArray &folder)
{
    if (qEnvironmentVariableIsSet("RIVULET_FORCE_POLLING"))
        return true;
    struct statfs fs;
    if (::statfs(folder.constData(), &fs) != 0)
        return false;
    const unsigned long type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFUL;
    return type == kNfs || type == kSmb || type == kCifs || type == kSmb2 || type == kFuse;
}

double FolderPoller::interval()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("RIVULET_POLL_SECONDS").toDouble(&ok);
    return ok && seconds > 0 ? seconds : kDefaultInterval;
}

void FolderPoller::addRoot(const QByteArray &root)
{
    if (m_roots.contains(root))
        return;
    m_roots << root;
    look(root, false);
}

void FolderPoller::removeRoot(const QByteArray &root)
{
    m_roots.removeAll(root);
    for (auto it = m_signatures.begin(); it != m_signatures.end();)
        it = pathIsInside(it.key(), root) ? m_signatures.erase(it) : std::next(it);
    for (auto it = m_identities.begin(); it != m_identities.end();)
        it = pathIsInside(it.key(), root) ? m_identities.erase(it) : std::next(it);
}

void FolderPoller::poll()
{
    for (const QByteArray &root : std::as_const(m_roots))
        look(root, true);
}

void FolderPoller::look(const QByteArray &root, bool report)
{
    QSet<QByteArray> seen;
    QList<QByteArray> changed; // in the order looked at: a folder before its subfolders
    QSet<QByteArray> added;
    QList<QByteArray> pending{root};
    while (!pending.isEmpty()) {
        const QByteArray folder = pending.takeLast();
        if (m_excluded(folder))
            continue;
        DIR *dir = ::opendir(folder.constData());
        if (!dir)
            continue;
        seen.insert(folder);
        struct stat self;
        if (::fstat(::dirfd(dir), &self) == 0)
            m_identities.insert(folder, {quint64(self.st_dev), quint64(self.st_ino)});
        quint64 signature = 0xcbf29ce484222325ULL;
        while (const dirent *d = ::readdir(dir)) {
            const QByteArray name(d->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray path = folder + '/' + name;
            struct stat st;
            if (::lstat(path.constData(), &st) != 0)
                continue;
            // Entry order differs between looks on some servers: combine order-free.
            quint64 entry = qHash(name);
            entry = mix(entry, quint64(st.st_size));
            entry = mix(entry, quint64(st.st_mtim.tv_sec) * 1000000000ULL + quint64(st.st_mtim.tv_nsec));
            signature += entry;
            if (S_ISDIR(st.st_mode))
                pending << path;
        }
        ::closedir(dir);
        const auto known = m_signatures.constFind(folder);
        if (known == m_signatures.cend())
            added.insert(folder);
        if (known == m_signatures.cend() || *known != signature)
            changed << folder;
        m_signatures.insert(folder, signature);
    }
    // Folders gone since the last look; one of them seen again under a new
    // name was renamed, and its records are to follow it.
    QHash<QPair<quint64, quint64>, QByteArray> gone;
    for (auto it = m_signatures.begin(); it != m_signatures.end();) {
        if (pathIsInside(it.key(), root) && !seen.contains(it.key())) {
            if (const auto id = m_identities.constFind(it.key()); id != m_identities.cend())
                gone.insert(*id, it.key());
            m_identities.remove(it.key());
            it = m_signatures.erase(it);
        } else {
            ++it;
        }
    }
    if (!report)
        return;
    for (const QByteArray &folder : std::as_const(changed)) {
        const bool isNew = added.contains(folder);
        const auto id = m_identities.constFind(folder);
        const QByteArray from = isNew && id != m_identities.cend() ? gone.value(*id) : QByteArray();
        m_changed(folder, isNew && from.isEmpty(), from);
    }
}
