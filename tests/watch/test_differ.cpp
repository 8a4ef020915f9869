// The differ on real folders with real inotify, with short timings: files are
// handed over once after they stop changing, also across restarts, and
// events in folders that do not count cause no scan.
#include "DifferFixture.h"
#include "store/File.h"
#include <QElapsedTimer>
#include <QSet>

class TestDiffer : public QObject {
    Q_OBJECT

private slots:
    void fileWrittenInPiecesIsHandedOverOnce()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        QFile out(root + QStringLiteral("/song.mp3"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        QElapsedTimer sinceLastWrite;
        // Written like a download: small pieces, steadily, for 2 seconds.
        for (int i = 0; i < 40; ++i) {
            out.write(QByteArray(4096, 'x'));
            out.flush();
            sinceLastWrite.start();
            QVERIFY(f.delegate.files().isEmpty());
            QThread::msleep(50);
        }
        out.close();
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QVERIFY(sinceLastWrite.elapsed() >= 500); // only after it stopped changing
        QCOMPARE(f.delegate.files()[0], QFile::encodeName(root) + "/song.mp3");
        QThread::msleep(1500);
        QCOMPARE(f.delegate.files().size(), 1);
        QVERIFY(f.top->subdirectories()[0]->files().empty());
        QVERIFY(!f.delegate.ids().isEmpty());
    }

    void restartResumesFromTheStoredEventId()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/before.mp3"), "one"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 2000);
        const quint64 lastId = f.delegate.ids().last();
        f.differ.reset(); // the program ends; its store was saved after each event

        QVERIFY(writeFile(root + QStringLiteral("/while-away.mp3"), "two"));
        f.delegate.clear();
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait(lastId);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(1000);
        QCOMPARE(f.delegate.files(), QList<QByteArray>{QFile::encodeName(root) + "/while-away.mp3"});
        for (quint64 id : f.delegate.ids())
            QVERIFY(id > lastId);
    }

    void fileWaitingWhenTheProgramEndedIsImportedAtTheNextStart()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        DirectoryDiffer::Timings slow = DifferFixture::fast();
        slow.settleSeconds = 30; // it is still waiting when the program ends
        f.open({root}, {}, slow);
        f.startAndWait();
        QVERIFY(writeFile(root + QStringLiteral("/waiting.mp3"), "song"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.top->subdirectories()[0]->files().empty(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 5000);
        const quint64 lastId = f.delegate.ids().last();
        // The store was saved after the scan that queued it; the program then ends
        // like a killed one: whatever happens in memory afterwards is not saved.
        f.differ.reset();
        f.store.reset();
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait(lastId);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files(), QList<QByteArray>{QFile::encodeName(root) + "/waiting.mp3"}, 5000);
    }

    void foldersThatDoNotCountCauseNoScan()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        const QString support = root + QStringLiteral("/Support");
        f.open({root}, {support}, DifferFixture::fast());
        LogCapture log;
        f.startAndWait();
        for (const QString &rel : {QStringLiteral("Incomplete Downloads"), QStringLiteral("page.download"), QStringLiteral("Support"),
                                   QStringLiteral("a/b/c/d"), QStringLiteral("a/b/c")}) {
            QDir().mkpath(root + QLatin1Char('/') + rel);
            QThread::msleep(400); // let the new folder's watch be set up first
            QVERIFY(writeFile(root + QLatin1Char('/') + rel + QStringLiteral("/x.mp3"), "x"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(1000);
        QCOMPARE(f.delegate.files(), QList<QByteArray>{QFile::encodeName(root) + "/a/b/c/x.mp3"});
        QVERIFY(log.contains(QStringLiteral("Event was at a higher depth then maxDepth: 3")));
        QVERIFY(!log.contains(QStringLiteral("Checking ") + root + QStringLiteral("/a/b/c/d ")));
        QVERIFY(!f.top->subdirectories()[0]->findSubdirectory(QFile::encodeName(root) + "/a/b/c/d")->name().endsWith("/d"));
    }

    void thousandFilesAtOnceEachOnce()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.delegate.onFile = [](DirectoryDiffer *, const QByteArray &) { QThread::usleep(500); };
        LogCapture log;
        f.startAndWait();
        QSet<QByteArray> written;
        for (int i = 0; i < 1000; ++i) {
            const QString name = QStringLiteral("/track %1.mp3").arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(writeFile(root + name, "x"));
            written.insert(QFile::encodeName(root + name));
        }
        // An empty file is remembered and handed over once it has content.
        QVERIFY(writeFile(root + QStringLiteral("/empty.mp3"), ""));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1000, 20000);
        QVERIFY(writeFile(root + QStringLiteral("/empty.mp3"), "content"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1001, 5000);
        QThread::msleep(800);
        const QList<QByteArray> handed = f.delegate.files();
        QCOMPARE(handed.size(), 1001);
        QSet<QByteArray> unique(handed.begin(), handed.end());
        QCOMPARE(unique.size(), 1001);
        written.insert(QFile::encodeName(root) + "/empty.mp3");
        QCOMPARE(unique, written);
        QVERIFY(log.contains(QStringLiteral("hurry up")));
    }

    void rootsRemovedRecreatedAndSiblingsToldApart()
    {
        DifferFixture f;
        const QString downloads = f.base + QStringLiteral("/Downloads");
        const QString music = f.base + QStringLiteral("/Downloads Music");
        f.open({downloads, music}, {}, DifferFixture::fast());
        f.startAndWait();
        QVERIFY(writeFile(music + QStringLiteral("/sibling.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files(), QList<QByteArray>{QFile::encodeName(music) + "/sibling.mp3"}, 5000);

        QVERIFY(QDir(downloads).removeRecursively());
        QThread::msleep(600);
        QVERIFY(QDir().mkpath(downloads));
        QThread::msleep(2500); // a missing root is looked for every 2 s
        QVERIFY(writeFile(downloads + QStringLiteral("/again.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 6000);
        QCOMPARE(f.delegate.files()[1], QFile::encodeName(downloads) + "/again.mp3");
    }

    void stopThenStartEndsUpWatching()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        f.open({root}, {}, DifferFixture::fast());
        f.startAndWait();
        f.differ->stopWatching();
        f.differ->startWatchingWithLastSCEvent(0);
        f.differ->stopWatching();
        f.differ->startWatchingWithLastSCEvent(0);
        QThread::msleep(2500);
        QVERIFY(f.differ->watching());
        QVERIFY(writeFile(root + QStringLiteral("/after.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
    }
};

QTEST_GUILESS_MAIN(TestDiffer)
#include "test_differ.moc"
