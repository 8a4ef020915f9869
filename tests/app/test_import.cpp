// The import pipeline end to end: files dropped into the watched Downloads folder.
#include "ImportFixture.h"
#include "library/ITunesManager.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include <QDBusConnectionInterface>

using namespace Qt::StringLiterals;

namespace {
int addedLines(LogCapture &log) { return int(log.lines().filter(QRegularExpression(u"^\\+ Added "_s)).size()); }
}

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        auto *bus = QDBusConnection::sessionBus().interface();
        if (!bus || !bus->isServiceRegistered(u"org.freedesktop.Notifications"_s))
            QSKIP("needs the desktop rig: a session bus with a notification daemon (scripts/desktop-rig.sh)");
    }

    void singleFilesPlayAndGoAsTheSettingsSay()
    {
        ImportFixture f;
        Settings::setPlaySongs(true);
        Settings::setDeleteFiles(true);
        f.start();
        QVERIFY(ITunesManager::sharedManager()->run() && repeatCurrentSong(f.socket()));
        f.drop(testData(u"tones/01 tone.mp3"_s), u"a.mp3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/a.mp3"), kWait); // stopped before: played
        f.drop(testData(u"tones/02 tone.mp3"_s), u"b.mp3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 2, kWait); // announced after the play would have started
        QCOMPARE(f.playing(), QByteArray("Rivulet/a.mp3")); // playing already: left alone
        Settings::setIfStopped(false);
        f.drop(testData(u"tones/03 tone.mp3"_s), u"c.mp3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/c.mp3"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.trashed(u"c.mp3"_s)) && !QFile::exists(f.downloads + u"/c.mp3"_s), kWait);
    }

    void archivesByMusicShareAndSettings()
    {
        ImportFixture f;
        Settings::setDeleteZips(true);
        Settings::setDeleteArchiveContents(true);
        const QStringList names{u"01 tone.mp3"_s, u"02 tone.mp3"_s, u"03 tone.mp3"_s, u"04 tone.mp3"_s, u"notes.txt"_s};
        for (const QString &name : names)
            QVERIFY(QFile::copy(testData(u"tones/"_s) + name, f.work.filePath(name)));
        f.start();
        // 4 of 5 music, upper-case extension: contents deleted, archive to the Trash (order: test_hostile.sh).
        f.drop(f.zipped(u"four.zip"_s, names), u"Four.ZIP"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        QCOMPARE(f.playlist().size(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(f.trashed(u"Four.ZIP"_s)), kWait);
        QVERIFY(!QFile::exists(f.downloads + u"/Four"_s));
        // No music: nothing imported, unpacked files gone, archive stays.
        f.drop(testData(u"rar/no-music.rar"_s), u"no-music.rar"_s);
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(u"Fraction of scanned directories files that were music files:0.00"_s), kWait);
        QThread::msleep(500);
        QVERIFY(f.notifications().size() == 1 && addedLines(*f.log) == 4);
        QVERIFY(QFile::exists(f.downloads + u"/no-music.rar"_s) && !QFile::exists(f.downloads + u"/no-music"_s));
        // The second of two sibling archives names only its own files.
        f.drop(testData(u"rar/siblings/album1.rar"_s), u"album1.rar"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 2, kWait);
        f.drop(testData(u"rar/siblings/album2.rar"_s), u"album2.rar"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 3, kWait);
        QCOMPARE(f.notifications()[2], u"Rivulet added the contents of album2.rar to MPD:\n\n03 tone.mp3\n04 tone.mp3\n\nClick here to play."_s);
    }

    // Broken archives are kept, nothing lands outside Downloads, a file the library refuses stays.
    void brokenAndHostileArchivesAndRefusedFilesImportNothing()
    {
        ImportFixture f;
        Settings::setDeleteFiles(true);
        const QString locked = f.zipped(u"locked.zip"_s, {u"01 tone.mp3"_s}, {u"-P"_s, u"secret"_s});
        QDir(u"/tmp/rivulet-escape-target"_s).removeRecursively();
        f.start();
        const QString failed = u"Error unpacking - archive may be incomplete"_s;
        int failures = 0;
        for (const QString &archive : {testData(u"rar/truncated.rar"_s), testData(u"rar/corrupt.rar"_s), testData(u"rar/damaged-deflate.rar"_s),
                                       locked}) {
            f.drop(archive, QFileInfo(archive).fileName());
            ++failures;
            QTRY_COMPARE_WITH_TIMEOUT(f.log->count(failed), failures, kWait);
            QVERIFY(QFile::exists(f.downloads + u'/' + QFileInfo(archive).fileName()));
        }
        f.drop(testData(u"zip/escape.zip"_s), u"escape.zip"_s);
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(u"Fraction of scanned directories files that were music files:"_s) || f.log->count(failed) == 5, kWait);
        for (const QString &outside : {u"/tmp/rivulet-escape-target/evil.mp3"_s, u"/tmp/rivulet-escape-target/abs.mp3"_s,
                                       f.home.path(u".local/up.mp3"_s), f.home.path(u"up.mp3"_s)})
            QVERIFY(!QFile::exists(outside));
        QVERIFY(writeFile(f.home.path(u"Music"_s), "in the way")); // the library cannot take the file
        f.drop(testData(u"tones/01 tone.mp3"_s), u"kept.mp3"_s);
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(u"--- "_s + f.downloads + u"/kept.mp3 was not added to MPD; it stays where it is"_s), kWait);
        QVERIFY(QFile::exists(f.downloads + u"/kept.mp3"_s));
        QCOMPARE(addedLines(*f.log), 0);
        QCOMPARE(f.notifications().size(), 0);
    }

    // Else every MPD restart would import it again.
    void importedArchiveIsNotOfferedAgain()
    {
        ImportFixture f;
        f.start();
        ITunesManager::sharedManager()->retryLater(QFile::encodeName(f.downloads + u"/album.zip"_s));
        f.drop(f.zipped(u"album.zip"_s, {u"01 tone.mp3"_s}), u"album.zip"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!readAll(f.home.supportDir() + u"/library-retries"_s).contains("album.zip"), kWait);
    }

    // A track the library refuses in an album it mostly took is kept and offered again.
    void refusedTrackOfAnAlbumIsKept()
    {
        ImportFixture f;
        Settings::setDeleteArchiveContents(true);
        QStringList names{u"10 broken.mp3"_s}; // no audio in it
        for (int i = 1; i <= 9; ++i)
            names << u"%1 tone.mp3"_s.arg(i, 2, 10, QChar(u'0'));
        QVERIFY(writeFile(f.work.filePath(names[0]), QByteArray(4096, 'x')));
        f.start();
        f.drop(f.zipped(u"album.zip"_s, names), u"album.zip"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        const QString kept = f.downloads + u"/album/10 broken.mp3"_s, retries = f.home.supportDir() + u"/library-retries"_s;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(kept), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(retries).contains(QFile::encodeName(kept).toPercentEncoding()), kWait);
    }

    // The music folder, added in the preferences (two changes in a row), is watched; its own copies are not imported.
    void libraryCopiesAreNeverImported()
    {
        ImportFixture f;
        const QString music = f.home.path(u"Music"_s);
        QDir().mkpath(music);
        f.start();
        Directory *watched = nullptr; // as the preferences window adds it
        Settings::rootDirectory()->addSubdirectoryNamed(QFile::encodeName(music), true, &watched);
        watched->setLastScanTime(dateNow());
        f.app->watchDirsUpdated();
        f.app->watchDirsUpdated();
        QThread::msleep(2500);
        QVERIFY(f.app->directoryDiffer()->watching());
        QVERIFY(writeFile(music + u"/new.mp3"_s, readAll(testData(u"tones/02 tone.mp3"_s))));
        QTRY_COMPARE_WITH_TIMEOUT(addedLines(*f.log), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(f.log->contains(u"is in the folder Rivulet copies into; not imported"_s), kWait);
        QCOMPARE(addedLines(*f.log), 1);
        QVERIFY(QFile::exists(music + u"/Rivulet/new.mp3"_s));
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "test_import.moc"
