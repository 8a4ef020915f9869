// The main and the differ's thread asking at once for the lazily built store get one (run under ThreadSanitizer).
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
};

QTEST_MAIN(TestAppStoreThreads)
#include "test_app_store_threads.moc"
