#include "store/Directory.h"
#include "store/File.h"
#include "store/StoreLock.h"
#include "store/XmlFields.h"
#include <algorithm>

QByteArray Directory::name() const { LOCK_STORE; return m_name; }
std::optional<Date> Directory::lastScanTime() const { LOCK_STORE; return m_lastScanTime; }
quint64 Directory::inode() const { LOCK_STORE; return m_inode; }
std::optional<QList<QByteArray>> Directory::filenames() const { LOCK_STORE; return m_filenames; }
std::optional<QList<QByteArray>> Directory::recentNames() const { LOCK_STORE; return m_recentNames; }
Directory *Directory::superdirectory() const { LOCK_STORE; return m_superdirectory; }
std::vector<File *> Directory::files() const { LOCK_STORE; return m_files; }
std::vector<Directory *> Directory::subdirectories() const { LOCK_STORE; return m_subdirectories; }

std::vector<Directory *> Directory::sortedSubdirectories() const
{
    LOCK_STORE;
    std::vector<Directory *> sorted = m_subdirectories;
    std::stable_sort(sorted.begin(), sorted.end(), [](Directory *a, Directory *b) { return a->m_name < b->m_name; });
    return sorted;
}

void Directory::setName(const QByteArray &name)
{
    LOCK_STORE;
    m_name = name;
    markChanged();
}

void Directory::setLastScanTime(const std::optional<Date> &date)
{
    LOCK_STORE;
    m_lastScanTime = date;
    markChanged();
}

void Directory::setInode(quint64 inode)
{
    LOCK_STORE;
    if (m_inode == inode)
        return;
    m_inode = inode;
    markChanged();
}

std::optional<Directory::Stamp> Directory::recentStamp(const QByteArray &name) const
{
    LOCK_STORE;
    const auto it = m_recentStamps.constFind(name);
    return it == m_recentStamps.cend() ? std::nullopt : std::optional(*it);
}

void Directory::setRecentNames(const QList<QByteArray> &names, const QHash<QByteArray, Stamp> &stamps)
{
    LOCK_STORE;
    m_recentStamps = stamps;
    if (m_recentNames == names)
        return;
    m_recentNames = names;
    markChanged();
}

void Directory::setFilenames(const std::optional<QList<QByteArray>> &names)
{
    LOCK_STORE;
    m_filenames = names; // not persisted, so no change to save
}

std::optional<Date> Directory::scanTimeForNewChild() const
{
    LOCK_STORE;
    return m_scanTimeAtRunStart ? *m_scanTimeAtRunStart : m_lastScanTime;
}

void Directory::noteFirstScanOfRun()
{
    LOCK_STORE;
    if (!m_scanTimeAtRunStart)
        m_scanTimeAtRunStart = m_lastScanTime;
}

void Directory::addFilesObject(File *file)
{
    LOCK_STORE;
    if (file->m_directory == this)
        return;
    if (file->m_directory)
        file->m_directory->removeFilesObject(file);
    m_files.push_back(file);
    file->m_directory = this;
    markChanged();
}

void Directory::removeFilesObject(File *file)
{
    LOCK_STORE;
    auto it = std::find(m_files.begin(), m_files.end(), file);
    if (it == m_files.end())
        return;
    m_files.erase(it);
    file->m_directory = nullptr;
    markChanged();
}

void Directory::addSubdirectoriesObject(Directory *dir)
{
    LOCK_STORE;
    if (dir->m_superdirectory == this)
        return;
    if (dir->m_superdirectory)
        dir->m_superdirectory->removeSubdirectoriesObject(dir);
    m_subdirectories.push_back(dir);
    dir->m_superdirectory = this;
    markChanged();
}

void Directory::removeSubdirectoriesObject(Directory *dir)
{
    LOCK_STORE;
    auto it = std::find(m_subdirectories.begin(), m_subdirectories.end(), dir);
    if (it == m_subdirectories.end())
        return;
    m_subdirectories.erase(it);
    dir->m_superdirectory = nullptr;
    markChanged();
}

void Directory::willBeDeleted()
{
    // A deleted folder takes its files and subfolders with it, so no orphans stay.
    auto *ctx = managedObjectContext();
    const auto files = m_files;
    for (File *f : files)
        ctx->deleteObject(f);
    const auto subdirs = m_subdirectories;
    for (Directory *d : subdirs)
        ctx->deleteObject(d);
    if (m_superdirectory)
        m_superdirectory->removeSubdirectoriesObject(this);
}

QVariant Directory::valueForKey(const QString &key) const
{
    LOCK_STORE;
    if (key == QLatin1String("name"))
        return m_name;
    if (key == QLatin1String("lastScanTime"))
        return m_lastScanTime ? QVariant::fromValue<qlonglong>(dateToNanos(*m_lastScanTime)) : QVariant();
    if (key == QLatin1String("superdirectory"))
        return QVariant::fromValue(m_superdirectory);
    return {};
}

void Directory::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == QLatin1String("name"))
        setName(value.toByteArray());
    else if (key == QLatin1String("lastScanTime"))
        setLastScanTime(value.isValid() ? std::optional(dateFromNanos(value.toLongLong())) : std::nullopt);
    else if (key == QLatin1String("superdirectory")) {
        if (auto *parent = value.value<Directory *>())
            parent->addSubdirectoriesObject(this);
        else if (Directory *old = superdirectory())
            old->removeSubdirectoriesObject(this);
    }
}

const ManagedObject *Directory::owner(bool *required) const
{
    // A folder without a parent is a tree top or a free-standing folder; a
    // folder whose parent is not saved cannot be saved either.
    *required = m_superdirectory != nullptr;
    return m_superdirectory;
}

bool Directory::isCleanAbsolutePath(const QByteArray &path)
{
    if (!path.startsWith('/') || path.size() < 2 || path.endsWith('/') || path.contains('\0'))
        return false;
    for (const QByteArray &part : path.mid(1).split('/'))
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    return true;
}

bool Directory::acceptLoaded(QString *reason) const
{
    // Tree tops are named "root"; every other folder is an absolute path
    // without empty, "." or ".." parts and without a trailing "/".
    if (!m_superdirectory && m_name == "root")
        return true;
    if (isCleanAbsolutePath(m_name))
        return true;
    *reason = QStringLiteral("its name is not an absolute, clean path");
    return false;
}

void Directory::writeRecord(RecordWriter &out, const IdOf &idOf) const
{
    out.bytes("name", m_name);
    out.date("lastScanTime", m_lastScanTime);
    if (m_inode)
        out.number("inode", m_inode);
    // File names never hold a '/': it parts them.
    if (m_recentNames)
        out.bytes("recent", m_recentNames->join('/'));
    if (m_superdirectory)
        out.number("superdirectory", idOf(m_superdirectory));
}

bool Directory::readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason)
{
    if (!fields.bytes("name", &m_name) || !fields.date("lastScanTime", &m_lastScanTime)) {
        *reason = QStringLiteral("a Directory record has a malformed field");
        return false;
    }
    if (fields.value("inode") && !fields.number("inode", &m_inode)) {
        *reason = QStringLiteral("a Directory record has a malformed field");
        return false;
    }
    if (fields.value("recent") || fields.value("recent64")) {
        QByteArray joined;
        if (!fields.bytes("recent", &joined)) {
            *reason = QStringLiteral("a Directory record has a malformed field");
            return false;
        }
        m_recentNames = joined.isEmpty() ? QList<QByteArray>() : joined.split('/');
    }
    if (fields.value("superdirectory")) {
        qulonglong parentId = 0;
        auto *parent = fields.number("superdirectory", &parentId) ? dynamic_cast<Directory *>(objectFor(parentId)) : nullptr;
        if (!parent || parent == this) {
            *reason = QStringLiteral("a Directory record names no valid parent");
            return false;
        }
        parent->m_subdirectories.push_back(this);
        m_superdirectory = parent;
    }
    return true;
}
