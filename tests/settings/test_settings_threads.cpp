// The preferences half of the settings facade: defaults, writes that reach
// the file at once, and the hotkey's high byte.
#include "TestSupport.h"
#include "settings/Settings.h"
#include <QSettings>

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void writesReachTheFileAndOutliveDefaults()
    {
        TempHome home;
        QCOMPARE(Settings::ifStopped(), true);
        QVERIFY(!QFile::exists(home.prefsPath()));
        // Writing the default still stores the key.
        Settings::setIfStopped(true);
        QSettings file(home.prefsPath(), QSettings::IniFormat);
        QVERIFY(file.contains(QStringLiteral("IfStopped")));
        Settings::setUnzipFiles(false);
        Settings::setLastSCEvent(0xFFFFFFFFFFFFFFFEULL);
        Settings::setSearchLocation(QStringLiteral("http://127.0.0.1:8080/find?q="));
        QSettings reread(home.prefsPath(), QSettings::IniFormat);
        QCOMPARE(reread.value(QStringLiteral("UnzipFiles")).toBool(), false);
        QCOMPARE(Settings::unzipFiles(), false);
        QCOMPARE(Settings::lastSCEvent(), quint64(0xFFFFFFFFFFFFFFFEULL));
        QCOMPARE(Settings::searchLocation(), QStringLiteral("http://127.0.0.1:8080/find?q="));
        QCOMPARE(Settings::objectForKey(QStringLiteral("NoSuchKey")), QVariant());
        QCOMPARE(Settings::boolForKey(QStringLiteral("NoSuchKey")), false);
        QCOMPARE(Settings::ULLForKey(QStringLiteral("NoSuchKey")), quint64(0));
        // The hotkey drops the high byte.
        Settings::setDownloadHotkey(0xFF00000000000031ULL);
        QCOMPARE(Settings::downloadHotkey(), quint64(0x31));
        Settings::setDownloadHotkey(19791209299969ULL);
        QCOMPARE(Settings::downloadHotkey(), quint64(19791209299969ULL));
    }

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
