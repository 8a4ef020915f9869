// What the settings read back: booleans only from true/false/1/0, writes that reach the file at once,
// and standard folders in a clean absolute form.
#include "TestSupport.h"
#include "base/StandardFolders.h"
#include "settings/Settings.h"

class TestSettingsValues : public QObject {
    Q_OBJECT

private slots:
    // Each accessor reads its own key. A hand edit's "@ByteArray(x)" must not send music to the Trash.
    void onlyTrueFalseOneZeroAreBooleans()
    {
        TempHome home;
        QDir().mkpath(QFileInfo(home.prefsPath()).path());
        QVERIFY(writeFile(home.prefsPath(), "[General]\nDeleteFiles=@ByteArray(x)\nDeleteZips=2\nUnzipFiles=maybe\n"
                                            "IfStopped=0\nPlaySongs=1\nGrowlNotifications=false\nStartAtLogin=true\n"
                                            "DeleteArchiveContents=yes\nDidFirstLoad=1\nUseDownloadHotkey=false\nImportMoreFormats=true\n"));
        LogCapture log;
        const QList<bool> read = {Settings::deleteFiles(), Settings::deleteZips(), Settings::deleteArchiveContents(), Settings::unzipFiles(),
                                  Settings::ifStopped(), Settings::playSongs(), Settings::growlNotifications(), Settings::startAtLogin(),
                                  Settings::didFirstLoad(), Settings::useDownloadHotkey(), Settings::importMoreFormats(), Settings::deleteFiles()};
        QCOMPARE(read, (QList<bool>{false, false, false, true, false, true, false, true, true, false, true, false}));
        // DeleteFiles is read for every imported file: said once.
        QCOMPARE(log.lines().filter(QStringLiteral("DeleteFiles")).size(), 1);
    }

    void writesReachTheFileAtOnce()
    {
        TempHome home;
        Settings::setIfStopped(true); // the default, still stored
        Settings::setMpdMusicFolder("/srv/m\xfcsic"); // a path of bytes, kept as given
        QVERIFY(QSettings(home.prefsPath(), QSettings::IniFormat).contains(QStringLiteral("IfStopped")));
        QCOMPARE(Settings::mpdMusicFolder(), QByteArray("/srv/m\xfcsic"));
        Settings::setDownloadHotkey(0xFF00000000000031ULL); // the high byte is dropped
        QCOMPARE(Settings::downloadHotkey(), quint64(0x31));
    }

    void cleanAbsolutePaths_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("clean");
        QTest::newRow("above the root") << QByteArray("/../home") << QByteArray("/home");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("names of dots") << QByteArray("/home/u/...zip/..a") << QByteArray("/home/u/...zip/..a");
        QTest::newRow("not utf-8") << QByteArray("/home/u/caf\xe9/") << QByteArray("/home/u/caf\xe9");
        QTest::newRow("relative") << QByteArray("Downloads") << QByteArray();
    }
    void cleanAbsolutePaths()
    {
        QFETCH(QByteArray, path);
        QTEST(StandardFolders::cleanAbsolutePath(path).value_or(QByteArray()), "clean");
    }

    // $XDG_DOWNLOAD_DIR as sessions export it and from user-dirs.dirs: slashes, dots and dot-dots are cleaned.
    void downloadsFolderIsStoredClean()
    {
        TempHome home;
        for (const char *given : {"Fetched/", "x/../Fetched//"}) {
            qputenv("XDG_DOWNLOAD_DIR", home.bytes(QString::fromLatin1(given)));
            QCOMPARE(StandardFolders::downloads().value_or(QByteArray()), home.bytes(QStringLiteral("Fetched")));
        }
        qunsetenv("XDG_DOWNLOAD_DIR");
        QVERIFY(QDir().mkpath(home.path(QStringLiteral(".config"))) && writeFile(home.path(QStringLiteral(".config/user-dirs.dirs")), "XDG_DOWNLOAD_DIR=\"$HOME/Fetched/./\"\n"));
        QCOMPARE(StandardFolders::downloads().value_or(QByteArray()), home.bytes(QStringLiteral("Fetched")));
    }
};

QTEST_GUILESS_MAIN(TestSettingsValues)
#include "test_settings_values.moc"
