// Two threads using one store the way the program does: the watcher thread
// adds and deletes file records and saves, the main thread reads the trees,
// adds and removes watched folders and saves. Run under ThreadSanitizer.
#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/Directory.h"
#include "store/File.h"
#include <thread>

class TestStoreThreads : public QObject {
    Q_OBJECT

private slots:
    void twoThreadsShareOneStore()
    {
        QTemporaryDir tmp;
        const QString path = tmp.path() + QStringLiteral("/storedata");
        OpenStore s(path);
        QVERIFY(s.ok());
        ManagedObjectContext *ctx = s.context.get();
        auto *root = ctx->insertNew<Directory>();
        root->setName("root");
        auto *watched = ctx->insertNew<Directory>();
        watched->setName("/home/u/Downloads");
        root->addSubdirectoriesObject(watched);

        std::atomic<bool> stop{false};
        std::thread watcher([&] {
            StoreError e;
            for (int round = 0; round < 300; ++round) {
                auto *f = ctx->insertNew<File>();
                f->setName("/home/u/Downloads/" + QByteArray::number(round) + ".mp3");
                f->setSize(quint64(round));
                f->setModified(dateNow());
                watched->addFilesObject(f);
                if (round % 3 == 0)
                    watched->deleteFileNamed(f->name(), true);
                if (round % 25 == 0)
                    ctx->save(&e);
            }
            stop = true;
        });
        StoreError e;
        int round = 0;
        while (!stop) {
            auto *extra = ctx->insertNew<Directory>();
            extra->setName("/home/u/Extra" + QByteArray::number(round));
            root->addSubdirectoriesObject(extra);
            size_t files = 0;
            for (Directory *d : root->sortedSubdirectories())
                files += d->files().size();
            Q_UNUSED(files);
            root->deleteSubdirectoryAtIndex(0 /* "/home/u/Downloads" sorts first */ + 1);
            if (++round % 20 == 0)
                ctx->save(&e);
        }
        watcher.join();
        QVERIFY(ctx->save(&e));
        QCOMPARE(watched->files().size(), size_t(200));
        OpenStore again(path);
        QVERIFY2(again.ok(), qPrintable(again.error.text()));
        QCOMPARE(again.context->fetchAll(QStringLiteral("File")).size(), size_t(200));
    }
};

QTEST_GUILESS_MAIN(TestStoreThreads)
#include "test_store_threads.moc"
