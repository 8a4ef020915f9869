// What a scan of one folder takes: what is new, uncertain, remembered; archive scans, the
// exclusion walk; the folder tree's lookups by path component, nothing added under a deleted
// folder. (Which names count: the generated histories, with their own table.)
#include "DifferFixture.h"
#include "store/File.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestScanner : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    std::unique_ptr<OpenStore> store;
    RecordingDelegate delegate;
    std::unique_ptr<DirectoryDiffer> differ;
    QString folder;
    QByteArray bytes;
    Directory *dir = nullptr;

    // Writes a file of the folder, dated secondsAgo before `from` when given.
    void put(const char *name, const QByteArray &content, std::optional<Date> from = {}, double secondsAgo = 0)
    {
        QVERIFY(writeFile(folder + QLatin1Char('/') + QLatin1String(name), content));
        if (!from)
            return;
        const qint64 ns = dateToNanos(dateAddSeconds(*from, -secondsAgo));
        const timespec t{ns / 1000000000, ns % 1000000000}, times[2] = {t, t};
        QVERIFY(utimensat(AT_FDCWD, (bytes + '/' + name).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
    }
    // The leaf names of the folder's file records (a scan makes one for each file it queues).
    QList<QByteArray> records() const
    {
        QList<QByteArray> names;
        for (File *f : dir->files())
            names << f->name().mid(bytes.size() + 1);
        std::sort(names.begin(), names.end());
        return names;
    }
    using Names = QList<QByteArray>;

private slots:
    void init()
    {
        static int n = 0;
        folder = tmp.path() + QStringLiteral("/case%1").arg(++n);
        bytes = QFile::encodeName(folder);
        QDir().mkpath(folder);
        store = std::make_unique<OpenStore>(folder + QStringLiteral(".store"));
        differ = std::make_unique<DirectoryDiffer>([this] { return store->context.get(); });
        differ->setDelegate(&delegate);
        delegate.clear();
        dir = newDirectory(store->context.get(), bytes);
    }
    void cleanup() { differ.reset(); store.reset(); }

    // Dates within 30 s of the last scan: not taken at a run's first scan, later only when not listed.
    void uncertainFilesAtFirstAndLaterScans()
    {
        const Date last = dateNow();
        dir->setLastScanTime(last);
        put("a.mp3", "a", last, 10);
        differ->scanDirectory(dir, 0, false, last);
        QCOMPARE(records(), Names());
        put("b.mp3", "b", last); // dated at the scan, not in its list: taken
        put("c.mp3", "c", last, 30); // exactly 30 s before: outside
        differ->scanDirectory(dir, 0, false, last);
        QCOMPARE(records(), Names{"b.mp3"});
        // Handed over: dated at the last scan is not new, and b is unchanged.
        dir->deleteFileNamed("b.mp3", false);
        differ->scanDirectory(dir, 0, false, last);
        QCOMPARE(records(), Names());
        // Written again, dated at the last scan (a coarse clock): taken.
        put("a.mp3", "a2", last);
        differ->scanDirectory(dir, 0, false, last);
        QCOMPARE(records(), Names{"a.mp3"});
    }

    void archiveScanHandsOverDepthsZeroToThree()
    {
        QList<QByteArray> expected;
        QString path = folder;
        for (int depth = 0; depth <= 4; path += QStringLiteral("/d%1").arg(++depth)) {
            const QString song = path + QStringLiteral("/t%1.mp3").arg(depth);
            QVERIFY(QDir().mkpath(path) && writeFile(song, "x"));
            expected << QFile::encodeName(song);
        }
        expected.removeLast(); // depth 4 is beyond the limit
        put("notes.txt", "x");
        put("cover.jpg", "x");
        QVERIFY(::symlink("/etc", (bytes + "/d1/escape").constData()) == 0);
        QVERIFY(::symlink("/etc/hostname", (bytes + "/linked.mp3").constData()) == 0);
        const size_t before = store->context->liveCount();
        // 4 music files of 6 regular ones: links are neither, nor followed.
        QCOMPARE(differ->scanDirectoryAtPath(bytes), 4.0f / 6.0f);
        QList<QByteArray> got = delegate.files(); // each once, in listing order
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(got, expected);
        QCOMPARE(store->context->liveCount(), before); // the scratch record is gone again
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QCOMPARE(differ->scanDirectoryAtPath(bytes), 0.0f);
    }

    // Never a link, fifo, device or folder with a music name, in a watched folder or an archive.
    void onlyRegularFilesAreTaken()
    {
        dir->setLastScanTime(dateAddSeconds(dateNow(), -100));
        put("real.mp3", "music");
        const QByteArray real = bytes + "/real.mp3";
        QVERIFY(::symlink(real.constData(), (bytes + "/link.mp3").constData()) == 0);
        QVERIFY(::symlink("/etc/hostname", (bytes + "/outside.mp3").constData()) == 0);
        QVERIFY(::mkfifo((bytes + "/fifo.mp3").constData(), 0644) == 0);
        QVERIFY(::mkdir((bytes + "/folder.mp3").constData(), 0755) == 0);
        QVERIFY(::symlink("/dev/zero", (bytes + "/zero.m4a").constData()) == 0);
        differ->scanDirectory(dir, 0, false, dateNow());
        QCOMPARE(records(), Names{"real.mp3"});
        differ->scanDirectoryAtPath(bytes);
        QCOMPARE(delegate.files(), Names{real});
    }

    void exclusionWalkTwiceKeepsOneRecordPerFolder()
    {
        QDir().mkpath(folder + QStringLiteral("/album/cd1"));
        newDirectory(store->context.get(), "root")->addSubdirectoriesObject(dir);
        differ->setRoots({dir});
        differ->excludeDirectoryByScanTimeAtPath(bytes + "/album");
        differ->excludeDirectoryByScanTimeAtPath(bytes + "/album");
        Directory *rec = dir->findSubdirectoryNamed("album", false);
        QVERIFY(rec);
        QCOMPARE(rec->subdirectories().size(), size_t(1));
        QVERIFY(*rec->lastScanTime() > dateAddSeconds(dateNow(), 30));
    }

    void siblingWithTheSamePrefixIsNotInside()
    {
        Directory *top = newDirectory(store->context.get(), "root"), *downloads = nullptr, *music = nullptr;
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads", true, &downloads));
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads Music", true, &music));
        QVERIFY(!top->addSubdirectoryNamed("/home/u/Downloads", true)); // already there
        QCOMPARE(top->subdirectories().size(), size_t(2));
        QCOMPARE(top->findSubdirectory("/home/u/Downloads Music/new"), music);
        QCOMPARE(downloads->addSubdirectoryChainLeadingToPath("/home/u/Downloads Music", 3, nullptr), nullptr);
        QVERIFY(!top->addSubdirectoryNamed("/home/u/x/", true));
        QVERIFY(!top->addSubdirectoryNamed("relative", true));
    }

    // The main thread may delete a folder's record while the differ's thread adds below it.
    void nothingIsAddedUnderADeletedFolder()
    {
        Directory *root = nullptr, *sub = nullptr;
        QVERIFY(dir->addSubdirectoryNamed("/w/Downloads", true, &root));
        QVERIFY(root->addSubdirectoryNamed("sub", false, &sub));
        QVERIFY(dir->deleteSubdirectoryNamed("/w/Downloads", true));
        QVERIFY(root->isDeleted() && sub->isDeleted());
        Directory *child = root;
        QVERIFY(!sub->addSubdirectoryNamed("deeper", false, &child));
        QCOMPARE(child, nullptr);
        QCOMPARE(sub->addFileNamed("song.mp3", false), nullptr);
        QCOMPARE(root->addSubdirectoryChainLeadingToPath("/w/Downloads/a/b", 3, nullptr), nullptr);
        QVERIFY(store->save());
        store = std::make_unique<OpenStore>(folder + QStringLiteral(".store"));
        QVERIFY2(store->ok(), qPrintable(store->error.text()));
        QCOMPARE(store->count("Directory"), size_t(1)); // the case folder's own
        QCOMPARE(store->count("File"), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "test_scanner.moc"
