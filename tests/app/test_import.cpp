// The import pipeline end to end: a private MPD started by the program, the
// notification daemon on the session bus, real unzip and unar, files dropped
// into the watched Downloads folder.
#include "ImportFixture.h"
#include "library/ITunesManager.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <mpd/client.h>

namespace {
const int kWait = 45000; // generous: a loaded machine (tests run two at a time) starts MPD slowly

void setRepeat(const QByteArray &socket, bool on)
{
    mpd_connection *c = mpd_connection_new(socket.constData(), 0, 3000);
    mpd_run_repeat(c, on);
    mpd_run_single(c, on); // the current song again, not the next one
    mpd_connection_free(c);
}

void stopPlayer(const QByteArray &socket)
{
    mpd_connection *c = mpd_connection_new(socket.constData(), 0, 3000);
    mpd_run_stop(c);
    mpd_connection_free(c);
}

int addedLines(LogCapture &log)
{
    int n = 0;
    for (const QString &l : log.lines())
        n += l.startsWith(QStringLiteral("+ Added ")) ? 1 : 0;
    return n;
}
}

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        auto *bus = QDBusConnection::sessionBus().interface();
        if (!bus || !bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
            QSKIP("needs the desktop rig: a session bus with a notification daemon (scripts/desktop-rig.sh)");
    }
    void init() { QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}); }

    void musicFileIsAddedAnnouncedAndClickPlaysIt()
    {
        ImportFixture f;
        Settings::setDeleteFiles(true);
        f.start();
        f.drop(testData(QStringLiteral("tones/01 tone.mp3")), QStringLiteral("song & <one>.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.playlist(), QList<QByteArray>{"Rivulet/song & <one>.mp3"}, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        QCOMPARE(f.notifications()[0].body, QStringLiteral("Rivulet added song & <one>.mp3 to MPD. Click here to play it."));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.trashed(QStringLiteral("song & <one>.mp3"))), kWait);
        QVERIFY(!QFile::exists(f.downloads + QStringLiteral("/song & <one>.mp3")));
        QVERIFY(f.playing().isEmpty());
        QVERIFY(clickLatestNotification());
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/song & <one>.mp3"), kWait);
        QThread::msleep(500);
        QCOMPARE(f.notifications().size(), 1);
    }

    void playsOnlyWhenTheSettingsSaySo()
    {
        ImportFixture f;
        Settings::setPlaySongs(true);
        f.start();
        QVERIFY(ITunesManager::sharedManager()->run());
        setRepeat(f.socket(), true); // the one-second tones keep playing
        f.drop(testData(QStringLiteral("tones/01 tone.mp3")), QStringLiteral("a.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/a.mp3"), kWait); // stopped before: played
        f.drop(testData(QStringLiteral("tones/02 tone.mp3")), QStringLiteral("b.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(f.playlist().contains("Rivulet/b.mp3"), kWait);
        QThread::msleep(300);
        QCOMPARE(f.playing(), QByteArray("Rivulet/a.mp3")); // playing already: left alone
        Settings::setIfStopped(false);
        f.drop(testData(QStringLiteral("tones/03 tone.mp3")), QStringLiteral("c.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/c.mp3"), kWait);
        Settings::setPlaySongs(false);
        stopPlayer(f.socket());
        f.drop(testData(QStringLiteral("tones/04 tone.mp3")), QStringLiteral("d.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(f.playlist().contains("Rivulet/d.mp3"), kWait);
        QThread::msleep(300);
        QVERIFY(f.playing().isEmpty());
    }

    // Kept-contents and kept-archive cases are the newcomer rig's (tests/ui).
    void archivesByMusicShareAndSettings()
    {
        ImportFixture f;
        Settings::setDeleteZips(true);
        Settings::setDeleteArchiveContents(true);
        QTemporaryDir work;
        const QStringList names{QStringLiteral("01 tone.mp3"), QStringLiteral("02 tone.mp3"), QStringLiteral("03 tone.mp3"),
                                QStringLiteral("04 tone.mp3"), QStringLiteral("notes.txt")};
        for (const QString &name : names)
            QVERIFY(QFile::copy(testData(QStringLiteral("tones/")) + name, work.path() + QLatin1Char('/') + name));
        QVERIFY(makeZip(work.path(), QStringList{QStringLiteral("four.zip")} + names));
        f.start();

        // 4 of 5 music, upper-case extension: contents deleted, archive to the Trash.
        f.drop(work.path() + QStringLiteral("/four.zip"), QStringLiteral("Four.ZIP"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        // The leaf names in import order, which is their natural name order.
        QString added;
        for (const QString &line : f.log->lines().filter(QStringLiteral("+ Added ")))
            added += line.section(QLatin1Char('/'), -1).section(QStringLiteral(" to MPD"), 0, 0) + QLatin1Char('\n');
        QCOMPARE(added, QStringList(names.mid(0, 4)).join(QLatin1Char('\n')) + QLatin1Char('\n'));
        QCOMPARE(f.notifications()[0].body, QStringLiteral("Rivulet added the contents of Four.ZIP to MPD:\n\n") + added
                                                + QStringLiteral("\nClick here to play."));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.trashed(QStringLiteral("Four.ZIP"))), kWait);
        QVERIFY(!QFile::exists(f.downloads + QStringLiteral("/Four")));
        QCOMPARE(f.playlist().size(), 4);

        // No music: nothing imported or announced, unpacked files gone, archive stays.
        f.drop(testData(QStringLiteral("rar/no-music.rar")), QStringLiteral("no-music.rar"));
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(QStringLiteral("Fraction of scanned directories files that were music files:0.00")), kWait);
        QThread::msleep(500);
        QCOMPARE(f.notifications().size(), 1);
        QCOMPARE(addedLines(*f.log), 4);
        QVERIFY(QFile::exists(f.downloads + QStringLiteral("/no-music.rar")));
        QVERIFY(!QFile::exists(f.downloads + QStringLiteral("/no-music")));
    }

    // A broken archive is kept and imports nothing; nothing lands outside Downloads.
    void brokenAndHostileArchivesImportNothing()
    {
        ImportFixture f;
        QTemporaryDir work;
        QVERIFY(QFile::copy(testData(QStringLiteral("tones/01 tone.mp3")), work.path() + QStringLiteral("/01 tone.mp3")));
        QVERIFY(makeZip(work.path(), {QStringLiteral("-P"), QStringLiteral("secret"), QStringLiteral("locked.zip"), QStringLiteral("01 tone.mp3")}));
        QDir(QStringLiteral("/tmp/rivulet-escape-target")).removeRecursively();
        f.start();
        int failures = 0;
        for (const QString &archive : {testData(QStringLiteral("rar/truncated.rar")), testData(QStringLiteral("rar/corrupt.rar")),
                                       testData(QStringLiteral("rar/damaged-deflate.rar")), work.path() + QStringLiteral("/locked.zip")}) {
            f.drop(archive, QFileInfo(archive).fileName());
            ++failures;
            QTRY_COMPARE_WITH_TIMEOUT(f.log->count(QStringLiteral("Error unpacking - archive may be incomplete")), failures, kWait);
            QVERIFY(QFile::exists(f.downloads + QLatin1Char('/') + QFileInfo(archive).fileName()));
        }
        f.drop(testData(QStringLiteral("zip/escape.zip")), QStringLiteral("escape.zip"));
        // unzip reports the entries it refused; either way nothing lands outside.
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(QStringLiteral("Fraction of scanned directories files that were music files:"))
                                     || f.log->count(QStringLiteral("Error unpacking - archive may be incomplete")) == 5, kWait);
        for (const QString &outside : {QStringLiteral("/tmp/rivulet-escape-target/evil.mp3"), QStringLiteral("/tmp/rivulet-escape-target/abs.mp3"),
                                       f.home.path(QStringLiteral(".local/up.mp3")), f.home.path(QStringLiteral("up.mp3"))})
            QVERIFY(!QFile::exists(outside));
        QCOMPARE(addedLines(*f.log), 0);
        QCOMPARE(f.notifications().size(), 0);
    }

    void siblingArchivesAreToldApart()
    {
        ImportFixture f;
        f.start();
        f.drop(testData(QStringLiteral("rar/siblings/album1.rar")), QStringLiteral("album1.rar"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        f.drop(testData(QStringLiteral("rar/siblings/album2.rar")), QStringLiteral("album2.rar"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 2, kWait);
        QCOMPARE(f.notifications()[1].body, QStringLiteral("Rivulet added the contents of album2.rar to MPD:\n\n03 tone.mp3\n04 tone.mp3\n\nClick here to play."));
    }

    void clickAfterALibraryRestartPlaysTheAnnouncedFile()
    {
        ImportFixture f;
        f.start();
        f.drop(testData(QStringLiteral("tones/01 tone.mp3")), QStringLiteral("first.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        f.stopMpd();
        f.drop(testData(QStringLiteral("tones/02 tone.mp3")), QStringLiteral("second.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 2, kWait); // the import started MPD again
        QCOMPARE(f.playlist(), (QList<QByteArray>{"Rivulet/first.mp3", "Rivulet/second.mp3"}));
        // The first notification's click plays the first file, whatever MPD's ids are now.
        Rivulet_AppDelegate *app = f.app.get();
        QMetaObject::invokeMethod(app, [app] {
            app->growlNotificationWasClicked(QVariantMap{{QStringLiteral("trackId"), 0u}, {QStringLiteral("file"), QByteArray("Rivulet/first.mp3")}});
        });
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/first.mp3"), kWait);
    }

    // A track the library refuses in an archive it mostly took is kept beside
    // the archive and offered again; the archive, imported, leaves the retry
    // list (on a retry too: else every MPD restart would import it again).
    void refusedTrackOfAnAlbumIsKept()
    {
        ImportFixture f;
        Settings::setDeleteArchiveContents(true);
        QTemporaryDir work;
        QStringList names{QStringLiteral("album.zip")};
        for (int i = 1; i <= 9; ++i) {
            names << QStringLiteral("%1 tone.mp3").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(QFile::copy(testData(QStringLiteral("tones/01 tone.mp3")), work.path() + QLatin1Char('/') + names.last()));
        }
        names << QStringLiteral("10 broken.mp3"); // no audio in it: the library refuses it
        QVERIFY(writeFile(work.path() + QLatin1Char('/') + names.last(), QByteArray(4096, 'x')));
        QVERIFY(makeZip(work.path(), names));
        f.start();
        ITunesManager::sharedManager()->retryLater(QFile::encodeName(f.downloads + QStringLiteral("/album.zip"))); // refused once before
        f.drop(work.path() + QStringLiteral("/album.zip"), QStringLiteral("album.zip"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        const QString kept = f.downloads + QStringLiteral("/album/10 broken.mp3");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kept), kWait);
        const QString retries = f.home.supportDir() + QStringLiteral("/library-retries");
        QTRY_VERIFY_WITH_TIMEOUT(readAll(retries).contains(QFile::encodeName(kept).toPercentEncoding()), kWait);
        QVERIFY(!readAll(retries).contains("album.zip"));
    }

    // A folder added in the preferences is watched after two changes in a
    // row; watching the music folder itself, the library's own copies are
    // never imported.
    void addedFolderIsWatchedAndLibraryCopiesAreNeverImported()
    {
        ImportFixture f;
        const QString music = f.home.path(QStringLiteral("Music"));
        QDir().mkpath(music);
        f.start();
        Directory *watched = nullptr;
        // What the preferences window does on the main thread.
        Settings::rootDirectory()->addSubdirectoryNamed(QFile::encodeName(music), true, &watched);
        watched->setLastScanTime(dateNow());
        f.app->watchDirsUpdated();
        f.app->watchDirsUpdated();
        QThread::msleep(2500);
        QVERIFY(f.app->directoryDiffer()->watching());
        QVERIFY(writeFile(music + QStringLiteral("/new.mp3"), readAll(testData(QStringLiteral("tones/02 tone.mp3")))));
        QTRY_COMPARE_WITH_TIMEOUT(addedLines(*f.log), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(QStringLiteral("is in the folder Rivulet copies into; not imported")), kWait);
        QCOMPARE(addedLines(*f.log), 1);
        QVERIFY(QFile::exists(music + QStringLiteral("/Rivulet/new.mp3")));
    }

    void refusedFileStaysWhereItIs()
    {
        ImportFixture f;
        Settings::setDeleteFiles(true);
        f.start();
        // A music folder that cannot be made: the library cannot take the file.
        QVERIFY(writeFile(f.home.path(QStringLiteral("Music")), "in the way"));
        f.drop(testData(QStringLiteral("tones/01 tone.mp3")), QStringLiteral("kept.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(QStringLiteral("--- ") + f.downloads + QStringLiteral("/kept.mp3 was not added to MPD; it stays where it is")), kWait);
        QVERIFY(QFile::exists(f.downloads + QStringLiteral("/kept.mp3")));
        QCOMPARE(f.notifications().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "test_import.moc"
