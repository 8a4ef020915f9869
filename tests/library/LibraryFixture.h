#pragma once
// The music library bridge against a real private MPD in a private HOME.
#include "TestSupport.h"
#include "library/ITunesManager.h"
#include <QProcess>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// Writes a file by its byte path (names in these tests need not be UTF-8).
inline bool writeBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return ok;
}

struct LibraryFixture {
    TempHome home;
    QByteArray support = QFile::encodeName(home.supportDir());
    QByteArray music = home.bytes(QStringLiteral("Music"));
    QByteArray downloads = home.bytes(QStringLiteral("Downloads"));

    LibraryFixture()
    {
        qputenv("RIVULET_MPD_OUTPUT", "null");
        qunsetenv("MPD_HOST");
        qunsetenv("MPD_PORT");
        qputenv("XDG_RUNTIME_DIR", home.bytes(QStringLiteral("run")));
        QDir().mkpath(QFile::decodeName(downloads));
        configure();
    }
    ~LibraryFixture()
    {
        stopMpd();
        qunsetenv("MPD_HOST");
    }
    void configure() { ITunesManager::sharedManager()->configure(defaultMpdLauncherConfig(support)); }
    QByteArray socket() const { return support + "/mpd/socket"; }
    qint64 mpdPid() const { return readAll(QFile::decodeName(support) + QStringLiteral("/mpd/pid")).trimmed().toLongLong(); }
    bool mpdRuns() const { return mpdPid() > 0 && ::kill(pid_t(mpdPid()), 0) == 0; }

    void stopMpd()
    {
        const qint64 pid = mpdPid();
        if (pid <= 0)
            return;
        ::kill(pid_t(pid), SIGTERM);
        for (int i = 0; i < 100 && ::kill(pid_t(pid), 0) == 0; ++i)
            QThread::msleep(50);
        QFile::remove(QFile::decodeName(support) + QStringLiteral("/mpd/pid"));
    }
    // Starts the private MPD again from the configuration the program wrote.
    bool startMpd()
    {
        return QProcess::execute(QStringLiteral("mpd"), {QFile::decodeName(support) + QStringLiteral("/mpd/mpd.conf")}) == 0;
    }
    // A file in Downloads with the bytes of a test tone (and a tail that makes it unique).
    QByteArray tone(int n, const QByteArray &name)
    {
        const QByteArray path = downloads + '/' + name;
        writeBytes(path, readAll(QStringLiteral(RIVULET_TEST_DATA "/tones/0%1 tone.mp3").arg(n)) + name);
        return path;
    }
    QByteArray junk(const QByteArray &name)
    {
        const QByteArray path = downloads + '/' + name;
        writeBytes(path, "not music at all");
        return path;
    }
    QList<QByteArray> playlist()
    {
        MpdClient mpd({socket()});
        return mpd.playlistContents("Rivulet").value_or(QList<QByteArray>());
    }
    QByteArray playing()
    {
        MpdClient mpd({socket()});
        return mpd.isPlaying().value_or(false) ? mpd.currentSongUri().value_or(QByteArray()) : QByteArray();
    }
    QStringList libraryFiles() const
    {
        return QDir(QFile::decodeName(music) + QStringLiteral("/Rivulet")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};
