// The music library bridge against a real MPD: batches, refusals, the private server's files,
// the private server at quit, a named server that does not answer, and retries.
#include "LibraryFixture.h"
#include "library/RetryList.h"
#include <sys/stat.h>

class TestLibraryBridge : public QObject {
    Q_OBJECT
    LogCapture log; // keeps the program's lines out of the test output

private slots:
    // Alone or in a batch (which keeps each file's result and order), a refused file leaves no copy.
    void refusedSingleFileLeavesNoCopy()
    {
        LibraryFixture f;
        QVERIFY(f.library->run());
        QCOMPARE(f.library->sendFileToITunes(f.junk("junk.mp3"), "Rivulet", true, false), std::nullopt);
        QVERIFY(QDir(QFile::decodeName(f.music + "/Rivulet")).isEmpty());
        const QList<TrackId> ids = f.library->sendFilesToITunes({f.tone(1, "01 a.mp3"), f.junk("02 junk.mp3"), f.tone(2, "03 c.mp3")}, "Rivulet", true, true);
        QVERIFY(ids.size() == 3 && ids[0] && !ids[1] && ids[2]);
        QCOMPARE(f.playlist(), (QList<QByteArray>{"Rivulet/01 a.mp3", "Rivulet/03 c.mp3"}));
        // Only if stopped: the first file plays, as when they are sent one by one.
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/01 a.mp3"), 5000);
        // The same file again: no second copy, no second playlist entry.
        QCOMPARE(f.library->sendFilesToITunes({f.downloads + "/03 c.mp3"}, "Rivulet", false, false), QList<TrackId>{ids[2]});
        QCOMPARE(f.playlist().size(), 2);
        QCOMPARE(QDir(QFile::decodeName(f.music + "/Rivulet")).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Quitting stops it even while it plays; the playlist stays as an M3U another player plays.
    void privateServerStopsAtQuitUnlessPlaying()
    {
        LibraryFixture f;
        QVERIFY(f.library->run());
        // Playing regardless: each would be played in turn, so the last one plays.
        const QList<TrackId> ids = f.library->sendFilesToITunes({f.tone(3, "04 d.mp3"), f.tone(4, "05 e.mp3")}, "Rivulet", true, false);
        QVERIFY(ids[0] && ids[1]);
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/05 e.mp3"), 5000);
        const qint64 pid = f.mpdPid();
        f.library->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 5000);
        QCOMPARE(readAll(QFile::decodeName(f.music + "/Rivulet.m3u")),
                 QByteArray("Rivulet/04 d.mp3\nRivulet/05 e.mp3\n"));
    }

    // The server's files are the user's alone, also if an older version left them open.
    void privateServerFilesAreTheUsersAlone()
    {
        LibraryFixture f;
        const QByteArray folder = f.support + "/mpd";
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
        QVERIFY(writeBytes(folder + "/log", "an earlier log\n"));
        QVERIFY(::chmod(folder.constData(), 0755) == 0 && ::chmod((folder + "/log").constData(), 0644) == 0);
        QVERIFY(f.library->run());
        QVERIFY(f.library->sendFileToITunes(f.tone(1, "a.mp3"), "Rivulet", false, false));
        struct stat st;
        for (const char *name : {"", "/playlists", "/log", "/database"})
            QVERIFY(::stat((folder + name).constData(), &st) == 0 && (st.st_mode & 0077) == 0);
    }

    // Hours of silence spend no tries and start no server of ours; it imports when it answers again.
    void namedServerThatDoesNotAnswerIsNeverReplaced()
    {
        LibraryFixture f;
        static qint64 now = 1000000;
        ITunesManager::setClock([] { return now; });
        ITunesManager *library = f.library;
        QVERIFY(library->run()); // our private server, then named as the user's
        qputenv("MPD_HOST", f.socket());
        f.configure();
        f.stopMpd();
        const QByteArray song = f.tone(2, "later \xe9.mp3"); // a name that is not UTF-8 survives the list
        QVERIFY(!library->run());
        QCOMPARE(library->sendFileToITunes(song, "Rivulet", false, false), std::nullopt);
        library->retryLater(song);
        for (int step = 0; step < 24; ++step, now += 600) { // four hours
            QCOMPARE(library->dueRetries(), QList<QByteArray>());
            f.configure(); // a restart of the program keeps the list
        }
        QVERIFY(f.startMpd());
        QCOMPARE(library->dueRetries(), QList<QByteArray>{song});
        QCOMPARE(library->dueRetries(), QList<QByteArray>()); // offered once
        QVERIFY(library->sendFileToITunes(song, "Rivulet", false, false));
        library->retryDone(song);
        QCOMPARE(f.playlist(), QList<QByteArray>{"Rivulet/later \xef\xbf\xbd.mp3"});
        ::unlink(song.constData()); // the temporary folder's clean-up goes by decoded names
        f.configure();
        QCOMPARE(library->dueRetries(), QList<QByteArray>());
    }

    void retryListBacksOffBoundsTriesAndPersists()
    {
        TempHome home;
        const QByteArray file = home.bytes(QStringLiteral("retries")), a = home.bytes(QStringLiteral("a \xff.mp3"));
        QVERIFY(writeBytes(a, "a"));
        {
            RetryList list;
            list.setFile(file);
            list.refused(a, 1000);
            QCOMPARE(list.due(1059, false), QList<QByteArray>());
            QCOMPARE(list.due(1060, false), QList<QByteArray>{a});
            QCOMPARE(list.due(1060, false), QList<QByteArray>()); // next back-off: five minutes
        }
        RetryList again;
        again.setFile(file);
        QCOMPARE(again.paths(), QList<QByteArray>{a});
        QCOMPARE(again.due(1061, true), QList<QByteArray>{a}); // the server answers again: at once
        // Offered three times so far: two more refusals and it has had its tries.
        for (int i = 0; i < 2; ++i) {
            again.refused(a, 2000);
            QCOMPARE(again.due(2000, true), QList<QByteArray>{a});
        }
        again.refused(a, 2000);
        QVERIFY(again.isEmpty());
        // A file that went away meanwhile is dropped, and a damaged list is left alone.
        again.refused(a, 3000);
        QVERIFY(::unlink(a.constData()) == 0); // also for the temporary folder's clean-up
        QCOMPARE(again.due(999999, true), QList<QByteArray>());
        QVERIFY(again.isEmpty());
        QVERIFY(writeBytes(file, "garbage"));
        RetryList damaged;
        damaged.setFile(file);
        damaged.refused(a, 1);
        QCOMPARE(readBytes(file), QByteArray("garbage"));
    }

    // An offer nobody reports back on still counts (never "try 9 of 5"); a silent refusal spends nothing.
    void retryListCapsOffersAndSparesSilentRefusals()
    {
        TempHome home;
        const QByteArray c = home.bytes(QStringLiteral("c.mp3"));
        QVERIFY(writeBytes(c, "c"));
        RetryList list;
        list.refused(c, 0);
        int offers = 0;
        for (qint64 t = 0; t < 200000; t += 3000)
            offers += int(list.due(t, true).size());
        QCOMPARE(offers, RetryList::kMaxTries - 1);
        QVERIFY(list.isEmpty());
        list.refused(c, 0);
        for (qint64 t = 0; t < 20 * 3600; t += 600)
            for (const QByteArray &path : list.due(t, false))
                list.refused(path, t, false);
        QCOMPARE(list.paths(), QList<QByteArray>{c});
    }
};

QTEST_GUILESS_MAIN(TestLibraryBridge)
#include "test_library_bridge.moc"
