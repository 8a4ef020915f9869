// The differ's thread hands over files while the main thread changes the watched folders and saves;
// also run under ThreadSanitizer.
#include "DifferFixture.h"

class TestDifferThreads : public QObject {
    Q_OBJECT

private slots:
    // Folders added and deleted, also while the differ's thread adds below them: every save loads.
    void rootsChangeWhileWatching()
    {
        DifferFixture f;
        f.start();
        for (int i = 0; i < 20; ++i) {
            QVERIFY(f.put(QStringLiteral("t%1.mp3").arg(i)));
            const QString extra = f.base + QStringLiteral("/Extra%1").arg(i);
            QDir().mkpath(extra + QStringLiteral("/a/b"));
            f.top->addSubdirectoryNamed(QFile::encodeName(extra), true);
            QVERIFY(f.store->save());
            // What the controller does after the watched folders changed.
            f.differ->stopWatching();
            f.differ->setRoots(f.top->subdirectories());
            f.differ->startWatchingWithLastSCEvent(0);
            if (i % 3) {
                QThread::msleep(100);
                for (int j = 0; j < 5; ++j)
                    writeFile(extra + QStringLiteral("/a/b/s%1.mp3").arg(j), "x");
                QThread::msleep(20 * (i % 5));
            }
            if (i % 2) {
                f.top->deleteSubdirectoryNamed(QFile::encodeName(extra), true);
                QVERIFY(f.store->save());
                OpenStore reloaded(f.storePath);
                QVERIFY2(reloaded.ok(), qPrintable(reloaded.error.text()));
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.differ->watching(), 5000);
        QVERIFY(f.put("last.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(f.handed("last.mp3"), 10000);
        QVERIFY(f.store->save());
    }
};

QTEST_GUILESS_MAIN(TestDifferThreads)
#include "test_differ_threads.moc"
