#pragma once
// One connection to an MPD server through libmpdclient. Every exchange
// answers "none" or false when it fails; the connection is then dropped and
// made again by the next call.
#include <QByteArray>
#include <QList>
#include <QSet>
#include <optional>
#include <utility>

struct mpd_connection;

class MpdClient {
public:
    // Server addresses to try, in order: "" means MPD_HOST/MPD_PORT (or
    // libmpdclient's default), "/path" a unix socket, "host:port" TCP.
    explicit MpdClient(QList<QByteArray> addresses) : m_addresses(std::move(addresses)) {}
    ~MpdClient();
    MpdClient(const MpdClient &) = delete;
    MpdClient &operator=(const MpdClient &) = delete;

    // Connects, or checks that the connection held is still open (a
    // server drops idle clients) and makes it again when not.
    bool connect();
    // The address the connection was made to.
    QByteArray address() const { return m_address; }
    // The file descriptor, for waiting on the server; -1 when not connected.
    int fd() const;
    mpd_connection *connection() const { return m_conn; }
    bool isConnected() const { return m_conn != nullptr; }
    void disconnect();

    std::optional<QList<QByteArray>> listPlaylists();
    std::optional<QList<QByteArray>> playlistContents(const QByteArray &name);
    bool makeEmptyPlaylist(const QByteArray &name);
    std::optional<QByteArray> musicDirectory();
    // Asks the server to look at one path of its music folder and waits until it has.
    bool updateAndWait(const QByteArray &relativePath, int timeoutMs);
    bool playlistAdd(const QByteArray &name, const QByteArray &uri);
    // Adds each file to the stored playlist unless it holds it, and to the
    // queue unless it is there: one command list to look, one to add. The
    // queue id of each file, or none where the server refused it.
    QList<std::optional<unsigned>> addToPlaylistAndQueue(const QByteArray &playlist, const QList<QByteArray> &uris);
    std::optional<unsigned> addId(const QByteArray &uri);
    std::optional<QByteArray> queueSongUri(unsigned id);
    std::optional<unsigned> findInQueue(const QByteArray &uri);
    std::optional<bool> isPlaying();
    bool playId(unsigned id);
    std::optional<QByteArray> currentSongUri();
    bool stop();
    // Asks the server to save its state and end.
    bool killServer();
    // How many exchanges were made, for the benchmarks.
    int exchanges() const { return m_exchanges; }
    int takeExchanges() { return std::exchange(m_exchanges, 0); }

private:
    using Ids = QList<std::optional<unsigned>>;
    bool lookUp(const QByteArray &playlist, const QList<QByteArray> &uris, QSet<QByteArray> *inPlaylist, Ids *ids);
    qsizetype addFrom(qsizetype from, const QByteArray &playlist, const QList<QByteArray> &uris, QSet<QByteArray> *inPlaylist, Ids *ids);
    bool ok(bool result);
    mpd_connection *m_conn = nullptr;
    QList<QByteArray> m_addresses;
    QByteArray m_address;
    int m_exchanges = 0;
};
