// The differ on real folders with real inotify (and with polling, see tests.cmake):
// events in folders that do not count cause no scan.
#include "DifferFixture.h"

class TestDiffer : public QObject {
    Q_OBJECT

private slots:
    // Unfinished downloads, excluded folders and those beyond the depth limit do not count; a
    // sibling root with the same prefix is told apart; a root removed and made again is watched.
    void whichFoldersCount()
    {
        DifferFixture f;
        const QString music = f.base + QStringLiteral("/Downloads Music");
        f.open(DifferFixture::fast(), {f.root, music}, {f.root + QStringLiteral("/Support")});
        f.startAndWait();
        for (const QString rel : {"Incomplete Downloads", "page.download", "Support", "a/b/c/d", "a/b/c"}) {
            QVERIFY(f.mkdir(rel));
            QThread::msleep(400); // let the new folder's watch be set up first
            QVERIFY(f.put(rel + QStringLiteral("/x.mp3")));
        }
        QVERIFY(writeFile(music + QStringLiteral("/sibling.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 5000);
        QThread::msleep(1000);
        QList<QByteArray> handed = f.delegate.files();
        std::sort(handed.begin(), handed.end());
        QCOMPARE(handed, (QList<QByteArray>{QFile::encodeName(music) + "/sibling.mp3", f.path("a/b/c/x.mp3")}));
        // Beyond the depth limit no record is made.
        QVERIFY(!f.top->findSubdirectory(f.path("a/b/c/d"))->name().endsWith("/d"));
        QVERIFY(QDir(f.root).removeRecursively());
        QThread::msleep(600);
        QVERIFY(QDir().mkpath(f.root));
        QThread::msleep(2500); // a missing root is looked for every 2 s
        QVERIFY(f.put("again.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 3, 6000);
        QCOMPARE(f.delegate.files()[2], f.path("again.mp3"));
    }
};

QTEST_GUILESS_MAIN(TestDiffer)
#include "test_differ.moc"
