// The import pipeline of the application controller: each settled file the
// differ hands over is imported into the music library; archives are
// unpacked first and their music imported together.
#include "app/ArchiveSize.h"
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include "library/ITunesManager.h"
#include "tasks/CWTask.h"
#include "base/PathContainment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray kPlaylist = "Rivulet";
// At least this share of an archive's files must be music for the archive to go.
constexpr double kMusicThreshold = 0.8;

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

bool exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void removeTree(const QByteArray &path)
{
    if (isFolder(path))
        QDir(QFile::decodeName(path)).removeRecursively();
    else
        ::unlink(path.constData());
}
}

void Rivulet_AppDelegate::directoryDifferFileAddedOrUpdated(DirectoryDiffer *, const QByteArray &path)
{
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
    if (!unpackArchive(path, type)) {
        Log::f("Error unpacking - archive may be incomplete");
        return;
    }
    startGrowlQueue(leafName(path));
    const QByteArray scratch = archiveDir();
    const float fraction = m_directoryDiffer->scanDirectoryAtPath(scratch);
    activateGrowlQueue();

    const QByteArray keepFolder = path.left(path.size() - type.size() - 1);
    if (fraction > 0 && (!Settings::deleteArchiveContents() || double(fraction) < kMusicThreshold)) {
        fsMoveContentsOfDirectory(scratch, keepFolder);
        m_directoryDiffer->excludeDirectoryByScanTimeAtPath(keepFolder);
    }
    if (exists(scratch))
        removeTree(scratch);
    if (double(fraction) >= kMusicThreshold && Settings::deleteZips()) {
        Log::f("  Deleting original archive file %@", path);
        fsMoveToTrash(path);
    }
}

void Rivulet_AppDelegate::importMusicFile(const QByteArray &path)
{
    QString line;
    line.reserve(160);
    ITunesManager *library = ITunesManager::sharedManager();
    library->run();
    const bool onlyIfStopped = Settings::ifStopped();
    const bool playIt = Settings::playSongs();
    const TrackId trackId = library->sendFileToITunes(path, kPlaylist, playIt, onlyIfStopped);
    if (!trackId) {
        // The library did not take it: not announced, and the file stays where it is.
        Log::f("--- %@ was not added to %@; it stays where it is", path, kMusicLibraryName);
        return;
    }
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
        fsMoveToTrash(path);
    }
    Log::line(line);
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
    // An archive that would unpack to more than the disk holds is not unpacked.
    const QByteArray support = applicationSupportDirectory();
    if (const auto size = ArchiveSize::unpackedSize(path, type)) {
        const quint64 room = ArchiveSize::room(support);
        if (*size > room) {
            Log::f("--- %@ would unpack to %qu bytes, more than the %qu there is room for; not unpacking", path, *size, room);
            return false;
        }
    }
    const QByteArray scratch = archiveDir();
    removeTree(scratch);
    ::mkdir(scratch.constData(), 0700);

    // The tool gets the archive alone in a private folder: unar takes files
    // beside it whose names differ by a number for parts of one set.
    const QByteArray alone = support + "/archiveLink";
    removeTree(alone);
    ::mkdir(alone.constData(), 0700);
    const QByteArray linked = alone + '/' + leafName(path);
    if (::link(path.constData(), linked.constData()) != 0 && !QFile::copy(QFile::decodeName(path), QFile::decodeName(linked))) {
        Log::f("Could not reach the archive %@: %@", path, QString::fromLocal8Bit(strerror(errno)));
        removeTree(alone);
        return false;
    }
    Log::f("^^%@ %@ in %@^^", tool, path, scratch);
    int status = -1;
    const QString output = tool.isEmpty() ? QStringLiteral("unar was not found")
                                          : CWTask::performSynchronousTask(tool, {QFile::decodeName(linked)}, QFile::decodeName(scratch),
                                                                            std::nullopt, &status);
    removeTree(alone);
    Log::f("^^CWTask returned, status:%i ; unpacking done.  Output:^^", status);
    Log::f("  %@", output);
    if (type == "rar" && status == 0 && output.contains(QLatin1String("Error on decrunching")))
        status = 1;
    return status == 0;
}

void Rivulet_AppDelegate::fsMoveContentsOfDirectory(const QByteArray &source, const QByteArray &destination)
{
    const QStringList names = QDir(QFile::decodeName(source)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (!QDir(QFile::decodeName(source)).exists())
        return;
    if (!names.isEmpty() && !isFolder(destination)) {
        // Something else stands where the folder must go: it goes to the Trash, not away.
        if (exists(destination))
            fsMoveToTrash(destination);
        ::mkdir(destination.constData(), 0755);
    }
    for (const QString &name : names) {
        const QByteArray from = source + '/' + QFile::encodeName(name);
        const QByteArray to = destination + '/' + QFile::encodeName(name);
        Log::f("Moving %@ to %@", from, to);
        if (isFolder(destination) && exists(to))
            fsMoveToTrash(to); // the item it replaces stays recoverable
        ::rename(from.constData(), to.constData());
    }
}

bool Rivulet_AppDelegate::fsMoveToTrash(const QByteArray &path)
{
    return exists(path) && Trash::moveToTrash(path);
}
