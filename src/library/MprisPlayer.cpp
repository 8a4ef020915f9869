#include "library/MprisPlayer.h"
#include "library/ITunesManager.h"
#include "library/MprisInterfaces.h"
#include "library/MpdClient.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <chrono>
#include <mpd/client.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
const QString kService = QStringLiteral("org.mpris.MediaPlayer2.rivulet");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// The stored playlist the imports fill, kept in step with its M3U file.
const QByteArray kPlaylist = "Rivulet";
constexpr int kReconnectMs = 2000;

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QStringList tagValues(const mpd_song *song, mpd_tag_type tag)
{
    QStringList values;
    for (unsigned i = 0; const char *v = mpd_song_get_tag(song, tag, i); ++i)
        values << QString::fromUtf8(v);
    return values;
}

QVariantMap songMetadata(const mpd_song *song, const QByteArray &musicFolder)
{
    const QByteArray uri = mpd_song_get_uri(song);
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/rivulet/track/%1").arg(mpd_song_get_id(song)))));
    const QStringList titles = tagValues(song, MPD_TAG_TITLE);
    // Without a title tag the file's name stands for it, as players show it.
    m.insert(QStringLiteral("xesam:title"), titles.isEmpty() ? QString::fromUtf8(uri.mid(uri.lastIndexOf('/') + 1)) : titles.join(QLatin1String(", ")));
    if (const QStringList artists = tagValues(song, MPD_TAG_ARTIST); !artists.isEmpty())
        m.insert(QStringLiteral("xesam:artist"), artists);
    if (const QStringList albums = tagValues(song, MPD_TAG_ALBUM); !albums.isEmpty())
        m.insert(QStringLiteral("xesam:album"), albums.first());
    const bool remote = uri.contains("://");
    if (remote || !musicFolder.isEmpty())
        m.insert(QStringLiteral("xesam:url"),
                 QString::fromLatin1(remote ? uri : "file://" + (musicFolder + '/' + uri).toPercentEncoding("/")));
    if (const unsigned ms = mpd_song_get_duration_ms(song))
        m.insert(QStringLiteral("mpris:length"), qlonglong(ms) * 1000);
    return m;
}
}

void MprisPlayer::start()
{
    static bool started = false; // the interface thread alone starts it
    if (started || !QCoreApplication::instance())
        return;
    started = true;
    startFor(ITunesManager::sharedManager()->privateSocket(), QCoreApplication::instance());
}

MprisPlayer *MprisPlayer::startFor(const QByteArray &socket, QObject *parent)
{
    return new MprisPlayer(socket, parent);
}

MprisPlayer::MprisPlayer(const QByteArray &socket, QObject *parent) : QObject(parent), m_socket(socket)
{
    new MprisRootInterface(this);
    new MprisPlayerInterface(this);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

MprisPlayer::~MprisPlayer()
{
    m_stop = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_registered) {
        QDBusConnection::sessionBus().unregisterService(kService);
        QDBusConnection::sessionBus().unregisterObject(kPath);
    }
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

MprisPlayer::State MprisPlayer::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

qint64 MprisPlayer::position() const
{
    const State s = state();
    return s.status == QLatin1String("Playing") ? s.positionUs + (monotonicMs() - s.takenAtMs) * 1000 : s.positionUs;
}

void MprisPlayer::command(Command c)
{
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(c);
    }
    wake();
}

void MprisPlayer::wake()
{
    const uint64_t one = 1;
    if (m_wakeFd >= 0)
        (void)!::write(m_wakeFd, &one, sizeof one);
}

bool MprisPlayer::waitWake(int timeoutMs)
{
    pollfd ready = {m_wakeFd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0)
        return false;
    uint64_t count = 0;
    (void)!::read(m_wakeFd, &count, sizeof count);
    return true;
}

void MprisPlayer::setState(const State &s)
{
    {
        std::lock_guard lock(m_mutex);
        m_state = s;
    }
    QMetaObject::invokeMethod(this, &MprisPlayer::publish, Qt::QueuedConnection);
}

// The thread: connect, read the state, run what the bus asked, wait in idle.
void MprisPlayer::run()
{
    MpdClient client({m_socket});
    QByteArray musicFolder;
    bool wasConnected = false;
    while (!m_stop) {
        if (!client.connect()) {
            if (wasConnected)
                setState(State());
            wasConnected = false;
            waitWake(kReconnectMs);
            continue;
        }
        if (!wasConnected)
            musicFolder = client.musicDirectory().value_or(QByteArray());
        wasConnected = true;
        mpd_connection *c = client.connection();

        std::deque<Command> commands;
        {
            std::lock_guard lock(m_mutex);
            commands.swap(m_commands);
        }
        State s;
        s.connected = true;
        mpd_status *status = mpd_run_status(c);
        const mpd_state playState = status ? mpd_status_get_state(status) : MPD_STATE_UNKNOWN;
        for (Command command : commands) {
            switch (command) {
            case Command::Play: mpd_run_play(c); break;
            case Command::Pause: mpd_run_pause(c, true); break;
            case Command::PlayPause: playState == MPD_STATE_PLAY ? mpd_run_pause(c, true) : mpd_run_play(c); break;
            case Command::Stop: mpd_run_stop(c); break;
            case Command::Next: mpd_run_next(c); break;
            case Command::Previous: mpd_run_previous(c); break;
            }
            // A refusal (nothing to play) leaves the connection usable.
            if (mpd_connection_get_error(c) == MPD_ERROR_SERVER)
                mpd_connection_clear_error(c);
        }
        if (status && !commands.empty()) {
            mpd_status_free(status);
            status = mpd_run_status(c);
        }
        if (status) {
            const mpd_state now = mpd_status_get_state(status);
            s.status = now == MPD_STATE_PLAY ? QStringLiteral("Playing") : now == MPD_STATE_PAUSE ? QStringLiteral("Paused") : QStringLiteral("Stopped");
            s.positionUs = qint64(mpd_status_get_elapsed_ms(status)) * 1000;
            s.takenAtMs = monotonicMs();
            s.queueLength = int(mpd_status_get_queue_length(status));
            s.volume = qMax(0, mpd_status_get_volume(status)) / 100.0;
            mpd_status_free(status);
            if (now != MPD_STATE_STOP || s.queueLength > 0)
                if (mpd_song *song = mpd_run_current_song(c)) {
                    s.metadata = songMetadata(song, musicFolder);
                    mpd_song_free(song);
                }
        }
        if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) {
            client.disconnect();
            continue;
        }
        setState(s);

        // Wait for the server's news or the bus's commands.
        if (!mpd_send_idle_mask(c, mpd_idle(MPD_IDLE_PLAYER | MPD_IDLE_QUEUE | MPD_IDLE_MIXER | MPD_IDLE_STORED_PLAYLIST))) {
            client.disconnect();
            continue;
        }
        pollfd ready[2] = {{client.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        while (::poll(ready, 2, -1) < 0 && errno == EINTR) {
        }
        mpd_idle events = mpd_idle(0);
        if (ready[0].revents) {
            events = mpd_recv_idle(c, false);
        } else {
            waitWake(0);
            events = mpd_run_noidle(c);
        }
        if (mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) {
            client.disconnect();
            continue;
        }
        if (events & MPD_IDLE_STORED_PLAYLIST)
            ITunesManager::sharedManager()->syncPlaylistFile(kPlaylist);
    }
}

// On the interface thread: the name is on the bus while the server answers;
// what changed is told with PropertiesChanged.
void MprisPlayer::publish()
{
    const State s = state();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (s.connected && !m_registered) {
        m_registered = bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors) && bus.registerService(kService);
        m_published = s;
        return;
    }
    if (!s.connected && m_registered) {
        bus.unregisterService(kService);
        bus.unregisterObject(kPath);
        m_registered = false;
    }
    if (!m_registered)
        return;
    QVariantMap changed;
    if (s.status != m_published.status)
        changed.insert(QStringLiteral("PlaybackStatus"), s.status);
    if (s.metadata != m_published.metadata)
        changed.insert(QStringLiteral("Metadata"), s.metadata);
    if (s.volume != m_published.volume)
        changed.insert(QStringLiteral("Volume"), s.volume);
    if ((s.queueLength > 0) != (m_published.queueLength > 0))
        changed.insert(QStringLiteral("CanPlay"), s.queueLength > 0);
    m_published = s;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus.send(signal);
}
