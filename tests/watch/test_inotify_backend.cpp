// The kernel side of watching on real folders: a root given as a symbolic
// link, a real queue overflow, a folder renamed over an empty one, a root
// whose file system is unmounted, a synchronous flush, and no inotify at all.
#include "TestSupport.h"
#include "watch/InotifyBackend.h"
#include "watch/SCEvent.h"
#include "watch/SCEvents.h"
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
struct Collected {
    QList<InotifyBackend::Change> changes;
    InotifyBackend::Deliver deliver()
    {
        return [this](const QList<InotifyBackend::Change> &batch) { changes << batch; };
    }
    bool has(const QByteArray &path, quint32 flag = 0) const
    {
        for (const auto &c : changes)
            if (c.path == path && (flag == 0 || (c.flags & flag)))
                return true;
        return false;
    }
};

// Watches this process holds, as the kernel counts them.
int kernelWatches()
{
    int n = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fdinfo")).entryList(QDir::Files))
        n += int(readAll(QStringLiteral("/proc/self/fdinfo/") + fd).count("inotify wd:"));
    return n;
}

struct EventRecorder : SCEventListenerProtocol {
    QList<QByteArray> paths;
    void pathWatcherEventOccurred(SCEvents *, const SCEvent &event) override { paths << event.eventPath(); }
};
}

class TestInotifyBackend : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QByteArray base() const { return QFile::encodeName(tmp.path()); }

private slots:
    // The unpacking scratch folder may hold any number of folders: neither it
    // nor anything below it is watched, whether there at the start or made later.
    void scratchFolderTreeIsNeverWatched()
    {
        const QByteArray root = base() + "/scratchroot";
        const QByteArray scratch = root + "/.Rivulet unpacking.download";
        QVERIFY(QDir().mkpath(QFile::decodeName(scratch + "/a/b/c")));
        const int before = kernelWatches();
        Collected got;
        InotifyBackend backend({root}, {}, 0.1, got.deliver());
        QVERIFY(backend.start());
        QCOMPARE(kernelWatches() - before, 1);
        QVERIFY(QDir(QFile::decodeName(scratch)).removeRecursively());
        QVERIFY(QDir().mkpath(QFile::decodeName(scratch + "/x/y")));
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/album/cd1")));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/album/cd1"), 3000);
        QCOMPARE(kernelWatches() - before, 3); // the root, album and cd1
    }

    void rootThatIsASymbolicLinkIsWatched()
    {
        const QByteArray real = base() + "/disk2/Downloads";
        const QByteArray link = base() + "/LinkedDownloads";
        QVERIFY(QDir().mkpath(QFile::decodeName(real + "/inner")));
        QVERIFY(::symlink(real.constData(), link.constData()) == 0);
        // A link inside the tree is not followed, so it makes no loop.
        QVERIFY(::symlink(real.constData(), (real + "/loop").constData()) == 0);
        LogCapture log;
        Collected got;
        InotifyBackend backend({link}, {}, 0.1, got.deliver());
        QVERIFY(backend.start());
        QVERIFY(log.contains(QString::fromUtf8(real)));
        QVERIFY(writeFile(QFile::decodeName(link + "/song.mp3"), "x"));
        QVERIFY(writeFile(QFile::decodeName(link + "/inner/two.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(link) && got.has(link + "/inner"), 3000);
        QVERIFY(!backend.watchedFolders().contains(link + "/loop"));
    }

    void overflowWatchesNewFoldersAndForgetsDeletedOnes()
    {
        const QByteArray root = base() + "/overflow";
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/old")));
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/burst")));
        Collected got;
        InotifyBackend backend({root}, {}, 0.1, got.deliver());
        QVERIFY(backend.start());
        // No event is read while this runs: the kernel queue overflows for real.
        for (int i = 0; i < 9000; ++i) {
            const QByteArray p = root + "/burst/f" + QByteArray::number(i);
            const int fd = ::open(p.constData(), O_WRONLY | O_CREAT, 0644);
            ::close(fd);
        }
        QVERIFY(::mkdir((root + "/new").constData(), 0755) == 0);
        QVERIFY(::rmdir((root + "/old").constData()) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root, kFSEventStreamEventFlagMustScanSubDirs), 5000);
        QVERIFY(backend.watchedFolders().contains(root + "/new"));
        QVERIFY(!backend.watchedFolders().contains(root + "/old"));
        got.changes.clear();
        QVERIFY(writeFile(QFile::decodeName(root + "/new/a.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/new"), 3000);
        QVERIFY(::mkdir((root + "/old").constData(), 0755) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(backend.watchedFolders().contains(root + "/old"), 3000);
        QVERIFY(writeFile(QFile::decodeName(root + "/old/b.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/old"), 3000);
    }

    void folderRenamedOverAnEmptyFolderStaysWatched()
    {
        const QByteArray root = base() + "/rename";
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/A/sub")));
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/B")));
        Collected got;
        InotifyBackend backend({root}, {}, 0.1, got.deliver());
        QVERIFY(backend.start());
        QVERIFY(::rename((root + "/A").constData(), (root + "/B").constData()) == 0);
        QTest::qWait(500);
        got.changes.clear();
        QVERIFY(writeFile(QFile::decodeName(root + "/B/x.mp3"), "x"));
        QVERIFY(writeFile(QFile::decodeName(root + "/B/sub/y.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/B") && got.has(root + "/B/sub"), 3000);
    }

    void unmountedRootIsLookedForAgain()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a file system needs root");
        const QByteArray root = base() + "/mounted";
        QVERIFY(QDir().mkpath(QFile::decodeName(root)));
        QVERIFY(::mount("tmpfs", root.constData(), "tmpfs", 0, "size=1m") == 0);
        Collected got;
        InotifyBackend backend({root}, {}, 0.1, got.deliver());
        QVERIFY(backend.start());
        QVERIFY(::umount(root.constData()) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root, kFSEventStreamEventFlagRootChanged), 3000);
        QTest::qWait(2500); // a missing root is looked for every 2 s
        got.changes.clear();
        QVERIFY(writeFile(QFile::decodeName(root + "/after.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root), 3000);
    }

    void synchronousFlushReadsTheKernelQueueFirst()
    {
        const QByteArray root = base() + "/flush";
        QVERIFY(QDir().mkpath(QFile::decodeName(root)));
        EventRecorder rec;
        SCEvents *events = SCEvents::sharedPathWatcher();
        events->setDelegate(&rec);
        events->setNotificationLatency(5);
        QVERIFY(events->startWatchingPaths({root}));
        QVERIFY(writeFile(QFile::decodeName(root + "/song.mp3"), "x"));
        QVERIFY(events->flushEventStreamSync());
        QCOMPARE(rec.paths, QList<QByteArray>{root});
        events->stopWatchingPaths();
        events->setDelegate(nullptr);
    }

    void polledRootsWorkWithoutInotify()
    {
        const QByteArray root = base() + "/polled";
        QVERIFY(QDir().mkpath(QFile::decodeName(root)));
        qputenv("RIVULET_FORCE_POLLING", "1");
        qputenv("RIVULET_POLL_SECONDS", "0.3");
        Collected got;
        InotifyBackend backend({root}, {}, 0.1, got.deliver());
        // Every descriptor is taken: inotify cannot start.
        struct rlimit saved;
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        struct rlimit low = saved;
        low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 1024);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        QList<int> held;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            held << fd;
        backend.start();
        for (int fd : held)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        qunsetenv("RIVULET_FORCE_POLLING");
        qunsetenv("RIVULET_POLL_SECONDS");
        QTest::qWait(500);
        got.changes.clear();
        QVERIFY(writeFile(QFile::decodeName(root + "/song.mp3"), "x"));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root), 3000);
        // Between two looks a folder is renamed and another one made: the
        // renamed one carries its old path, the new one is reported as new.
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/Album/Disc 1")));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/Album/Disc 1", kFSEventStreamEventFlagFolderAppeared), 3000);
        got.changes.clear();
        QVERIFY(QDir().rename(QFile::decodeName(root + "/Album"), QFile::decodeName(root + "/Renamed")));
        QVERIFY(QDir().mkpath(QFile::decodeName(root + "/Fresh")));
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/Fresh"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(got.has(root + "/Renamed"), 3000);
        for (const auto &c : std::as_const(got.changes)) {
            if (c.path == root + "/Renamed")
                QCOMPARE(c.renamedFrom, root + "/Album");
            if (c.path == root + "/Renamed" || c.path == root + "/Renamed/Disc 1")
                QVERIFY(!(c.flags & kFSEventStreamEventFlagFolderAppeared));
            if (c.path == root + "/Fresh")
                QVERIFY(c.flags & kFSEventStreamEventFlagFolderAppeared);
        }
    }
};

QTEST_GUILESS_MAIN(TestInotifyBackend)
#include "test_inotify_backend.moc"
