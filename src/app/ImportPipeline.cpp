// The import pipeline of the application controller: each settled file the
// differ hands over is imported into the music library; archives are
// unpacked first (see ArchiveUnpacking.cpp) and their music imported
// together, as one batch.
//
// Everything an archive holds is hostile until shown otherwise: only regular
// files are handed to the library.
#include "app/ArchiveUnpacking.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/NaturalOrder.h"
#include "base/PathContainment.h"
#include "library/ITunesManager.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>

namespace {
const QByteArray kPlaylist = "Rivulet";
// At least this share of an archive's files must be music for the archive to go.
constexpr double kMusicThreshold = 0.8;

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
