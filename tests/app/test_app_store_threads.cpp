// The controller builds its store lazily, for whichever thread asks first:
// the main thread and the differ's thread asking at once get one store.
// Run under ThreadSanitizer.
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "store/ManagedObjectContext.h"
#include <atomic>
#include <thread>

class TestAppStoreThreads : public QObject {
    Q_OBJECT

private slots:
    void twoThreadsBuildOneStore()
    {
        for (int round = 0; round < 20; ++round) {
            TempHome home;
            Rivulet_AppDelegate app(false);
            std::atomic<int> ready{0};
            ManagedObjectContext *fromOther = nullptr;
            std::thread other([&] {
                ++ready;
                while (ready < 2) {}
                fromOther = app.managedObjectContext();
            });
            ++ready;
            while (ready < 2) {}
            ManagedObjectContext *fromMain = app.managedObjectContext();
            other.join();
            QVERIFY(fromMain);
            QCOMPARE(fromOther, fromMain);
            QCOMPARE(app.managedObjectContext(), fromMain);
        }
    }

    // The session manager's quit takes handleQuit's path: the store is saved
    // and the program ends, as for SIGTERM.
    void sessionManagerQuitGoesThroughHandleQuit()
    {
        TempHome home;
        Rivulet_AppDelegate app(false);
        app.awakeFromNib();
        bool terminated = false;
        connect(&app, &Rivulet_AppDelegate::terminated, this, [&] { terminated = true; });
        app.managedObjectContext()->markChanged();
        QVERIFY(!app.quitForSessionManager());
        QVERIFY(terminated);
        QVERIFY(!app.managedObjectContext()->hasChanges());
    }
};

QTEST_MAIN(TestAppStoreThreads)
#include "test_app_store_threads.moc"
