#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/PathContainment.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ctime>
#include <sys/stat.h>
#include <limits>
#include <unistd.h>
#include <vector>

namespace ByteFiles {

namespace {

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

quint64 itemSize(const struct stat &st)
{
    return qMax(quint64(st.st_size), quint64(st.st_blocks) * 512);
}

// The names in the open folder fd, read through a descriptor of their own.
std::optional<QList<QByteArray>> namesIn(int fd)
{
    const int copy = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return std::nullopt;
    }
    QList<QByteArray> names;
    while (const dirent *d = ::readdir(dir))
        if (!isDotOrDotDot(d->d_name))
            names << QByteArray(d->d_name);
    ::closedir(dir);
    return names;
}

// A folder of this user's that its owner cannot enter or change (an
// archive may restore 0555 or 0000) is opened up for the owner.
void openUpFolder(int dirFd, const char *name, const struct stat &st)
{
    if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmodat(dirFd, name, (st.st_mode | S_IRWXU) & 07777, 0);
}

struct Frame {
    dev_t dev;
    ino_t ino;
    QList<QByteArray> names;
    qsizetype next = 0;
    QByteArray name; // this folder's name in its parent, and its entry there
    struct stat st;
};

// Walks everything below the folder at path without following links,
// calling visit(folder fd, name, stat, depth) for each entry, a folder after
// its contents (entries of path itself are at depth 1). However deep the
// tree, at most three descriptors are open: the way back up is "..",
// checked against the folder the walk came from. A folder whose entries
// would lie deeper than maxDepth is not entered: it is visited as if one
// level deeper. visit returns false to stop. False when the walk stopped or
// some part could not be walked.
template <typename Visit>
bool walkBelow(const QByteArray &path, bool openUp, int maxDepth, const Visit &visit)
{
    struct stat top;
    if (::lstat(path.constData(), &top) != 0 || !S_ISDIR(top.st_mode))
        return false;
    if (openUp)
        openUpFolder(AT_FDCWD, path.constData(), top);
    int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    auto names = fd >= 0 && ::fstat(fd, &top) == 0 ? namesIn(fd) : std::nullopt;
    if (!names) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<Frame> frames;
    frames.push_back({top.st_dev, top.st_ino, *names, 0, {}, top});
    bool complete = true;
    while (true) {
        Frame &frame = frames.back();
        const int depth = int(frames.size());
        if (frame.next < frame.names.size()) {
            const QByteArray name = frame.names.at(frame.next++);
            struct stat st;
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                complete = complete && errno == ENOENT; // gone meanwhile
                continue;
            }
            if (S_ISDIR(st.st_mode) && depth >= maxDepth) {
                if (!visit(fd, name.constData(), st, depth + 1)) {
                    complete = false;
                    break;
                }
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (openUp)
                    openUpFolder(fd, name.constData(), st);
                const int child = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                struct stat cs;
                auto childNames = child >= 0 && ::fstat(child, &cs) == 0 && cs.st_dev == st.st_dev && cs.st_ino == st.st_ino
                                      ? namesIn(child)
                                      : std::nullopt;
                if (childNames) {
                    ::close(fd);
                    fd = child;
                    frames.push_back({cs.st_dev, cs.st_ino, std::move(*childNames), 0, name, st});
                    continue;
                }
                if (child >= 0)
                    ::close(child);
                complete = false;
            }
            if (!visit(fd, name.constData(), st, depth)) {
                complete = false;
                break;
            }
            continue;
        }
        if (frames.size() == 1)
            break;
        const Frame done = std::move(frames.back());
        frames.pop_back();
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat ps;
        const bool same = parent >= 0 && ::fstat(parent, &ps) == 0 && ps.st_dev == frames.back().dev && ps.st_ino == frames.back().ino;
        ::close(fd);
        fd = parent;
        if (!same || !visit(fd, done.name.constData(), done.st, depth - 1)) {
            complete = false; // moved away under the walk, or stopped
            break;
        }
    }
    if (fd >= 0)
        ::close(fd);
    return complete;
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
    // The copy keeps the source's modification time: a later scan must not take it for new.
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ok = ok && ::futimens(out, times) == 0;
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
        const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        return n >= 0 && ::symlink(target.left(n).constData(), to.constData()) == 0
               && ::utimensat(AT_FDCWD, to.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }
    if (!S_ISDIR(st.st_mode) || ::mkdir(to.constData(), st.st_mode & 0777) != 0)
        return false; // fifos and devices are not carried over
    const auto names = listNames(from);
    if (!names)
        return false;
    for (const QByteArray &name : *names)
        if (!copyTree(from + '/' + name, to + '/' + name))
            return false;
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    return ::utimensat(AT_FDCWD, to.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
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
    int error = 0;
    if (!S_ISDIR(st.st_mode)) {
        error = ::unlink(path.constData()) == 0 ? 0 : errno;
    } else {
        walkBelow(path, true, INT_MAX, [&error](int dirFd, const char *name, const struct stat &entry, int) {
            if (::unlinkat(dirFd, name, S_ISDIR(entry.st_mode) ? AT_REMOVEDIR : 0) != 0 && errno != ENOENT && !error)
                error = errno;
            return true;
        });
        if (::rmdir(path.constData()) != 0 && errno != ENOENT)
            error = error ? error : errno;
    }
    if (error)
        Log::f("--- Could not remove %@: %@", path, errorText(error));
    return error == 0;
}

TreeShape measureTree(const QByteArray &path, const std::optional<TreeShape> &stopPast)
{
    TreeShape shape;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return shape;
    if (!S_ISDIR(st.st_mode)) {
        shape.bytes = itemSize(st);
        shape.entries = 1;
        return shape;
    }
    bool passed = false;
    const bool walked = walkBelow(path, true, stopPast ? stopPast->depth : INT_MAX, [&](int, const char *, const struct stat &entry, int depth) {
        shape.bytes += itemSize(entry);
        ++shape.entries;
        shape.folders += S_ISDIR(entry.st_mode) ? 1 : 0;
        shape.depth = qMax(shape.depth, depth);
        passed = stopPast && shape.exceeds(*stopPast);
        return !passed;
    });
    shape.complete = walked || passed;
    return shape;
}

bool TreeShape::exceeds(const TreeShape &bound) const
{
    return !complete || bytes > bound.bytes || entries > bound.entries || folders > bound.folders || depth > bound.depth;
}

quint64 treeSize(const QByteArray &path)
{
    const TreeShape shape = measureTree(path);
    return shape.complete ? shape.bytes : std::numeric_limits<quint64>::max();
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

void settleUnpackedTree(const QByteArray &path, const std::function<void(const QByteArray &, const QByteArray &)> &linkRemoved)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    char *resolved = ::realpath(path.constData(), nullptr);
    const QByteArray root = resolved ? QByteArray(resolved) : QByteArray();
    ::free(resolved);
    walkBelow(path, true, INT_MAX, [&](int dirFd, const char *name, const struct stat &st, int) {
        if (S_ISLNK(st.st_mode)) {
            // Judged where it stands: a relative link whose target resolves inside the tree stays.
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t n = ::readlinkat(dirFd, name, target.data(), size_t(target.size()));
            target.truncate(qMax<ssize_t>(n, 0));
            char *at = ::realpath(("/proc/self/fd/" + QByteArray::number(dirFd) + '/' + name).constData(), nullptr);
            const bool inside = !root.isEmpty() && at && !target.startsWith('/') && pathIsInside(QByteArray(at), root);
            ::free(at);
            if (!inside && ::unlinkat(dirFd, name, 0) == 0) {
                if (linkRemoved)
                    linkRemoved(QByteArray(name), target);
                return true;
            }
        }
        // A folder's own time changes as its entries change: it is set after them.
        if (st.st_mtim.tv_sec > now.tv_sec) {
            const timespec times[2] = {{0, UTIME_OMIT}, now};
            ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
        }
        return true;
    });
}

void clampFutureTimes(const QByteArray &path)
{
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    walkBelow(path, false, INT_MAX, [&now](int dirFd, const char *name, const struct stat &st, int) {
        if (st.st_mtim.tv_sec > now.tv_sec) {
            const timespec times[2] = {{0, UTIME_OMIT}, now};
            ::utimensat(dirFd, name, times, AT_SYMLINK_NOFOLLOW);
        }
        return true;
    });
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
