// The music library bridge against a real MPD: batches, refusals, a server
// the user named that does not answer, retries, and the private server at quit.
#include "LibraryFixture.h"
#include "library/RetryList.h"

class TestLibraryBridge : public QObject {
    Q_OBJECT

private slots:
    void batchKeepsEachFilesResultAndOrder()
    {
        LibraryFixture f;
        LogCapture log;
        ITunesManager *library = ITunesManager::sharedManager();
        QVERIFY(library->run());
        const QList<QByteArray> album = {f.tone(1, "01 a.mp3"), f.junk("02 junk.mp3"), f.tone(2, "03 c.mp3")};
        const QList<TrackId> ids = library->sendFilesToITunes(album, "Rivulet", true, true);
        QCOMPARE(ids.size(), 3);
        QVERIFY(ids[0] && !ids[1] && ids[2]);
        QCOMPARE(f.playlist(), (QList<QByteArray>{"Rivulet/01 a.mp3", "Rivulet/03 c.mp3"}));
        QCOMPARE(library->uriForTrack(*ids[2]), std::optional<QByteArray>("Rivulet/03 c.mp3"));
        // Only if stopped: the first file plays, as when they are sent one by one.
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/01 a.mp3"), 5000);
        // The refused file left no copy in the library's folder.
        QCOMPARE(f.libraryFiles(), (QStringList{QStringLiteral("01 a.mp3"), QStringLiteral("03 c.mp3")}));

        // Playing regardless: each would be played in turn, so the last one plays.
        const QList<TrackId> more = library->sendFilesToITunes({f.tone(3, "04 d.mp3"), f.tone(4, "05 e.mp3")}, "Rivulet", true, false);
        QVERIFY(more[0] && more[1]);
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/05 e.mp3"), 5000);
        // The same files again: no second copy, no second playlist entry.
        QCOMPARE(library->sendFilesToITunes({f.downloads + "/04 d.mp3"}, "Rivulet", false, false), QList<TrackId>{more[0]});
        QCOMPARE(f.playlist().size(), 4);
    }

    void refusedSingleFileLeavesNoCopy()
    {
        LibraryFixture f;
        ITunesManager *library = ITunesManager::sharedManager();
        QVERIFY(library->run());
        QCOMPARE(library->sendFileToITunes(f.junk("noise.mp3"), "Rivulet", false, false), std::nullopt);
        QCOMPARE(f.libraryFiles(), QStringList());
        QVERIFY(QFile::exists(QFile::decodeName(f.downloads) + QStringLiteral("/noise.mp3")));
    }

    void namedServerThatDoesNotAnswerIsNeverReplaced()
    {
        LibraryFixture f;
        qputenv("MPD_HOST", f.home.bytes(QStringLiteral("nothing/socket")));
        f.configure();
        LogCapture log;
        ITunesManager *library = ITunesManager::sharedManager();
        const QByteArray song = f.tone(1, "song.mp3");
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!library->run());
            QCOMPARE(library->sendFileToITunes(song, "Rivulet", true, false), std::nullopt);
        }
        QVERIFY(!QFile::exists(QFile::decodeName(f.socket())));
        QVERIFY(!f.mpdRuns());
        QCOMPARE(log.lines().filter(QStringLiteral("does not answer")).size(), 1);
        QVERIFY(log.contains(QStringLiteral("--- The MPD named by MPD_HOST/MPD_PORT (") + f.home.path(QStringLiteral("nothing/socket"))
                             + QStringLiteral(") does not answer; music files stay where they are until it answers")));
        QVERIFY(QFile::exists(QFile::decodeName(song)));
    }

    void refusedFileIsOfferedAgainWhenTheServerAnswersAgain()
    {
        LibraryFixture f;
        ITunesManager *library = ITunesManager::sharedManager();
        QVERIFY(library->run()); // our private server, then named as the user's
        qputenv("MPD_HOST", f.socket());
        f.configure();
        f.stopMpd();
        LogCapture log;
        const QByteArray song = f.tone(2, "later \xe9.mp3"); // a name that is not UTF-8 survives the list
        QVERIFY(!library->run());
        QCOMPARE(library->sendFileToITunes(song, "Rivulet", false, false), std::nullopt);
        library->retryLater(song);
        QVERIFY(log.contains(QStringLiteral(" again in 60 s or when it answers again (try 2 of 5)")));
        QCOMPARE(library->dueRetries(), QList<QByteArray>()); // still silent, back-off not over
        // It is kept in the data folder, so a restart of the program keeps it.
        f.configure();
        QVERIFY(!library->run());
        QVERIFY(f.startMpd());
        QCOMPARE(library->dueRetries(), QList<QByteArray>{song});
        QVERIFY(log.contains(QStringLiteral("MPD answers again")));
        QVERIFY(log.contains(QStringLiteral("Offering ") + f.home.path(QStringLiteral("Downloads/later "))));
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
        LogCapture log;
        const QByteArray file = QFile::encodeName(home.path(QStringLiteral("retries")));
        const QByteArray a = QFile::encodeName(home.path(QStringLiteral("a \xff.mp3")));
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
        again.refused(a, 2000);
        QCOMPARE(again.due(2000, true), QList<QByteArray>{a});
        again.refused(a, 2000);
        QCOMPARE(again.due(2000, true), QList<QByteArray>{a});
        again.refused(a, 2000);
        QVERIFY(again.isEmpty());
        QVERIFY(log.contains(QStringLiteral("did not take ") + QFile::decodeName(a) + QStringLiteral(" in 5 tries; it is not offered again")));
        // A file that went away meanwhile is dropped, and a damaged list is left alone.
        again.refused(a, 3000);
        QVERIFY(::unlink(a.constData()) == 0); // also for the temporary folder's clean-up
        QCOMPARE(again.due(999999, true), QList<QByteArray>());
        QVERIFY(again.isEmpty());
        QVERIFY(writeFile(QFile::decodeName(file), "garbage"));
        RetryList damaged;
        damaged.setFile(file);
        damaged.refused(a, 1);
        QCOMPARE(readAll(QFile::decodeName(file)), QByteArray("garbage"));
    }

    void privateServerStopsAtQuitUnlessPlaying()
    {
        LibraryFixture f;
        LogCapture log;
        ITunesManager *library = ITunesManager::sharedManager();
        QVERIFY(library->run());
        const qint64 first = f.mpdPid();
        QVERIFY(f.mpdRuns());
        library->shutdown();
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(first), 0) != 0, 5000);
        QVERIFY(log.contains(QStringLiteral("Stopping the MPD that Rivulet started")));

        QVERIFY(library->run());
        QVERIFY(library->sendFileToITunes(f.tone(1, "on.mp3"), "Rivulet", true, false));
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/on.mp3"), 5000);
        library->shutdown();
        QVERIFY(log.contains(QStringLiteral("The MPD that Rivulet started is playing; it is left running to finish")));
        QVERIFY(f.mpdRuns());
    }
};

QTEST_GUILESS_MAIN(TestLibraryBridge)
#include "test_library_bridge.moc"
