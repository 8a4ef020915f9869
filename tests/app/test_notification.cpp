// What the notification server itself received and what its clicks do: a
// real notification daemon (dunst) on a session bus of this test's own, so no
// other test closes or clicks its notifications and it can be restarted; read
// back through its history and a bus monitor, with a real private MPD.
#include "ImportFixture.h"
#include "settings/Settings.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <mpd/client.h>

namespace {
const int kWait = 45000; // generous: a loaded machine starts MPD slowly

// A session bus and a notification daemon started by this test.
struct Desktop {
    QProcess bus;
    QProcess daemon;
    QTemporaryDir dir;

    bool start()
    {
        bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!bus.waitForReadyRead(kWait))
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
        return writeFile(dir.filePath(QStringLiteral("dunstrc")), "[global]\n    markup = full\n    format = \"<b>%s</b>\\n%b\"\n")
            && startDaemon();
    }
    // dunst by default; notification-daemon sends every click to every
    // program on the bus, as GNOME Shell's and Xfce's daemons do.
    bool startDaemon(const QString &program = QStringLiteral("dunst"))
    {
        daemon.start(program, program == QLatin1String("dunst") ? QStringList{QStringLiteral("-config"), dir.filePath(QStringLiteral("dunstrc"))}
                                                                 : QStringList{});
        return QTest::qWaitFor(registered, kWait);
    }
    // As when a desktop's notification service is replaced: ids start at 1 again.
    bool restartDaemon(const QString &program = QStringLiteral("dunst"))
    {
        daemon.kill();
        return daemon.waitForFinished(kWait) && QTest::qWaitFor([] { return !registered(); }, kWait) && startDaemon(program);
    }
    static bool registered()
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~Desktop()
    {
        daemon.terminate();
        daemon.waitForFinished(5000);
        bus.terminate();
        bus.waitForFinished(5000);
    }
};

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

bool repeatCurrentSong(const QByteArray &socket)
{
    mpd_connection *c = mpd_connection_new(socket.constData(), 0, kWait);
    // The short test tone keeps playing, so it can be seen.
    const bool done = c && mpd_run_repeat(c, true) && mpd_run_single(c, true);
    if (c)
        mpd_connection_free(c);
    return done;
}

// Clicks the one bubble notification-daemon shows, and waits until it is gone.
bool clickBubble()
{
    const QStringList find{QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^Notification$")};
    const auto shown = [&find] {
        QProcess search;
        search.start(QStringLiteral("xdotool"), find);
        return search.waitForFinished(kWait) && !search.readAllStandardOutput().trimmed().isEmpty();
    };
    return QTest::qWaitFor(shown, kWait)
        && QProcess::execute(QStringLiteral("xdotool"), find + QStringList{QStringLiteral("mousemove"), QStringLiteral("--window"), QStringLiteral("%1"),
                                                                         QStringLiteral("20"), QStringLiteral("20"), QStringLiteral("click"), QStringLiteral("1")}) == 0
        && QTest::qWaitFor([&] { return !shown(); }, kWait);
}

// The program's side of clicks, as the controller receives them.
struct Clicks : GrowlDelegate {
    QVariantList clicked;
    QString applicationNameForGrowl() override { return QStringLiteral("Rivulet"); }
    QVariantMap registrationDictionaryForGrowl() override { return {}; }
    void growlNotificationWasClicked(const QVariant &context) override { clicked << context; }
    void growlNotificationTimedOut(const QVariant &) override {}
};
}

class TestNotification : public QObject {
    Q_OBJECT
    Desktop m_desktop;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display for the notification daemon (scripts/desktop-rig.sh)");
        QVERIFY(m_desktop.start());
    }
    void init() { QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}); }

    // What the server receives: escaped text, the icon and the desktop entry.
    // A big archive names its first files and how many more; a click plays its first track.
    void albumNotificationIsShownAndItsClickPlaysTheFirstTrack()
    {
        QProcess monitor;
        monitor.start(QStringLiteral("dbus-monitor"), {QStringLiteral("--session"),
                                                        QStringLiteral("interface='org.freedesktop.Notifications',member='Notify'")});
        QByteArray sent;
        // It says NameLost once it has become a monitor.
        QTRY_VERIFY_WITH_TIMEOUT((sent += monitor.readAllStandardOutput()).contains("NameLost"), kWait);
        ImportFixture f;
        Settings::setPlaySongs(false);
        QTemporaryDir work;
        QStringList names{QStringLiteral("01 a & <b>.mp3")};
        for (int i = 2; i <= 11; ++i)
            names << QStringLiteral("%1 tone.mp3").arg(i, 2, 10, QLatin1Char('0'));
        for (const QString &name : names)
            QVERIFY(QFile::copy(testData(QStringLiteral("tones/01 tone.mp3")), work.filePath(name)));
        QVERIFY(makeZip(work.path(), QStringList{QStringLiteral("album.zip")} + names));
        f.start();
        f.drop(work.filePath(QStringLiteral("album.zip")), QStringLiteral("album.zip"));
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        QVERIFY(f.playing().isEmpty());
        QVERIFY(repeatCurrentSong(f.socket()));
        QVERIFY(clickLatestNotification());
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/01 a & <b>.mp3"), kWait);
        const QVariantMap shown = shownById(f.notifications()[0].id);
        QCOMPARE(shown.value(QStringLiteral("body")).toString(),
                 (QStringLiteral("Rivulet added the contents of album.zip to MPD:\n\n") + names.mid(0, 9).join(QLatin1Char('\n'))
                  + QStringLiteral("\nand 2 more\n\nClick here to play.")).toHtmlEscaped());
        QCOMPARE(shown.value(QStringLiteral("appname")).toString(), QStringLiteral("Rivulet"));
        QVERIFY2(QFile::exists(shown.value(QStringLiteral("icon_path")).toString()), qPrintable(shown.value(QStringLiteral("icon_path")).toString()));
        QTRY_VERIFY_WITH_TIMEOUT((sent += monitor.readAllStandardOutput()).contains("image-path"), kWait);
        const QString text = QString::fromUtf8(sent).simplified();
        QVERIFY(text.contains(QStringLiteral("string \"desktop-entry\" variant string \"rivulet\"")));
        QVERIFY(text.contains(QStringLiteral("string \"image-path\" variant string \"file://")));
        monitor.terminate();
        monitor.waitForFinished(kWait);
    }

    // After the daemon restarts, its ids start again at 1: a click on another
    // program's notification that takes an old id plays nothing of ours.
    void clickAfterDaemonRestartIsNotTakenForAnOldNotification()
    {
        const QString broadcasting = QStringLiteral("/usr/lib/notification-daemon/notification-daemon");
        if (!QFile::exists(broadcasting))
            QSKIP("needs notification-daemon (scripts/packages.d)");
        QVERIFY(m_desktop.restartDaemon(broadcasting));
        Clicks clicks;
        NotificationService service;
        service.setGrowlDelegate(&clicks);
        const auto post = [&](const QString &context) {
            return service.notifyWithTitle(QStringLiteral("t"), context, QStringLiteral("addedFile"), QStringLiteral("rivulet"), 0, false, context);
        };
        const uint old = post(QStringLiteral("old track"));
        QVERIFY(old > 0);
        QVERIFY(m_desktop.restartDaemon(broadcasting));
        QDBusConnection other = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("another program"));
        QDBusMessage notify = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                                                             QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        notify << QStringLiteral("other") << uint(0) << QString() << QStringLiteral("hello") << QString()
               << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << QVariantMap() << int(-1);
        const QDBusMessage reply = other.call(notify);
        QDBusConnection::disconnectFromBus(QStringLiteral("another program"));
        QCOMPARE(reply.arguments().value(0).toUInt(), old);
        QVERIFY(clickBubble());
        // A click on one of ours after it: both clicks reach the service in order.
        QVERIFY(post(QStringLiteral("new track")) > 0);
        QVERIFY(clickBubble());
        QTRY_VERIFY_WITH_TIMEOUT(!clicks.clicked.isEmpty(), kWait);
        QCOMPARE(clicks.clicked, QVariantList{QStringLiteral("new track")});
        QVERIFY(m_desktop.restartDaemon());
    }
};

QTEST_GUILESS_MAIN(TestNotification)
#include "test_notification.moc"
