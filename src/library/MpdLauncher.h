#pragma once
// Finds the user's MPD or starts one: the user's own configuration when
// there is one, else a private instance whose configuration, database, state
// and playlists live in a folder of ours. Launches are serialised by a lock
// file, since a second MPD on the same configuration takes over the socket.
#include <QByteArray>
#include <QList>
#include <functional>
#include "library/MpdConfigFile.h"

struct MpdLauncherConfig {
    QByteArray home;
    QByteArray supportFolder; // the program's data folder
    QByteArray privateFolder; // <support folder>/mpd
    QByteArray musicFolder;   // the music folder of a private instance
    QByteArray runtimeDir;    // $XDG_RUNTIME_DIR, may be empty
    QByteArray configHome;    // $XDG_CONFIG_HOME
    QByteArray audioOutput;   // audio output type of a private instance; empty: MPD's default
    // The user's answer to "MPD's music folder", asked when no configuration tells it.
    std::function<QByteArray()> musicFolderSetting;
    // Where a system-wide MPD is looked for (tests point these elsewhere).
    QByteArray systemSocket = "/run/mpd/socket";
    QByteArray systemConfig = "/etc/mpd.conf";
    int defaultPort = 6600; // 0: no TCP server is looked for unless a configuration names one
};

// Where the user's own MPD is looked for, and where a private one lives:
// <support folder>/mpd, with the XDG Music folder as its music folder.
MpdLauncherConfig defaultMpdLauncherConfig(const QByteArray &supportFolder);

class MpdLauncher {
public:
    explicit MpdLauncher(MpdLauncherConfig config) : m_config(std::move(config)) {}
    // Where to look for a server, in order, as MPD clients do: "" (MPD_HOST/
    // MPD_PORT) when set; else the usual sockets, the socket the user's
    // configuration binds, localhost on its port; last our private socket.
    // A socket is a path, a TCP server "host:port".
    QList<QByteArray> addresses() const;
    // The configuration files a server may have come from, in the order MPD
    // itself looks (the user's, then the system's), that can be read.
    QList<MpdConfigFile> configFiles() const;
    QByteArray privateSocket() const { return m_config.privateFolder + "/socket"; }
    QByteArray privateFolder() const { return m_config.privateFolder; }
    QByteArray privateMusicFolder() const { return m_config.musicFolder; }
    QByteArray musicFolderSetting() const { return m_config.musicFolderSetting ? m_config.musicFolderSetting() : QByteArray(); }
    // The user named a server in MPD_HOST/MPD_PORT: that one is used, never one of ours.
    static bool userNamedServer();
    static QByteArray namedServer(); // "host:port" as named, for messages
    // The server MPD_HOST/MPD_PORT name as an address ("/socket" or "host:port").
    static QByteArray namedAddress();
    QByteArray userConfigFile() const; // empty when the user has none
    // Starts MPD unless tryConnect succeeds under the lock; true when one answers afterwards.
    template <typename TryConnect> bool launch(TryConnect tryConnect);

private:
    bool startServer();
    static bool makePrivateFolder(const QByteArray &path);
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
