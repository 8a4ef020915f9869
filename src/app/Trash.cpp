#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/StandardFolders.h"
#include "base/PathContainment.h"

#include <QDateTime>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Trash {

QByteArray homeTrash()
{
    return StandardFolders::dataHome().value_or(StandardFolders::home() + "/.local/share") + "/Trash";
}

namespace {

constexpr int kMaxTrashName = 255 - int(sizeof(".trashinfo") - 1) - 5;

dev_t deviceOf(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? st.st_dev : dev_t(-1);
}

// The top folder of the file system that holds path.
QByteArray mountTop(const QByteArray &path)
{
    const dev_t dev = deviceOf(path);
    QByteArray top = path;
    while (top != "/") {
        const QByteArray up = parentPath(top);
        if (deviceOf(up) != dev)
            break;
        top = up;
    }
    return top;
}

bool makeTrashFolders(const QByteArray &trash)
{
    return ByteFiles::makePath(trash + "/files") && ByteFiles::makePath(trash + "/info");
}

// Reserves a name in the trash by creating its info file exclusively, then
// renames the item into files/. The info file's Path is absolute for the home
// trash and relative to the file system's top for the others.
bool moveInto(const QByteArray &trash, const QByteArray &path, const QByteArray &pathInInfo)
{
    // The info file adds ".trashinfo" and a number may follow: a long name is
    // shortened in the trash (the info file keeps the full original path).
    QByteArray leaf = leafName(path);
    if (leaf.size() > kMaxTrashName) {
        leaf.truncate(kMaxTrashName);
        while (!leaf.isEmpty() && (uchar(leaf.back()) & 0xC0) == 0x80)
            leaf.chop(1);
        if (!leaf.isEmpty() && uchar(leaf.back()) >= 0xC0)
            leaf.chop(1); // the start of a character whose rest was cut
    }
    // Encoded from the raw bytes: a name that is not UTF-8 keeps its bytes.
    const QByteArray encoded = pathInInfo.toPercentEncoding("/");
    const QByteArray info = "[Trash Info]\nPath=" + encoded + "\nDeletionDate="
                            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray name = n == 1 ? leaf : leaf + '.' + QByteArray::number(n);
        const QByteArray infoPath = trash + "/info/" + name + ".trashinfo";
        const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
        ::close(fd);
        const QByteArray target = trash + "/files/" + name;
        struct stat st;
        const bool taken = ::lstat(target.constData(), &st) == 0;
        if (written && !taken && ::rename(path.constData(), target.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(infoPath.constData());
        // Only a name already taken in files/ is worth the next number; any
        // other failure (another file system, a read-only folder) repeats.
        if (!written || !(taken || error == EEXIST || error == ENOTEMPTY))
            return false;
    }
    return false;
}

// A folder of our own at path: made when missing, and then (or when it was
// there already) a real folder, not a link, owned by this user. Another user
// may plant a link or a folder of theirs in a shared place.
bool ownFolder(const QByteArray &path)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

bool ownTrashFolders(const QByteArray &trash)
{
    return ownFolder(trash) && ownFolder(trash + "/files") && ownFolder(trash + "/info");
}

bool usableTopTrash(const QByteArray &top, QByteArray *trash)
{
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray base = top == "/" ? QByteArray() : top;
    // An administrator's shared .Trash must be a real folder with the sticky bit.
    const QByteArray shared = base + "/.Trash";
    struct stat st;
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        *trash = shared + '/' + uid;
        if (ownTrashFolders(*trash))
            return true;
        Log::f("--- %@ is not a folder of this user's own; using %@", *trash, base + "/.Trash-" + uid);
    }
    *trash = base + "/.Trash-" + uid;
    return ownTrashFolders(*trash);
}
}

bool moveToTrash(const QByteArray &path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(path.constData(), &st) != 0)
        return false;
    const QByteArray home = homeTrash();
    if (makeTrashFolders(home) && deviceOf(home) == st.st_dev && !pathIsInside(path, home))
        return moveInto(home, path, path);
    const QByteArray top = mountTop(path);
    QByteArray trash;
    if (usableTopTrash(top, &trash) && !pathIsInside(path, trash)) {
        const QByteArray relative = top == "/" ? path.mid(1) : path.mid(top.size() + 1);
        if (moveInto(trash, path, relative))
            return true;
    }
    Log::f("Could not move %@ to the Trash; it stays where it is", path);
    return false;
}

} // namespace Trash
