#include "store/StoreFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace StoreFile {

namespace {
QString leaf(const QByteArray &path)
{
    return QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
}

// The file a save replaces: the target of a symbolic link, so that the link stays.
QByteArray resolvedTarget(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.constData(), resolved))
            return QByteArray(resolved);
    }
    return path;
}
}

Contents::~Contents()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

ReadResult read(const QByteArray &path, Contents *contents)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? ReadResult{Missing} : ReadResult{Failed, errno};
    // Non-blocking, so that a fifo in its place cannot hang the start.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {Failed, errno};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int e = !statted ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return {Failed, e};
    }
    if (st.st_size == 0) {
        ::close(fd);
        return {Read};
    }
    // A private mapping filled at once: one call instead of a fault per page,
    // and the copy is ours, so later changes to the file do not reach it.
    void *data = ::mmap(nullptr, size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    const int e = errno;
    ::close(fd);
    if (data == MAP_FAILED)
        return {Failed, e};
    contents->m_data = static_cast<char *>(data);
    contents->m_size = size_t(st.st_size);
    return {Read};
}

StoreError openError(const QByteArray &path, int error)
{
    const QString domain = QStringLiteral("NSCocoaErrorDomain");
    const QString reason = QString::fromLocal8Bit(strerror(error));
    if (error == EACCES || error == EPERM)
        return {domain, 257, QStringLiteral("The file \u201c%1\u201d couldn't be opened because you don't have permission to view it.").arg(leaf(path)), reason};
    if (error == ENOENT)
        return {domain, 260, QStringLiteral("The file \u201c%1\u201d couldn't be opened because there is no such file.").arg(leaf(path)), reason};
    return {domain, 256, QStringLiteral("The file \u201c%1\u201d couldn't be opened.").arg(leaf(path)), reason};
}

namespace {
std::atomic<void (*)()> beforeSync{nullptr};
}

void setBeforeSyncForTests(void (*hook)())
{
    beforeSync = hook;
}

void discard(NewFile *file)
{
    if (file->fd >= 0)
        ::close(file->fd);
    file->fd = -1;
    if (!file->temp.isEmpty())
        ::unlink(file->temp.constData());
    file->temp.clear();
}

bool writeNew(const QByteArray &path, const std::function<int(int fd)> &writeTo, NewFile *file, int *error)
{
    file->target = resolvedTarget(path);
    file->temp = file->target + ".XXXXXX";
    file->fd = ::mkostemp(file->temp.data(), O_CLOEXEC);
    if (file->fd < 0) {
        *error = errno;
        file->temp.clear();
        return false;
    }
    // The new file keeps the old one's permissions.
    struct stat st;
    const bool ok = ::stat(file->target.constData(), &st) != 0 || ::fchmod(file->fd, st.st_mode & 07777) == 0;
    *error = ok ? writeTo(file->fd) : errno;
    if (!ok || *error != 0) {
        discard(file);
        return false;
    }
    return true;
}

bool sync(NewFile *file, int *error)
{
    if (auto hook = beforeSync.load())
        hook();
    bool ok = ::fsync(file->fd) == 0;
    if (!ok)
        *error = errno;
    const int fd = file->fd;
    file->fd = -1;
    if (::close(fd) != 0 && ok) {
        ok = false;
        *error = errno;
    }
    if (!ok)
        discard(file);
    return ok;
}

bool place(NewFile *file, int *error)
{
    if (::rename(file->temp.constData(), file->target.constData()) != 0) {
        *error = errno;
        discard(file);
        return false;
    }
    file->temp.clear();
    return true;
}

bool replace(const QByteArray &path, const std::function<int(int fd)> &writeTo, int *error)
{
    NewFile file;
    return writeNew(path, writeTo, &file, error) && sync(&file, error) && place(&file, error);
}

} // namespace StoreFile
