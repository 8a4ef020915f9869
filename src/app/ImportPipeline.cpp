// The import pipeline of the application controller: each settled file the
// differ hands over is imported into the music library; archives are
// unpacked first and their music imported together, as one batch.
//
// Everything an archive holds is hostile until shown otherwise: it is
// unpacked by a bounded tool into a scratch folder, only regular files are
// handed to the library, and every move and Trash operation is checked to
// stay inside the archive's own folder.
#include "app/ArchiveSize.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include "library/ITunesManager.h"
#include "tasks/CWTask.h"
#include "base/PathContainment.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray kPlaylist = "Rivulet";
// At least this share of an archive's files must be music for the archive to go.
constexpr double kMusicThreshold = 0.8;
// The scratch folder beside the archive (same file system, so the keep
// folder's move is a rename). Its name ends in "download": the watcher
// ignores what happens inside such folders.
const QByteArray kScratchName = ".Rivulet unpacking.download";
// The keep folder's name when the archive's own stem cannot name a child folder.
const QByteArray kFallbackKeepName = "Unpacked archive";

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

// The archive's name without its extension, when that names a child folder:
// not empty and not only dots ("...zip" would name the folder above).
QByteArray keepFolderName(const QByteArray &archive, const QByteArray &type)
{
    const QByteArray leaf = leafName(archive);
    const QByteArray stem = leaf.left(leaf.size() - type.size() - 1);
    const bool onlyDots = std::all_of(stem.cbegin(), stem.cend(), [](char c) { return c == '.'; });
    if (stem.isEmpty() || onlyDots || stem == kScratchName)
        return kFallbackKeepName;
    return stem;
}

// Byte-wise order with runs of digits compared by their value, so that
// "2 x" comes before "10 x"; equal values fall back to the plain bytes.
// Valid UTF-8 without control characters.
bool isPlainText(const QByteArray &name)
{
    for (const char c : name)
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return false;
    return QString::fromUtf8(name).toUtf8() == name;
}

bool naturalLess(const QByteArray &a, const QByteArray &b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            while (i < a.size() - 1 && a[i] == '0' && digit(a[i + 1]))
                ++i;
            while (j < b.size() - 1 && b[j] == '0' && digit(b[j + 1]))
                ++j;
            qsizetype ei = i, ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j;
            const int c = memcmp(a.constData() + i, b.constData() + j, size_t(ei - i));
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return uchar(a[i]) < uchar(b[j]);
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b;
}

// Whether a path lies in a trash: a file system's own trash sits at its top,
// which may be a watched folder (Downloads on its own mount), and what was
// thrown away is not imported again.
bool isInATrash(const QByteArray &path)
{
    if (pathIsInside(path, Trash::homeTrash()))
        return true;
    for (const QByteArray &part : path.split('/'))
        if (part == ".Trash" || part.startsWith(".Trash-"))
            return true;
    return false;
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

void Rivulet_AppDelegate::directoryDifferFileAddedOrUpdated(DirectoryDiffer *, const QByteArray &path)
{
    if (isInATrash(path)) {
        Log::f("--- %@ is in a trash folder; not imported", path);
        return;
    }
    const QByteArray type = archiveType(path);
    if (type.isEmpty())
        importMusicFile(path);
    else
        importArchive(path, type);
}

void Rivulet_AppDelegate::directoryDifferReceivedLastSCEvent(DirectoryDiffer *, quint64 eventId)
{
    Settings::setLastSCEvent(eventId);
}

void Rivulet_AppDelegate::importArchive(const QByteArray &path, const QByteArray &type)
{
    if (!Settings::unzipFiles()) {
        Log::f("---                 Preferences say not to process archives");
        return;
    }
    if (m_archiveBatch) {
        Log::f("--- %@ is inside an archive being imported; archives in archives are not unpacked", path);
        return;
    }
    if (!unpackArchive(path, type)) {
        Log::f("Error unpacking - archive may be incomplete");
        return;
    }
    const QByteArray scratch = m_unpackFolder;
    const QByteArray archiveFolder = parentPath(path);
    startGrowlQueue(leafName(path));
    m_archiveBatch = QList<QByteArray>();
    const float fraction = m_directoryDiffer->scanDirectoryAtPath(scratch);
    const QList<QByteArray> handed = *m_archiveBatch;
    m_archiveBatch.reset();
    const int taken = importBatch(handed, scratch);
    activateGrowlQueue();

    // Only what the library took counts as music when something is thrown
    // away: files it refused are kept with the rest, and so is the archive.
    const double share = handed.isEmpty() ? 0.0 : double(fraction) * taken / handed.size();
    const QByteArray keepFolder = archiveFolder + '/' + keepFolderName(path, type);
    bool everythingMoved = true;
    if (fraction > 0 && (!Settings::deleteArchiveContents() || share < kMusicThreshold)) {
        everythingMoved = fsMoveContentsOfDirectory(scratch, keepFolder, archiveFolder);
        m_directoryDiffer->excludeDirectoryByScanTimeAtPath(keepFolder);
    }
    if (everythingMoved) {
        ByteFiles::removeTree(scratch);
    } else {
        // Never delete what could not be moved: it is set aside, out of the watcher's sight.
        const QByteArray aside = parentPath(scratch) + "/.Rivulet not moved "
                                 + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss.zzz")).toLatin1() + ".download";
        if (::rename(scratch.constData(), aside.constData()) == 0)
            Log::f("--- Some unpacked files of %@ could not be moved to %@; they are kept in %@", path, keepFolder, aside);
        else
            Log::f("--- Some unpacked files of %@ could not be moved to %@; they stay in %@", path, keepFolder, scratch);
    }
    m_unpackFolder.clear();
    if (!handed.isEmpty() && taken == 0) {
        Log::f("--- %@ added none of the %i music files of %@; the archive stays", kMusicLibraryName, int(handed.size()), path);
        ITunesManager::sharedManager()->retryLater(path);
    } else if (share >= kMusicThreshold && Settings::deleteZips()) {
        Log::f("  Deleting original archive file %@", path);
        fsMoveToTrash(path, archiveFolder);
    }
}

void Rivulet_AppDelegate::importMusicFile(const QByteArray &path)
{
    // Only regular files are handed to the library: a link named like music
    // may point at a private file, a fifo or a device.
    if (!ByteFiles::isRegularFile(path)) {
        Log::f("--- %@ is not a regular file; not imported", path);
        return;
    }
    if (m_archiveBatch) {
        // An archive's files are collected during its scan and imported together after it.
        m_archiveBatch->append(path);
        return;
    }
    ITunesManager *library = ITunesManager::sharedManager();
    library->run();
    const bool onlyIfStopped = Settings::ifStopped();
    const bool playIt = Settings::playSongs();
    const TrackId trackId = library->sendFileToITunes(path, kPlaylist, playIt, onlyIfStopped);
    // A file the library did not take is offered again later (see directoryDifferIdle).
    if (trackId)
        library->retryDone(path);
    else
        library->retryLater(path);
    finishImport(path, trackId, parentPath(path));
}

void Rivulet_AppDelegate::directoryDifferIdle(DirectoryDiffer *differ)
{
    for (const QByteArray &path : ITunesManager::sharedManager()->dueRetries())
        directoryDifferFileAddedOrUpdated(differ, path);
}

int Rivulet_AppDelegate::importBatch(QList<QByteArray> paths, const QByteArray &within)
{
    if (paths.isEmpty())
        return 0;
    // An album reaches the playlist as 01, 02, ..., 10, whatever order the folder lists.
    std::sort(paths.begin(), paths.end(), naturalLess);
    ITunesManager *library = ITunesManager::sharedManager();
    library->run();
    const bool onlyIfStopped = Settings::ifStopped();
    const bool playIt = Settings::playSongs();
    const QList<TrackId> ids = library->sendFilesToITunes(paths, kPlaylist, playIt, onlyIfStopped);
    int taken = 0;
    for (qsizetype i = 0; i < paths.size(); ++i)
        taken += finishImport(paths[i], i < ids.size() ? ids[i] : TrackId(), within) ? 1 : 0;
    return taken;
}

bool Rivulet_AppDelegate::finishImport(const QByteArray &path, TrackId trackId, const QByteArray &within)
{
    if (!trackId) {
        // The library did not take it: not announced, and the file stays where it is.
        Log::f("--- %@ was not added to %@; it stays where it is", path, kMusicLibraryName);
        return false;
    }
    QString line;
    line.reserve(160);
    line += Log::format("+ Added %@ to %@, trackId: %@", {path, kMusicLibraryName, *trackId});
    const QByteArray leaf = leafName(path);
    if (!m_growlQueue) {
        const QString text = Log::format("Rivulet added %@ to %@. Click here to play it.", {leaf, kMusicLibraryName});
        if (Settings::growlNotifications())
            postNotification(text, trackId);
    } else {
        m_growlQueue->entries.append({leaf, trackId});
    }
    if (Settings::deleteFiles()) {
        line += QLatin1String(", deleting");
        fsMoveToTrash(path, within);
    }
    Log::line(line);
    return true;
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
