// The folder tree operations of a Directory record: lookups by name, the
// remembered files, and the chain of records leading down to an event path.
#include "base/Log.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/StoreLock.h"
#include "base/PathContainment.h"

#include <algorithm>
#include <sys/stat.h>

QByteArray Directory::fullName(const QByteArray &name, bool fullPath) const
{
    return fullPath ? name : this->name() + '/' + name;
}

bool Directory::checkDirName(const QByteArray &path)
{
    if (path.endsWith('/')) {
        Log::f("Directories must not end with /");
        return false;
    }
    if (!path.startsWith('/')) {
        Log::f("Directory must start with /");
        return false;
    }
    return true;
}

ManagedObject *Directory::findFileOrSubdirectoryNamed(const QByteArray &name, bool fullPath, bool file) const
{
    LOCK_STORE;
    const QByteArray full = fullName(name, fullPath);
    if (file) {
        for (File *f : m_files)
            if (f->m_name == full)
                return f;
    } else {
        for (Directory *d : m_subdirectories)
            if (d->m_name == full)
                return d;
    }
    return nullptr;
}

File *Directory::findFileNamed(const QByteArray &name, bool fullPath) const
{
    return static_cast<File *>(findFileOrSubdirectoryNamed(name, fullPath, true));
}

Directory *Directory::findSubdirectoryNamed(const QByteArray &name, bool fullPath) const
{
    return static_cast<Directory *>(findFileOrSubdirectoryNamed(name, fullPath, false));
}

std::optional<Date> Directory::mtimeForFilename(const QByteArray &name, bool fullPath, quint64 *size) const
{
    // Anything but a regular file counts as absent: links, fifos and devices are never handed over.
    struct stat st;
    if (::lstat(fullName(name, fullPath).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *size = 0;
        return std::nullopt;
    }
    *size = quint64(st.st_size);
    return dateFromTimespec(st.st_mtim);
}

bool Directory::fileIsNewerThanLastScanTime(const QByteArray &name, bool fullPath, quint64 *size, std::optional<Date> *mtime) const
{
    *mtime = mtimeForFilename(name, fullPath, size);
    const std::optional<Date> last = lastScanTime();
    if (last && (!*mtime || !(**mtime > *last)))
        return false;
    Log::f("  + %@ is new (FILE): mtime: %@ size:%lu", name, *mtime, *size);
    return true;
}

File *Directory::addFileNamed(const QByteArray &name, bool fullPath)
{
    quint64 size = 0;
    mtimeForFilename(fullName(name, fullPath), true, &size);
    return addFileNamed(name, fullPath, size);
}

File *Directory::addFileNamed(const QByteArray &name, bool fullPath, quint64 size)
{
    const QByteArray full = fullName(name, fullPath);
    LOCK_STORE;
    if (isDeleted())
        return nullptr; // a record under a deleted folder would be saved without its parent
    File *file = findFileNamed(full, true);
    if (!file) {
        file = managedObjectContext()->insertNew<File>();
        file->setName(full);
        addFilesObject(file);
    }
    // A waiting record carries no date: a date marks a file dated ahead that
    // was handed over already (see DirectoryDiffer::handOver).
    file->setModified(std::nullopt);
    file->setSize(size);
    return file;
}

bool Directory::deleteFileNamed(const QByteArray &name, bool fullPath)
{
    LOCK_STORE;
    File *file = findFileNamed(name, fullPath);
    if (!file)
        return false;
    removeFilesObject(file);
    managedObjectContext()->deleteObject(file);
    return true;
}

void Directory::addSubdirectory(Directory *dir)
{
    addSubdirectoriesObject(dir);
}

bool Directory::addSubdirectoryNamed(const QByteArray &name, bool fullPath, bool checkExistence, Directory **newDir)
{
    const QByteArray full = fullName(name, fullPath);
    if (!checkDirName(full))
        return false;
    LOCK_STORE;
    if (isDeleted()) {
        if (newDir)
            *newDir = nullptr;
        return false; // a record under a deleted folder would be saved without its parent
    }
    if (checkExistence) {
        if (Directory *existing = findSubdirectoryNamed(full, true)) {
            if (newDir)
                *newDir = existing;
            return false;
        }
    }
    auto *dir = managedObjectContext()->insertNew<Directory>();
    dir->setName(full);
    addSubdirectoriesObject(dir);
    if (newDir)
        *newDir = dir;
    return true;
}

bool Directory::addSubdirectoryNamed(const QByteArray &name, bool fullPath, Directory **newDir)
{
    return addSubdirectoryNamed(name, fullPath, true, newDir);
}

bool Directory::addSubdirectoryNamed(const QByteArray &name, bool fullPath)
{
    return addSubdirectoryNamed(name, fullPath, true, nullptr);
}

bool Directory::deleteSubdirectoryNamed(const QByteArray &name, bool fullPath)
{
    LOCK_STORE;
    Directory *dir = findSubdirectoryNamed(name, fullPath);
    if (!dir)
        return false;
    removeSubdirectoriesObject(dir);
    managedObjectContext()->deleteObject(dir);
    return true;
}

bool Directory::deleteSubdirectoryAtIndex(int index)
{
    LOCK_STORE;
    const auto sorted = sortedSubdirectories();
    if (index < 0 || size_t(index) >= sorted.size())
        return false;
    removeSubdirectoriesObject(sorted[size_t(index)]);
    managedObjectContext()->deleteObject(sorted[size_t(index)]);
    return true;
}

Directory *Directory::findSubdirectory(const QByteArray &path)
{
    return findSubdirectory(path, 0, nullptr);
}

Directory *Directory::findSubdirectory(const QByteArray &path, int currentDepth, int *returnDepth)
{
    LOCK_STORE;
    for (Directory *child : m_subdirectories)
        if (pathIsInside(path, child->m_name))
            return child->findSubdirectory(path, currentDepth + 1, returnDepth);
    if (pathIsInside(path, m_name)) {
        if (returnDepth)
            *returnDepth = currentDepth;
        return this;
    }
    return nullptr;
}

Directory *Directory::addSubdirectoryChainLeadingToPath(const QByteArray &path, int subdirMaxDepth, int *depth, bool appeared)
{
    LOCK_STORE;
    if (isDeleted())
        return nullptr;
    const QByteArray rootName = name();
    if (!pathIsInside(path, rootName))
        return nullptr;
    QList<QByteArray> chain;
    for (QByteArray p = path; pathIsInside(p, rootName) && p != rootName; p = parentPath(p))
        chain.prepend(p);
    if (depth)
        *depth = int(chain.size());
    if (subdirMaxDepth < chain.size())
        return nullptr;
    Directory *current = this;
    for (const QByteArray &p : chain) {
        Directory *next = nullptr;
        const bool made = current->addSubdirectoryNamed(p, true, &next);
        if (!next)
            return nullptr; // a malformed path the name check refused
        // A folder without a record was there, unseen: what it held then is not a download.
        if (made && !(appeared && p == path))
            next->setLastScanTime(current->scanTimeForNewChild());
        current = next;
    }
    return current;
}

void Directory::moveTree(Directory *parent, const QByteArray &path)
{
    LOCK_STORE;
    const QByteArray from = m_name;
    if (m_superdirectory)
        m_superdirectory->removeSubdirectoriesObject(this);
    parent->addSubdirectoriesObject(this);
    std::vector<Directory *> pending{this};
    while (!pending.empty()) {
        Directory *d = pending.back();
        pending.pop_back();
        d->setName(path + d->m_name.mid(from.size()));
        for (File *f : d->m_files)
            f->setName(path + f->name().mid(from.size()));
        pending.insert(pending.end(), d->m_subdirectories.begin(), d->m_subdirectories.end());
    }
}
