// The preferences file read on one thread while another writes it: never
// a torn or older value. Run under ThreadSanitizer.
#include "TestSupport.h"
#include "settings/Settings.h"
#include <atomic>
#include <thread>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void valuesWrittenOnOneThreadAreSeenOnTheOther()
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
            QVERIFY(now >= last); // never goes back, never a torn value
            last = now;
        }
        writer.join();
        QCOMPARE(Settings::lastSCEvent(), quint64(200));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings_threads.moc"
