// The desktop's media controls for the private MPD, read and steered by a
// real playerctl over the session bus, while the player answers from the
// interface thread of this test.
#include "LibraryFixture.h"
#include "library/MprisPlayer.h"
#include <QEventLoop>
#include <QTimer>
#include <mpd/client.h>

class TestMprisThreads : public QObject {
    Q_OBJECT

    // Runs playerctl while this thread answers the bus.
    static QString playerctl(const QStringList &args, bool ours = true)
    {
        QProcess ctl;
        QEventLoop loop;
        QObject::connect(&ctl, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        ctl.start(QStringLiteral("playerctl"), (ours ? QStringList{QStringLiteral("--player=rivulet")} : QStringList()) + args);
        loop.exec();
        return QString::fromUtf8(ctl.readAllStandardOutput()).trimmed();
    }

private slots:
    void playerctlShowsAndSteersThePrivateServer()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a session bus (scripts/desktop-rig.sh)");
        LibraryFixture f;
        ITunesManager *library = ITunesManager::sharedManager();
        QVERIFY(library->run());
        QList<QByteArray> songs;
        for (int i = 1; i <= 3; ++i)
            songs << f.madeTone("long " + QByteArray::number(i) + ".mp3", "Long " + QByteArray::number(i), 120);
        QVERIFY(!songs.contains(QByteArray()));
        const QList<TrackId> ids = library->sendFilesToITunes(songs, "Rivulet", false, false);
        QVERIFY(ids[0] && ids[1] && ids[2]);

        QObject owner;
        MprisPlayer::startFor(f.socket(), &owner);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"), 20000);
        QProcess follow; // what a desktop widget sees: PropertiesChanged
        follow.start(QStringLiteral("playerctl"), {QStringLiteral("--player=rivulet"), QStringLiteral("--follow"),
                                                   QStringLiteral("metadata"), QStringLiteral("title")});
        QVERIFY(follow.waitForStarted());

        playerctl({QStringLiteral("play-pause")});
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"), 20000);
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("title")}), QStringLiteral("Long 1"));
        playerctl({QStringLiteral("next")});
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("metadata"), QStringLiteral("title")}), QStringLiteral("Long 2"), 20000);
        const QString all = playerctl({QStringLiteral("metadata")});
        for (const QString &key : {QStringLiteral("mpris:trackid"), QStringLiteral("xesam:artist"), QStringLiteral("xesam:album"),
                                   QStringLiteral("mpris:length"), QStringLiteral("xesam:url")})
            QVERIFY2(all.contains(key), qPrintable(all));
        QVERIFY(all.contains(QStringLiteral("file://") + QFile::decodeName(f.music) + QStringLiteral("/Rivulet/long%202.mp3")));

        // Another client changes the song: the desktop follows.
        MpdClient other({f.socket()});
        QVERIFY(other.playId(*ids[2]));
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("metadata"), QStringLiteral("title")}), QStringLiteral("Long 3"), 20000);
        playerctl({QStringLiteral("play-pause")});
        QTRY_COMPARE_WITH_TIMEOUT(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"), 20000);
        QByteArray followed;
        QTRY_VERIFY_WITH_TIMEOUT((followed += follow.readAllStandardOutput()).contains("Long 3"), 20000);
        QVERIFY(followed.contains("Long 2"));
        follow.kill();
        follow.waitForFinished();

        // Another client changes the stored playlist: its M3U follows.
        QVERIFY(mpd_run_playlist_delete(other.connection(), "Rivulet", 0));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(QFile::decodeName(f.music) + QStringLiteral("/Rivulet.m3u")),
                                  QByteArray("Rivulet/long 2.mp3\nRivulet/long 3.mp3\n"), 20000);

        // The server goes: the player leaves the bus.
        library->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(!playerctl({QStringLiteral("--list-all")}, false).contains(QStringLiteral("rivulet")), 20000);
    }
};

QTEST_GUILESS_MAIN(TestMprisThreads)
#include "test_mpris_threads.moc"
