// The kernel side of watching on real folders: the unpacking scratch folder, a root
// that is a link, a real queue overflow, no inotify. (A root lost and back: test_differ_passes.)
#include "TestSupport.h"
#include "watch/InotifyBackend.h"
#include "watch/SCEvent.h"
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace {
struct Watched {
    QList<InotifyBackend::Change> changes;
    InotifyBackend backend;
    explicit Watched(const QByteArray &root) : backend({root}, {}, 0.1, [this](const auto &batch) { changes << batch; }) {}
    bool has(const QByteArray &path, quint32 flag = 0) const
    {
        return std::any_of(changes.begin(), changes.end(), [&](auto &c) { return c.path == path && (!flag || c.flags & flag); });
    }
    bool watches(const QByteArray &path) const { return backend.watchedFolders().contains(path); }
};

// Watches this process holds, as the kernel counts them.
int kernelWatches()
{
    int n = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fdinfo")).entryList(QDir::Files))
        n += int(readAll(QStringLiteral("/proc/self/fdinfo/") + fd).count("inotify wd:"));
    return n;
}

// Throws when it fails, which fails the test.
void makeFolders(const QByteArray &path) { std::filesystem::create_directories(path.constData()); }

bool put(const QByteArray &path) { return writeFile(QFile::decodeName(path), "x"); }
}

class TestInotifyBackend : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QByteArray folder(const char *name, std::initializer_list<const char *> below = {""})
    {
        const QByteArray root = QFile::encodeName(tmp.path()) + '/' + name;
        for (const char *b : below)
            makeFolders(root + '/' + b);
        return root;
    }

private slots:
    // The scratch folder may hold any number of folders: none is watched, at the start or later.
    void scratchFolderTreeIsNeverWatched()
    {
        const QByteArray root = folder("scratchroot", {".Rivulet unpacking.download/a/b/c"});
        const QByteArray scratch = root + "/.Rivulet unpacking.download";
        const int before = kernelWatches();
        Watched w(root);
        QVERIFY(w.backend.start());
        QCOMPARE(kernelWatches() - before, 1);
        QVERIFY(std::filesystem::remove_all(scratch.constData()) > 0);
        makeFolders(scratch + "/x/y");
        makeFolders(root + "/album/cd1");
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root + "/album/cd1"), 3000);
        QCOMPARE(kernelWatches() - before, 3); // the root, album and cd1
    }

    void rootThatIsASymbolicLinkIsWatched()
    {
        const QByteArray real = folder("disk2/Downloads", {"inner"});
        const QByteArray link = folder("") + "LinkedDownloads";
        QVERIFY(::symlink(real.constData(), link.constData()) == 0);
        // A link inside the tree is not followed, so it makes no loop.
        QVERIFY(::symlink(real.constData(), (real + "/loop").constData()) == 0);
        Watched w(link);
        QVERIFY(w.backend.start());
        QVERIFY(put(link + "/song.mp3") && put(link + "/inner/two.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(w.has(link) && w.has(link + "/inner"), 3000);
        QVERIFY(!w.watches(link + "/loop"));
    }

    // Events lost: folders made meanwhile are watched, deleted ones forgotten (so watched when made again).
    void overflowWatchesNewFoldersAndForgetsDeletedOnes()
    {
        const QByteArray root = folder("overflow", {"old", "burst"});
        Watched w(root);
        QVERIFY(w.backend.start());
        // No event is read meanwhile: the kernel queue overflows.
        for (int i = 0; i < 9000; ++i)
            ::close(::open((root + "/burst/f" + QByteArray::number(i)).constData(), O_WRONLY | O_CREAT, 0644));
        makeFolders(root + "/new");
        QVERIFY(::rmdir((root + "/old").constData()) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root, kFSEventStreamEventFlagMustScanSubDirs), 5000);
        QVERIFY(w.watches(root + "/new") && !w.watches(root + "/old"));
        makeFolders(root + "/old");
        QTRY_VERIFY_WITH_TIMEOUT(w.watches(root + "/old"), 3000);
        w.changes.clear();
        QVERIFY(put(root + "/new/a.mp3") && put(root + "/old/b.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root + "/new") && w.has(root + "/old"), 3000);
    }

    void polledRootsWorkWithoutInotify()
    {
        const QByteArray root = folder("polled");
        qputenv("RIVULET_POLL_SECONDS", "0.3");
        Watched w(root);
        // Every descriptor is taken: inotify cannot start.
        rlimit saved;
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const rlimit low{std::min<rlim_t>(saved.rlim_cur, 1024), saved.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        QList<int> held;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            held << fd;
        w.backend.start();
        for (int fd : held)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        qunsetenv("RIVULET_POLL_SECONDS");
        QTest::qWait(500);
        w.changes.clear();
        QVERIFY(put(root + "/song.mp3"));
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root), 3000);
        // Between two looks one folder is renamed, one made: only the made one is new.
        makeFolders(root + "/Album/Disc 1");
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root + "/Album/Disc 1", kFSEventStreamEventFlagFolderAppeared), 3000);
        w.changes.clear();
        QVERIFY(::rename((root + "/Album").constData(), (root + "/Renamed").constData()) == 0);
        makeFolders(root + "/Fresh");
        QTRY_VERIFY_WITH_TIMEOUT(w.has(root + "/Fresh") && w.has(root + "/Renamed"), 3000);
        const auto renamed = std::find_if(w.changes.cbegin(), w.changes.cend(),
                                          [&](auto &c) { return c.path == root + "/Renamed"; });
        QCOMPARE(renamed->renamedFrom, root + "/Album");
        const quint32 appeared = kFSEventStreamEventFlagFolderAppeared;
        QVERIFY(w.has(root + "/Fresh", appeared) && !w.has(root + "/Renamed", appeared));
        QVERIFY(!w.has(root + "/Renamed/Disc 1", appeared));
    }
};

QTEST_GUILESS_MAIN(TestInotifyBackend)
#include "test_inotify_backend.moc"
