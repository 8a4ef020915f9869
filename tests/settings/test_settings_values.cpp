// What the settings read back: booleans only from true/false/1/0 (anything
// else is the default, logged), the default search page on loopback, and the
// default watched folders in a clean absolute form.
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "base/StandardFolders.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include <QSettings>

class TestSettingsValues : public QObject {
    Q_OBJECT

private slots:
    void onlyTrueFalseOneZeroAreBooleans()
    {
        TempHome home;
        QDir().mkpath(QFileInfo(home.prefsPath()).path());
        // As a hand edit or another program could leave the file: DeleteFiles
        // must not move the user's music to the Trash because of "@ByteArray(x)".
        QVERIFY(writeFile(home.prefsPath(), "[General]\nDeleteFiles=@ByteArray(x)\nDeleteZips=2\nUnzipFiles=maybe\n"
                                            "IfStopped=0\nPlaySongs=1\nGrowlNotifications=false\nStartAtLogin=true\n"
                                            "DeleteArchiveContents=yes\n"));
        LogCapture log;
        QCOMPARE(Settings::deleteFiles(), false);
        QCOMPARE(Settings::deleteZips(), false);
        QCOMPARE(Settings::deleteArchiveContents(), false);
        QCOMPARE(Settings::unzipFiles(), true); // its default
        QVERIFY(log.contains(QStringLiteral("DeleteFiles is not a boolean; using its default false")));
        QVERIFY(log.contains(QStringLiteral("UnzipFiles is not a boolean; using its default true")));
        QCOMPARE(Settings::deleteFiles(), false); // read for every imported file: said once
        QCOMPARE(log.count(QStringLiteral("The stored value of DeleteFiles is not a boolean; using its default false")), 1);
        QCOMPARE(Settings::ifStopped(), false);
        QCOMPARE(Settings::playSongs(), true);
        QCOMPARE(Settings::growlNotifications(), false);
        QCOMPARE(Settings::startAtLogin(), true);
        // What the program writes itself reads back unchanged, and logs nothing.
        log.clear();
        Settings::setDeleteFiles(true);
        QCOMPARE(Settings::deleteFiles(), true);
        Settings::setDeleteFiles(false);
        QCOMPARE(Settings::deleteFiles(), false);
        QVERIFY(log.lines().isEmpty());
    }

    // More formats are off until chosen; the music folder for MPD is a path
    // of bytes, kept as given.
    void libraryChoices()
    {
        TempHome home;
        QCOMPARE(Settings::importMoreFormats(), false);
        QCOMPARE(Settings::mpdMusicFolder(), QByteArray());
        Settings::setImportMoreFormats(true);
        Settings::setMpdMusicFolder("/srv/m\xfcsic");
        QCOMPARE(Settings::importMoreFormats(), true);
        QCOMPARE(Settings::mpdMusicFolder(), QByteArray("/srv/m\xfcsic"));
    }

    void defaultSearchIsTheProgramsOwnPage()
    {
        TempHome home;
        const QString expected = QStringLiteral("http://127.0.0.1:%1/search/search.html#/s/mediafire/").arg(RIVULET_SEARCH_PORT);
        QCOMPARE(Settings::searchLocation(), expected);
        QCOMPARE(QString::fromLatin1(kDefaultSearchLocation), expected);
        QVERIFY(!QFile::exists(home.prefsPath()));
    }

    void cleanAbsolutePaths_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("clean");
        QTest::newRow("trailing slash") << QByteArray("/home/u/Downloads/") << QByteArray("/home/u/Downloads");
        QTest::newRow("doubled slashes") << QByteArray("//home//u///Downloads") << QByteArray("/home/u/Downloads");
        QTest::newRow("dot and dot-dot") << QByteArray("/home/u/./x/../Downloads/.") << QByteArray("/home/u/Downloads");
        QTest::newRow("above the root") << QByteArray("/../home") << QByteArray("/home");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("names of dots") << QByteArray("/home/u/...zip/..a") << QByteArray("/home/u/...zip/..a");
        QTest::newRow("not utf-8") << QByteArray("/home/u/caf\xe9/") << QByteArray("/home/u/caf\xe9");
        QTest::newRow("relative") << QByteArray("Downloads") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void cleanAbsolutePaths()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, clean);
        QCOMPARE(StandardFolders::cleanAbsolutePath(path).value_or(QByteArray()), clean);
    }

    void downloadsFolderIsStoredClean()
    {
        TempHome home;
        // $XDG_DOWNLOAD_DIR as some sessions export it, with a trailing "/".
        qputenv("XDG_DOWNLOAD_DIR", QFile::encodeName(home.path(QStringLiteral("Fetched/"))));
        QCOMPARE(StandardFolders::downloads().value_or(QByteArray()), home.bytes(QStringLiteral("Fetched")));
        qputenv("XDG_DOWNLOAD_DIR", QFile::encodeName(home.path(QStringLiteral("x/../Fetched//"))));
        QCOMPARE(StandardFolders::downloads().value_or(QByteArray()), home.bytes(QStringLiteral("Fetched")));
        {
            Rivulet_AppDelegate app(false);
            app.awakeFromNib();
            QList<QByteArray> names;
            for (Directory *d : Settings::rootDirectory()->subdirectories())
                names << d->name();
            QVERIFY2(names.contains(home.bytes(QStringLiteral("Fetched"))), names.join(' ').constData());
        }
        qunsetenv("XDG_DOWNLOAD_DIR");
        // The same from user-dirs.dirs.
        QDir().mkpath(home.path(QStringLiteral(".config")));
        QVERIFY(writeFile(home.path(QStringLiteral(".config/user-dirs.dirs")), "XDG_DOWNLOAD_DIR=\"$HOME/Fetched/./\"\n"));
        QCOMPARE(StandardFolders::downloads().value_or(QByteArray()), home.bytes(QStringLiteral("Fetched")));
    }
};

QTEST_MAIN(TestSettingsValues)
#include "test_settings_values.moc"
