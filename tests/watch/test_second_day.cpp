// The days after the first start, on real folders with real inotify: what sat in the
// watched folder before it was first watched is never taken; what came while stopped is.
#include "DifferFixture.h"
#include "support/Bytes.h"
#include <QSet>

namespace {
// Writes a file dated `when`, its folder made.
bool writeDated(const QString &path, const QByteArray &content, const QDateTime &when)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return writeFile(path, content) && f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}
bool writeOld(const QString &path) { return writeDated(path, "old song", QDateTime::currentDateTime().addDays(-30)); }
}

class TestSecondDay : public QObject {
    Q_OBJECT

private slots:
    void oldMusicStaysNewMusicIsTaken_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("expected"); // leaf names handed over
        QTest::newRow("second start") << "restart" << QStringList{"while-stopped.mp3"};
        QTest::newRow("file deleted beside old ones") << "delete" << QStringList{};
        QTest::newRow("old folder renamed") << "rename" << QStringList{};
        QTest::newRow("events lost") << "overflow" << QStringList{};
        QTest::newRow("album moved in") << "move in" << QStringList{"a.mp3", "b.mp3"};
        QTest::newRow("watched folder added") << "add" << QStringList{};
        QTest::newRow("folder made") << "make" << QStringList{"made.mp3"};
        QTest::newRow("watched folder named download") << "make" << QStringList{"made.mp3"};
    }
    void oldMusicStaysNewMusicIsTaken()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, expected);
        DifferFixture f;
        if (QByteArray(QTest::currentDataTag()).contains("named download"))
            f.root = f.base + QStringLiteral("/download");
        const QString album = f.root + QStringLiteral("/Old Album");
        for (const char *name : {"/01.mp3", "/02.mp3", "/CD2/03.mp3"})
            QVERIFY(writeOld(album + QLatin1String(name)));
        for (const char *name : {"/a.mp3", "/Disc/b.mp3"})
            QVERIFY(writeOld(f.base + QStringLiteral("/elsewhere/Moved") + QLatin1String(name)));
        f.start();
        QVERIFY(f.put("first.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 10000); // its batch's event id came before

        if (action == "restart") {
            f.restart(DifferFixture::fast(), [&] { writeFile(album + QLatin1String("/CD2/while-stopped.mp3"), "y"); });
        } else if (action == "delete") {
            QVERIFY(QFile::remove(album + QLatin1String("/01.mp3")));
        } else if (action == "rename") {
            QVERIFY(f.move("Old Album", "Tidied"));
        } else if (action == "overflow") {
            f.differ->simulateLostEvents();
        } else if (action == "move in") {
            QVERIFY(QDir().rename(f.base + QStringLiteral("/elsewhere/Moved"), f.root + QStringLiteral("/Moved")));
        } else if (action == "add") {
            // As the preferences do: the new folder's record dated now, then a restart.
            const QString added = f.base + QStringLiteral("/Music");
            QVERIFY(writeOld(added + QStringLiteral("/Old/CD1/05.mp3")));
            newDirectory(f.store->context.get(), QFile::encodeName(added), f.top)->setLastScanTime(dateNow());
            f.differ->stopWatching();
            f.differ->setRoots(f.top->subdirectories());
            f.startAndWait(f.lastId());
        } else if (action == "make") {
            QVERIFY(f.mkdir("New/Deeper"));
            QVERIFY(f.put("New/Deeper/made.mp3", "z"));
        }
        // Handed over once all before it was looked at.
        QVERIFY(f.put("marker.mp3", "m"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), expected.size() + 2, 20000);
        QThread::msleep(1500); // nothing more comes
        QStringList got;
        for (const QByteArray &p : f.delegate.files())
            got << QFileInfo(QFile::decodeName(p)).fileName();
        expected << QStringLiteral("first.mp3") << QStringLiteral("marker.mp3");
        got.sort();
        expected.sort();
        QCOMPARE(got, expected);
    }

    // Waiting at the end of the run, its folder renamed while stopped: handed over at the
    // next start (not an old namesake elsewhere), its record at the old place gone.
    void waitingFileInFolderRenamedWhileStoppedIsHandedOver()
    {
        DifferFixture f;
        QVERIFY(writeOld(f.root + QStringLiteral("/song.mp3")));
        f.start(DifferFixture::fast(0.3, 3600)); // nothing settles in the first run
        QVERIFY(f.mkdir("Sub"));
        QVERIFY(writeOld(f.root + QStringLiteral("/Sub/song.mp3")));
        const auto records = [&] {
            auto lock = f.store->context->lock();
            const auto all = f.store->context->fetchAll(QStringLiteral("File"));
            return std::count_if(all.begin(), all.end(), [](ManagedObject *o) { return !o->isDeleted(); });
        };
        QTRY_COMPARE_WITH_TIMEOUT(records(), 1, 10000);
        const int saves = f.differ->stats().saves;
        QVERIFY(f.put("top.mp3", "t")); // its batch saves the waiting record
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->stats().saves > saves, 10000);
        f.restart(DifferFixture::fast(), [&] { QVERIFY(f.move("Sub", "Renamed")); });
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 15000);
        QVERIFY(f.handed("Renamed/song.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(records(), 0, 5000);
    }

    // A waiting file's folder renamed, a pass looking before the rename's event: not gone.
    void waitingFileInFolderRenamedBeforeItsEventIsHandedOver()
    {
        DifferFixture f;
        f.open(DifferFixture::fast(2.0, 0.3));
        QVERIFY(f.mkdir("Sub"));
        f.startAndWait();
        QVERIFY(f.put("Sub/song.mp3", "waiting"));
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->stats().saves > 0, 10000);
        QVERIFY(f.move("Sub", "Renamed"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 15000);
        QCOMPARE(f.delegate.files().first(), f.path("Renamed/song.mp3"));
    }

    // Music imported, then its folder renamed at the given time: it stays imported.
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
        if (QByteArray(QTest::currentDataTag()).contains("link")) {
            QVERIFY(QDir().mkpath(f.base + QStringLiteral("/disk/Real")));
            QVERIFY(QFile::link(f.base + QStringLiteral("/disk/Real"), f.root));
        }
        const auto rename = [&] { return f.move("Sub", "Renamed"); };
        const DirectoryDiffer::Timings slowEvents = DifferFixture::fast(2.0);
        f.open(slowEvents);
        if (when == "during its import")
            f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
                if (path.endsWith("/song.mp3") && rename())
                    QTest::qWait(4000); // the rename's event is handled meanwhile
            };
        QVERIFY(f.mkdir("Sub"));
        f.startAndWait();
        QVERIFY(f.put("Sub/song.mp3", "song"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 15000); // its batch's event id came before
        if (when == "before its event") {
            QVERIFY(f.put("Sub/notes.txt", "n"));
            QVERIFY(rename());
        } else if (when == "while the watcher restarts") {
            // As a change of the watched folders does.
            f.differ->stopWatching();
            QTRY_VERIFY_WITH_TIMEOUT(!f.differ->watching(), 5000);
            QVERIFY(rename());
            f.startAndWait(f.lastId());
        } else { // the differ ends once the hand-over and its save are done
            f.restart(slowEvents, [&] { QVERIFY(when != "while stopped" || rename()); });
        }
        QVERIFY(f.put("marker.mp3", "m"));
        QTRY_VERIFY_WITH_TIMEOUT(f.handed("marker.mp3"), 20000);
        QThread::msleep(1500); // nothing more comes
        QCOMPARE(f.count(), 2);
    }

    // A browser's .part file renamed just before a quit, before its event: offered at the next start.
    void fileRenamedIntoPlaceJustBeforeAQuitIsTakenAtTheNextStart_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("quit") << false;
        QTest::newRow("kill -9") << true; // nothing saved at the end
    }
    void fileRenamedIntoPlaceJustBeforeAQuitIsTakenAtTheNextStart()
    {
        QFETCH(bool, killed);
        DifferFixture f;
        f.start(DifferFixture::fast(2.0));
        QVERIFY(f.put("song.mp3.part", "song"));
        QVERIFY(f.put("first.mp3")); // the folder is scanned after the part was written
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!readBytes(QFile::encodeName(f.storePath)).contains("entity=\"File\""), 10000);
        QVERIFY(f.move("song.mp3.part", "song.mp3"));
        const QByteArray onDisk = readBytes(QFile::encodeName(f.storePath));
        f.restart(DifferFixture::fast(2.0), [&] { QVERIFY(!killed || writeBytes(QFile::encodeName(f.storePath), onDisk)); });
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 15000);
        QCOMPARE(f.delegate.files().last(), f.path("song.mp3"));
    }

    // File dates come from a coarse clock: written again just after a scan, dated before it.
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
        f.start();
        const QString song = f.root + QStringLiteral("/song.mp3");
        QVERIFY(writeDated(song, "first", QDateTime::currentDateTime().addSecs(3600 * hoursAhead)));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 15000);
        QVERIFY(f.put("other.mp3")); // a scan of the folder, after the hand-over
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 15000);
        const Date lastScan = *f.top->subdirectories().front()->lastScanTime();
        QVERIFY(writeDated(song, "written again", QDateTime::fromMSecsSinceEpoch(dateToNanos(lastScan) / 1000000 - 2)));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 3, 15000);
        QCOMPARE(f.delegate.files().last(), f.path("song.mp3"));
    }

    // Many files at once, each once (an empty one when it has content), records freed as it goes.
    void recordsOfHandedOverFilesAreFreedWhileRunning()
    {
        DifferFixture f;
        f.delegate.onFile = [](DirectoryDiffer *, const QByteArray &) { QThread::usleep(500); };
        LogCapture log;
        f.start();
        QSet<QByteArray> written;
        for (int i = 0; i < 1000; ++i) {
            const QString name = QStringLiteral("track %1.mp3").arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(f.put(name));
            written.insert(f.path(name));
        }
        QVERIFY(f.put("empty.mp3", ""));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1000, 30000);
        QVERIFY(f.put("empty.mp3", "content")); // one more pass after the last hand-over
        written.insert(f.path("empty.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1001, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(f.store->context->retainedDeletedCount() < 10, 5000);
        QThread::msleep(800); // nothing more comes
        const QList<QByteArray> handed = f.delegate.files();
        QCOMPARE(handed.size(), 1001);
        QCOMPARE(QSet<QByteArray>(handed.begin(), handed.end()), written);
        QVERIFY(log.contains(QStringLiteral("hurry up"))); // a pass that ran long left the rest for the next
    }

    // Written again while its import turns the differ's loop: the new form is handed over too.
    void fileRewrittenDuringItsImportIsHandedOverAgain()
    {
        DifferFixture f;
        f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
            if (f.count() == 1) {
                writeFile(QFile::decodeName(path), "the second, longer form");
                QTest::qWait(1500);
            }
        };
        f.start();
        QVERIFY(f.put("song.mp3", "first"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 10000);
    }
};

QTEST_GUILESS_MAIN(TestSecondDay)
#include "test_second_day.moc"
