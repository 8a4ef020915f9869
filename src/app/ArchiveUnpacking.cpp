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
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The scratch folder beside the archive (same file system, so the keep
// folder's move is a rename). Its name ends in "download": the watcher
// ignores what happens inside such folders.
const QByteArray kScratchName = ".Rivulet unpacking.download";
// The keep folder's name when the archive's own stem cannot name a child folder.
const QByteArray kFallbackKeepName = "Unpacked archive";

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

// Not empty and not only dots ("...zip" would name the folder above).
QByteArray keepFolderName(const QByteArray &archive, const QByteArray &type)
{
    const QByteArray leaf = leafName(archive);
    const QByteArray stem = leaf.left(leaf.size() - type.size() - 1);
    const bool onlyDots = std::all_of(stem.cbegin(), stem.cend(), [](char c) { return c == '.'; });
    if (stem.isEmpty() || onlyDots || stem == kScratchName)
        return kFallbackKeepName;
    return stem;
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
    if (const auto size = ArchiveSize::unpackedSize(linked, type); size && *size > room) {
        Log::f("--- %@ would unpack to %qu bytes, more than the %qu there is room for; not unpacking", path, *size, room);
        return fail();
    }
    Log::f("^^%@ %@ in %@^^", tool, path, scratch);
    int status = -1;
    bool tooBig = false;
    QString output = QStringLiteral("unar was not found");
    if (!tool.isEmpty()) {
        CWTask::Bounds bounds;
        bounds.workingDirectory = scratch;
        bounds.fileSizeLimit = room;
        bounds.keepGoing = [&] {
            tooBig = ByteFiles::treeSize(scratch) > room;
            return !tooBig;
        };
        output = CWTask::performSynchronousTask(tool, {QFile::decodeName(linked)}, bounds, &status);
    }
    ByteFiles::removeTree(alone);
    Log::f("^^CWTask returned, status:%i ; unpacking done.  Output:^^", status);
    for (const QString &outputLine : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        Log::f("  %@", outputLine);
    // The kernel's limit stops a file at the limit exactly; a tool may go on with a write error.
    tooBig = tooBig || status == 128 + SIGXFSZ || (status != 0 && ByteFiles::treeSize(scratch) >= room);
    if (tooBig) {
        Log::f("--- %@ unpacked to more than the %qu bytes there is room for; unpacking stopped", path, room);
        status = status == 0 ? 1 : status;
    }
    if (type == "rar" && status == 0 && output.contains(QLatin1String("Error on decrunching")))
        status = 1;
    if (status != 0)
        return fail(); // a failed unpack leaves nothing behind
    ByteFiles::clampFutureTimes(scratch);
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
    }
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

