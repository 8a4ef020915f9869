// What the notification server itself received and what its clicks do: the
// real notification daemon of the desktop rig (dunst), read back through
// its history and a bus monitor, and a real private MPD.
#include "ImportFixture.h"
#include "settings/Settings.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <mpd/client.h>

namespace {
const int kWait = 45000; // generous: a loaded machine (tests run two at a time) starts MPD slowly

// The daemon's record of a closed notification, field by field.
QVariantMap shownById(uint id)
{
    QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    QProcess history;
    history.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
    history.waitForFinished(5000);
    const QJsonArray entries = QJsonDocument::fromJson(history.readAllStandardOutput()).object().value(QStringLiteral("data")).toArray().at(0).toArray();
    for (const QJsonValue &entry : entries) {
        QVariantMap fields;
        const QJsonObject object = entry.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            fields.insert(it.key(), it.value().toObject().value(QStringLiteral("data")).toVariant());
        if (fields.value(QStringLiteral("id")).toUInt() == id)
            return fields;
    }
    return {};
}

void repeatCurrentSong(const QByteArray &socket)
{
    mpd_connection *c = mpd_connection_new(socket.constData(), 0, 3000);
    mpd_run_repeat(c, true);
    mpd_run_single(c, true); // the short test tone keeps playing, so it can be seen
    mpd_connection_free(c);
}
}

class TestNotification : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        auto *bus = QDBusConnection::sessionBus().interface();
        if (!bus || !bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")))
            QSKIP("needs the desktop rig: a session bus with a notification daemon (scripts/desktop-rig.sh)");
    }
    void init() { QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}); }

    void serverReceivesEscapedTextTheIconAndTheDesktopEntry()
    {
        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"), {QStringLiteral("--session"),
                                                        QStringLiteral("interface='org.freedesktop.Notifications',member='Notify'")});
        QVERIFY(monitor.waitForStarted());
        QThread::msleep(300);
        ImportFixture f;
        Settings::setPlaySongs(false);
        f.start();
        f.drop(testData(QStringLiteral("tones/01 tone.mp3")), QStringLiteral("song & <one>.mp3"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        const QVariantMap shown = shownById(f.notifications()[0].id);
        QCOMPARE(shown.value(QStringLiteral("body")).toString(),
                 QStringLiteral("Rivulet added song &amp; &lt;one&gt;.mp3 to MPD. Click here to play it."));
        QCOMPARE(shown.value(QStringLiteral("appname")).toString(), QStringLiteral("Rivulet"));
        const QString icon = shown.value(QStringLiteral("icon_path")).toString();
        QVERIFY2(QFile::exists(icon), qPrintable(icon));
        QThread::msleep(300);
        monitor.terminate();
        monitor.waitForFinished(3000);
        const QString sent = QString::fromUtf8(monitor.readAllStandardOutput()).simplified();
        QVERIFY(sent.contains(QStringLiteral("string \"desktop-entry\" variant string \"rivulet\"")));
        QVERIFY(sent.contains(QStringLiteral("string \"image-path\" variant string \"file://")));
    }

    void albumNotificationClickPlaysItsFirstTrack()
    {
        ImportFixture f;
        Settings::setPlaySongs(false);
        QTemporaryDir work;
        const QStringList names{QStringLiteral("01 tone.mp3"), QStringLiteral("02 tone.mp3"), QStringLiteral("03 tone.mp3")};
        for (const QString &name : names)
            QVERIFY(QFile::copy(testData(QStringLiteral("tones/")) + name, work.path() + QLatin1Char('/') + name));
        QVERIFY(makeZip(work.path(), QStringList{QStringLiteral("album.zip")} + names));
        f.start();
        f.drop(work.path() + QStringLiteral("/album.zip"), QStringLiteral("album.zip"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        // The first file imported from the archive, whatever the order.
        const QString first = f.log->lines().filter(QStringLiteral("+ Added ")).first().section(QLatin1Char('/'), -1).section(
            QStringLiteral(" to MPD"), 0, 0);
        QVERIFY(f.playing().isEmpty());
        repeatCurrentSong(f.mpdSocket());
        QVERIFY(clickLatestNotification());
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/") + first.toUtf8(), kWait);
    }
};

QTEST_GUILESS_MAIN(TestNotification)
#include "test_notification.moc"
