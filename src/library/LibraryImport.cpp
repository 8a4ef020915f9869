#include "library/LibraryImport.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/PathContainment.h"

#include <QFile>
#include <QString>
#include <cstring>
#include <memory>
#include <mutex>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kMaxNameBytes = 255;

// Cuts a UTF-8 text to at most max bytes without splitting a character.
QByteArray cutUtf8(const QByteArray &text, int max)
{
    if (text.size() <= max)
        return text;
    int end = max;
    while (end > 0 && (uchar(text.at(end)) & 0xC0) == 0x80)
        --end;
    return text.left(end);
}

QByteArray withNumber(const QByteArray &name, int n)
{
    if (n == 1)
        return name;
    const int dot = int(name.lastIndexOf('.'));
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray suffix = " (" + QByteArray::number(n) + ")";
    stem = cutUtf8(stem, kMaxNameBytes - int(ext.size()) - int(suffix.size()));
    return stem + suffix + ext;
}

// The source, opened once: never through a link, never waiting on a fifo or
// device, and only when it is a regular file.
struct Source {
    int fd = -1;
    off_t size = 0;
    mode_t mode = 0;
    ~Source()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool openSource(const QByteArray &path, Source *source)
{
    source->fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (source->fd < 0) {
        const int error = errno;
        if (error == ELOOP)
            Log::f("--- %@ is a symbolic link; it is not copied into the library", path);
        else
            Log::f("--- Could not open %@: %@", path, QString::fromLocal8Bit(strerror(error)));
        return false;
    }
    struct stat st;
    if (::fstat(source->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Log::f("--- %@ is not a regular file; it is not copied into the library", path);
        return false;
    }
    // Reads of a regular file never wait; blocking mode keeps them whole.
    ::fcntl(source->fd, F_SETFL, ::fcntl(source->fd, F_GETFL) & ~O_NONBLOCK);
    source->size = st.st_size;
    source->mode = st.st_mode;
    return true;
}

// Reads up to n bytes at offset; fewer only at the end of the file.
ssize_t readAt(int fd, char *buffer, size_t n, off_t offset)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, buffer + done, n - done, offset + off_t(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        done += size_t(r);
    }
    return ssize_t(done);
}

bool sameContent(const Source &source, const QByteArray &other)
{
    Source b;
    b.fd = ::open(other.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (b.fd < 0 || ::fstat(b.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != source.size)
        return false;
    static constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<char[]> x(new char[kChunk]), y(new char[kChunk]);
    for (off_t at = 0; at < source.size;) {
        const size_t want = size_t(qMin<off_t>(kChunk, source.size - at));
        const ssize_t n = readAt(source.fd, x.get(), want, at);
        if (n <= 0 || readAt(b.fd, y.get(), size_t(n), at) != n || memcmp(x.get(), y.get(), size_t(n)) != 0)
            return false;
        at += n;
    }
    return true;
}

// Writes a complete copy under a hidden temporary name, then links it into
// place, which never replaces a file that appeared meanwhile.
bool copyFile(const Source &source, const QByteArray &folder, const QByteArray &to, bool flush, bool *exists)
{
    *exists = false;
    QByteArray tmp = folder + "/.rivulet-import-XXXXXX";
    const int out = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0)
        return false;
    static constexpr size_t kChunk = 1 << 16;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    bool ok = true;
    // No more than the size the file had when it was opened: a file that
    // keeps growing cannot fill the disk.
    for (off_t at = 0; ok && at < source.size;) {
        const ssize_t n = readAt(source.fd, buffer.get(), size_t(qMin<off_t>(kChunk, source.size - at)), at);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n && ok;) {
            const ssize_t w = ::write(out, buffer.get() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += qMax<ssize_t>(w, 0);
        }
        at += n;
    }
    ok = ok && ::fchmod(out, source.mode & 0777 & ~mode_t(currentUmask())) == 0;
    if (flush)
        ok = ok && ::fsync(out) == 0;
    const int savedErrno = errno;
    ::close(out);
    if (ok && ::link(tmp.constData(), to.constData()) != 0) {
        *exists = errno == EEXIST;
        ok = false;
    }
    const int linkErrno = errno;
    ::unlink(tmp.constData());
    errno = ok ? savedErrno : linkErrno;
    return ok;
}
}

unsigned currentUmask()
{
    // Linux reports it in /proc; umask() itself would have to change it to read it.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return line.mid(6).trimmed().toUInt(nullptr, 8);
    }
    return 022;
}

bool makeFolders(const QByteArray &path)
{
    for (qsizetype at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path.at(at) != '/')
            continue;
        if (::mkdir(path.left(at).constData(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
std::mutex g_copyFoldersMutex;
QList<QByteArray> g_copyFolders;

bool isInside(const QByteArray &path, const QByteArray &folder)
{
    return path.startsWith(folder + '/');
}
}

QList<QByteArray> libraryCopyFolders()
{
    std::lock_guard lock(g_copyFoldersMutex);
    return g_copyFolders;
}

void noteLibraryCopyFolder(const QByteArray &folder)
{
    std::lock_guard lock(g_copyFoldersMutex);
    if (!g_copyFolders.contains(folder))
        g_copyFolders.append(folder);
}

bool isInLibraryCopyFolder(const QByteArray &path)
{
    for (const QByteArray &folder : libraryCopyFolders())
        if (isInside(path, folder) || (ByteFiles::isFolder(folder) && ByteFiles::staysInside(path, folder)))
            return true;
    return false;
}

QByteArray libraryFileName(const QByteArray &leaf)
{
    QByteArray name = QString::fromUtf8(leaf).toUtf8(); // invalid bytes become U+FFFD
    for (char &c : name)
        if (uchar(c) < 0x20 || c == 0x7f || c == '/')
            c = '_';
    if (name.startsWith('.'))
        name.prepend('_'); // the library skips hidden files
    const int dot = int(name.lastIndexOf('.'));
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    if (name.size() > kMaxNameBytes)
        name = cutUtf8(name.left(name.size() - ext.size()), kMaxNameBytes - int(ext.size())) + ext;
    return name;
}

std::optional<QByteArray> copyIntoLibrary(const QByteArray &path, const QByteArray &musicFolder, const QByteArray &subfolder, bool *made,
                                          bool flush)
{
    if (made)
        *made = false;
    Source source;
    if (!openSource(path, &source))
        return std::nullopt;
    const QByteArray folder = musicFolder + '/' + subfolder;
    noteLibraryCopyFolder(folder);
    if (isInLibraryCopyFolder(path)) {
        // Copying it onto itself would call the library's own copy a new import.
        Log::f("--- %@ is the library's own copy; not copied", path);
        return std::nullopt;
    }
    if (!makeFolders(folder)) {
        Log::f("--- Could not make the folder %@", folder);
        return std::nullopt;
    }
    const QByteArray name = libraryFileName(leafName(path));
    for (int n = 1; n < 1000; ++n) {
        const QByteArray candidate = withNumber(name, n);
        const QByteArray target = folder + '/' + candidate;
        struct stat st;
        if (::lstat(target.constData(), &st) == 0) {
            if (S_ISREG(st.st_mode) && sameContent(source, target))
                return subfolder + '/' + candidate;
            continue;
        }
        bool exists = false;
        if (copyFile(source, folder, target, flush, &exists)) {
            if (made)
                *made = true;
            return subfolder + '/' + candidate;
        }
        if (!exists) {
            Log::f("--- Could not copy %@ into %@: %@", path, folder, QString::fromLocal8Bit(strerror(errno)));
            return std::nullopt;
        }
    }
    return std::nullopt;
}
