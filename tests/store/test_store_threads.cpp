// One store used by two threads as the program does: the watcher thread adds and deletes records,
// the main thread reads the trees, changes watched folders and saves; and the preferences file, which
// the watcher thread writes. Run under ThreadSanitizer.
#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/StoreFile.h"
#include <thread>

namespace {
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
    // The main thread reads file counts (Directory::files()) while the watcher changes them.
    void twoThreadsShareOneStore()
    {
        Rig rig;
        auto [ctx, root] = std::pair(rig.ctx, rig.root);
        auto *watched = newDirectory(ctx, "/home/u/Downloads", root);
        std::atomic<bool> stop{false};
        std::thread watcher([&] {
            StoreError e;
            for (int round = 0; round < 300; ++round) {
                File *f = newFile(ctx, "/home/u/Downloads/" + QByteArray::number(round) + ".mp3", nullptr);
                f->setModified(dateNow());
                watched->addFilesObject(f);
                if (round % 3 == 0)
                    watched->deleteFileNamed(f->name(), true);
                if (round % 25 == 0)
                    ctx->save(&e);
            }
            stop = true;
        });
        for (int round = 0; !stop; ++round) {
            newDirectory(ctx, "/home/u/Extra" + QByteArray::number(round), root);
            for (Directory *d : root->sortedSubdirectories())
                QVERIFY(d->files().size() <= 300);
            root->deleteSubdirectoryAtIndex(1); // "/home/u/Downloads" sorts first
            if (round % 20 == 0)
                rig.s.save();
        }
        watcher.join();
        QVERIFY(rig.s.save());
        QCOMPARE(watched->files().size(), size_t(200));
    }

    // A hook holds a save in its sync (no slow disk here): meanwhile the store can be taken and
    // changed, and the next save keeps those changes.
    void storeIsFreeWhileASaveSyncs()
    {
        Rig rig;
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
            rig.ctx->save(&e);
        });
        QTRY_VERIFY_WITH_TIMEOUT(syncing.load(), 10000);
        std::atomic<bool> took{false};
        std::thread other([&] {
            auto lock = rig.ctx->lock();
            newDirectory(rig.ctx, "/home/u/Downloads", rig.root);
            took = true;
        });
        const bool tookWhileSyncing = QTest::qWaitFor([&] { return took.load(); }, 5000);
        released = true;
        saver.join();
        other.join();
        StoreFile::setBeforeSyncForTests(nullptr);
        QVERIFY(tookWhileSyncing);
        QVERIFY(rig.s.save());
        QCOMPARE(OpenStore(rig.path).count("Directory"), size_t(2));
    }

    // Records added under folders the main thread deletes and saves: every saved store loads.
    void recordsAddedUnderFoldersBeingDeleted()
    {
        Rig rig;
        auto [ctx, root] = std::pair(rig.ctx, rig.root);
        std::vector<Directory *> folders;
        for (int i = 0; i < 200; ++i)
            folders.push_back(newDirectory(ctx, "/home/u/Downloads/" + QByteArray::number(i), root));
        std::atomic<int> deleted{0};
        std::thread watcher([&] {
            for (size_t i = 0; i < folders.size(); ++i) {
                while (deleted.load() < int(i) / 2) // stay close behind the deletions
                    std::this_thread::yield();
                auto *sub = newDirectory(ctx, folders[i]->name() + "/album", folders[i]);
                newFile(ctx, sub->name() + "/a.mp3", sub);
            }
        });
        QString firstFailure;
        for (size_t i = 0; i < folders.size(); i += 2) {
            ctx->deleteObject(folders[i]);
            deleted = int(i) + 2;
            if (i % 20 == 0 && firstFailure.isEmpty()) {
                if (!rig.s.save())
                    firstFailure = rig.s.error.text();
                else if (OpenStore again(rig.path); !again.ok())
                    firstFailure = again.error.text();
            }
        }
        watcher.join();
        QVERIFY2(firstFailure.isEmpty(), qPrintable(firstFailure));
        QVERIFY(rig.s.save());
        OpenStore again(rig.path);
        QVERIFY2(again.ok(), qPrintable(again.error.text()));
        for (ManagedObject *o : again.context->fetchAll(QStringLiteral("File"))) {
            const QByteArray name = static_cast<File *>(o)->name();
            QVERIFY2(name.split('/').at(4).toInt() % 2 == 1, name.constData());
        }
        QCOMPARE(again.count("File"), size_t(100));
    }

    // Two loads at once must not share parse memory.
    void storesLoadOnTwoThreadsAtOnce()
    {
        Rig rigs[2];
        const auto last = [](int t) { return "/home/u/" + QByteArray::number(t) + "/1999"; };
        for (int t = 0; t < 2; ++t) {
            for (int i = 0; i < 2000; ++i)
                newDirectory(rigs[t].ctx, "/home/u/" + QByteArray::number(t) + "/" + QByteArray::number(i), rigs[t].root);
            QVERIFY(rigs[t].s.save());
        }
        std::atomic<int> wrong{0};
        auto loadMany = [&](int t) {
            for (int round = 0; round < 20; ++round) {
                OpenStore s(rigs[t].path);
                const auto dirs = s.ok() ? s.context->fetchAll(QStringLiteral("Directory")) : std::vector<ManagedObject *>();
                wrong += dirs.size() != 2001 || static_cast<Directory *>(dirs.back())->name() != last(t);
            }
        };
        std::thread other(loadMany, 1);
        loadMany(0);
        other.join();
        QCOMPARE(wrong.load(), 0);
    }

    // Read on one thread while another writes: never a torn or older value.
    void settingsWrittenOnOneThreadAreSeenOnTheOther()
    {
        TempHome home;
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (quint64 i = 1; i <= 200; ++i)
                Settings::setLastSCEvent(i);
            done = true;
        });
        quint64 last = 0;
        while (!done) {
            const quint64 now = Settings::lastSCEvent();
            QVERIFY(now >= last);
            last = now;
        }
        writer.join();
        QCOMPARE(Settings::lastSCEvent(), quint64(200));
    }
};

QTEST_GUILESS_MAIN(TestStoreThreads)
#include "test_store_threads.moc"
