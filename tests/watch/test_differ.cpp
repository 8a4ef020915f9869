// The differ on real folders with real inotify, with short timings: files are
// handed over once, also across restarts, and events in folders that do not
// count cause no scan. (Files still changing: test_differ_passes, test_differ_real_timings.)
#include "StartedDiffer.h"
#include "store/File.h"
#include <QSet>

class TestDiffer : public QObject {
    Q_OBJECT

private slots:
    // The program ends twice, its store saved after each batch of events, and
    // starts at last from the stored event id: what was handed over stays so; a
    // file still waiting at the end and one written while stopped are taken.
    void restartsResumeFromTheStoredEventId()
    {
        DifferFixture f;
        const QString root = startOnDownloads(f);
        const QByteArray bytes = QFile::encodeName(root);
        QVERIFY(writeFile(root + QStringLiteral("/before.mp3"), "one"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 2000);
        DirectoryDiffer::Timings slow = DifferFixture::fast();
        slow.settleSeconds = 30; // still waiting when the program ends
        f.delegate.clear();
        startOnDownloads(f, slow);
        QVERIFY(writeFile(root + QStringLiteral("/waiting.mp3"), "song"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.top->subdirectories()[0]->files().empty(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!f.delegate.ids().isEmpty(), 5000);
        const quint64 lastId = f.delegate.ids().last();
        // Ended like a killed program: whatever happens in memory afterwards is not saved.
        f.differ.reset();
        f.store.reset();
        QVERIFY(writeFile(root + QStringLiteral("/while-away.mp3"), "two"));
        f.delegate.clear();
        startOnDownloads(f, DifferFixture::fast(), lastId);
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 5000);
        QThread::msleep(1000);
        const QList<QByteArray> handed = f.delegate.files();
        QCOMPARE(QSet<QByteArray>(handed.begin(), handed.end()), (QSet<QByteArray>{bytes + "/waiting.mp3", bytes + "/while-away.mp3"}));
        QCOMPARE(handed.size(), 2);
        for (quint64 id : f.delegate.ids())
            QVERIFY(id > lastId);
    }

    // Folders that do not count (unfinished downloads, excluded, beyond the
    // depth limit) cause no scan; a sibling root with the same prefix is told
    // apart; a root removed and made again is watched again.
    void whichFoldersCount()
    {
        DifferFixture f;
        const QString root = f.base + QStringLiteral("/Downloads"), music = f.base + QStringLiteral("/Downloads Music");
        f.open({root, music}, {root + QStringLiteral("/Support")}, DifferFixture::fast());
        f.startAndWait();
        for (const char *rel : {"Incomplete Downloads", "page.download", "Support", "a/b/c/d", "a/b/c"}) {
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(rel));
            QThread::msleep(400); // let the new folder's watch be set up first
            QVERIFY(writeFile(root + QLatin1Char('/') + QLatin1String(rel) + QStringLiteral("/x.mp3"), "x"));
        }
        QVERIFY(writeFile(music + QStringLiteral("/sibling.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 2, 5000);
        QThread::msleep(1000);
        QList<QByteArray> handed = f.delegate.files();
        std::sort(handed.begin(), handed.end());
        QCOMPARE(handed, (QList<QByteArray>{QFile::encodeName(music) + "/sibling.mp3", QFile::encodeName(root) + "/a/b/c/x.mp3"}));
        // Beyond the depth limit no record is made.
        QVERIFY(!f.top->findSubdirectory(QFile::encodeName(root) + "/a/b/c/d")->name().endsWith("/d"));
        QVERIFY(QDir(root).removeRecursively());
        QThread::msleep(600);
        QVERIFY(QDir().mkpath(root));
        QThread::msleep(2500); // a missing root is looked for every 2 s
        QVERIFY(writeFile(root + QStringLiteral("/again.mp3"), "x"));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 3, 6000);
        QCOMPARE(f.delegate.files()[2], QFile::encodeName(root) + "/again.mp3");
    }

    void thousandFilesAtOnceEachOnce()
    {
        DifferFixture f;
        f.delegate.onFile = [](DirectoryDiffer *, const QByteArray &) { QThread::usleep(500); };
        LogCapture log;
        const QString root = startOnDownloads(f);
        QSet<QByteArray> written;
        for (int i = 0; i < 1000; ++i) {
            const QString name = root + QStringLiteral("/track %1.mp3").arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(writeFile(name, "x"));
            written.insert(QFile::encodeName(name));
        }
        // An empty file is remembered and handed over once it has content.
        QVERIFY(writeFile(root + QStringLiteral("/empty.mp3"), ""));
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1000, 20000);
        QVERIFY(writeFile(root + QStringLiteral("/empty.mp3"), "content"));
        written.insert(QFile::encodeName(root) + "/empty.mp3");
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1001, 5000);
        QThread::msleep(800);
        const QList<QByteArray> handed = f.delegate.files();
        QCOMPARE(handed.size(), 1001);
        QCOMPARE(QSet<QByteArray>(handed.begin(), handed.end()), written);
        QVERIFY(log.contains(QStringLiteral("hurry up")));
    }

};

QTEST_GUILESS_MAIN(TestDiffer)
#include "test_differ.moc"
