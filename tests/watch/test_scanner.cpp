// Scans of one folder: what is new, what is uncertain, what is remembered;
// archive-mode scans and the exclusion walk.
#include "RecordingDelegate.h"
#include "TestSupport.h"
#include "../store/StoreFixture.h"
#include "store/Directory.h"
#include "store/File.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void setMtime(const QString &path, const Date &when)
{
    const qint64 ns = dateToNanos(when);
    timespec times[2] = {{ns / 1000000000, ns % 1000000000}, {ns / 1000000000, ns % 1000000000}};
    QVERIFY(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
}
Date secondsAgo(const Date &from, double s) { return dateAddSeconds(from, -s); }
}

class TestScanner : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    std::unique_ptr<OpenStore> store;
    RecordingDelegate delegate;
    std::unique_ptr<DirectoryDiffer> differ;
    QString folder;
    Directory *dir = nullptr;

private slots:
    void init()
    {
        static int n = 0;
        folder = tmp.path() + QStringLiteral("/case%1").arg(++n);
        QDir().mkpath(folder);
        store = std::make_unique<OpenStore>(folder + QStringLiteral(".store"));
        differ = std::make_unique<DirectoryDiffer>([this] { return store->context.get(); });
        differ->setDelegate(&delegate);
        delegate.clear();
        dir = store->context->insertNew<Directory>();
        dir->setName(QFile::encodeName(folder));
    }
    void cleanup() { differ.reset(); store.reset(); }

    void newFilesAreRememberedAndEmptyOnesWait()
    {
        LogCapture log;
        const Date last = secondsAgo(dateNow(), 100);
        dir->setLastScanTime(last);
        QVERIFY(writeFile(folder + QStringLiteral("/new.mp3"), "music"));
        QVERIFY(writeFile(folder + QStringLiteral("/empty.mp3"), ""));
        QVERIFY(writeFile(folder + QStringLiteral("/notes.txt"), "text"));
        QVERIFY(writeFile(folder + QStringLiteral("/old.mp3"), "old"));
        setMtime(folder + QStringLiteral("/old.mp3"), secondsAgo(last, 30)); // exactly 30 s before: outside
        const Date scanDate = dateNow();
        differ->scanDirectory(dir, 0, false, scanDate);
        QCOMPARE(dir->files().size(), size_t(2));
        QVERIFY(dir->findFileNamed("empty.mp3", false)->size() == 0);
        QVERIFY(log.contains(QStringLiteral("  empty.mp3 has zero size, remembering..")));
        QVERIFY(dir->lastScanTime() >= scanDate);
        QCOMPARE(dir->filenames()->size(), 3); // every matching name, new or not

        // The empty file gets content: queued once, by the zero-length rule.
        dir->setLastScanTime(dateAddSeconds(dateNow(), 5));
        QVERIFY(writeFile(folder + QStringLiteral("/empty.mp3"), "now full"));
        log.clear();
        differ->scanDirectory(dir, 0, false, dateNow());
        QVERIFY(log.contains(QStringLiteral("    empty.mp3 had zero length, now it doesn't, adding to queue")));
        QCOMPARE(dir->findFileNamed("empty.mp3", false)->size(), quint64(8));
    }

    void uncertainFilesAtFirstAndLaterScans()
    {
        LogCapture log;
        const Date last = dateNow();
        dir->setLastScanTime(last);
        QVERIFY(writeFile(folder + QStringLiteral("/a.mp3"), "a"));
        setMtime(folder + QStringLiteral("/a.mp3"), secondsAgo(last, 10));
        differ->scanDirectory(dir, 0, false, last);
        QVERIFY(log.contains(QStringLiteral("    a.mp3 has mtime within uncertainty time of last scan, but we haven't scanned here before on this run, not adding")));
        QVERIFY(dir->files().empty());

        // A second scan in this run: a.mp3 is in the list; b.mp3 is not.
        QVERIFY(writeFile(folder + QStringLiteral("/b.mp3"), "b"));
        setMtime(folder + QStringLiteral("/b.mp3"), secondsAgo(last, 5));
        log.clear();
        differ->scanDirectory(dir, 0, false, last);
        QVERIFY(log.contains(QStringLiteral("    a.mp3 has mtime within uncertainty time of last scan, but has been processed already, not adding")));
        QVERIFY(log.contains(QStringLiteral("    b.mp3 has mtime within uncertainty time of last scan, and not in dir's list of filenames, adding")));
        QCOMPARE(dir->files().size(), size_t(1));
        // A date equal to the last scan is not new, it is uncertain.
        setMtime(folder + QStringLiteral("/a.mp3"), last);
        log.clear();
        differ->scanDirectory(dir, 0, false, last);
        QVERIFY(log.contains(QStringLiteral("    a.mp3 has mtime within uncertainty time of last scan, but has been processed already, not adding")));
    }

    void archiveScanHandsOverDepthsZeroToThree()
    {
        LogCapture log;
        QString path = folder;
        for (int depth = 0; depth <= 4; ++depth) {
            QVERIFY(writeFile(path + QStringLiteral("/t%1.mp3").arg(depth), "x"));
            path += QStringLiteral("/d%1").arg(depth + 1);
            QDir().mkpath(path);
        }
        QVERIFY(writeFile(folder + QStringLiteral("/notes.txt"), "x"));
        // A link out of the folder is never followed nor handed over.
        QVERIFY(QFile::link(QStringLiteral("/etc"), folder + QStringLiteral("/d1/escape")));
        QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), folder + QStringLiteral("/linked.mp3")));
        const size_t before = store->context->liveCount();
        const float fraction = differ->scanDirectoryAtPath(QFile::encodeName(folder));
        QList<QByteArray> expected;
        QByteArray p = QFile::encodeName(folder);
        for (int depth = 0; depth <= 3; ++depth) {
            expected << p + "/t" + QByteArray::number(depth) + ".mp3";
            p += "/d" + QByteArray::number(depth + 1);
        }
        // Each once; the order is the file system's listing order, depth first.
        QList<QByteArray> got = delegate.files();
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(got, expected);
        // 4 music of 5 regular files; the link named .mp3 counts as a music name only.
        QCOMPARE(fraction, 5.0f / 5.0f);
        QVERIFY(log.contains(QStringLiteral("Fraction of scanned directories files that were music files:1.00")));
        QCOMPARE(store->context->liveCount(), before); // the scratch record is gone again
    }

    // Only regular files are ever queued or handed over: never a link, a fifo,
    // a device or a folder with a music name, in a watched folder or an archive.
    void onlyRegularFilesAreTaken()
    {
        dir->setLastScanTime(secondsAgo(dateNow(), 100));
        QVERIFY(writeFile(folder + QStringLiteral("/real.mp3"), "music"));
        const QByteArray f = QFile::encodeName(folder);
        QVERIFY(::symlink((f + "/real.mp3").constData(), (f + "/link.mp3").constData()) == 0);
        QVERIFY(::symlink("/etc/hostname", (f + "/outside.mp3").constData()) == 0);
        QVERIFY(::mkfifo((f + "/fifo.mp3").constData(), 0644) == 0);
        QVERIFY(::mkdir((f + "/folder.mp3").constData(), 0755) == 0);
        QVERIFY(::symlink("/dev/zero", (f + "/zero.m4a").constData()) == 0);
        differ->scanDirectory(dir, 0, false, dateNow());
        QCOMPARE(dir->files().size(), size_t(1));
        QCOMPARE(dir->files()[0]->name(), f + "/real.mp3");
        // The same in archive mode.
        differ->scanDirectoryAtPath(f);
        QCOMPARE(delegate.files(), QList<QByteArray>{f + "/real.mp3"});
    }

    void archiveFractionOfOneInTwo()
    {
        QVERIFY(writeFile(folder + QStringLiteral("/a.mp3"), "x"));
        QVERIFY(writeFile(folder + QStringLiteral("/b.txt"), "x"));
        QCOMPARE(differ->scanDirectoryAtPath(QFile::encodeName(folder)), 0.5f);
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QCOMPARE(differ->scanDirectoryAtPath(QFile::encodeName(folder)), 0.0f);
    }

    void exclusionWalkTwiceKeepsOneRecordPerFolder()
    {
        QDir().mkpath(folder + QStringLiteral("/album/cd1"));
        auto *top = store->context->insertNew<Directory>();
        top->setName("root");
        top->addSubdirectoriesObject(dir);
        differ->setRoots({dir});
        const QByteArray album = QFile::encodeName(folder) + "/album";
        differ->excludeDirectoryByScanTimeAtPath(album);
        differ->excludeDirectoryByScanTimeAtPath(album);
        Directory *rec = dir->findSubdirectoryNamed("album", false);
        QVERIFY(rec);
        QCOMPARE(rec->subdirectories().size(), size_t(1));
        QVERIFY(*rec->lastScanTime() > dateAddSeconds(dateNow(), 30));
        LogCapture log;
        differ->excludeDirectoryByScanTimeAtPath("/elsewhere/x");
        QCOMPARE(log.lines(), QStringList{QStringLiteral("  subdir of: not found")});
    }

    void withoutStoreNothingIsScanned()
    {
        DirectoryDiffer bare([] { return static_cast<ManagedObjectContext *>(nullptr); });
        LogCapture log;
        QCOMPARE(bare.scanDirectoryAtPath(QFile::encodeName(folder)), 0.0f);
        QVERIFY(!bare.checkMOC());
        QCOMPARE(log.count(QStringLiteral("ManagedObjectContext not set")), 2);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "test_scanner.moc"
