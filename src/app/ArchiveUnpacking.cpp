// Unpacking an archive for the import pipeline: the tool runs bounded in a
// fresh scratch folder, and what it wrote is moved into the keep folder
// beside the archive. Every move and Trash operation is checked to stay
// inside the archive's own folder.
#include "app/ArchiveUnpacking.h"
#include "app/ArchiveSize.h"
#include "app/ImportPipeline.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/PathContainment.h"
#include "base/StandardFolders.h"
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

QByteArray ImportPipeline::scratchFolderFor(const QByteArray &archive)
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

QByteArray ImportPipeline::archiveDir()
{
    return StandardFolders::applicationSupport() + "/archiveTemp";
}

namespace {
// One unpacking: the archive, where it goes, and what the tool did.
struct Unpacking {
    QByteArray path, type, scratch;
    QByteArray alone, linked; // the private folder holding the archive alone, and its name there
    quint64 room = 0;
    ArchiveSize::Declared declared;
    ByteFiles::TreeShape stopPast; // a tree past this stops the tool
    QString tool;
    QString output = QStringLiteral("unar was not found");
    int status = -1;
    bool tooBig = false, tooMany = false;
};

QString unpackingTool(const QByteArray &type)
{
    if (type == "zip")
        return QStringLiteral("/usr/bin/unzip");
    return QStandardPaths::findExecutable(QStringLiteral("unar"));
}

// The tool gets the archive alone in a private folder (unar takes files
// beside it whose names differ by a number for parts of one set), under its
// own name when that is plain text, as unar names its folder after it; a name
// a command line cannot carry becomes "archive" with the extension kept.
bool placeAlone(Unpacking &u)
{
    u.alone = StandardFolders::applicationSupport() + "/archiveLink";
    ByteFiles::removeTree(u.alone);
    ByteFiles::makePath(u.alone);
    const QByteArray leaf = leafName(u.path);
    u.linked = u.alone + '/' + (isPlainText(leaf) ? leaf : "archive." + leaf.mid(leaf.size() - u.type.size()));
    if (::link(u.path.constData(), u.linked.constData()) == 0 || ByteFiles::copyTreeVerified(u.path, u.linked))
        return true;
    Log::f("Could not reach the archive %@: %@", u.path, QString::fromLocal8Bit(strerror(errno)));
    return false;
}

// What the archive declares is a first check only: it may lie, so the
// tool is also bounded while it runs.
bool declaredFits(Unpacking &u)
{
    u.room = ArchiveSize::room(parentPath(u.scratch));
    u.declared = ArchiveSize::declared(u.linked, u.type);
    const ByteFiles::TreeShape most = ArchiveSize::mostAnArchiveHolds();
    if (u.declared.bytes && *u.declared.bytes > u.room) {
        Log::f("--- %@ would unpack to %qu bytes, more than the %qu there is room for; not unpacking", u.path, *u.declared.bytes, u.room);
        return false;
    }
    if (u.declared.shape.exceeds(most)) {
        Log::f("--- %@ holds %qu items in %qu folders %i levels deep, more than an archive may (%qu, %qu, %i); not unpacking", u.path,
               quint64(u.declared.shape.entries), quint64(u.declared.shape.folders), u.declared.shape.depth, quint64(most.entries),
               quint64(most.folders), most.depth);
        return false;
    }
    // unar may put the whole in one folder of its own: one level and folder more.
    u.stopPast = most;
    u.stopPast.bytes = u.room;
    u.stopPast.depth += 1;
    u.stopPast.folders += 1;
    u.stopPast.entries += 1;
    return true;
}

void runBounded(Unpacking &u)
{
    Log::f("^^%@ %@ in %@^^", u.tool, u.path, u.scratch);
    if (!u.tool.isEmpty()) {
        CWTask::Bounds bounds;
        bounds.workingDirectory = u.scratch;
        // No honest file is larger than the whole the archive declares: a file
        // past it (with some slack) shows the listing lied, and the kernel stops it.
        bounds.fileSizeLimit = u.declared.bytes ? qMin(u.room, *u.declared.bytes + (quint64(1) << 20)) : u.room;
        struct stat st;
        bounds.timeLimitMs = ArchiveSize::timeLimitMs(::stat(u.linked.constData(), &st) == 0 ? quint64(st.st_size) : 0, false);
        bounds.keepGoing = [&u] {
            const ByteFiles::TreeShape shape = ByteFiles::measureTree(u.scratch, u.stopPast);
            u.tooBig = !shape.complete || shape.bytes > u.room;
            u.tooMany = shape.exceeds(u.stopPast);
            return !u.tooMany;
        };
        u.output = CWTask::performSynchronousTask(u.tool, {QFile::decodeName(u.linked)}, bounds, &u.status);
    }
    ByteFiles::removeTree(u.alone);
    Log::f("^^CWTask returned, status:%i ; unpacking done.  Output:^^", u.status);
    for (const QString &outputLine : u.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        Log::f("  %@", outputLine);
}

// True when the tool succeeded and what it wrote stays within the bounds.
bool unpackedWithinBounds(Unpacking &u)
{
    // The kernel's limit stops a file at the limit exactly; a tool may go on with a write error.
    // A tool quicker than the first check is measured once at its end.
    const ByteFiles::TreeShape unpacked = ByteFiles::measureTree(u.scratch, u.stopPast);
    u.tooBig = u.tooBig || u.status == 128 + SIGXFSZ || !unpacked.complete || unpacked.bytes > u.room
               || (u.status != 0 && unpacked.bytes >= u.room);
    u.tooMany = u.tooMany || unpacked.exceeds(u.stopPast);
    if (u.status != 0 && u.declared.bytes && unpacked.bytes > *u.declared.bytes) {
        Log::f("--- %@ unpacked to more than the %qu bytes it declares; unpacking stopped", u.path, *u.declared.bytes);
    } else if (u.tooBig) {
        Log::f("--- %@ unpacked to more than the %qu bytes there is room for; unpacking stopped", u.path, u.room);
        u.status = u.status == 0 ? 1 : u.status;
    } else if (u.tooMany) {
        Log::f("--- %@ unpacked to more items, folders or levels than an archive may hold; unpacking stopped", u.path);
        u.status = u.status == 0 ? 1 : u.status;
    }
    if (u.type == "rar" && u.status == 0 && u.output.contains(QLatin1String("Error on decrunching")))
        u.status = 1;
    return u.status == 0;
}
}

bool ImportPipeline::unpackArchive(const QByteArray &path, const QByteArray &type)
{
    if (type != "zip" && type != "rar")
        return false;
    if (!ByteFiles::isRegularFile(path)) {
        Log::f("--- %@ is not a regular file; not unpacked", path);
        return false;
    }
    Unpacking u;
    u.path = path;
    u.type = type;
    u.tool = unpackingTool(type);
    u.scratch = m_unpackFolder = scratchFolderFor(path);
    if (u.scratch.isEmpty()) {
        Log::f("--- No folder to unpack %@ into: %@", path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (!placeAlone(u) || !declaredFits(u)) {
        ByteFiles::removeTree(u.alone);
    } else {
        runBounded(u);
        if (unpackedWithinBounds(u)) {
            ByteFiles::settleUnpackedTree(u.scratch, [&path](const QByteArray &name, const QByteArray &target) {
                Log::f("--- Removed the link %@ -> %@ unpacked from %@: it leads outside the unpacked files", name, target, path);
            });
            return true;
        }
    }
    // A failed unpack leaves nothing behind.
    ByteFiles::removeTree(u.scratch);
    m_unpackFolder.clear();
    return false;
}

bool ImportPipeline::moveContentsOfDirectory(const QByteArray &source, const QByteArray &destination, const QByteArray &within)
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
        if (ByteFiles::exists(destination) && !moveToTrash(destination, within))
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
        if (ByteFiles::exists(to) && !moveToTrash(to, within)) {
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

bool ImportPipeline::moveToTrash(const QByteArray &path, const QByteArray &within)
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

