// The folder tree: chains down to event paths within the depth limit,
// lookups by path component, and files compared with the last scan.
#include "TestSupport.h"
#include "store/Directory.h"
#include "store/File.h"
#include "../store/StoreFixture.h"
#include <fcntl.h>
#include <sys/stat.h>

class TestDirectoryTree : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

    Directory *makeRoot(ManagedObjectContext *ctx, const QByteArray &name)
    {
        auto *d = ctx->insertNew<Directory>();
        d->setName(name);
        return d;
    }

private slots:
    void chainsStopAtTheDepthLimit()
    {
        OpenStore s(tmp.path() + QStringLiteral("/a"));
        Directory *root = makeRoot(s.context.get(), "/r");
        int depth = -1;
        QCOMPARE(root->addSubdirectoryChainLeadingToPath("/r", 3, &depth), root);
        QCOMPARE(depth, 0);
        Directory *c = root->addSubdirectoryChainLeadingToPath("/r/a/b/c", 3, &depth);
        QVERIFY(c);
        QCOMPARE(depth, 3);
        QCOMPARE(c->name(), QByteArray("/r/a/b/c"));
        QCOMPARE(c->superdirectory()->superdirectory()->superdirectory(), root);
        const size_t before = s.context->fetchAll(QStringLiteral("Directory")).size();
        QCOMPARE(root->addSubdirectoryChainLeadingToPath("/r/a/b/c/d", 3, &depth), nullptr);
        QCOMPARE(depth, 4);
        QCOMPARE(s.context->fetchAll(QStringLiteral("Directory")).size(), before);
        // The existing chain is reused.
        QCOMPARE(root->addSubdirectoryChainLeadingToPath("/r/a/b/c", 3, &depth), c);
        QCOMPARE(s.context->fetchAll(QStringLiteral("Directory")).size(), before);
        depth = -1;
        QCOMPARE(root->addSubdirectoryChainLeadingToPath("/rx/a", 3, &depth), nullptr);
        QCOMPARE(depth, -1);
    }

    void siblingWithTheSamePrefixIsNotInside()
    {
        OpenStore s(tmp.path() + QStringLiteral("/b"));
        Directory *top = makeRoot(s.context.get(), "root");
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads", true));
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads Music", true));
        QVERIFY(!top->addSubdirectoryNamed("/home/u/Downloads", true)); // already there
        QCOMPARE(top->subdirectories().size(), size_t(2));
        Directory *music = top->findSubdirectory("/home/u/Downloads Music/new");
        QVERIFY(music);
        QCOMPARE(music->name(), QByteArray("/home/u/Downloads Music"));
        Directory *downloads = top->findSubdirectoryNamed("/home/u/Downloads", true);
        int depth = -1;
        QCOMPARE(downloads->addSubdirectoryChainLeadingToPath("/home/u/Downloads Music", 3, &depth), nullptr);
        QVERIFY(!top->addSubdirectoryNamed("/home/u/x/", true));
        QVERIFY(!top->addSubdirectoryNamed("relative", true));
    }

    void deleteByIndexCountsInNameOrder()
    {
        OpenStore s(tmp.path() + QStringLiteral("/c"));
        Directory *top = makeRoot(s.context.get(), "root");
        top->addSubdirectoryNamed("/z", true);
        top->addSubdirectoryNamed("/a", true);
        top->addSubdirectoryNamed("/m", true);
        QVERIFY(top->deleteSubdirectoryAtIndex(1));
        QVERIFY(!top->findSubdirectoryNamed("/m", true));
        QVERIFY(!top->deleteSubdirectoryAtIndex(2));
        QVERIFY(top->deleteSubdirectoryNamed("/z", true));
        QVERIFY(!top->deleteSubdirectoryNamed("/z", true));
    }

    void filesComparedWithTheLastScan()
    {
        OpenStore s(tmp.path() + QStringLiteral("/d"));
        const QByteArray folder = QFile::encodeName(tmp.path());
        Directory *dir = makeRoot(s.context.get(), folder);
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/song.mp3"), "abc"));
        quint64 size = 99;
        std::optional<Date> mtime;
        QVERIFY(dir->fileIsNewerThanLastScanTime("song.mp3", false, &size, &mtime)); // no lastScanTime
        QCOMPARE(size, quint64(3));
        dir->setLastScanTime(*mtime);
        QVERIFY(!dir->fileIsNewerThanLastScanTime("song.mp3", false, &size, &mtime)); // equal date
        QVERIFY(!dir->fileIsNewerThanLastScanTime("gone.mp3", false, &size, &mtime));
        QCOMPARE(size, quint64(0));
        QVERIFY(!mtime);

        File *f = dir->addFileNamed("song.mp3", false);
        QCOMPARE(f->name(), folder + "/song.mp3");
        QCOMPARE(f->size(), quint64(3));
        QCOMPARE(dir->addFileNamed(folder + "/song.mp3", true), f); // refreshed, not duplicated
        QCOMPARE(dir->files().size(), size_t(1));
        QVERIFY(dir->deleteFileNamed("song.mp3", false));
        QVERIFY(f->isDeleted());
        QVERIFY(!dir->deleteFileNamed("song.mp3", false));
    }

    // The main thread may delete a watched folder's record while the differ's
    // thread adds below it: nothing is added under a deleted record, and the
    // store still loads after a save.
    void nothingIsAddedUnderADeletedFolder()
    {
        const QString file = tmp.path() + QStringLiteral("/e");
        {
            OpenStore s(file);
            Directory *top = makeRoot(s.context.get(), "root");
            Directory *root = nullptr, *sub = nullptr;
            QVERIFY(top->addSubdirectoryNamed("/w/Downloads", true, &root));
            QVERIFY(root->addSubdirectoryNamed("sub", false, &sub));
            QVERIFY(top->deleteSubdirectoryNamed("/w/Downloads", true));
            QVERIFY(root->isDeleted() && sub->isDeleted());
            Directory *child = root;
            QVERIFY(!sub->addSubdirectoryNamed("deeper", false, &child));
            QCOMPARE(child, nullptr);
            QCOMPARE(sub->addFileNamed("song.mp3", false), nullptr);
            QCOMPARE(root->addSubdirectoryChainLeadingToPath("/w/Downloads/a/b", 3, nullptr), nullptr);
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        OpenStore again(file);
        QVERIFY2(again.ok(), qPrintable(again.error.text()));
        QCOMPARE(again.context->fetchAll(QStringLiteral("Directory")).size(), size_t(1));
        QVERIFY(again.context->fetchAll(QStringLiteral("File")).empty());
    }
};

QTEST_GUILESS_MAIN(TestDirectoryTree)
#include "test_directory_tree.moc"
