// Two threads using one store the way the program does: the watcher thread
// adds and deletes file records and saves, the main thread reads the trees,
// adds and removes watched folders and saves. Run under ThreadSanitizer.
#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/StoreFile.h"
#include <thread>

namespace {
// A store in a temporary folder with its tree top.
struct Rig {
    QTemporaryDir tmp;
    QString path = tmp.path() + QStringLiteral("/storedata");
    OpenStore s{path};
    ManagedObjectContext *ctx = s.context.get();
    Directory *root = newDirectory(ctx, "root");
};
}

class TestStoreThreads : public QObject {
    Q_OBJECT

private slots:
    void twoThreadsShareOneStore()
    {
        Rig rig;
        auto [ctx, root, path] = std::tuple(rig.ctx, rig.root, rig.path);
        auto *watched = newDirectory(ctx, "/home/u/Downloads", root);

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
            newDirectory(ctx, "/home/u/Extra" + QByteArray::number(round), root);
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

    // A test double stands in for a slow disk (none can be had here): it holds
    // a save inside its sync. Meanwhile the other thread takes the store and
    // changes it, and the next save leaves those changes on disk.
    void storeIsFreeWhileASaveSyncs()
    {
        Rig rig;
        auto [ctx, root, path] = std::tuple(rig.ctx, rig.root, rig.path);
        static std::atomic<bool> syncing, released;
        syncing = false;
        released = false;
        StoreFile::setBeforeSyncForTests([] {
            syncing = true;
            while (!released)
                std::this_thread::yield();
        });
        std::thread saver([&] {
            StoreError e;
            ctx->save(&e);
        });
        QTRY_VERIFY_WITH_TIMEOUT(syncing.load(), 10000);
        std::atomic<bool> took{false};
        std::thread other([&] {
            auto lock = ctx->lock();
            newDirectory(ctx, "/home/u/Downloads", root);
            took = true;
        });
        const bool tookWhileSyncing = QTest::qWaitFor([&] { return took.load(); }, 5000);
        released = true;
        saver.join();
        other.join();
        StoreFile::setBeforeSyncForTests(nullptr);
        QVERIFY(tookWhileSyncing);
        StoreError e;
        QVERIFY(ctx->save(&e));
        OpenStore again(path);
        QCOMPARE(again.context->fetchAll(QStringLiteral("Directory")).size(), size_t(2));
    }

    // The watcher thread adds records under folders it found while the main
    // thread deletes those folders and saves: every saved store must load.
    void recordsAddedUnderFoldersBeingDeleted()
    {
        Rig rig;
        auto [ctx, root, path] = std::tuple(rig.ctx, rig.root, rig.path);
        std::vector<Directory *> folders;
        for (int i = 0; i < 200; ++i)
            folders.push_back(newDirectory(ctx, "/home/u/Downloads/" + QByteArray::number(i), root));
        std::atomic<int> deleted{0};
        std::thread watcher([&] {
            for (size_t i = 0; i < folders.size(); ++i) {
                while (deleted.load() < int(i) / 2) // stay close behind the deletions
                    std::this_thread::yield();
                auto *sub = newDirectory(ctx, folders[i]->name() + "/album", folders[i]);
                auto *f = ctx->insertNew<File>();
                f->setName(sub->name() + "/a.mp3");
                sub->addFilesObject(f);
            }
        });
        StoreError e;
        QString firstFailure;
        for (size_t i = 0; i < folders.size(); i += 2) {
            ctx->deleteObject(folders[i]);
            deleted = int(i) + 2;
            if (i % 20 == 0 && firstFailure.isEmpty()) {
                if (!ctx->save(&e))
                    firstFailure = e.text();
                OpenStore again(path);
                if (!again.ok())
                    firstFailure = again.error.text();
            }
        }
        watcher.join();
        QVERIFY2(firstFailure.isEmpty(), qPrintable(firstFailure));
        QVERIFY(ctx->save(&e));
        OpenStore again(path);
        QVERIFY2(again.ok(), qPrintable(again.error.text()));
        // Only the folders that were kept hold saved records.
        for (ManagedObject *o : again.context->fetchAll(QStringLiteral("File"))) {
            const QByteArray name = static_cast<File *>(o)->name();
            const int folder = name.split('/').at(4).toInt();
            QVERIFY2(folder % 2 == 1, name.constData());
        }
        QCOMPARE(again.context->fetchAll(QStringLiteral("File")).size(), size_t(100));
    }

    // Each load parses into memory of its own; two at once on two threads
    // must neither share it nor free each other's.
    void storesLoadOnTwoThreadsAtOnce()
    {
        QTemporaryDir tmp;
        QStringList paths;
        for (int t = 0; t < 2; ++t) {
            paths << tmp.path() + QStringLiteral("/storedata%1").arg(t);
            OpenStore s(paths.last());
            auto *root = newDirectory(s.context.get(), "root");
            for (int i = 0; i < 2000; ++i)
                newDirectory(s.context.get(), "/home/u/" + QByteArray::number(t) + "/" + QByteArray::number(i), root);
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        std::atomic<int> wrong{0};
        auto loadMany = [&](int t) {
            for (int round = 0; round < 20; ++round) {
                OpenStore s(paths[t]);
                const auto dirs = s.ok() ? s.context->fetchAll(QStringLiteral("Directory")) : std::vector<ManagedObject *>();
                if (dirs.size() != 2001 || static_cast<Directory *>(dirs.back())->name() != "/home/u/" + QByteArray::number(t) + "/1999")
                    ++wrong;
            }
        };
        std::thread other(loadMany, 1);
        loadMany(0);
        other.join();
        QCOMPARE(wrong.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestStoreThreads)
#include "test_store_threads.moc"
