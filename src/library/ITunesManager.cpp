#include "library/ITunesManager.h"
#include "base/Log.h"
#include "base/StandardFolders.h"
#include "library/LibraryImport.h"

#include <QDir>
#include <QFile>

namespace {
constexpr int kUpdateTimeoutMs = 10000;
}

ITunesManager *ITunesManager::sharedManager()
{
    static ITunesManager instance; // creation is serialised by the language
    return &instance;
}

void ITunesManager::configure(const MpdLauncherConfig &config)
{
    std::lock_guard lock(m_mutex);
    m_launcher = std::make_unique<MpdLauncher>(config);
    m_client.reset();
    m_trackFiles.clear();
}

MpdClient &ITunesManager::client()
{
    if (!m_launcher) // not configured by the application: the standard places
        m_launcher = std::make_unique<MpdLauncher>(
            defaultMpdLauncherConfig(StandardFolders::dataHome().value_or(QFile::encodeName(QDir::tempPath())) + "/Rivulet"));
    if (!m_client)
        m_client = std::make_unique<MpdClient>(m_launcher->addresses());
    return *m_client;
}

int ITunesManager::exchanges() const
{
    std::lock_guard lock(m_mutex);
    return m_client ? m_client->exchanges() : 0;
}

bool ITunesManager::run()
{
    std::lock_guard lock(m_mutex);
    MpdClient &mpd = client();
    // A connection to a server that has gone since fails its first exchange and is dropped.
    if (mpd.connect() && mpd.isPlaying())
        return true;
    return m_launcher->launch([&mpd] { return mpd.connect() && mpd.isPlaying(); });
}

bool ITunesManager::isPlaying()
{
    std::lock_guard lock(m_mutex);
    return client().isPlaying().value_or(false);
}

bool ITunesManager::playlistNamed(const QByteArray &name)
{
    std::lock_guard lock(m_mutex);
    const auto names = client().listPlaylists();
    if (!names)
        return false;
    return names->contains(name) || client().makeEmptyPlaylist(name);
}

std::optional<QByteArray> ITunesManager::uriForTrack(unsigned id) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_trackFiles.constFind(id);
    return it == m_trackFiles.cend() ? std::nullopt : std::optional(*it);
}

std::optional<QByteArray> ITunesManager::importIntoMusicFolder(const QByteArray &path)
{
    const auto musicDir = client().musicDirectory();
    if (!musicDir || musicDir->isEmpty()) {
        Log::f("--- The music folder of %@ is not known (is it reached over the network?)", kMusicLibraryName);
        return std::nullopt;
    }
    return copyIntoLibrary(path, *musicDir, "Rivulet");
}

TrackId ITunesManager::addFile(const QByteArray &path, const QByteArray &playlist)
{
    std::lock_guard lock(m_mutex);
    if (!playlistNamed(playlist))
        return std::nullopt;
    const auto uri = importIntoMusicFolder(path);
    if (!uri)
        return std::nullopt;
    MpdClient &mpd = client();
    if (!mpd.updateAndWait(*uri, kUpdateTimeoutMs))
        return std::nullopt;
    // The same file imported again (a repeated import) is not listed twice.
    const auto contents = mpd.playlistContents(playlist);
    if (!contents || (!contents->contains(*uri) && !mpd.playlistAdd(playlist, *uri)))
        return std::nullopt;
    TrackId id = mpd.findInQueue(*uri);
    if (!id)
        id = mpd.addId(*uri);
    if (id)
        m_trackFiles.insert(*id, *uri);
    return id;
}

TrackId ITunesManager::sendFileToITunes(const QByteArray &path, const QByteArray &playlist, bool playIt, bool onlyIfStopped)
{
    std::lock_guard lock(m_mutex);
    if (playlist.isEmpty())
        return std::nullopt;
    // The id of the track this add made, never whatever is last in the playlist.
    const TrackId id = addFile(path, playlist);
    if (!id)
        return std::nullopt;
    if (playIt && (!onlyIfStopped || !isPlaying()))
        play(*id, m_trackFiles.value(*id));
    return id;
}

QList<TrackId> ITunesManager::sendFilesToITunes(const QList<QByteArray> &paths, const QByteArray &playlist, bool playIt, bool onlyIfStopped)
{
    QList<TrackId> ids;
    ids.reserve(paths.size());
    for (const QByteArray &path : paths)
        ids.append(sendFileToITunes(path, playlist, playIt, onlyIfStopped));
    return ids;
}

// MPD renumbers its queue when it restarts: an id is played only while it
// still names the file it was handed out for; else that file is found again.
bool ITunesManager::play(unsigned id, const QByteArray &uri)
{
    MpdClient &mpd = client();
    TrackId target;
    if (mpd.queueSongUri(id) == uri)
        target = id;
    else if (!(target = mpd.findInQueue(uri)))
        target = mpd.addId(uri);
    if (!target || !mpd.playId(*target))
        return false;
    // MPD skips to the next song when the file is gone: then stop instead.
    if (mpd.currentSongUri() != uri) {
        mpd.stop();
        return false;
    }
    if (*target != id)
        m_trackFiles.insert(*target, uri);
    return true;
}

void ITunesManager::playTrackWithId(TrackId trackId, const QByteArray &playlist)
{
    std::lock_guard lock(m_mutex);
    const auto uri = trackId ? m_trackFiles.constFind(*trackId) : m_trackFiles.cend();
    // An id this run did not hand out names no known file: nothing is played.
    playTrackWithId(trackId, playlist, uri == m_trackFiles.cend() ? QByteArray() : *uri);
}

void ITunesManager::playTrackWithId(TrackId trackId, const QByteArray &playlist, const QByteArray &file)
{
    std::lock_guard lock(m_mutex);
    if (!playlistNamed(playlist) || !trackId || file.isEmpty())
        return;
    const auto contents = client().playlistContents(playlist);
    if (!contents || !contents->contains(file))
        return;
    play(*trackId, file);
}
