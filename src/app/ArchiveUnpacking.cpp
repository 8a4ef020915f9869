// Unpacking an archive for the import pipeline: the tool runs bounded in a
// fresh scratch folder, and what it wrote is moved into the keep folder
// beside the archive. Every move and Trash operation is checked to stay
// inside the archive's own folder.
#include "app/ArchiveUnpacking.h"
#include "app/ArchiveSize.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/PathContainment.h"
#include "tasks/CWTask.h"

#include <QFile>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
// The scratch folder beside the archive (same file system, so the keep
// folder's move is a rename). Its name ends in "download": the watcher
// ignores what happens inside such folders.
const QByteArray kScratchName = ".Rivulet unpacking.download";
// The keep folder's name when the archive's own stem cannot name a child folder.
const QByteArray kFallbackKeepName = "Unpacked archive";
// Marks a keep folder with the name of the archive it was made for: only
// such a folder is merged into when the same archive comes again.
const char kKeptFromAttribute[] = "user.rivulet.archive";
// The keep folders named but not yet made, with the archive each is for.
QHash<QByteArray, QByteArray> g_keepFolderArchive;

bool madeForArchive(const QByteArray &folder, const QByteArray &archiveLeaf)
{
    if (!ByteFiles::isFolder(folder))
        return false;
    QByteArray value(256, Qt::Uninitialized);
    const ssize_t n = ::lgetxattr(folder.constData(), kKeptFromAttribute, value.data(), size_t(value.size()));
    return n >= 0 && value.left(n) == archiveLeaf;
}

// Valid UTF-8 without control characters.
bool isPlainText(const QByteArray &name)
{
    for (const char c : name)
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return false;
    return QString::fromUtf8(name).toUtf8() == name;
}

// Makes an empty scratch folder at path: a stale one of ours is removed
// first; anything else standing there (a file, a link) is left alone.
bool freshScratchFolder(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || !ByteFiles::removeTree(path))
            return false;
    }
    return ::mkdir(path.constData(), 0700) == 0;
}
}

QByteArray archiveType(const QByteArray &path)
{
    const QByteArray leaf = leafName(path);
    const int dot = int(leaf.lastIndexOf('.'));
    const QByteArray ext = dot >= 0 ? leaf.mid(dot + 1) : QByteArray();
    if (ext == "zip" || ext == "ZIP")
        return "zip";
    if (ext == "rar" || ext == "RAR")
        return "rar";
    return {};
}

// Not empty and not only dots ("...zip" would name the folder above). A
// name taken by anything not made for this archive (the user's own file or
// folder) is left alone: "report 2", "report 3", ... instead.
QByteArray keepFolderName(const QByteArray &archive, const QByteArray &type)
{
    const QByteArray leaf = leafName(archive);
    const QByteArray stem = leaf.left(leaf.size() - type.size() - 1);
    const bool onlyDots = std::all_of(stem.cbegin(), stem.cend(), [](char c) { return c == '.'; });
    const QByteArray base = stem.isEmpty() || onlyDots || stem == kScratchName ? kFallbackKeepName : stem;
    const QByteArray folder = parentPath(archive) + '/';
    QByteArray name = base;
    for (int n = 2; n < 1000 && ByteFiles::exists(folder + name) && !madeForArchive(folder + name, leaf); ++n)
        name = base + ' ' + QByteArray::number(n);
    g_keepFolderArchive.insert(folder + name, leaf);
    return name;
}

QByteArray Rivulet_AppDelegate::scratchFolderFor(const QByteArray &archive)
{
    const QByteArray beside = parentPath(archive) + '/' + kScratchName;
    if (freshScratchFolder(beside))
        return beside;
    // A folder we cannot write into: the data folder's scratch folder instead.
    const QByteArray fallback = archiveDir();
    if (freshScratchFolder(fallback))
        return fallback;
    return {};
}

bool Rivulet_AppDelegate::unpackArchive(const QByteArray &path, const QByteArray &type)
{
    QString tool;
    if (type == "zip")
        tool = QStringLiteral("/usr/bin/unzip");
    else if (type == "rar")
        tool = QStandardPaths::findExecutable(QStringLiteral("unar"));
    else
        return false;
    if (!ByteFiles::isRegularFile(path)) {
        Log::f("--- %@ is not a regular file; not unpacked", path);
        return false;
    }
    m_unpackFolder = scratchFolderFor(path);
    const QByteArray scratch = m_unpackFolder;
    if (scratch.isEmpty()) {
        Log::f("--- No folder to unpack %@ into: %@", path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // The tool gets the archive alone in a private folder (unar takes files
    // beside it whose names differ by a number for parts of one set), under its
    // own name when that is plain text, as unar names its folder after it; a name
    // a command line cannot carry becomes "archive" with the extension kept.
    const QByteArray support = applicationSupportDirectory();
    const QByteArray alone = support + "/archiveLink";
    ByteFiles::removeTree(alone);
    ByteFiles::makePath(alone);
    const QByteArray leaf = leafName(path);
    const QByteArray linked = alone + '/' + (isPlainText(leaf) ? leaf : "archive." + leaf.mid(leaf.size() - type.size()));
    const auto fail = [&] {
        ByteFiles::removeTree(alone);
        ByteFiles::removeTree(scratch);
        m_unpackFolder.clear();
        return false;
    };
    if (::link(path.constData(), linked.constData()) != 0 && !ByteFiles::copyTreeVerified(path, linked)) {
        Log::f("Could not reach the archive %@: %@", path, QString::fromLocal8Bit(strerror(errno)));
        return fail();
    }
    // What the archive declares is a first check only: it may lie, so the
    // tool is also bounded while it runs.
    const quint64 room = ArchiveSize::room(parentPath(scratch));
    const ArchiveSize::Declared declared = ArchiveSize::declared(linked, type);
    const ByteFiles::TreeShape most = ArchiveSize::mostAnArchiveHolds();
    if (declared.bytes && *declared.bytes > room) {
        Log::f("--- %@ would unpack to %qu bytes, more than the %qu there is room for; not unpacking", path, *declared.bytes, room);
        return fail();
    }
    if (declared.shape.exceeds(most)) {
        Log::f("--- %@ holds %qu items in %qu folders %i levels deep, more than an archive may (%qu, %qu, %i); not unpacking", path,
               quint64(declared.shape.entries), quint64(declared.shape.folders), declared.shape.depth, quint64(most.entries),
               quint64(most.folders), most.depth);
        return fail();
    }
    // unar may put the whole in one folder of its own: one level and folder more.
    ByteFiles::TreeShape stopPast = most;
    stopPast.bytes = room;
    stopPast.depth += 1;
    stopPast.folders += 1;
    stopPast.entries += 1;
    Log::f("^^%@ %@ in %@^^", tool, path, scratch);
    int status = -1;
    bool tooBig = false, tooMany = false;
    QString output = QStringLiteral("unar was not found");
    if (!tool.isEmpty()) {
        CWTask::Bounds bounds;
        bounds.workingDirectory = scratch;
        // No honest file is larger than the whole the archive declares: a file
        // past it (with some slack) shows the listing lied, and the kernel stops it.
        bounds.fileSizeLimit = declared.bytes ? qMin(room, *declared.bytes + (quint64(1) << 20)) : room;
        struct stat st;
        bounds.timeLimitMs = ArchiveSize::timeLimitMs(::stat(linked.constData(), &st) == 0 ? quint64(st.st_size) : 0, false);
        bounds.keepGoing = [&] {
            const ByteFiles::TreeShape shape = ByteFiles::measureTree(scratch, stopPast);
            tooBig = !shape.complete || shape.bytes > room;
            tooMany = shape.exceeds(stopPast);
            return !tooMany;
        };
        output = CWTask::performSynchronousTask(tool, {QFile::decodeName(linked)}, bounds, &status);
    }
    ByteFiles::removeTree(alone);
    Log::f("^^CWTask returned, status:%i ; unpacking done.  Output:^^", status);
    for (const QString &outputLine : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        Log::f("  %@", outputLine);
    // The kernel's limit stops a file at the limit exactly; a tool may go on with a write error.
    // A tool quicker than the first check is measured once at its end.
    const ByteFiles::TreeShape unpacked = ByteFiles::measureTree(scratch, stopPast);
    tooBig = tooBig || status == 128 + SIGXFSZ || !unpacked.complete || unpacked.bytes > room || (status != 0 && unpacked.bytes >= room);
    tooMany = tooMany || unpacked.exceeds(stopPast);
    if (status != 0 && declared.bytes && unpacked.bytes > *declared.bytes) {
        Log::f("--- %@ unpacked to more than the %qu bytes it declares; unpacking stopped", path, *declared.bytes);
    } else if (tooBig) {
        Log::f("--- %@ unpacked to more than the %qu bytes there is room for; unpacking stopped", path, room);
        status = status == 0 ? 1 : status;
    } else if (tooMany) {
        Log::f("--- %@ unpacked to more items, folders or levels than an archive may hold; unpacking stopped", path);
        status = status == 0 ? 1 : status;
    }
    if (type == "rar" && status == 0 && output.contains(QLatin1String("Error on decrunching")))
        status = 1;
    if (status != 0)
        return fail(); // a failed unpack leaves nothing behind
    ByteFiles::settleUnpackedTree(scratch, [&path](const QByteArray &name, const QByteArray &target) {
        Log::f("--- Removed the link %@ -> %@ unpacked from %@: it leads outside the unpacked files", name, target, path);
    });
    return true;
}

bool Rivulet_AppDelegate::fsMoveContentsOfDirectory(const QByteArray &source, const QByteArray &destination, const QByteArray &within)
{
    const auto names = ByteFiles::listNames(source);
    if (!names)
        return false;
    if (names->isEmpty())
        return true;
    // The destination must be a folder strictly below within, wherever links and ".." lead.
    const auto resolvedWithin = ByteFiles::resolvedLocation(within + "/x");
    if (!ByteFiles::staysInside(destination, within) || !resolvedWithin
        || ByteFiles::resolvedLocation(destination) == parentPath(*resolvedWithin)) {
        Log::f("--- Not moving the unpacked files to %@: it is not inside %@", destination, within);
        return false;
    }
    if (!ByteFiles::isFolder(destination)) {
        // Something else stands where the folder must go: it goes to the Trash, not away.
        if (ByteFiles::exists(destination) && !fsMoveToTrash(destination, within))
            return false;
        if (::mkdir(destination.constData(), 0755) != 0 || !ByteFiles::isFolder(destination)) {
            Log::f("--- Could not make the folder %@: %@", destination, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        const QByteArray archive = g_keepFolderArchive.value(destination);
        if (!archive.isEmpty())
            ::lsetxattr(destination.constData(), kKeptFromAttribute, archive.constData(), size_t(archive.size()), 0);
    }
    g_keepFolderArchive.remove(destination);
    bool everythingMoved = true;
    for (const QByteArray &name : *names) {
        const QByteArray from = source + '/' + name;
        const QByteArray to = destination + '/' + name;
        Log::f("Moving %@ to %@", from, to);
        // The item it replaces stays recoverable; one that cannot go to the Trash is not replaced.
        if (ByteFiles::exists(to) && !fsMoveToTrash(to, within)) {
            everythingMoved = false;
            continue;
        }
        int error = ByteFiles::moveItem(source, name, destination, name);
        if (error == EXDEV) // another file system: copied, compared, and only then removed here
            error = ByteFiles::copyTreeVerified(from, to) && ByteFiles::removeTree(from) ? 0 : EXDEV;
        if (error != 0) {
            Log::f("--- Could not move %@ to %@: %@", from, to, QString::fromLocal8Bit(strerror(error)));
            everythingMoved = false;
        }
    }
    return everythingMoved;
}

bool Rivulet_AppDelegate::fsMoveToTrash(const QByteArray &path, const QByteArray &within)
{
    if (!ByteFiles::exists(path))
        return false;
    const auto resolved = ByteFiles::resolvedLocation(path);
    if (!resolved || !ByteFiles::staysInside(path, within)) {
        Log::f("--- Not moving %@ to the Trash: it is not inside %@", path, within);
        return false;
    }
    return Trash::moveToTrash(*resolved);
}

