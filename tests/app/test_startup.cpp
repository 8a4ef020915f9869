// Start-up and quitting of the application controller in a private HOME.
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
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {
QStringList childNames(Directory *root, const TempHome &home)
{
    QStringList names;
    for (Directory *d : root->subdirectories())
        names << QFile::decodeName(d->name()).replace(home.home, u"~"_s);
    return names;
}

// The controller built and woken, as at a start; its log kept out of the test's output.
struct Started : Rivulet_AppDelegate {
    LogCapture log;
    explicit Started(bool withUi) : Rivulet_AppDelegate(withUi) { awakeFromNib(); }
};

// Clicks the named buttons on the next modal dialogs, in order; returns their texts.
std::shared_ptr<QStringList> answerDialogs(QStringList buttons)
{
    auto seen = std::make_shared<QStringList>();
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
    return seen;
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
        QTest::newRow("user-dirs.dirs") << QByteArray("# made by a test\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n") << QStringList{u"~/Fetched"_s, u"~/Mail Downloads"_s};
        QTest::newRow("no downloads folder") << QByteArray() << QStringList{u"~/Mail Downloads"_s};
    }
    void firstStartBuildsStoreAndRecord()
    {
        QFETCH(QByteArray, userDirs);
        QFETCH(QStringList, watched);
        TempHome home;
        QDir().mkpath(home.path(u".config"_s));
        QVERIFY(userDirs.isEmpty() || writeFile(home.path(u".config/user-dirs.dirs"_s), userDirs));
        Started app(false);
        QCOMPARE(childNames(Settings::rootDirectory(), home), watched);
        for (Directory *d : Settings::rootDirectory()->subdirectories())
            QVERIFY(d->lastScanTime() > dateNow() - std::chrono::hours(1)); // older music is not new
        QCOMPARE(childNames(Settings::exclusionsDirectory(), home), QStringList{u"~/.local/share/Rivulet"_s});
    }

    void secondStartFindsTheSameRecords()
    {
        TempHome home;
        QDir().mkpath(home.path(u"Downloads"_s));
        // The watcher's look for gone files at its start must not take the record away.
        QVERIFY(writeFile(home.path(u"Downloads/song.mp3"_s), "x"));
        const Date when = dateFromNanos(1700000000123456789LL);
        {
            Started app(false);
            Directory *downloads = Settings::rootDirectory()->subdirectories()[0];
            QCOMPARE(downloads->name(), home.bytes(u"Downloads"_s));
            downloads->setFilenames(QList<QByteArray>{"song.mp3"});
            auto *file = app.managedObjectContext()->insertNew<File>();
            file->setName(downloads->name() + "/song.mp3");
            file->setModified(when);
            downloads->addFilesObject(file);
            QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        }
        // A watched folder that is not there (a disk not mounted) keeps its records.
        QVERIFY(QDir(home.path(u"Downloads"_s)).removeRecursively());
        Started app(false);
        ManagedObjectContext *ctx = app.managedObjectContext();
        QCOMPARE(ctx->fetchAll(u"Settings"_s).size(), size_t(1));
        QCOMPARE(ctx->fetchAll(u"Directory"_s).size(), size_t(5));
        Directory *downloads = Settings::rootDirectory()->subdirectories()[0];
        QVERIFY(!downloads->filenames());
        QCOMPARE(downloads->files().size(), size_t(1));
        QCOMPARE(downloads->files()[0]->modified(), std::optional(when));
        QVERIFY(!ctx->hasChanges());
    }

    // A store that cannot be opened is reported and kept; the program still quits.
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
        // Else a plain file where the data folder should be.
        QVERIFY(corrupt ? writeFile(home.storePath(), store)
                        : QDir(home.path(u".local"_s)).removeRecursively() && writeFile(home.path(u".local"_s), "in the way"));
        LogCapture log;
        QList<StoreError> shown;
        Rivulet_AppDelegate app(false);
        app.setErrorPresenter([&shown](const StoreError &e) { shown << e; return false; });
        app.awakeFromNib();
        QVERIFY(shown.size() >= 2);
        QVERIFY(!app.hasManagedObjectContext() && !Settings::rootDirectory());
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        QVERIFY(!corrupt || readAll(home.storePath()) == store);
    }

    void unsavableStoreAsksWhetherToQuit()
    {
        TempHome home;
        Started app(true);
        Settings::rootDirectory()->subdirectories()[0]->setLastScanTime(dateNow());
        QVERIFY(QDir(home.supportDir()).removeRecursively() && writeFile(home.supportDir(), "in the way"));
        auto seen = answerDialogs({u"OK"_s, u"Cancel"_s});
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateCancel);
        QCOMPARE(seen->size(), 2);
        QCOMPARE(seen->at(1), u"Could not save changes while quitting.  Quit anyway?"_s);
        seen = answerDialogs({u"OK"_s, u"Quit anyway"_s});
        QCOMPARE(app.applicationShouldTerminate(), Rivulet_AppDelegate::TerminateNow);
        QCOMPARE(seen->size(), 2);
    }

    // The session manager's quit takes handleQuit's path, as SIGTERM does: saved and ended.
    void sessionManagerQuitGoesThroughHandleQuit()
    {
        TempHome home;
        Started app(false);
        bool terminated = false;
        connect(&app, &Rivulet_AppDelegate::terminated, this, [&] { terminated = true; });
        app.managedObjectContext()->markChanged();
        QVERIFY(!app.quitForSessionManager() && terminated && !app.managedObjectContext()->hasChanges());
    }

    // "Yes" writes the autostart entry at once: a log-out before the next start still starts Rivulet.
    void firstRunYesStartsAtLoginAtOnce()
    {
        TempHome home;
        Started app(true);
        auto *startup = qobject_cast<StartupWindow *>(app.startupWC());
        QVERIFY(startup && LoginItems::list().isEmpty());
        auto seen = answerDialogs({u"Yes"_s});
        startup->findChild<QPushButton *>()->click();
        QTRY_COMPARE(seen->size(), 1);
        QTRY_COMPARE(LoginItems::list().size(), 1);
        QCOMPARE(LoginItems::list()[0].path, QCoreApplication::applicationFilePath());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
