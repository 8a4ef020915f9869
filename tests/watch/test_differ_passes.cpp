// Queue passes under the conditions of a running import: the import's tool
// runner turns the differ's event loop while it waits, so scans and timers
// run inside a hand-over. One pass chain, no pass inside a hand-over, newer
// dates win, and saves come once per batch of events.
#include "StartedDiffer.h"
#include "store/File.h"
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What the tool runner does while an unpacker runs: turns the event loop in slices.
void turnEventLoopFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
}

class TestDifferPasses : public QObject {
    Q_OBJECT

private slots:
    // After many restarts, half of them back to back, the differ ends up
    // watching with one chain of passes, and no pass runs inside a hand-over;
    // an archive is handed over once.
    void restartsLeaveOnePassChain()
    {
        DifferFixture f;
        f.delegate.onFile = [](DirectoryDiffer *, const QByteArray &) { turnEventLoopFor(1500); };
        const QString root = startOnDownloads(f);
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
        QVERIFY(writeFile(root + QStringLiteral("/album.zip"), "zip bytes"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(3000);
        QCOMPARE(f.delegate.files().size(), 1);
        QCOMPARE(f.differ->stats().passesInsideHandOver, 0);
    }

    // A scan made during a hand-over must not queue the file being handed over
    // again as one "still waiting when Rivulet last ended".
    void scanDuringHandOverDoesNotRequeue()
    {
        DifferFixture f;
        LogCapture log;
        bool first = true;
        QString root;
        f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
            if (first && path.endsWith("/a.zip")) {
                first = false;
                writeFile(root + QStringLiteral("/other.txt"), "x"); // an event in the same folder
                turnEventLoopFor(1500);
            }
        };
        root = startOnDownloads(f);
        QVERIFY(writeFile(root + QStringLiteral("/a.zip"), "zip"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(3000);
        QCOMPARE(f.delegate.files(), QList<QByteArray>{QFile::encodeName(root) + "/a.zip"});
        QVERIFY(!log.contains(QStringLiteral("was still waiting when Rivulet last ended")));
    }

    // A file that changes while an earlier file is handed over takes the newer
    // date: it is not handed over until it has settled again.
    void fileChangedDuringHandOverWaitsAgain()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads");
        std::atomic<qint64> lastWriteOfB{0};
        QElapsedTimer clock;
        clock.start();
        QList<qint64> handedAt;
        f.delegate.onFile = [&](DirectoryDiffer *, const QByteArray &path) {
            if (path.endsWith("/b.mp3"))
                handedAt << clock.elapsed();
            if (!path.endsWith("/a.mp3"))
                return;
            // b.mp3 is written again for a second while a.mp3 is handed over,
            // then the loop turns long enough for a scan to see its last size.
            for (int i = 0; i < 10; ++i) {
                QFile b(root + QStringLiteral("/b.mp3"));
                QVERIFY(b.open(QIODevice::Append) && b.write(QByteArray(100, 'y')) == 100);
                lastWriteOfB = clock.elapsed();
                turnEventLoopFor(100);
            }
            turnEventLoopFor(600);
        };
        DirectoryDiffer::Timings t = DifferFixture::fast();
        t.settleSeconds = 2.0;
        startOnDownloads(f, t);
        const int saves = f.differ->stats().saves;
        QVERIFY(writeFile(root + QStringLiteral("/a.mp3"), "a"));
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->stats().saves > saves, 20000); // a.mp3 is queued first
        QVERIFY(writeFile(root + QStringLiteral("/b.mp3"), "b"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 12000);
        QCOMPARE(handedAt.size(), 1);
        QVERIFY2(handedAt[0] - lastWriteOfB >= 1800,
                 qPrintable(QStringLiteral("handed over %1 ms after its last write").arg(handedAt[0] - lastWriteOfB)));
    }

    // A file rewritten in place at its final size every 100 ms is still
    // changing. Events come later than the settle time, as at the program's
    // own timings, so a rewrite lands between scan and pass: only the pass's
    // own date check keeps the file waiting.
    void sameSizeRewritesKeepAFileUnsettled()
    {
        DifferFixture f;
        DirectoryDiffer::Timings t = DifferFixture::fast();
        t.latencySeconds = 2.0;
        const QString root = startOnDownloads(f, t);
        const QByteArray path = QFile::encodeName(root + QStringLiteral("/fixed.mp3"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QVERIFY(::write(fd, QByteArray(8192, 'a').constData(), 8192) == 8192);
        for (int i = 0; i < 50; ++i) { // 5 s: two event batches, each followed by passes
            QThread::msleep(100);
            const QByteArray block(4096, char('b' + i % 20));
            QVERIFY(::pwrite(fd, block.constData(), 4096, (i % 2) * 4096) == 4096);
            QVERIFY2(f.delegate.files().isEmpty(), qPrintable(QStringLiteral("handed over during write %1").arg(i)));
        }
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 20000);
    }

    // Start-up replays every folder: one save and one stored event id for the
    // batch, not one per folder.
    void replayIsSavedOnce()
    {
        DifferFixture f;
        for (int i = 0; i < 10; ++i)
            QDir().mkpath(f.base + QStringLiteral("/Downloads/f%1").arg(i));
        startOnDownloads(f, DifferFixture::fast(), 1);
        QThread::msleep(800);
        QCOMPARE(f.delegate.ids().size(), 1);
        QCOMPARE(f.differ->stats().saves, 1);
    }

    // A file dated hours ahead is handed over once and hides no later file,
    // also after a restart from the saved store.
    void futureDatedFileHidesNothing()
    {
        DifferFixture f;
        const QString root = startOnDownloads(f);
        const QByteArray ahead = QFile::encodeName(root + QStringLiteral("/ahead.mp3"));
        QVERIFY(writeFile(root + QStringLiteral("/ahead.mp3"), "from the east"));
        const timespec t{::time(nullptr) + 10 * 3600, 0}, times[2] = {t, t};
        QVERIFY(::utimensat(AT_FDCWD, ahead.constData(), times, 0) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(1000);
        QList<QByteArray> expected{ahead};
        for (const char *name : {"/later.mp3", "/third.mp3"}) {
            QVERIFY(writeFile(root + QLatin1String(name), "saved now"));
            expected << QFile::encodeName(root) + name;
            QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), expected.size(), 5000);
        }
        QThread::msleep(1500);
        QCOMPARE(f.delegate.files(), expected);
        // The folder's scan date never moves past the time of the scan.
        QVERIFY(*f.top->subdirectories()[0]->lastScanTime() <= dateNow());
        const quint64 lastId = f.delegate.ids().last();
        f.differ.reset();
        f.store.reset();
        f.delegate.clear();
        startOnDownloads(f, DifferFixture::fast(), lastId);
        QVERIFY(writeFile(root + QStringLiteral("/fourth.mp3"), "saved now"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QThread::msleep(1500);
        QCOMPARE(f.delegate.files(), QList<QByteArray>{QFile::encodeName(root) + "/fourth.mp3"});
    }
};

QTEST_GUILESS_MAIN(TestDifferPasses)
#include "test_differ_passes.moc"
