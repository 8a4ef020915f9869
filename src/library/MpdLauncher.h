#pragma once
// Finds the user's MPD or starts one: the user's own configuration when
// there is one, else a private instance whose configuration, database, state
// and playlists live in a folder of ours. Launches are serialised by a lock
// file, since a second MPD on the same configuration takes over the socket.
#include <QByteArray>
#include <QList>

struct MpdLauncherConfig {
    QByteArray home;
    QByteArray supportFolder; // the program's data folder
    QByteArray privateFolder; // <support folder>/mpd
    QByteArray musicFolder;   // the music folder of a private instance
    QByteArray runtimeDir;    // $XDG_RUNTIME_DIR, may be empty
    QByteArray configHome;    // $XDG_CONFIG_HOME
    QByteArray audioOutput;   // audio output type of a private instance; empty: MPD's default
};

// Where the user's own MPD is looked for, and where a private one lives:
// <support folder>/mpd, with the XDG Music folder as its music folder.
MpdLauncherConfig defaultMpdLauncherConfig(const QByteArray &supportFolder);

class MpdLauncher {
public:
    explicit MpdLauncher(MpdLauncherConfig config) : m_config(std::move(config)) {}
    // Where to look for a server, in order ("" = MPD_HOST/MPD_PORT).
    QList<QByteArray> addresses() const;
    QByteArray privateSocket() const { return m_config.privateFolder + "/socket"; }
    QByteArray privateFolder() const { return m_config.privateFolder; }
    // The user named a server in MPD_HOST/MPD_PORT: that one is used, never one of ours.
    static bool userNamedServer();
    static QByteArray namedServer(); // "host:port" as named, for messages
    QByteArray userConfigFile() const; // empty when the user has none
    // Starts MPD unless tryConnect succeeds under the lock; true when one answers afterwards.
    template <typename TryConnect> bool launch(TryConnect tryConnect);

private:
    bool startServer();
    bool writePrivateConfig(QByteArray *path);
    int lock();
    void unlock(int fd);
    MpdLauncherConfig m_config;
};

template <typename TryConnect>
bool MpdLauncher::launch(TryConnect tryConnect)
{
    const int fd = lock();
    bool up = tryConnect();
    if (!up && startServer()) {
        for (int i = 0; i < 100 && !up; ++i) { // up to 5 s; it answers after 0.2-0.3 s
            struct timespec pause = {0, 50 * 1000 * 1000};
            nanosleep(&pause, nullptr);
            up = tryConnect();
        }
    }
    unlock(fd);
    return up;
}
