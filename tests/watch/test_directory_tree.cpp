// The folder tree: lookups by path component; nothing added under a deleted folder.
#include "TestSupport.h"
#include "store/File.h"
#include "../store/StoreFixture.h"

class TestDirectoryTree : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private slots:
    void siblingWithTheSamePrefixIsNotInside()
    {
        OpenStore s(tmp.path() + QStringLiteral("/sibling"));
        Directory *top = newDirectory(s.context.get(), "root"), *downloads = nullptr, *music = nullptr;
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
        const QString path = tmp.path() + QStringLiteral("/deleted");
        auto s = std::make_unique<OpenStore>(path);
        Directory *top = newDirectory(s->context.get(), "root"), *root = nullptr, *sub = nullptr;
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
        s = std::make_unique<OpenStore>(path);
        QVERIFY2(s->ok(), qPrintable(s->error.text()));
        QCOMPARE(s->context->fetchAll(QStringLiteral("Directory")).size(), size_t(1));
        QCOMPARE(s->context->fetchAll(QStringLiteral("File")).size(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryTree)
#include "test_directory_tree.moc"
