#pragma once
// The program's only way to the music library, an MPD server: adds files to
// a named playlist (made when missing), tells whether the player plays, and
// plays a track given by the id its add returned.
//
// Used from the watcher thread (imports, which run one at a time there) and
// from clicks. Every operation borrows a connection of its own from a small
// pool, so a click never waits behind an import's update; the lock guards
// only the pool, the id table and the server's answering state, never an
// exchange with the server.
#include "library/MpdClient.h"
#include "library/MpdLauncher.h"
#include "library/RetryList.h"
#include <QByteArray>
#include <QHash>
#include <QList>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The music library's display name, where the texts name it.
inline constexpr const char *kMusicLibraryName = "MPD";

using TrackId = std::optional<unsigned>;

class ITunesManager {
public:
    static ITunesManager *sharedManager();
    // Where the library is found or started; set once by the application.
    void configure(const MpdLauncherConfig &config);

    // Connects, and starts MPD when nothing answers, unless the user named
    // a server (MPD_HOST/MPD_PORT): that one is never replaced by ours.
    bool run();
    bool isPlaying();
    // Makes the stored playlist when it does not exist; false when the library cannot be reached.
    bool playlistNamed(const QByteArray &name);
    // Copies the file into the library's folder "Rivulet" and adds it to the
    // playlist and the queue; the id of that queue entry, or none.
    TrackId addFile(const QByteArray &path, const QByteArray &playlist);
    TrackId sendFileToITunes(const QByteArray &path, const QByteArray &playlist, bool playIt, bool onlyIfStopped);
    // The same for several files as one batch: all copied, one update, one
    // command list of adds. One result per path, in order, and the same
    // playing outcome as sending each in turn. A copy the library refused is
    // removed again.
    QList<TrackId> sendFilesToITunes(const QList<QByteArray> &paths, const QByteArray &playlist, bool playIt, bool onlyIfStopped);
    void playTrackWithId(TrackId trackId, const QByteArray &playlist);
    // The same for a track known to name file: MPD hands out its queue ids
    // anew after a restart, so the file decides, never the number alone.
    void playTrackWithId(TrackId trackId, const QByteArray &playlist, const QByteArray &file);
    // The library file a track id handed out names ("Rivulet/...").
    std::optional<QByteArray> uriForTrack(unsigned id) const;
    int exchanges() const;

    // Files the library did not take are offered again later (see RetryList).
    // The import calls retryLater for a refused file and retryDone once the
    // library took it; dueRetries names the files to offer now: those whose
    // back-off has passed, or all of them when MPD answers again after it
    // did not.
    void retryLater(const QByteArray &path);
    void retryDone(const QByteArray &path);
    QList<QByteArray> dueRetries();

    // At quit: stops the private MPD in our data folder, playing or not:
    // once the program is gone nothing could stop it. A server of the
    // user's is never stopped.
    void shutdown();

    // True when the last import found no way to learn the server's music
    // folder (a server over TCP without a configuration file that names
    // it): the preferences then ask for "MPD's music folder".
    bool musicFolderNeeded() const { return m_musicFolderNeeded; }
    // Writes <music folder>/<playlist>.m3u from the server's stored
    // playlist, entries relative to the file's own folder.
    void syncPlaylistFile(const QByteArray &playlist);
    // Seconds since the epoch, for the retry back-off; tests step it.
    static void setClock(qint64 (*clock)());
    // The socket of the MPD the program starts when the user has none.
    QByteArray privateSocket() { return launcher()->privateSocket(); }

private:
    ITunesManager() = default;
    // A connection borrowed for one operation and given back after it.
    class Lease;
    std::unique_ptr<MpdClient> borrow(quint64 *generation);
    void giveBack(std::unique_ptr<MpdClient> client, quint64 generation);
    std::shared_ptr<MpdLauncher> launcher();
    bool ensurePlaylist(MpdClient &mpd, const QByteArray &name);
    bool play(MpdClient &mpd, unsigned id, const QByteArray &uri);
    // Notes whether the server answered; an answer after silence (or the
    // first one after configuration) makes every waiting retry due.
    void noteAnswer(bool answered);
    // Whether the server answers, never judged on a connection it closed.
    bool answers(MpdClient &mpd);
    std::optional<QByteArray> musicFolder(MpdClient &mpd);
    void writePlaylistFile(MpdClient &mpd, const QByteArray &playlist, const QByteArray &musicDir);

    mutable std::mutex m_mutex;
    std::shared_ptr<MpdLauncher> m_launcher;
    std::vector<std::unique_ptr<MpdClient>> m_idle;
    quint64 m_generation = 0;
    QHash<unsigned, QByteArray> m_trackFiles;
    enum class Heard { Unknown, Answering, Silent };
    Heard m_heard = Heard::Unknown;
    bool m_answeredAgain = false;
    std::atomic<int> m_exchanges{0};
    std::atomic<bool> m_musicFolderNeeded{false};
    RetryList m_retries;
};
