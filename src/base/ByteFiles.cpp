#include "base/ByteFiles.h"
#include "base/PathContainment.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace ByteFiles {

namespace {

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Empties the folder open as fd (which this takes over) and everything below it.
bool emptyFolder(int fd)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    QList<QByteArray> names;
    while (const dirent *d = ::readdir(dir))
        if (!isDotOrDotDot(d->d_name))
            names << QByteArray(d->d_name);
    for (const QByteArray &name : std::as_const(names)) {
        struct stat st;
        if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0 || !emptyFolder(child) || ::unlinkat(fd, name.constData(), AT_REMOVEDIR) != 0)
                ok = false;
        } else if (::unlinkat(fd, name.constData(), 0) != 0) {
            ok = false;
        }
    }
    ::closedir(dir);
    return ok;
}

quint64 itemSize(const struct stat &st)
{
    return qMax(quint64(st.st_size), quint64(st.st_blocks) * 512);
}

// Walks everything below the open folder fd (which it closes) without
// following links, calling visit(folder fd, name, stat) for each entry after
// the entries below it, so a folder is visited once its contents are done.
template <typename Visit>
void forEachBelow(int fd, const Visit &visit)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent *d = ::readdir(dir)) {
        if (isDotOrDotDot(d->d_name))
            continue;
        struct stat st;
        if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(fd, d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                forEachBelow(child, visit);
        }
        visit(fd, d->d_name, st);
    }
    ::closedir(dir);
}

quint64 sizeBelow(int fd)
{
    quint64 total = 0;
    forEachBelow(fd, [&total](int, const char *, const struct stat &st) { total += itemSize(st); });
    return total;
}

void clampBelow(int fd, const timespec &now)
{
    forEachBelow(fd, [&now](int dirFd, const char *name, const struct stat &st) {
        // A folder's own time changes as its entries change: it is set after them.
        if (st.st_mtim.tv_sec > now.tv_sec) {
            const timespec times[2] = {{0, UTIME_OMIT}, now};
            ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
        }
    });
}

bool writeAll(int fd, const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= n;
    }
    return true;
}

// Copies one regular file and then compares the copy with the source byte for byte.
bool copyFileVerified(const QByteArray &from, const QByteArray &to, mode_t mode)
{
    const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat st;
    const int out = ::fstat(in, &st) == 0 && S_ISREG(st.st_mode)
                        ? ::open(to.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777)
                        : -1;
    bool ok = out >= 0;
    QByteArray a(1 << 16, Qt::Uninitialized), b(1 << 16, Qt::Uninitialized);
    while (ok) {
        const ssize_t n = ::read(in, a.data(), size_t(a.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        ok = writeAll(out, a.constData(), n);
    }
    ok = ok && ::fsync(out) == 0 && ::lseek(in, 0, SEEK_SET) == 0 && ::lseek(out, 0, SEEK_SET) == 0;
    while (ok) {
        const ssize_t n = ::read(in, a.data(), size_t(a.size()));
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        qint64 got = 0;
        while (ok && got < n) {
            const ssize_t m = ::read(out, b.data() + got, size_t(n - got));
            ok = m > 0;
            got += m > 0 ? m : 0;
        }
        ok = ok && memcmp(a.constData(), b.constData(), size_t(n)) == 0;
    }
    char extra;
    ok = ok && ::read(out, &extra, 1) == 0;
    if (out >= 0)
        ::close(out);
    ::close(in);
    return ok;
}

bool copyTree(const QByteArray &from, const QByteArray &to)
{
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode))
        return copyFileVerified(from, to, st.st_mode);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(from.constData(), target.data(), size_t(target.size()));
        return n >= 0 && ::symlink(target.left(n).constData(), to.constData()) == 0;
    }
    if (!S_ISDIR(st.st_mode) || ::mkdir(to.constData(), st.st_mode & 0777) != 0)
        return false; // fifos and devices are not carried over
    const auto names = listNames(from);
    if (!names)
        return false;
    for (const QByteArray &name : *names)
        if (!copyTree(from + '/' + name, to + '/' + name))
            return false;
    return true;
}
}

std::optional<QList<QByteArray>> listNames(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    QList<QByteArray> names;
    while (const dirent *d = ::readdir(dir))
        if (!isDotOrDotDot(d->d_name))
            names << QByteArray(d->d_name);
    ::closedir(dir);
    return names;
}

bool makePath(const QByteArray &path)
{
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeTree(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.constData()) == 0;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool emptied = emptyFolder(fd);
    return ::rmdir(path.constData()) == 0 && emptied;
}

quint64 treeSize(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return itemSize(st);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : sizeBelow(fd);
}

int moveItem(const QByteArray &fromFolder, const QByteArray &name, const QByteArray &toFolder, const QByteArray &toName)
{
    const int from = ::open(fromFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int to = ::open(toFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int result = 0;
    if (from < 0 || to < 0)
        result = errno;
    else if (::renameat(from, name.constData(), to, toName.constData()) != 0)
        result = errno;
    if (from >= 0)
        ::close(from);
    if (to >= 0)
        ::close(to);
    return result;
}

bool copyTreeVerified(const QByteArray &from, const QByteArray &to)
{
    if (exists(to))
        return false;
    if (copyTree(from, to))
        return true;
    removeTree(to);
    return false;
}

std::optional<QByteArray> resolvedLocation(const QByteArray &path)
{
    const QByteArray leaf = leafName(path);
    if (leaf == "." || leaf == "..")
        return std::nullopt;
    char *folder = ::realpath(parentPath(path).constData(), nullptr);
    if (!folder)
        return std::nullopt;
    QByteArray resolved(folder);
    ::free(folder);
    if (leaf.isEmpty())
        return resolved;
    return resolved == "/" ? "/" + leaf : resolved + '/' + leaf;
}

bool staysInside(const QByteArray &path, const QByteArray &folder)
{
    const auto resolvedPath = resolvedLocation(path);
    char *resolvedFolder = ::realpath(folder.constData(), nullptr);
    if (!resolvedPath || !resolvedFolder) {
        ::free(resolvedFolder);
        return false;
    }
    const bool inside = pathIsInside(*resolvedPath, QByteArray(resolvedFolder));
    ::free(resolvedFolder);
    return inside;
}

void clampFutureTimes(const QByteArray &path)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        clampBelow(fd, now);
}

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

} // namespace ByteFiles
