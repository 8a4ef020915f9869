// The file moves of the import pipeline: the Trash never deletes, the keep
// folder's move sends what it replaces to the Trash, and the unpacking
// tool's status rules.
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include <sys/stat.h>

class TestPipelineFiles : public QObject {
    Q_OBJECT

private slots:
    void trashKeepsEveryItemAndItsOrigin()
    {
        TempHome home;
        // The data folder does not exist yet: the trash is made, not the current folder used.
        QVERIFY(!QFile::exists(home.path(QStringLiteral(".local/share"))));
        const QString cwdTrash = QDir::currentPath() + QStringLiteral("/files");
        for (int i = 0; i < 2; ++i) {
            QVERIFY(writeFile(home.path(QStringLiteral("odd 100%.mp3")), QByteArray::number(i)));
            QVERIFY(Trash::moveToTrash(home.bytes(QStringLiteral("odd 100%.mp3"))));
        }
        const QString trash = home.path(QStringLiteral(".local/share/Trash"));
        QCOMPARE(readAll(trash + QStringLiteral("/files/odd 100%.mp3")), QByteArray("0"));
        QCOMPARE(readAll(trash + QStringLiteral("/files/odd 100%.mp3.2")), QByteArray("1"));
        const QByteArray info = readAll(trash + QStringLiteral("/info/odd 100%.mp3.2.trashinfo"));
        QVERIFY(info.startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(home.path(QStringLiteral("odd 100%.mp3")), "/") + "\nDeletionDate="));
        QVERIFY(!QFile::exists(cwdTrash + QStringLiteral("/odd 100%.mp3")));
        QVERIFY(!Trash::moveToTrash(home.bytes(QStringLiteral("never there.mp3"))));
        // A name of 255 bytes still goes, under a shorter name in the trash.
        const QString longName = QString(251, QLatin1Char('L')) + QStringLiteral(".mp3");
        QVERIFY(writeFile(home.path(longName), "long"));
        QVERIFY(Trash::moveToTrash(home.bytes(longName)));
        QVERIFY(!QFile::exists(home.path(longName)));
        QVERIFY(readAll(trash + QStringLiteral("/info/") + longName.left(240) + QStringLiteral(".trashinfo")).contains(QFile::encodeName(longName)));
        // A folder goes whole.
        QDir().mkpath(home.path(QStringLiteral("album/cd1")));
        QVERIFY(Trash::moveToTrash(home.bytes(QStringLiteral("album"))));
        QVERIFY(QFile::exists(trash + QStringLiteral("/files/album/cd1")));
    }

    void keepFolderMoveSendsReplacedItemsToTheTrash()
    {
        TempHome home;
        LogCapture log;
        Rivulet_AppDelegate app(false);
        const QString scratch = home.path(QStringLiteral("scratch"));
        const QString keep = home.path(QStringLiteral("Downloads/album"));
        QDir().mkpath(scratch + QStringLiteral("/sub"));
        QDir().mkpath(keep);
        QVERIFY(writeFile(scratch + QStringLiteral("/a.mp3"), "new"));
        QVERIFY(writeFile(keep + QStringLiteral("/a.mp3"), "old"));
        QVERIFY(app.fsMoveContentsOfDirectory(QFile::encodeName(scratch), QFile::encodeName(keep), home.bytes(QStringLiteral("Downloads"))));
        QCOMPARE(readAll(keep + QStringLiteral("/a.mp3")), QByteArray("new"));
        QVERIFY(QFileInfo(keep + QStringLiteral("/sub")).isDir());
        QCOMPARE(readAll(home.path(QStringLiteral(".local/share/Trash/files/a.mp3"))), QByteArray("old"));
        QVERIFY(log.contains(QStringLiteral("Moving ") + scratch + QStringLiteral("/a.mp3 to ") + keep + QStringLiteral("/a.mp3")));
    }

    void rarErrorTextCountsAsFailure()
    {
        TempHome home;
        LogCapture log;
        // unar that reports a decrunching error with status 0 cannot be made
        // from a real archive here, so a stand-in prints it.
        const QString bin = home.path(QStringLiteral("bin"));
        QDir().mkpath(bin);
        QVERIFY(writeFile(bin + QStringLiteral("/unar"), "#!/bin/sh\necho 'Error on decrunching'\nexit 0\n"));
        QFile::setPermissions(bin + QStringLiteral("/unar"), QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + oldPath);
        Rivulet_AppDelegate app(false);
        QDir().mkpath(QString::fromUtf8(app.applicationSupportDirectory()));
        QVERIFY(writeFile(home.path(QStringLiteral("x.rar")), "not really"));
        QVERIFY(!app.unpackArchive(home.bytes(QStringLiteral("x.rar")), "rar"));
        QVERIFY(log.contains(QStringLiteral("^^CWTask returned, status:0 ; unpacking done.  Output:^^")));
        QVERIFY(!app.unpackArchive(home.bytes(QStringLiteral("x.rar")), "7z"));
        qputenv("PATH", oldPath);
        QVERIFY(QFile::exists(home.path(QStringLiteral("x.rar"))));
    }
};

QTEST_GUILESS_MAIN(TestPipelineFiles)
#include "test_pipeline_files.moc"
