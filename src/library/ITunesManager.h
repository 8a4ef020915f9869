#pragma once
// The program's only way to the music library, an MPD server: adds a file to
// a named playlist (made when missing), tells whether the player plays, and
// plays a track given by the id its add returned. Used from the watcher
// thread (imports) and the main thread (notification clicks): every
// operation holds one lock.
#include "library/MpdClient.h"
#include "library/MpdLauncher.h"
#include <QByteArray>
#include <QHash>
#include <QList>
#include <memory>
#include <mutex>
#include <optional>

// The music library's display name, where the texts name it.
inline constexpr const char *kMusicLibraryName = "MPD";

using TrackId = std::optional<unsigned>;

class ITunesManager {
public:
    static ITunesManager *sharedManager();
    // Where the library is found or started; set once by the application.
    void configure(const MpdLauncherConfig &config);

    // Connects, and starts MPD when nothing answers.
    bool run();
    bool isPlaying();
    // Makes the stored playlist when it does not exist; false when the library cannot be reached.
    bool playlistNamed(const QByteArray &name);
    // Copies the file into the library's folder "Rivulet" and adds it to the
    // playlist and the queue; the id of that queue entry, or none.
    TrackId addFile(const QByteArray &path, const QByteArray &playlist);
    TrackId sendFileToITunes(const QByteArray &path, const QByteArray &playlist, bool playIt, bool onlyIfStopped);
    // The same for several files as one batch: one result per path, in order,
    // with the outcome of sending each in turn.
    QList<TrackId> sendFilesToITunes(const QList<QByteArray> &paths, const QByteArray &playlist, bool playIt, bool onlyIfStopped);
    void playTrackWithId(TrackId trackId, const QByteArray &playlist);
    // The same for a track known to name file: MPD hands out its queue ids
    // anew after a restart, so the file decides, never the number alone.
    void playTrackWithId(TrackId trackId, const QByteArray &playlist, const QByteArray &file);
    // The library file a track id handed out names ("Rivulet/...").
    std::optional<QByteArray> uriForTrack(unsigned id) const;
    int exchanges() const;

private:
    ITunesManager() = default;
    MpdClient &client();
    std::optional<QByteArray> importIntoMusicFolder(const QByteArray &path);
    bool play(unsigned id, const QByteArray &uri);

    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<MpdLauncher> m_launcher;
    std::unique_ptr<MpdClient> m_client;
    QHash<unsigned, QByteArray> m_trackFiles;
};
