#include "library/MpdClient.h"
#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <mpd/client.h>
#include <csignal>
#include <mutex>
#include <poll.h>

namespace {
constexpr unsigned kTimeoutMs = 5000;
}

MpdClient::~MpdClient()
{
    disconnect();
}

void MpdClient::disconnect()
{
    if (m_conn)
        mpd_connection_free(m_conn);
    m_conn = nullptr;
}

bool MpdClient::connect()
{
    // libmpdclient writes to the socket without MSG_NOSIGNAL: a server that
    // went away must make the write fail, not end the program.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { std::signal(SIGPIPE, SIG_IGN); });
    if (m_conn) {
        // A server closes idle clients (connection_timeout): an idle
        // connection with something to read has been closed, or is about to.
        pollfd peer = {mpd_connection_get_fd(m_conn), POLLIN, 0};
        if (::poll(&peer, 1, 0) == 0)
            return true;
        disconnect();
    }
    for (const QByteArray &address : std::as_const(m_addresses)) {
        mpd_connection *c = nullptr;
        const qsizetype colon = address.lastIndexOf(':');
        if (address.isEmpty())
            c = mpd_connection_new(nullptr, 0, kTimeoutMs);
        else if (address.startsWith('/') || colon <= 0)
            c = mpd_connection_new(address.constData(), 0, kTimeoutMs);
        else
            c = mpd_connection_new(address.left(colon).constData(), address.mid(colon + 1).toUInt(), kTimeoutMs);
        if (c && mpd_connection_get_error(c) == MPD_ERROR_SUCCESS) {
            m_conn = c;
            m_address = address;
            return true;
        }
        if (c)
            mpd_connection_free(c);
    }
    return false;
}

// A failed exchange drops the connection, unless the server merely refused
// the command, which leaves the connection usable once the error is cleared.
bool MpdClient::ok(bool result)
{
    ++m_exchanges;
    if (!m_conn)
        return false;
    const mpd_error error = mpd_connection_get_error(m_conn);
    if (error == MPD_ERROR_SUCCESS)
        return result;
    if (error == MPD_ERROR_SERVER && mpd_connection_clear_error(m_conn))
        return false;
    disconnect();
    return false;
}

std::optional<QList<QByteArray>> MpdClient::listPlaylists()
{
    if (!connect() || !mpd_send_list_playlists(m_conn))
        return ok(false), std::nullopt;
    QList<QByteArray> names;
    while (mpd_playlist *p = mpd_recv_playlist(m_conn)) {
        names << QByteArray(mpd_playlist_get_path(p));
        mpd_playlist_free(p);
    }
    if (!ok(mpd_response_finish(m_conn)))
        return std::nullopt;
    return names;
}

std::optional<QList<QByteArray>> MpdClient::playlistContents(const QByteArray &name)
{
    if (!connect() || !mpd_send_list_playlist(m_conn, name.constData()))
        return ok(false), std::nullopt;
    QList<QByteArray> uris;
    while (mpd_pair *pair = mpd_recv_pair_named(m_conn, "file")) {
        uris << QByteArray(pair->value);
        mpd_return_pair(m_conn, pair);
    }
    if (!ok(mpd_response_finish(m_conn)))
        return std::nullopt;
    return uris;
}

bool MpdClient::makeEmptyPlaylist(const QByteArray &name)
{
    // Saving the queue under the name and clearing it leaves an empty stored playlist.
    return connect() && ok(mpd_run_save(m_conn, name.constData())) && ok(mpd_run_playlist_clear(m_conn, name.constData()));
}

std::optional<QByteArray> MpdClient::musicDirectory()
{
    if (!connect() || !mpd_send_command(m_conn, "config", nullptr))
        return ok(false), std::nullopt;
    std::optional<QByteArray> dir;
    if (mpd_pair *pair = mpd_recv_pair_named(m_conn, "music_directory")) {
        dir = QByteArray(pair->value);
        mpd_return_pair(m_conn, pair);
    }
    if (!ok(mpd_response_finish(m_conn)))
        return std::nullopt;
    return dir;
}

bool MpdClient::updateAndWait(const QByteArray &relativePath, int timeoutMs)
{
    if (!connect())
        return false;
    const unsigned job = mpd_run_update(m_conn, relativePath.constData());
    if (!ok(job != 0))
        return false;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        mpd_status *status = mpd_run_status(m_conn);
        if (!ok(status != nullptr))
            return false;
        const unsigned running = mpd_status_get_update_id(status);
        mpd_status_free(status);
        // Job ids increase; none running, or a later one, means ours is done.
        if (running == 0 || running > job)
            return true;
        const qint64 left = timeoutMs - waited.elapsed();
        if (left <= 0)
            return false;
        // The server says when an update starts or ends: no polling delay.
        if (!ok(mpd_send_idle_mask(m_conn, MPD_IDLE_UPDATE)))
            return false;
        pollfd ready = {mpd_connection_get_fd(m_conn), POLLIN, 0};
        if (::poll(&ready, 1, int(qMin<qint64>(left, 1000))) > 0)
            mpd_recv_idle(m_conn, false);
        else
            mpd_run_noidle(m_conn);
        if (!ok(true))
            return false;
    }
}

bool MpdClient::playlistAdd(const QByteArray &name, const QByteArray &uri)
{
    return connect() && ok(mpd_run_playlist_add(m_conn, name.constData(), uri.constData()));
}

std::optional<unsigned> MpdClient::addId(const QByteArray &uri)
{
    if (!connect())
        return std::nullopt;
    const int id = mpd_run_add_id(m_conn, uri.constData());
    if (!ok(id >= 0))
        return std::nullopt;
    return unsigned(id);
}

std::optional<QByteArray> MpdClient::queueSongUri(unsigned id)
{
    if (!connect())
        return std::nullopt;
    mpd_song *song = mpd_run_get_queue_song_id(m_conn, id);
    if (!song) {
        ok(false);
        return std::nullopt;
    }
    const QByteArray uri(mpd_song_get_uri(song));
    mpd_song_free(song);
    if (!ok(true))
        return std::nullopt;
    return uri;
}

std::optional<unsigned> MpdClient::findInQueue(const QByteArray &uri)
{
    if (!connect() || !mpd_search_queue_songs(m_conn, true) || !mpd_search_add_uri_constraint(m_conn, MPD_OPERATOR_DEFAULT, uri.constData())
        || !mpd_search_commit(m_conn))
        return ok(false), std::nullopt;
    std::optional<unsigned> found;
    while (mpd_song *song = mpd_recv_song(m_conn)) {
        if (!found)
            found = mpd_song_get_id(song);
        mpd_song_free(song);
    }
    if (!ok(mpd_response_finish(m_conn)))
        return std::nullopt;
    return found;
}

std::optional<bool> MpdClient::isPlaying()
{
    if (!connect())
        return std::nullopt;
    mpd_status *status = mpd_run_status(m_conn);
    if (!ok(status != nullptr))
        return std::nullopt;
    const bool playing = mpd_status_get_state(status) == MPD_STATE_PLAY;
    mpd_status_free(status);
    return playing;
}

bool MpdClient::playId(unsigned id)
{
    return connect() && ok(mpd_run_play_id(m_conn, id));
}

std::optional<QByteArray> MpdClient::currentSongUri()
{
    if (!connect())
        return std::nullopt;
    mpd_song *song = mpd_run_current_song(m_conn);
    if (!song) {
        if (!ok(true))
            return std::nullopt;
        return QByteArray();
    }
    const QByteArray uri(mpd_song_get_uri(song));
    mpd_song_free(song);
    ok(true);
    return uri;
}

QList<std::optional<unsigned>> MpdClient::addToPlaylistAndQueue(const QByteArray &playlist, const QList<QByteArray> &uris)
{
    Ids ids(uris.size());
    QSet<QByteArray> inPlaylist;
    if (uris.isEmpty() || !connect() || !lookUp(playlist, uris, &inPlaylist, &ids))
        return Ids(uris.size());
    for (qsizetype from = 0; from >= 0;)
        from = addFrom(from, playlist, uris, &inPlaylist, &ids);
    return ids;
}

// Look: what the playlist holds and where each file is in the queue.
bool MpdClient::lookUp(const QByteArray &playlist, const QList<QByteArray> &uris, QSet<QByteArray> *inPlaylist, Ids *ids)
{
    bool sent = mpd_command_list_begin(m_conn, true) && mpd_send_list_playlist(m_conn, playlist.constData());
    for (const QByteArray &uri : uris)
        sent = sent && mpd_send_command(m_conn, "playlistfind", "file", uri.constData(), nullptr);
    if (!sent || !mpd_command_list_end(m_conn))
        return ok(false);
    while (mpd_pair *pair = mpd_recv_pair_named(m_conn, "file")) {
        inPlaylist->insert(QByteArray(pair->value));
        mpd_return_pair(m_conn, pair);
    }
    bool received = mpd_response_next(m_conn);
    for (qsizetype i = 0; received && i < uris.size(); ++i) {
        while (mpd_song *song = mpd_recv_song(m_conn)) {
            if (!(*ids)[i])
                (*ids)[i] = mpd_song_get_id(song);
            mpd_song_free(song);
        }
        received = mpd_response_next(m_conn);
    }
    return ok(received && mpd_response_finish(m_conn));
}

// Add, in one command list, what is missing from item from on. A refused
// command ends the list there: that file gets none and the rest is sent
// again from the index returned; -1 when nothing is left to send.
qsizetype MpdClient::addFrom(qsizetype from, const QByteArray &playlist, const QList<QByteArray> &uris, QSet<QByteArray> *inPlaylist, Ids *ids)
{
    struct Sent {
        qsizetype item;
        bool queue;
    };
    QList<Sent> commands;
    bool out = mpd_command_list_begin(m_conn, true);
    for (qsizetype i = from; out && i < uris.size(); ++i) {
        if (!inPlaylist->contains(uris[i])) {
            out = mpd_send_playlist_add(m_conn, playlist.constData(), uris[i].constData());
            commands.append({i, false});
        }
        if (!(*ids)[i] && out) {
            out = mpd_send_add_id(m_conn, uris[i].constData());
            commands.append({i, true});
        }
    }
    if (commands.isEmpty()) {
        mpd_command_list_end(m_conn);
        mpd_response_finish(m_conn);
        ok(true);
        return -1;
    }
    if (!out || !mpd_command_list_end(m_conn))
        return ok(false), -1;
    bool fine = true;
    for (const Sent &command : std::as_const(commands)) {
        if (command.queue) {
            const int id = mpd_recv_song_id(m_conn);
            fine = id >= 0;
            if (fine)
                (*ids)[command.item] = unsigned(id);
        }
        fine = fine && mpd_response_next(m_conn);
        if (!fine)
            break;
    }
    if (fine && mpd_response_finish(m_conn))
        return ok(true), -1;
    if (mpd_connection_get_error(m_conn) != MPD_ERROR_SERVER)
        return ok(false), -1;
    const unsigned at = mpd_connection_get_server_error_location(m_conn);
    ok(false); // clears the server's refusal; the connection stays
    if (at >= unsigned(commands.size()))
        return -1;
    const qsizetype refused = commands[at].item;
    (*ids)[refused].reset();
    inPlaylist->insert(uris[refused]); // not sent again
    return refused + 1;
}

bool MpdClient::killServer()
{
    if (!connect() || !mpd_send_command(m_conn, "kill", nullptr))
        return ok(false);
    // The server closes the connection without an answer; waiting for one
    // makes sure the command went out.
    mpd_response_finish(m_conn);
    disconnect();
    return true;
}

bool MpdClient::stop()
{
    return connect() && ok(mpd_run_stop(m_conn));
}

int MpdClient::fd() const
{
    return m_conn ? mpd_connection_get_fd(m_conn) : -1;
}
