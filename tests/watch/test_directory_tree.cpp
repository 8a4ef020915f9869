// The folder tree: chains down to event paths within the depth limit,
// lookups by path component, and nothing added under a deleted folder.
#include "TestSupport.h"
#include "store/File.h"
#include "../store/StoreFixture.h"

class TestDirectoryTree : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString storePath;
    std::unique_ptr<OpenStore> s;
    Directory *top = nullptr;
    size_t count(const char *entity) const { return s->context->fetchAll(QLatin1String(entity)).size(); }

private slots:
    void init()
    {
        static int n = 0;
        storePath = tmp.path() + QStringLiteral("/store%1").arg(++n);
        s = std::make_unique<OpenStore>(storePath);
        top = newDirectory(s->context.get(), "root");
    }
    void cleanup() { s.reset(); }

    void chainsStopAtTheDepthLimit()
    {
        top->setName("/r");
        int depth = -1;
        QCOMPARE(top->addSubdirectoryChainLeadingToPath("/r", 3, &depth), top);
        QCOMPARE(depth, 0);
        Directory *c = top->addSubdirectoryChainLeadingToPath("/r/a/b/c", 3, &depth);
        QVERIFY(c);
        QCOMPARE(depth, 3);
        QCOMPARE(c->name(), QByteArray("/r/a/b/c"));
        QCOMPARE(c->superdirectory()->superdirectory()->superdirectory(), top);
        const size_t before = count("Directory");
        QCOMPARE(top->addSubdirectoryChainLeadingToPath("/r/a/b/c/d", 3, &depth), nullptr);
        QCOMPARE(depth, 4);
        QCOMPARE(top->addSubdirectoryChainLeadingToPath("/r/a/b/c", 3, &depth), c); // reused
        QCOMPARE(count("Directory"), before);
        depth = -1;
        QCOMPARE(top->addSubdirectoryChainLeadingToPath("/rx/a", 3, &depth), nullptr);
        QCOMPARE(depth, -1);
    }

    void siblingWithTheSamePrefixIsNotInside()
    {
        Directory *downloads = nullptr;
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads", true, &downloads));
        QVERIFY(top->addSubdirectoryNamed("/home/u/Downloads Music", true));
        QVERIFY(!top->addSubdirectoryNamed("/home/u/Downloads", true)); // already there
        QCOMPARE(top->subdirectories().size(), size_t(2));
        QCOMPARE(top->findSubdirectory("/home/u/Downloads Music/new")->name(), QByteArray("/home/u/Downloads Music"));
        QCOMPARE(downloads->addSubdirectoryChainLeadingToPath("/home/u/Downloads Music", 3, nullptr), nullptr);
        QVERIFY(!top->addSubdirectoryNamed("/home/u/x/", true));
        QVERIFY(!top->addSubdirectoryNamed("relative", true));
        QVERIFY(top->deleteSubdirectoryNamed("/home/u/Downloads", true));
        QVERIFY(!top->deleteSubdirectoryNamed("/home/u/Downloads", true));
        QCOMPARE(top->subdirectories().size(), size_t(1));
    }

    // The main thread may delete a watched folder's record while the differ's
    // thread adds below it: nothing is added under a deleted record, and the
    // store still loads after a save.
    void nothingIsAddedUnderADeletedFolder()
    {
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
        QVERIFY(s->context->save(&e));
        s = std::make_unique<OpenStore>(storePath);
        QVERIFY2(s->ok(), qPrintable(s->error.text()));
        QCOMPARE(count("Directory"), size_t(1));
        QCOMPARE(count("File"), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryTree)
#include "test_directory_tree.moc"
