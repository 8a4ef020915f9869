#pragma once
// A private HOME for the program's private MPD: no user's or system server is looked at, nothing heard.
#include "TestSupport.h"
#include "library/MpdClient.h"
#include <csignal>

struct PrivateMpd {
    TempHome home;
    QByteArray support = QFile::encodeName(home.supportDir());

    PrivateMpd()
    {
        qputenv("RIVULET_MPD_OUTPUT", "null");
        qunsetenv("MPD_HOST");
        qunsetenv("MPD_PORT");
        qputenv("XDG_RUNTIME_DIR", home.bytes(QStringLiteral("run")));
    }
    ~PrivateMpd() { stopMpd(); }

    QByteArray socket() const { return support + "/mpd/socket"; }
    qint64 mpdPid() const { return readAll(QFile::decodeName(support) + QStringLiteral("/mpd/pid")).trimmed().toLongLong(); }
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
    QList<QByteArray> playlist() const
    {
        MpdClient mpd({socket()});
        return mpd.playlistContents("Rivulet").value_or(QList<QByteArray>());
    }
    QByteArray playing() const
    {
        MpdClient mpd({socket()});
        return mpd.isPlaying().value_or(false) ? mpd.currentSongUri().value_or(QByteArray()) : QByteArray();
    }
};
