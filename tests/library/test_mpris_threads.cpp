// The desktop's media controls for the private MPD, read and steered by a
// real playerctl over the session bus, while the player answers from the
// interface thread of this test.
#include "LibraryFixture.h"
#include "library/MprisPlayer.h"
#include <QEventLoop>
#include <QTimer>
#include <mpd/client.h>

namespace {
// Runs playerctl (for our player unless asked otherwise) while this thread answers the bus.
QString playerctl(const QString &args, bool ours = true)
{
    QProcess ctl;
    QEventLoop loop;
    QObject::connect(&ctl, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    ctl.start(QStringLiteral("playerctl"), (ours ? QStringList{QStringLiteral("--player=rivulet")} : QStringList()) + args.split(QLatin1Char(' ')));
    loop.exec();
    return QString::fromUtf8(ctl.readAllStandardOutput()).trimmed();
}
}

class TestMprisThreads : public QObject {
    Q_OBJECT

private slots:
    void playerctlShowsAndSteersThePrivateServer()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a session bus (scripts/desktop-rig.sh)");
        LibraryFixture f;
        QVERIFY(f.library->run());
        QList<QByteArray> songs;
        for (const char *n : {"1", "2", "3"})
            songs << f.madeTone("long " + QByteArray(n) + ".mp3", "Long " + QByteArray(n), 120);
        QVERIFY(!songs.contains(QByteArray()));
        const QList<TrackId> ids = f.library->sendFilesToITunes(songs, "Rivulet", false, false);
        QVERIFY(ids[0] && ids[1] && ids[2]);

        QObject owner;
        MprisPlayer::startFor(f.socket(), &owner);
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(QStringLiteral("status")), QStringLiteral("Stopped"), 20000);
        QProcess follow; // what a desktop widget sees: PropertiesChanged
        follow.start(QStringLiteral("playerctl"), QStringLiteral("--player=rivulet --follow metadata title").split(QLatin1Char(' ')));
        QVERIFY(follow.waitForStarted());

        playerctl(QStringLiteral("play-pause"));
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(QStringLiteral("status")), QStringLiteral("Playing"), 20000);
        QCOMPARE(playerctl(QStringLiteral("metadata title")), QStringLiteral("Long 1"));
        playerctl(QStringLiteral("next"));
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(QStringLiteral("metadata title")), QStringLiteral("Long 2"), 20000);
        const QString all = playerctl(QStringLiteral("metadata"));
        for (const char *key : {"mpris:trackid", "xesam:artist", "xesam:album", "mpris:length", "xesam:url"})
            QVERIFY2(all.contains(QLatin1String(key)), qPrintable(all));
        QVERIFY(all.contains(QStringLiteral("file://") + QFile::decodeName(f.music) + QStringLiteral("/Rivulet/long%202.mp3")));

        // Another client changes the song: the desktop follows.
        MpdClient other({f.socket()});
        QVERIFY(other.playId(*ids[2]));
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(QStringLiteral("metadata title")), QStringLiteral("Long 3"), 20000);
        playerctl(QStringLiteral("play-pause"));
        QTRY_COMPARE_WITH_TIMEOUT(playerctl(QStringLiteral("status")), QStringLiteral("Paused"), 20000);
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
        f.library->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(!playerctl(QStringLiteral("--list-all"), false).contains(QStringLiteral("rivulet")), 20000);
    }
};

QTEST_GUILESS_MAIN(TestMprisThreads)
#include "test_mpris_threads.moc"
