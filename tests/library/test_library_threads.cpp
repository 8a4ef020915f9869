// The bridge from two threads: a click answers while an import waits on the real MPD, and the
// desktop's media controls (a real playerctl) are answered from this test's interface thread.
#include "LibraryFixture.h"
#include "library/MprisPlayer.h"
#include <atomic>
#include <mpd/client.h>
#include <thread>

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

class TestLibraryThreads : public QObject {
    Q_OBJECT

private slots:
    void clickAnswersWhileAnImportWaitsForASlowUpdate()
    {
        LibraryFixture f;
        ITunesManager *library = f.library;
        QVERIFY(library->run());
        const TrackId earlier = library->sendFileToITunes(f.tone(1, "earlier.mp3"), "Rivulet", false, false);
        QVERIFY(earlier);
        // An update of many songs (links to one file) runs first, so the import's update waits behind it.
        const QByteArray big = f.music + "/big";
        QVERIFY(::mkdir(big.constData(), 0755) == 0);
        for (int i = 0; i < 20000; ++i)
            QVERIFY(::link((f.music + "/Rivulet/earlier.mp3").constData(), (big + "/t" + QByteArray::number(i) + ".mp3").constData()) == 0);
        MpdClient other({f.socket()});
        QVERIFY(other.connect());
        other.updateAndWait("big", 0); // started, not waited for

        std::atomic<bool> imported{false};
        TrackId slowId;
        qint64 importMs = 0;
        std::thread import([&] {
            QElapsedTimer took;
            took.start();
            slowId = library->sendFileToITunes(f.tone(2, "slow.mp3"), "Rivulet", false, false);
            importMs = took.elapsed();
            imported = true;
        });
        QThread::msleep(300);
        if (imported) { // nothing to overlap with on a machine this fast
            import.join();
            QSKIP("the update ended before the click could overlap it");
        }
        QVERIFY(!library->isPlaying());
        library->playTrackWithId(earlier, "Rivulet", "Rivulet/earlier.mp3");
        QVERIFY(library->uriForTrack(*earlier));
        const bool overlapped = !imported;
        const QByteArray nowPlaying = f.playing(); // the tone is short: looked at at once
        import.join();
        QVERIFY2(overlapped, "the click waited for the import");
        // A busy machine's update may outlast the import's 10 s wait: it then rightly gives up.
        QVERIFY2(slowId || importMs >= 9500, qPrintable(QStringLiteral("no id after %1 ms").arg(importMs)));
        QCOMPARE(nowPlaying, QByteArray("Rivulet/earlier.mp3"));
    }

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
        f.library->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(!playerctl(QStringLiteral("--list-all"), false).contains(QStringLiteral("rivulet")), 20000);
    }
};

QTEST_GUILESS_MAIN(TestLibraryThreads)
#include "test_library_threads.moc"
