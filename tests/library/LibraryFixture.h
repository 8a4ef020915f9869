#pragma once
// The music library bridge against a real private MPD in a private HOME.
#include "support/Bytes.h"
#include "support/PrivateMpd.h"
#include "library/ITunesManager.h"
#include <QTcpServer>

struct LibraryFixture : PrivateMpd {
    ITunesManager *library = ITunesManager::sharedManager();
    QByteArray music = home.bytes(QStringLiteral("Music"));
    QByteArray downloads = home.bytes(QStringLiteral("Downloads"));
    QByteArray userConf; // the user's own MPD, when started
    int userPort = 0;

    LibraryFixture()
    {
        QDir().mkpath(QFile::decodeName(downloads));
        QDir().mkpath(QFile::decodeName(support)); // the application makes its data folder
        configure();
    }
    ~LibraryFixture()
    {
        if (!userConf.isEmpty())
            QProcess::execute(QStringLiteral("mpd"), {QStringLiteral("--kill"), QFile::decodeName(userConf)});
        ITunesManager::setClock(nullptr); // MPD_HOST and MPD_PORT are cleared by the next fixture
    }

    // The user's own MPD from ~/.config/mpd/mpd.conf (extra lines added; an escaped character, a block's port that
    // is not the server's) on a free port or none; when named, by MPD_HOST and MPD_PORT, and then answering.
    bool startUserMpd(const QByteArray &extra = {}, bool withPort = true, bool named = false)
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
        const QByteArray port = "bind_to_address \"localhost\"\nport \"" + QByteArray::number(userPort) + "\"\n";
        writeBytes(userConf, "music_directory \"~/\\Music\"\nplaylist_directory \"~/.config/mpd/playlists\"\ndb_file \"~/.config/mpd/database\"\n"
                             "pid_file \"~/.config/mpd/pid\"\n" + (withPort ? port : QByteArray())
                             + "audio_output {\n  type \"null\"\n  name \"null\"\n  port \"1\"\n}\n" + extra);
        if (QProcess::execute(QStringLiteral("mpd"), {QFile::decodeName(userConf)}) != 0 || (named && !answersAt(userAddress())))
            return false;
        if (named) {
            qputenv("MPD_HOST", "localhost");
            qputenv("MPD_PORT", QByteArray::number(userPort));
            configure();
        }
        return true;
    }
    QByteArray userAddress() const { return "localhost:" + QByteArray::number(userPort); }
    static bool answersAt(const QByteArray &address)
    {
        MpdClient mpd({address});
        for (int i = 0; i < 200 && !mpd.connect(); ++i)
            QThread::msleep(50);
        return mpd.connect();
    }
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
    bool startMpd() { return QProcess::execute(QStringLiteral("mpd"), {QFile::decodeName(support) + QStringLiteral("/mpd/mpd.conf")}) == 0; }
    // A file in Downloads: the bytes of a test tone (with a tail that makes it unique), or junk.
    QByteArray tone(int n, const QByteArray &name) { return put(name, readAll(QStringLiteral(RIVULET_TEST_DATA "/tones/0%1 tone.mp3").arg(n)) + name); }
    QByteArray junk(const QByteArray &name) { return put(name, "not music at all"); }
    QByteArray put(const QByteArray &name, const QByteArray &bytes) { return writeBytes(downloads + '/' + name, bytes) ? downloads + '/' + name : QByteArray(); }
    // A tone of seconds made by ffmpeg in the format of the name's extension, with its title tag.
    QByteArray madeTone(const QByteArray &name, const QByteArray &title, int seconds = 1)
    {
        QProcess ffmpeg;
        ffmpeg.setStandardInputFile(QProcess::nullDevice());
        ffmpeg.start(QStringLiteral("ffmpeg"), QStringLiteral("-v error -f lavfi -i sine=frequency=440:duration=%1 -metadata album=Test -metadata").arg(seconds).split(QLatin1Char(' '))
                                                   << QStringLiteral("title=") + QString::fromUtf8(title) << QStringLiteral("-metadata")
                                                   << QStringLiteral("artist=Rivulet Fixtures") << QFile::decodeName(downloads + '/' + name));
        return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0 ? downloads + '/' + name : QByteArray();
    }
};
