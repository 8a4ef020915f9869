// Start-up and quitting of the application controller in a private HOME: the
// store and settings record made at the first start, found again at the
// second, and the reports when the store cannot be opened or saved.
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/LoginItems.h"
#include "settings/Settings.h"
#include "ui/StartupWindow.h"
#include "store/Directory.h"
#include "store/File.h"
#include "store/ManagedObjectContext.h"
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace {
QStringList settingsLines(const QStringList &dirs)
{
    QStringList lines{QStringLiteral("Log Settings"), QStringLiteral("Directories:")};
    for (const QString &d : dirs)
        lines << QStringLiteral("  ") + d;
    lines << QStringLiteral("startAtLogin:0") << QStringLiteral("unzipFiles:1") << QStringLiteral("deleteFiles:0")
          << QStringLiteral("deleteArchiveContents:0") << QStringLiteral("deleteZips:0") << QStringLiteral("playSongs:0")
          << QStringLiteral("ifStopped:1") << QStringLiteral("didFirstLoad:0") << QStringLiteral("useDownloadHotkey:1")
          << QStringLiteral("downloadHotkey:8796093022210") << QStringLiteral("growlNotifications:1")
          << QStringLiteral("searchLocation:") + QString::fromLatin1(kDefaultSearchLocation);
    return lines;
}

QList<QByteArray> childNames(Directory *root)
{
    QList<QByteArray> names;
    for (Directory *d : root->subdirectories())
        names << d->name();
    return names;
}

// Clicks the button with the given text on the next modal dialogs, in order.
void answerDialogs(QStringList buttons, QStringList *seen)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, buttons, seen]() mutable {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen->append(box->text());
        const QString want = buttons.takeFirst();
        for (QAbstractButton *b : box->buttons())
            if (b->text() == want)
                b->click();
        if (buttons.isEmpty())
            timer->deleteLater();
    });
    timer->start(20);
}
}

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    // Without a downloads folder of its own only Mail Downloads is watched.
    void firstStartBuildsStoreAndRecord_data()
    {
        QTest::addColumn<QByteArray>("userDirs");
        QTest::addColumn<QStringList>("watched");
        QTest::newRow("user-dirs.dirs") << QByteArray("# made by a test\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n")
                                        << QStringList{QStringLiteral("Fetched"), QStringLiteral("Mail Downloads")};
        QTest::newRow("no downloads folder") << QByteArray() << QStringList{QStringLiteral("Mail Downloads")};
    }
    void firstStartBuildsStoreAndRecord()
    {
        QFETCH(QByteArray, userDirs);
        QFETCH(QStringList, watched);
        TempHome home;
        QDir().mkpath(home.path(QStringLiteral(".config")));
        QVERIFY(userDirs.isEmpty() || writeFile(home.path(QStringLiteral(".config/user-dirs.dirs")), userDirs));
        LogCapture log;
        Rivulet_AppDelegate app(false);
        app.awakeFromNib();

        QVERIFY(QFileInfo(home.storePath()).isFile());
        QStringList dirs;
        QList<QByteArray> paths;
        for (const QString &name : watched)
            dirs << home.path(name), paths << home.bytes(name);
        const QStringList expected = settingsLines(dirs);
        QCOMPARE(log.lines().mid(0, expected.size()), expected);
        ManagedObjectContext *ctx = app.managedObjectContext();
        QCOMPARE(ctx->fetchAll(QStringLiteral("Settings")).size(), size_t(1));
        Directory *root = Settings::rootDirectory();
        Directory *exclusions = Settings::exclusionsDirectory();
        QVERIFY(root && exclusions && root != exclusions);
        QCOMPARE(root->name(), QByteArray("root"));
        QCOMPARE(exclusions->name(), QByteArray("root"));
        QCOMPARE(childNames(root), paths);
        for (Directory *d : root->subdirectories())
            QVERIFY(d->lastScanTime().has_value());
        QCOMPARE(childNames(exclusions), QList<QByteArray>{QFile::encodeName(home.supportDir())});
        QVERIFY(!exclusions->subdirectories()[0]->lastScanTime());
        QVERIFY(!ctx->hasChanges());

        // A start that cannot show the first-run question leaves it for one that can: nothing is written.
        QCOMPARE(Settings::didFirstLoad(), false);
        QVERIFY(!QFile::exists(home.prefsPath()));
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
    }

    void secondStartFindsTheSameRecords()
    {
        TempHome home;
        QDir().mkpath(home.path(QStringLiteral("Downloads")));
        // The record's file is there from the start: the watcher's look for
        // gone files at its start must not take the record away.
        QVERIFY(writeFile(home.path(QStringLiteral("Downloads/song.mp3")), "x"));
        const Date when = dateFromNanos(1700000000123456789LL);
        {
            LogCapture log;
            Rivulet_AppDelegate app(false);
            app.awakeFromNib();
            Directory *downloads = Settings::rootDirectory()->subdirectories()[0];
            QCOMPARE(downloads->name(), home.bytes(QStringLiteral("Downloads")));
            downloads->setFilenames(QList<QByteArray>{"song.mp3"});
            auto *file = app.managedObjectContext()->insertNew<File>();
            file->setName(downloads->name() + "/song.mp3");
            file->setModified(when);
            downloads->addFilesObject(file);
            QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        }
        // A watched folder that is not there (a disk not mounted) keeps its
        // records as they are: the watcher does not touch them meanwhile.
        QVERIFY(QDir(home.path(QStringLiteral("Downloads"))).removeRecursively());
        LogCapture log;
        Rivulet_AppDelegate app(false);
        app.awakeFromNib();
        ManagedObjectContext *ctx = app.managedObjectContext();
        QCOMPARE(ctx->fetchAll(QStringLiteral("Settings")).size(), size_t(1));
        QCOMPARE(ctx->fetchAll(QStringLiteral("Directory")).size(), size_t(5));
        Directory *downloads = Settings::rootDirectory()->subdirectories()[0];
        QVERIFY(!downloads->filenames());
        QCOMPARE(downloads->files().size(), size_t(1));
        QCOMPARE(downloads->files()[0]->modified(), std::optional(when));
        QVERIFY(!ctx->hasChanges());
    }

    // A store that cannot be opened is reported and kept as it is; the
    // preferences still work, and the program still quits.
    void unopenableStoreIsReportedAndKept_data()
    {
        QTest::addColumn<bool>("corrupt");
        QTest::newRow("a corrupt store") << true;
        QTest::newRow("a data folder that cannot be made") << false;
    }
    void unopenableStoreIsReportedAndKept()
    {
        QFETCH(bool, corrupt);
        TempHome home;
        QDir().mkpath(home.supportDir());
        const QByteArray store("<?xml version=\"1.0\"?>\n<store format=\"rivulet-store\" version=\"1\">\n<record entity=\"Dire");
        // Else a plain file where the data folder should be: nothing can be created below it.
        QVERIFY(corrupt ? writeFile(home.storePath(), store) : QDir(home.path(QStringLiteral(".local"))).removeRecursively()
                                                                   && writeFile(home.path(QStringLiteral(".local")), "in the way"));
        LogCapture log;
        QList<StoreError> shown;
        Rivulet_AppDelegate app(false);
        app.setErrorPresenter([&shown](const StoreError &e) { shown << e; return false; });
        app.awakeFromNib();
        QVERIFY(shown.size() >= 2);
        if (corrupt)
            QCOMPARE(shown[0].code, 259);
        else
            QVERIFY(shown[0].description.startsWith(QStringLiteral("Failed to create App Support directory ") + home.supportDir() + QStringLiteral(" : ")));
        QCOMPARE(shown[1].domain, QStringLiteral("YOUR_ERROR_DOMAIN"));
        QCOMPARE(shown[1].code, 9999);
        QCOMPARE(shown[1].description, QStringLiteral("Failed to initialize the store"));
        QCOMPARE(shown[1].failureReason, QStringLiteral("There was an error building up the data file."));
        QVERIFY(!app.hasManagedObjectContext());
        QCOMPARE(Settings::rootDirectory(), nullptr);
        QCOMPARE(Settings::unzipFiles(), true);
        Settings::setDeleteFiles(true);
        QCOMPARE(Settings::deleteFiles(), true);
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        QVERIFY(!corrupt || readAll(home.storePath()) == store);
    }

    void unsavableStoreAsksWhetherToQuit()
    {
        TempHome home;
        LogCapture log;
        Rivulet_AppDelegate app(true);
        app.awakeFromNib();
        Settings::rootDirectory()->subdirectories()[0]->setLastScanTime(dateNow());
        // Replace the support folder by a file: the save cannot write there.
        QVERIFY(QDir(home.supportDir()).removeRecursively());
        QVERIFY(writeFile(home.supportDir(), "in the way"));

        QStringList seen;
        answerDialogs({QStringLiteral("OK"), QStringLiteral("Cancel")}, &seen);
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateCancel);
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen[0].contains(QStringLiteral("couldn't be saved")));
        QCOMPARE(seen[1], QStringLiteral("Could not save changes while quitting.  Quit anyway?"));

        seen.clear();
        answerDialogs({QStringLiteral("OK"), QStringLiteral("Quit anyway")}, &seen);
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        QCOMPARE(seen.size(), 2);
    }

    // "Yes" to the first-run question writes the autostart entry at once:
    // logging out before the next start still starts Rivulet at login.
    void firstRunYesStartsAtLoginAtOnce()
    {
        TempHome home;
        Rivulet_AppDelegate app(true);
        app.awakeFromNib();
        auto *startup = qobject_cast<StartupWindow *>(app.startupWC());
        QVERIFY(startup);
        QVERIFY(LoginItems::list().isEmpty());
        QStringList seen;
        answerDialogs({QStringLiteral("Yes")}, &seen);
        startup->findChild<QPushButton *>()->click();
        QTRY_COMPARE(seen.size(), 1);
        QTRY_COMPARE(LoginItems::list().size(), 1);
        QCOMPARE(LoginItems::list()[0].path, QCoreApplication::applicationFilePath());
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

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
