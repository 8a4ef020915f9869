#pragma once
// The whole program in a private HOME with short watcher timings, a private MPD and the session's notifications.
#include "app/Rivulet_AppDelegate.h"
#include "support/PrivateMpd.h"
#include <QProcess>
#include <QThread>
#include <mpd/client.h>
#include <memory>
#include <mutex>

inline constexpr int kWait = 45000; // a loaded machine starts MPD slowly
inline QString testData(const QString &rel) { return QStringLiteral(RIVULET_TEST_DATA "/") + rel; }

struct ImportFixture : PrivateMpd {
    std::unique_ptr<LogCapture> log = std::make_unique<LogCapture>();
    std::unique_ptr<Rivulet_AppDelegate> app;
    std::mutex mutex;
    QStringList shown; // the bodies of the notifications posted
    QString downloads = home.path(QStringLiteral("Downloads"));
    QTemporaryDir work;

    ImportFixture() { QDir().mkpath(downloads); }
    ~ImportFixture() { app.reset(); } // before the mutex and list its notifications reach

    void start()
    {
        app = std::make_unique<Rivulet_AppDelegate>(false);
        app->setDifferTimings(DirectoryDiffer::Timings::fast());
        app->awakeFromNib();
        QObject::connect(app->notificationService(), &NotificationService::posted, app->notificationService(),
                         [this](uint, const QString &, const QString &body) { std::lock_guard lock(mutex); shown << body; },
                         Qt::DirectConnection);
        QTRY_VERIFY_WITH_TIMEOUT(app->directoryDiffer()->watching(), 5000);
        QThread::msleep(200);
    }

    QStringList notifications() { std::lock_guard lock(mutex); return shown; }

    // Copies a file into Downloads as a browser does: a temporary name renamed at the end.
    void drop(const QString &from, const QString &name)
    {
        const QString part = downloads + QStringLiteral("/.") + name + QStringLiteral(".part");
        QFile::remove(part);
        QVERIFY(QFile::copy(from, part) && QFile::rename(part, downloads + QLatin1Char('/') + name));
    }

    QString trashed(const QString &name) const { return home.path(QStringLiteral(".local/share/Trash/files/")) + name; }

    // A zip made in the work folder of the named files there, copies of a test tone where missing.
    QString zipped(const QString &name, const QStringList &names, const QStringList &options = {})
    {
        for (const QString &n : names)
            if (!QFile::exists(work.filePath(n)))
                QFile::copy(testData(QStringLiteral("tones/01 tone.mp3")), work.filePath(n));
        QProcess zip;
        zip.setWorkingDirectory(work.path());
        zip.start(QStringLiteral("zip"), options + QStringList{name} + names);
        return zip.waitForFinished(10000) && zip.exitCode() == 0 ? work.filePath(name) : QString();
    }
};

// The one-second tones keep playing, so a play can be seen.
inline bool repeatCurrentSong(const QByteArray &socket)
{
    std::unique_ptr<mpd_connection, void (*)(mpd_connection *)> c(mpd_connection_new(socket.constData(), 0, 10000), mpd_connection_free);
    return c && mpd_run_repeat(c.get(), true) && mpd_run_single(c.get(), true);
}

// Plays a notification's default action in the notification daemon, as a click does.
inline bool clickLatestNotification()
{
    // An action sent before the daemon shows the notification reaches nothing.
    (void)QTest::qWaitFor([] {
        QProcess count;
        count.start(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")});
        return count.waitForFinished(3000) && count.readAllStandardOutput().trimmed().toInt() > 0;
    }, 20000);
    return QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")}) == 0;
}
