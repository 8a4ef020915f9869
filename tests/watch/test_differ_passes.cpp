// The differ on real folders with real inotify: which folders count (also with polling, see
// tests.cmake); queue passes as during an import, whose tool runner turns the differ's event
// loop: one pass chain, one save per batch, files still changing. (Dated ahead: test_second_day.)
#include "DifferFixture.h"
#include <QElapsedTimer>
#include <fcntl.h>
#include <unistd.h>

class TestDifferPasses : public QObject {
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
        for (const QString rel : {"Incomplete Downloads", "page.download", "Support", "a/b/c/d", "a/b/c"})
            QVERIFY(f.mkdir(rel) && f.put(rel + QStringLiteral("/x.mp3")));
        QVERIFY(writeFile(music + QStringLiteral("/sibling.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 2, 5000);
        QVERIFY(f.put("marker.mp3")); // written last, handed over last
        QTRY_VERIFY_WITH_TIMEOUT(f.handed("marker.mp3"), 10000);
        QList<QByteArray> handed = f.delegate.files();
        std::sort(handed.begin(), handed.end());
        QCOMPARE(handed, (QList<QByteArray>{QFile::encodeName(music) + "/sibling.mp3", f.path("a/b/c/x.mp3"),
                                            f.path("marker.mp3")}));
        // Beyond the depth limit no record is made.
        QVERIFY(!f.top->findSubdirectory(f.path("a/b/c/d"))->name().endsWith("/d"));
        QVERIFY(QDir(f.root).removeRecursively());
        QVERIFY(QDir().mkpath(f.root) && f.put("again.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 4, 10000);
        QVERIFY(f.put("later.mp3")); // seen only once the root is watched again
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 5, 10000);
        QCOMPARE(f.delegate.files().mid(3), (QList<QByteArray>{f.path("again.mp3"), f.path("later.mp3")}));
    }

    // Many restarts leave one pass chain; an archive is handed over once, also with a scan inside.
    void restartsLeaveOnePassChain()
    {
        DifferFixture f;
        f.delegate.onFile = [&f](DirectoryDiffer *, const QByteArray &) {
            f.put("other.txt"); // an event in the same folder
            QTest::qWait(1500);
        };
        f.start();
        for (int i = 0; i < 20; ++i) {
            f.differ->stopWatching();
            f.differ->startWatchingWithLastSCEvent(0);
            QThread::msleep(i % 2 * 60);
        }
        QThread::msleep(1000);
        QVERIFY(f.differ->watching());
        const int before = f.differ->stats().passes;
        QThread::msleep(2000);
        const int passes = f.differ->stats().passes - before;
        // One chain at 0.1 s makes at most about 20 passes in 2 s.
        QVERIFY2(passes <= 25, qPrintable(QStringLiteral("%1 passes in 2 s").arg(passes)));
        QVERIFY(f.put("album.zip", "zip bytes"));
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 5000);
        QThread::msleep(3000);
        QCOMPARE(f.count(), 1);
    }

    // Rewritten in place at its final size every 250 ms, with events later than the settle
    // time: only the pass's own date check keeps the file waiting, and starts its wait over.
    void sameSizeRewritesKeepAFileUnsettled()
    {
        DifferFixture f;
        f.start(DifferFixture::fast(2.0, 1.0));
        const int fd = ::open(f.path("fixed.mp3").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(::write(fd, QByteArray(8192, 'a').constData(), 8192) == 8192);
        for (int i = 0; i < 24; ++i) { // 6 s: three event batches, each followed by passes
            QThread::msleep(250);
            const QByteArray block(4096, char('b' + i % 20));
            QVERIFY(::pwrite(fd, block.constData(), 4096, (i % 2) * 4096) == 4096);
            QVERIFY2(f.delegate.files().isEmpty(), qPrintable(QStringLiteral("handed over during write %1").arg(i)));
        }
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 20000);
    }

    // The program's own timings (5 s settle): a download that writes for 3 s is handed over once, after settling.
    void settledFileIsHandedOverOnceAfterSettling()
    {
        DifferFixture f;
        f.start(DirectoryDiffer::Timings());
        QFile out(f.root + QStringLiteral("/album track.m4a"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        for (int i = 0; i < 30; ++i) {
            out.write(QByteArray(8192, 'x'));
            out.flush();
            QThread::msleep(100);
        }
        out.close();
        QElapsedTimer sinceLastWrite;
        sinceLastWrite.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.count(), 1, 60000);
        QVERIFY2(sinceLastWrite.elapsed() >= 4500, qPrintable(QString::number(sinceLastWrite.elapsed())));
        QThread::msleep(2000);
        QCOMPARE(f.count(), 1);
    }

    // The start-up replay of every folder: one save and one event id, not one per folder.
    void replayIsSavedOnce()
    {
        DifferFixture f;
        for (int i = 0; i < 10; ++i)
            QVERIFY(f.mkdir(QStringLiteral("f%1").arg(i)));
        f.start(DifferFixture::fast(), 1);
        QThread::msleep(800);
        QCOMPARE(f.delegate.ids().size(), 1);
        QCOMPARE(f.differ->stats().saves, 1);
    }
};

QTEST_GUILESS_MAIN(TestDifferPasses)
#include "test_differ_passes.moc"
