#pragma once
// The music library bridge against a real private MPD in a private HOME.
#include "support/Bytes.h"
#include "support/PrivateMpd.h"
#include "library/ITunesManager.h"
#include <QProcess>
#include <QTcpServer>
#include <QThread>

struct LibraryFixture : PrivateMpd {
    ITunesManager *library = ITunesManager::sharedManager();
    QByteArray music = home.bytes(QStringLiteral("Music"));
    QByteArray downloads = home.bytes(QStringLiteral("Downloads"));

    LibraryFixture()
    {
        QDir().mkpath(QFile::decodeName(downloads));
        QDir().mkpath(QFile::decodeName(support)); // the application makes its data folder
        configure();
    }
    ~LibraryFixture()
    {
        stopMpd();
        if (!userConf.isEmpty())
            QProcess::execute(QStringLiteral("mpd"), {QStringLiteral("--kill"), QFile::decodeName(userConf)});
        qunsetenv("MPD_HOST");
        qunsetenv("MPD_PORT");
        ITunesManager::setClock(nullptr);
    }

    // The user's own MPD, started as a user does, from ~/.config/mpd/mpd.conf
    // on a port the kernel picked; extra lines go into that file.
    QByteArray userConf;
    int userPort = 0;
    bool startUserMpd(const QByteArray &extra = {}, bool withPort = true)
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        userPort = probe.serverPort();
        probe.close();
        const QByteArray dir = home.bytes(QStringLiteral(".config/mpd"));
        QDir().mkpath(QFile::decodeName(dir + "/playlists"));
        QDir().mkpath(QFile::decodeName(music));
        userConf = dir + "/mpd.conf";
        QByteArray conf = "music_directory \"~/Music\"\nplaylist_directory \"~/.config/mpd/playlists\"\n"
                          "db_file \"~/.config/mpd/database\"\npid_file \"~/.config/mpd/pid\"\n"
                          "audio_output {\n  type \"null\"\n  name \"null\"\n}\n";
        if (withPort)
            conf += "bind_to_address \"localhost\"\nport \"" + QByteArray::number(userPort) + "\"\n";
        writeBytes(userConf, conf + extra);
        return QProcess::execute(QStringLiteral("mpd"), {QFile::decodeName(userConf)}) == 0;
    }
    // The user's MPD as above, named by MPD_HOST and MPD_PORT (a silent one is never replaced), answering.
    bool startNamedUserMpd(const QByteArray &extra = {})
    {
        if (!startUserMpd(extra) || !answersAt(userAddress()))
            return false;
        qputenv("MPD_HOST", "localhost");
        qputenv("MPD_PORT", QByteArray::number(userPort));
        configure();
        return true;
    }
    // Waits until a server answers at address.
    static bool answersAt(const QByteArray &address)
    {
        MpdClient mpd({address});
        for (int i = 0; i < 200 && !mpd.connect(); ++i)
            QThread::msleep(50);
        return mpd.connect();
    }
    // A tone of seconds made by ffmpeg in the given format, with its title tag.
    QByteArray madeTone(const QByteArray &name, const QByteArray &title, int seconds = 1)
    {
        const QByteArray path = downloads + '/' + name;
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"), QStringLiteral("-v error -f lavfi -i sine=frequency=440:duration=%1 -metadata album=Test").arg(seconds).split(QLatin1Char(' '))
                                                   << QStringLiteral("-metadata") << QStringLiteral("title=") + QString::fromUtf8(title)
                                                   << QStringLiteral("-metadata") << QStringLiteral("artist=Rivulet Fixtures") << QFile::decodeName(path));
        ffmpeg.setStandardInputFile(QProcess::nullDevice());
        return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0 ? path : QByteArray();
    }
    QByteArray userAddress() const { return "localhost:" + QByteArray::number(userPort); }
    // No system MPD of this machine and no fixed port is ever looked at.
    MpdLauncherConfig config() const
    {
        MpdLauncherConfig c = defaultMpdLauncherConfig(support);
        c.systemSocket = home.bytes(QStringLiteral("no-system/socket"));
        c.systemConfig = home.bytes(QStringLiteral("no-system/mpd.conf"));
        c.defaultPort = 0;
        return c;
    }
    void configure() { library->configure(config()); }
    // Starts the private MPD again from the configuration the program wrote.
    bool startMpd()
    {
        return QProcess::execute(QStringLiteral("mpd"), {QFile::decodeName(support) + QStringLiteral("/mpd/mpd.conf")}) == 0;
    }
    // A file in Downloads: the bytes of a test tone (with a tail that makes it unique), or junk.
    QByteArray tone(int n, const QByteArray &name) { return put(name, readAll(QStringLiteral(RIVULET_TEST_DATA "/tones/0%1 tone.mp3").arg(n)) + name); }
    QByteArray junk(const QByteArray &name) { return put(name, "not music at all"); }
    QByteArray put(const QByteArray &name, const QByteArray &bytes)
    {
        const QByteArray path = downloads + '/' + name;
        return writeBytes(path, bytes) ? path : QByteArray();
    }
};
