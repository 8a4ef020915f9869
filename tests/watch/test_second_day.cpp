// The day after the first start, on real folders with real inotify: what sat
// in the watched folder before it was first watched is never taken, whatever
// happens beside it; what was written while the program was stopped is, in
// a subfolder as at the top; a folder moved in while it runs is taken whole.
#include "DifferFixture.h"
#include "store/File.h"
#include "support/Bytes.h"
#include <QSet>
#include <algorithm>
#include <sys/stat.h>

namespace {
bool writeOld(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    const QDateTime monthAgo = QDateTime::currentDateTime().addDays(-30);
    QFile f(path);
    return writeFile(path, "old song") && f.open(QIODevice::ReadWrite) && f.setFileTime(monthAgo, QFileDevice::FileModificationTime);
}
}

class TestSecondDay : public QObject {
    Q_OBJECT

private slots:
    void oldMusicStaysNewMusicIsTaken_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("expected"); // leaf names handed over
        QTest::addColumn<QString>("rootName");
        const QString downloads = QStringLiteral("Downloads");
        QTest::newRow("second start") << QStringLiteral("restart") << QStringList{"while-stopped.mp3"} << downloads;
        QTest::newRow("file deleted beside old ones") << QStringLiteral("delete") << QStringList{} << downloads;
        QTest::newRow("old folder renamed") << QStringLiteral("rename") << QStringList{} << downloads;
        QTest::newRow("events lost") << QStringLiteral("overflow") << QStringList{} << downloads;
        QTest::newRow("album moved in") << QStringLiteral("move in") << QStringList{"a.mp3", "b.mp3"} << downloads;
        QTest::newRow("watched folder added") << QStringLiteral("add") << QStringList{} << downloads;
        QTest::newRow("folder made") << QStringLiteral("make") << QStringList{"made.mp3"} << downloads;
        QTest::newRow("watched folder named download") << QStringLiteral("make") << QStringList{"made.mp3"} << QStringLiteral("download");
    }
    void oldMusicStaysNewMusicIsTaken()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, expected);
        QFETCH(QString, rootName);
        DifferFixture f;
        const QString root = f.base + QLatin1Char('/') + rootName;
        const QString album = root + QStringLiteral("/Old Album");
        for (const char *name : {"/01.mp3", "/02.mp3", "/CD2/03.mp3"})
            QVERIFY(writeOld(album + QLatin1String(name)));
        QVERIFY(writeOld(f.base + QStringLiteral("/elsewhere/Moved/a.mp3")));
        QVERIFY(writeOld(f.base + QStringLiteral("/elsewhere/Moved/Disc/b.mp3")));
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/first.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 5000);

        if (action == "restart") {
            const quint64 lastId = f.delegate.ids().last();
            f.differ.reset();
            QVERIFY(writeFile(album + QStringLiteral("/CD2/while-stopped.mp3"), "y"));
            f.open({root}, {}, DifferFixture::fast());
            f.startAndWait(lastId);
        } else if (action == "delete") {
            QVERIFY(QFile::remove(album + QStringLiteral("/01.mp3")));
        } else if (action == "rename") {
            QVERIFY(QDir().rename(album, root + QStringLiteral("/Tidied")));
        } else if (action == "overflow") {
            f.differ->simulateLostEvents();
        } else if (action == "move in") {
            QVERIFY(QDir().rename(f.base + QStringLiteral("/elsewhere/Moved"), root + QStringLiteral("/Moved")));
        } else if (action == "add") {
            // What the preferences do: the new folder's own record is dated now, then the watcher restarts.
            const QString added = f.base + QStringLiteral("/Music");
            QVERIFY(writeOld(added + QStringLiteral("/Old/CD1/05.mp3")));
            Directory *d = nullptr;
            f.top->addSubdirectoryNamed(QFile::encodeName(added), true, &d);
            d->setLastScanTime(dateNow());
            f.differ->stopWatching();
            f.differ->setRoots(f.top->subdirectories());
            f.differ->startWatchingWithLastSCEvent(f.delegate.ids().last());
            QTRY_VERIFY_WITH_TIMEOUT(f.differ->watching(), 5000);
        } else if (action == "make") {
            QVERIFY(QDir().mkpath(root + QStringLiteral("/New/Deeper")));
            QVERIFY(writeFile(root + QStringLiteral("/New/Deeper/made.mp3"), "z"));
        }
        // A file written after the action, handed over once everything before it was looked at.
        QVERIFY(writeFile(root + QStringLiteral("/marker.mp3"), "m"));
        // A folder made just before may be handed over after the marker: the order is not checked.
        const auto markerSeen = [&f] {
            const QList<QByteArray> files = f.delegate.files();
            return std::any_of(files.cbegin(), files.cend(), [](const QByteArray &p) { return p.endsWith("/marker.mp3"); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(markerSeen(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), expected.size() + 2, 5000);
        QThread::msleep(1500); // nothing more comes
        QSet<QString> got;
        for (const QByteArray &p : f.delegate.files())
            got << QFileInfo(QFile::decodeName(p)).fileName();
        got.remove(QStringLiteral("first.mp3"));
        got.remove(QStringLiteral("marker.mp3"));
        QCOMPARE(got, QSet<QString>(expected.begin(), expected.end()));
    }

    // A file still waiting when the run ended (a quit, kill -9), its folder
    // renamed while the program was stopped: the next start hands it over,
    // not an old file of the same name elsewhere, and the record left at its
    // old place goes.
    void waitingFileInFolderRenamedWhileStoppedIsHandedOver()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        QVERIFY(writeOld(root + QStringLiteral("/song.mp3")));
        DirectoryDiffer::Timings never = DifferFixture::fast();
        never.settleSeconds = 3600; // nothing settles in the first run
        f.open({root}, {}, never);
        f.startAndWait();
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Sub")));
        // Dated before the watched folder's scan date, as a file written before the last scan is.
        QVERIFY(writeOld(root + QStringLiteral("/Sub/song.mp3")));
        auto records = [&] {
            auto lock = f.store->context->lock();
            QList<QByteArray> names;
            for (ManagedObject *o : f.store->context->fetchAll(QStringLiteral("File")))
                if (!o->isDeleted())
                    names << static_cast<File *>(o)->name();
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, 10000);
        const int saves = f.differ->stats().saves;
        QVERIFY(writeFile(root + QStringLiteral("/top.mp3"), "t")); // its batch saves the waiting record
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->stats().saves > saves, 10000);
        const quint64 lastId = f.delegate.ids().last();
        f.differ.reset();
        QVERIFY(QDir().rename(root + QStringLiteral("/Sub"), root + QStringLiteral("/Renamed")));
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait(lastId);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 15000);
        QVERIFY(f.delegate.files().contains(QFile::encodeName(root + QStringLiteral("/Renamed/song.mp3"))));
        QTRY_VERIFY_WITH_TIMEOUT(records().isEmpty(), 5000);
    }

    // A waiting file's folder is renamed and a pass looks before the rename's
    // event is handled (events are gathered longer than files settle): the
    // file must not count as gone, and is handed over at its new place.
    void waitingFileInFolderRenamedBeforeItsEventIsHandedOver()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        DirectoryDiffer::Timings slowEvents = DifferFixture::fast();
        slowEvents.settleSeconds = 0.3;
        slowEvents.latencySeconds = 2.0;
        f.open({root}, {}, slowEvents);
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Sub")));
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/Sub/song.mp3"), "waiting"));
        // Renamed once the scan has queued it, long before the rename's event comes.
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->stats().saves > 0, 10000);
        QVERIFY(QDir().rename(root + QStringLiteral("/Sub"), root + QStringLiteral("/Renamed")));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 15000);
        QCOMPARE(f.delegate.files().first(), QFile::encodeName(root + QStringLiteral("/Renamed/song.mp3")));
    }

    // Music imported, then its folder renamed: while the program was stopped
    // or its watcher restarted, before the rename's event came (the folder's last change still being
    // gathered), or while the import itself ran (it turns the differ's event
    // loop as a tool's wait does). It stays imported, also after a restart.
    void importedFileInRenamedFolderStaysImported_data()
    {
        QTest::addColumn<QString>("when");
        for (const char *when : {"while stopped", "while the watcher restarts", "before its event", "during its import"})
            QTest::newRow(when) << QString::fromLatin1(when);
        QTest::newRow("while stopped, watched through a link") << QStringLiteral("while stopped");
    }
    void importedFileInRenamedFolderStaysImported()
    {
        QFETCH(QString, when);
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        if (QByteArray(QTest::currentDataTag()).contains("link")) {
            QVERIFY(QDir().mkpath(f.base + QStringLiteral("/disk/Real")));
            QVERIFY(QFile::link(f.base + QStringLiteral("/disk/Real"), root));
        }
        const auto rename = [&] { return QDir().rename(root + QStringLiteral("/Sub"), root + QStringLiteral("/Renamed")); };
        DirectoryDiffer::Timings slowEvents = DifferFixture::fast();
        slowEvents.latencySeconds = 2.0;
        f.open({root}, {}, slowEvents);
        if (when == "during its import")
            f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
                if (path.endsWith("/song.mp3") && rename())
                    QTest::qWait(4000); // the rename's event is handled meanwhile
            };
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Sub")));
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/Sub/song.mp3"), "song"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 5000);
        if (when == "before its event") {
            // A change in the folder whose event comes after the rename.
            QVERIFY(writeFile(root + QStringLiteral("/Sub/notes.txt"), "n"));
            QVERIFY(rename());
        } else if (when == "while the watcher restarts") {
            // What a change of the watched folders does, in the same run.
            f.differ->stopWatching();
            QTRY_VERIFY_WITH_TIMEOUT(!f.differ->watching(), 5000);
            QVERIFY(rename());
            f.startAndWait(f.delegate.ids().last());
        } else {
            f.differ.reset(); // returns once the hand-over and its save are done
            const quint64 lastId = f.delegate.ids().last();
            QVERIFY(when != "while stopped" || rename());
            f.open({root}, {}, slowEvents);
            f.startAndWait(lastId);
        }
        QVERIFY(writeFile(root + QStringLiteral("/marker.mp3"), "m"));
        QTRY_VERIFY_WITH_TIMEOUT(f.delegate.files().contains(QFile::encodeName(root + QStringLiteral("/marker.mp3"))), 20000);
        QThread::msleep(1500); // nothing more comes
        QCOMPARE(f.delegate.files().size(), 2);
    }

    // A download finished by a rename (a browser's .part file) just before a
    // quit, its event not yet handled: dated before the folder's last scan,
    // it is still offered at the next start.
    void fileRenamedIntoPlaceJustBeforeAQuitIsTakenAtTheNextStart_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("quit") << false;
        QTest::newRow("kill -9") << true; // the store as it was on disk, nothing saved at the end
    }
    void fileRenamedIntoPlaceJustBeforeAQuitIsTakenAtTheNextStart()
    {
        QFETCH(bool, killed);
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        DirectoryDiffer::Timings slowEvents = DifferFixture::fast();
        slowEvents.latencySeconds = 2.0;
        f.open({root}, {}, slowEvents);
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/song.mp3.part"), "song"));
        QVERIFY(writeFile(root + QStringLiteral("/first.mp3"), "x")); // the folder is scanned after the part was written
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 15000);
        QVERIFY(QFile::rename(root + QStringLiteral("/song.mp3.part"), root + QStringLiteral("/song.mp3")));
        const QByteArray onDisk = readBytes(QFile::encodeName(f.storePath));
        f.differ.reset(); // the quit, long before the rename's event would come
        if (killed)
            QVERIFY(writeBytes(QFile::encodeName(f.storePath), onDisk));
        f.open({root}, {}, slowEvents);
        f.startAndWait(f.delegate.ids().last());
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 15000);
        QCOMPARE(f.delegate.files().last(), QFile::encodeName(root + QStringLiteral("/song.mp3")));
    }

    // File dates come from the kernel's coarse clock: a file written again just
    // after a scan can be dated before that scan. Known by its changed size and
    // date, it is new content all the same.
    void rewriteDatedBeforeTheLastScanIsHandedOver_data()
    {
        QTest::addColumn<int>("hoursAhead");
        QTest::newRow("recent file") << 0;
        QTest::newRow("file dated ahead") << 5; // its record outlives the hand-over
    }
    void rewriteDatedBeforeTheLastScanIsHandedOver()
    {
        QFETCH(int, hoursAhead);
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        const QString song = root + QStringLiteral("/song.mp3");
        QVERIFY(writeFile(song, "first"));
        QFile first(song);
        QVERIFY(first.open(QIODevice::ReadWrite) && first.setFileTime(QDateTime::currentDateTime().addSecs(3600 * hoursAhead), QFileDevice::FileModificationTime));
        first.close();
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 15000);
        QVERIFY(writeFile(root + QStringLiteral("/other.mp3"), "x")); // a scan of the folder, after the hand-over
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 15000);
        const std::optional<Date> lastScan = f.top->subdirectories().front()->lastScanTime();
        QVERIFY(lastScan);
        QVERIFY(writeFile(song, "written again"));
        QFile again(song);
        const QDateTime beforeScan = QDateTime::fromMSecsSinceEpoch(qint64(dateToNanos(*lastScan) / 1000000) - 2);
        QVERIFY(again.open(QIODevice::ReadWrite) && again.setFileTime(beforeScan, QFileDevice::FileModificationTime));
        again.close();
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 3, 15000);
        QCOMPARE(f.delegate.files().last(), QFile::encodeName(song));
    }

    // A long run hands over many files: their records are freed as it goes,
    // not kept until the program ends.
    void recordsOfHandedOverFilesAreFreedWhileRunning()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        for (int i = 0; i < 120; ++i)
            QVERIFY(writeFile(root + QStringLiteral("/song %1.mp3").arg(i), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 120, 30000);
        QVERIFY(writeFile(root + QStringLiteral("/last.mp3"), "x")); // one more pass after the last hand-over
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 121, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(f.store->context->retainedDeletedCount() < 10, 5000);
    }

    // The import turns the differ's event loop (as a tool's wait does) while
    // the file is written again: the new form is handed over too.
    void fileRewrittenDuringItsImportIsHandedOverAgain()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
            if (f.delegate.files().size() == 1) {
                writeFile(QFile::decodeName(path), "the second, longer form");
                QTest::qWait(1500);
            }
        };
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/song.mp3"), "first"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 10000);
    }

    // The idle work imports retries: no hand-over may run inside it.
    void noHandOverInsideTheIdleWork()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        DirectoryDiffer::Timings t = DifferFixture::fast();
        t.idleSeconds = 0.2;
        f.open({root}, {}, t);
        std::atomic<bool> inIdle{false}, overlapped{false};
        f.delegate.onIdle = [&](DirectoryDiffer *) {
            inIdle = true;
            QTest::qWait(1000);
            inIdle = false;
        };
        f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &) { overlapped = overlapped || inIdle; };
        f.startAndWait();
        for (int i = 0; i < 3; ++i)
            QVERIFY(writeFile(root + QStringLiteral("/%1.mp3").arg(i), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 3, 15000);
        QVERIFY(!overlapped);
    }
};

QTEST_GUILESS_MAIN(TestSecondDay)
#include "test_second_day.moc"
