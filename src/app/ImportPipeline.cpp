// The import pipeline: what to import and how; the unpacking itself is in
// ArchiveUnpacking.cpp, the batch's notification in Notifications.cpp.
//
// Everything an archive holds is hostile until shown otherwise: only regular
// files are handed to the library.
#include "app/ArchiveSize.h"
#include "app/ArchiveUnpacking.h"
#include "app/ImportPipeline.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "base/Log.h"
#include "base/NaturalOrder.h"
#include "base/PathContainment.h"
#include "base/StandardFolders.h"
#include "library/LibraryImport.h"
#include "library/ITunesManager.h"
#include "settings/Settings.h"
#include "watch/DirectoryDiffer.h"

#include <QDateTime>
#include <QObject>
#include <algorithm>
#include <cstdio>
#include <sys/statvfs.h>

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

ImportPipeline::ImportPipeline(Host host) : m_host(std::move(host)) {}

void ImportPipeline::fileAddedOrUpdated(const QByteArray &path)
{
    m_interruptedImport.clear();
    if (isInATrash(path)) {
        Log::f("--- %@ is in a trash folder; not imported", path);
        return;
    }
    // The private library's folder is known before its first copy of this run.
    noteLibraryCopyFolder(StandardFolders::music() + '/' + kPlaylist);
    if (isInLibraryCopyFolder(path)) {
        Log::f("--- %@ is in the folder Rivulet copies into; not imported", path);
        return;
    }
    const QByteArray type = archiveType(path);
    if (type.isEmpty())
        importMusicFile(path);
    else
        importArchive(path, type);
}

void ImportPipeline::importArchive(const QByteArray &path, const QByteArray &type)
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
        if (unpackCutShort(path, type))
            m_interruptedImport = path;
        return;
    }
    const QByteArray scratch = m_unpackFolder;
    const QByteArray archiveFolder = parentPath(path);
    startGrowlQueue(leafName(path));
    m_archiveBatch = QList<QByteArray>();
    const float fraction = m_differ->scanDirectoryAtPath(scratch);
    const QList<QByteArray> handed = *m_archiveBatch;
    m_archiveBatch.reset();
    QList<QByteArray> refused;
    const int taken = importBatch(handed, scratch, &refused);
    activateGrowlQueue();

    // Only what the library took counts as music when something is thrown
    // away: files it refused are kept with the rest, and so is the archive.
    const double share = handed.isEmpty() ? 0.0 : double(fraction) * taken / handed.size();
    const QByteArray keepFolder = archiveFolder + '/' + keepFolderName(path, type);
    bool everythingMoved = true;
    if (fraction > 0 && (!Settings::deleteArchiveContents() || share < kMusicThreshold || !refused.isEmpty())) {
        everythingMoved = moveContentsOfDirectory(scratch, keepFolder, archiveFolder);
        m_differ->excludeDirectoryByScanTimeAtPath(keepFolder);
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
    // A refused track stays where the user finds it, and is offered again
    // there, unless the whole archive is.
    for (const QByteArray &file : std::as_const(refused)) {
        const QByteArray kept = everythingMoved ? keepFolder + file.mid(scratch.size()) : file;
        Log::f("--- %@ was not added to %@; it is kept in %@", leafName(file), kMusicLibraryName, parentPath(kept));
        if (everythingMoved && taken > 0)
            ITunesManager::sharedManager()->retryLater(kept);
    }
    m_unpackFolder.clear();
    if (!handed.isEmpty() && taken == 0) {
        Log::f("--- %@ added none of the %i music files of %@; the archive stays", kMusicLibraryName, int(handed.size()), path);
        ITunesManager::sharedManager()->retryLater(path);
    } else {
        // Imported, on a retry too: not offered again.
        ITunesManager::sharedManager()->retryDone(path);
        if (share >= kMusicThreshold && Settings::deleteZips()) {
            Log::f("  Deleting original archive file %@", path);
            moveToTrash(path, archiveFolder);
        }
    }
}

// Not the archive's fault: the program is quitting (the tool was ended), or
// what it holds does not fit on the disk as it is now.
bool ImportPipeline::unpackCutShort(const QByteArray &path, const QByteArray &type) const
{
    // Read after the ended tool was reaped, which follows the quit's write.
    if (m_quitAccepted)
        return true;
    struct statvfs fs;
    if (!ByteFiles::isRegularFile(path) || ::statvfs(parentPath(path).constData(), &fs) != 0)
        return false;
    const quint64 free = quint64(fs.f_bavail) * fs.f_frsize;
    const std::optional<quint64> size = ArchiveSize::unpackedSize(path, type);
    return size && *size >= free;
}

bool ImportPipeline::takeInterrupted(const QByteArray &path)
{
    if (m_interruptedImport != path)
        return false;
    m_interruptedImport.clear();
    return true;
}

void ImportPipeline::importMusicFile(const QByteArray &path)
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
    if (!trackId)
        askForMusicFolderOnce();
    // A file the library did not take is offered again later (see retryDue).
    if (trackId)
        library->retryDone(path);
    else
        library->retryLater(path);
    finishImport(path, trackId, parentPath(path));
}

// MPD over TCP does not say where its music is, and no mpd.conf did: the files
// wait, and the user is told once per run what to set.
void ImportPipeline::askForMusicFolderOnce()
{
    if (!ITunesManager::sharedManager()->musicFolderNeeded() || m_askedForMusicFolder.exchange(true))
        return;
    if (m_host.alert)
        m_host.alert(QObject::tr("Rivulet cannot tell where MPD keeps its music."),
                     QObject::tr("MPD is reached over the network and no mpd.conf names its music folder. "
                                 "Set \u201cMPD's music folder\u201d in the preferences; new music waits until then."));
}

void ImportPipeline::retryDue()
{
    for (const QByteArray &path : ITunesManager::sharedManager()->dueRetries())
        fileAddedOrUpdated(path);
}

int ImportPipeline::importBatch(QList<QByteArray> paths, const QByteArray &within, QList<QByteArray> *refused)
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
    if (!std::all_of(ids.cbegin(), ids.cend(), [](const TrackId &id) { return bool(id); }))
        askForMusicFolderOnce();
    int taken = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const TrackId id = i < ids.size() ? ids[i] : TrackId();
        if (id)
            taken += finishImport(paths[i], id, within) ? 1 : 0;
        else
            refused->append(paths[i]); // its place is known once the archive's files are moved
    }
    return taken;
}

bool ImportPipeline::finishImport(const QByteArray &path, TrackId trackId, const QByteArray &within)
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
            announce(text, trackId);
    } else {
        m_growlQueue->entries.append({leaf, trackId});
    }
    if (Settings::deleteFiles()) {
        line += QLatin1String(", deleting");
        moveToTrash(path, within);
    }
    Log::line(line);
    return true;
}
