#include "library/ITunesManager.h"
#include "base/Log.h"
#include "base/StandardFolders.h"
#include "library/LibraryImport.h"
#include "library/PlaylistFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QThread>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kUpdateTimeoutMs = 10000;
const QByteArray kSubfolder = "Rivulet";

qint64 systemClock()
{
    return QDateTime::currentSecsSinceEpoch();
}
std::atomic<qint64 (*)()> g_clock{systemClock};

// How this thread's last send ended: a retry counts only when the server
// answered and refused. Imports run one at a time on their thread.
thread_local bool t_lastSendReachedServer = true;

bool isDirectory(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}
}

void ITunesManager::setClock(qint64 (*clock)())
{
    g_clock = clock ? clock : systemClock;
}

class ITunesManager::Lease {
public:
    explicit Lease(ITunesManager &owner) : m_owner(owner), m_client(owner.borrow(&m_generation)) {}
    ~Lease() { m_owner.giveBack(std::move(m_client), m_generation); }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    MpdClient &operator*() { return *m_client; }
    MpdClient *operator->() { return m_client.get(); }

private:
    ITunesManager &m_owner;
    quint64 m_generation = 0;
    std::unique_ptr<MpdClient> m_client;
};

ITunesManager *ITunesManager::sharedManager()
{
    static ITunesManager instance; // creation is serialised by the language
    return &instance;
}

void ITunesManager::configure(const MpdLauncherConfig &config)
{
    {
        std::lock_guard lock(m_mutex);
        m_launcher = std::make_shared<MpdLauncher>(config);
        m_idle.clear();
        ++m_generation; // connections still lent out are dropped when given back
        m_trackFiles.clear();
        m_heard = Heard::Unknown;
        m_answeredAgain = false;
    }
    m_musicFolderNeeded = false;
    m_retries.setFile(config.supportFolder.isEmpty() ? QByteArray() : config.supportFolder + "/library-retries");
}

std::shared_ptr<MpdLauncher> ITunesManager::launcher()
{
    std::lock_guard lock(m_mutex);
    if (!m_launcher) // not configured by the application: the standard places
        m_launcher = std::make_shared<MpdLauncher>(
            defaultMpdLauncherConfig(StandardFolders::applicationSupport()));
    return m_launcher;
}

std::unique_ptr<MpdClient> ITunesManager::borrow(quint64 *generation)
{
    const QList<QByteArray> addresses = launcher()->addresses();
    std::lock_guard lock(m_mutex);
    *generation = m_generation;
    if (!m_idle.empty()) {
        std::unique_ptr<MpdClient> client = std::move(m_idle.back());
        m_idle.pop_back();
        return client;
    }
    return std::make_unique<MpdClient>(addresses);
}

void ITunesManager::giveBack(std::unique_ptr<MpdClient> client, quint64 generation)
{
    m_exchanges += client->takeExchanges();
    std::lock_guard lock(m_mutex);
    if (generation == m_generation && m_idle.size() < 4)
        m_idle.push_back(std::move(client));
}

int ITunesManager::exchanges() const
{
    return m_exchanges;
}

bool ITunesManager::answers(MpdClient &mpd)
{
    if (mpd.connect() && mpd.isPlaying())
        return true;
    // The server may have closed it between the check and the question: ask once more on a new one.
    mpd.disconnect();
    return mpd.connect() && mpd.isPlaying();
}

void ITunesManager::noteAnswer(bool answered)
{
    std::lock_guard lock(m_mutex);
    if (answered && m_heard != Heard::Answering) {
        if (m_heard == Heard::Silent)
            Log::f("%@ answers again", kMusicLibraryName);
        m_answeredAgain = true; // also the first answer after a start: files may have waited since the last run
    }
    m_heard = answered ? Heard::Answering : Heard::Silent;
}

bool ITunesManager::run()
{
    const std::shared_ptr<MpdLauncher> starter = launcher();
    Lease mpd(*this);
    if (answers(*mpd)) {
        noteAnswer(true);
        return true;
    }
    if (starter->userNamedServer()) {
        // Never a private server in place of the one the user named: the
        // files wait for it instead.
        bool first = false;
        {
            std::lock_guard lock(m_mutex);
            first = m_heard != Heard::Silent;
            m_heard = Heard::Silent;
        }
        if (first)
            Log::f("--- The %@ named by MPD_HOST/MPD_PORT (%@) does not answer; music files stay where they are until it answers",
                   kMusicLibraryName, starter->namedServer());
        return false;
    }
    MpdClient &client = *mpd;
    const bool up = starter->launch([&client] { return client.connect() && client.isPlaying(); });
    noteAnswer(up);
    return up;
}

bool ITunesManager::isPlaying()
{
    Lease mpd(*this);
    return mpd->isPlaying().value_or(false);
}

bool ITunesManager::ensurePlaylist(MpdClient &mpd, const QByteArray &name)
{
    const auto names = mpd.listPlaylists();
    if (!names)
        return false;
    return names->contains(name) || mpd.makeEmptyPlaylist(name);
}

bool ITunesManager::playlistNamed(const QByteArray &name)
{
    Lease mpd(*this);
    return ensurePlaylist(*mpd, name);
}

std::optional<QByteArray> ITunesManager::uriForTrack(unsigned id) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_trackFiles.constFind(id);
    return it == m_trackFiles.cend() ? std::nullopt : std::optional(*it);
}

TrackId ITunesManager::addFile(const QByteArray &path, const QByteArray &playlist)
{
    return sendFilesToITunes({path}, playlist, false, false).value(0);
}

TrackId ITunesManager::sendFileToITunes(const QByteArray &path, const QByteArray &playlist, bool playIt, bool onlyIfStopped)
{
    return sendFilesToITunes({path}, playlist, playIt, onlyIfStopped).value(0);
}

QList<TrackId> ITunesManager::sendFilesToITunes(const QList<QByteArray> &paths, const QByteArray &playlist, bool playIt, bool onlyIfStopped)
{
    QList<TrackId> ids(paths.size());
    if (playlist.isEmpty() || paths.isEmpty())
        return ids;
    t_lastSendReachedServer = false;
    Lease mpd(*this);
    if (!ensurePlaylist(*mpd, playlist))
        return ids;
    const auto musicDir = musicFolder(*mpd);
    if (!musicDir)
        return ids; // the files wait: not the server's refusal
    t_lastSendReachedServer = true;
    struct Copied {
        qsizetype index;
        QByteArray uri;
        bool made;
    };
    QList<Copied> copied;
    // A single file is forced to disk; a batch is written back by the system.
    const bool each = paths.size() == 1;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        bool made = false;
        if (const auto uri = copyIntoLibrary(paths[i], *musicDir, kSubfolder, &made, each))
            copied.append({i, *uri, made});
    }
    if (copied.isEmpty())
        return ids;
    // One update: the file itself, or the folder the batch went to.
    const bool updated = mpd->updateAndWait(copied.size() == 1 ? copied[0].uri : kSubfolder, kUpdateTimeoutMs);
    QList<QByteArray> uris;
    for (const Copied &c : std::as_const(copied))
        uris.append(c.uri);
    const QList<std::optional<unsigned>> added = updated ? mpd->addToPlaylistAndQueue(playlist, uris) : QList<std::optional<unsigned>>(uris.size());
    QList<qsizetype> taken;
    {
        std::lock_guard lock(m_mutex);
        for (qsizetype k = 0; k < copied.size(); ++k) {
            if (added[k]) {
                ids[copied[k].index] = added[k];
                m_trackFiles.insert(*added[k], copied[k].uri);
                taken.append(k);
            }
        }
    }
    // What the library did not take leaves no copy of ours behind.
    for (qsizetype k = 0; k < copied.size(); ++k)
        if (!added[k] && copied[k].made)
            ::unlink((*musicDir + '/' + copied[k].uri).constData());

    if (!taken.isEmpty())
        writePlaylistFile(*mpd, playlist, *musicDir);

    if (playIt && !taken.isEmpty()) {
        // Sent one by one, each would be played in turn and the last one
        // would stay playing; only if stopped, the first one plays.
        if (!onlyIfStopped)
            play(*mpd, *added[taken.last()], copied[taken.last()].uri);
        else if (!mpd->isPlaying().value_or(false))
            for (qsizetype k : std::as_const(taken))
                if (play(*mpd, *added[k], copied[k].uri))
                    break;
    }
    return ids;
}

// MPD renumbers its queue when it restarts: an id is played only while it
// still names the file it was handed out for; else that file is found again.
bool ITunesManager::play(MpdClient &mpd, unsigned id, const QByteArray &uri)
{
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
    if (*target != id) {
        std::lock_guard lock(m_mutex);
        m_trackFiles.insert(*target, uri);
    }
    return true;
}

void ITunesManager::playTrackWithId(TrackId trackId, const QByteArray &playlist)
{
    // An id this run did not hand out names no known file: nothing is played.
    const QByteArray file = trackId ? uriForTrack(*trackId).value_or(QByteArray()) : QByteArray();
    playTrackWithId(trackId, playlist, file);
}

void ITunesManager::playTrackWithId(TrackId trackId, const QByteArray &playlist, const QByteArray &file)
{
    Lease mpd(*this);
    if (!ensurePlaylist(*mpd, playlist) || !trackId || file.isEmpty())
        return;
    const auto contents = mpd->playlistContents(playlist);
    if (!contents || !contents->contains(file))
        return;
    play(*mpd, *trackId, file);
}

void ITunesManager::retryLater(const QByteArray &path)
{
    m_retries.refused(path, g_clock.load()(), t_lastSendReachedServer);
    t_lastSendReachedServer = true;
}

void ITunesManager::retryDone(const QByteArray &path)
{
    m_retries.taken(path);
}

QList<QByteArray> ITunesManager::dueRetries()
{
    if (m_retries.isEmpty())
        return {};
    // Nothing is offered while the server is silent: offers then would spend the tries.
    if (!run())
        return {};
    bool again = false;
    {
        std::lock_guard lock(m_mutex);
        again = std::exchange(m_answeredAgain, false);
    }
    return m_retries.due(g_clock.load()(), again);
}

void ITunesManager::shutdown()
{
    // Only the private server lives at our socket; a server of the user's is left alone.
    MpdClient own({launcher()->privateSocket()});
    if (!own.connect())
        return;
    Log::f("Stopping the %@ that Rivulet started", kMusicLibraryName);
    own.killServer();
    // It saves its state before it goes; wait for that, briefly.
    const QByteArray pidFile = launcher()->privateFolder() + "/pid";
    for (int i = 0; i < 100 && ::access(pidFile.constData(), F_OK) == 0; ++i)
        QThread::msleep(20);
}

// Over a unix socket the server tells its music folder; over TCP it does
// not, and the configuration that serves that address does; else the user's answer.
std::optional<QByteArray> ITunesManager::musicFolder(MpdClient &mpd)
{
    std::optional<QByteArray> dir = mpd.musicDirectory();
    if (!dir || dir->isEmpty()) {
        const std::shared_ptr<MpdLauncher> starter = launcher();
        const QByteArray address = mpd.address().isEmpty() ? MpdLauncher::namedAddress() : mpd.address();
        dir.reset();
        for (const MpdConfigFile &conf : starter->configFiles())
            if (!dir && conf.serves(address) && !conf.musicDirectory.isEmpty())
                dir = conf.musicDirectory;
        if (!dir && isDirectory(starter->musicFolderSetting()))
            dir = starter->musicFolderSetting();
    }
    if (dir && isDirectory(*dir)) {
        m_musicFolderNeeded = false;
        return dir;
    }
    if (!m_musicFolderNeeded.exchange(true))
        Log::f("--- The music folder of %@ is not known (it does not tell it over the network, and no mpd.conf for it names "
               "one): set \"MPD's music folder\" in the preferences; music files wait until then", kMusicLibraryName);
    return std::nullopt;
}

void ITunesManager::writePlaylistFile(MpdClient &mpd, const QByteArray &playlist, const QByteArray &musicDir)
{
    if (const auto entries = mpd.playlistContents(playlist))
        writeM3u(musicDir + '/' + playlist + ".m3u", *entries);
}

void ITunesManager::syncPlaylistFile(const QByteArray &playlist)
{
    Lease mpd(*this);
    if (!mpd->connect())
        return;
    const bool needed = m_musicFolderNeeded; // a background sync does not log or change what the preferences show
    if (const auto dir = musicFolder(*mpd))
        writePlaylistFile(*mpd, playlist, *dir);
    m_musicFolderNeeded = needed;
}
