// What the notification server receives and what its clicks do, on a session bus of this test's own.
#include "ImportFixture.h"
#include "support/PrivateBus.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>

using namespace Qt::StringLiterals;

namespace {
struct Desktop {
    PrivateBus bus;
    QProcess daemon;
    QTemporaryDir dir;

    bool start()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8());
        return bus.ok() && writeFile(dir.filePath(u"dunstrc"_s), "[global]\n    markup = full\n    format = \"<b>%s</b>\\n%b\"\n") && startDaemon();
    }
    // notification-daemon sends every click to every program on the bus, as GNOME's and Xfce's do.
    bool startDaemon(const QString &program = u"dunst"_s)
    {
        daemon.start(program, program == "dunst"_L1 ? QStringList{u"-config"_s, dir.filePath(u"dunstrc"_s)} : QStringList{});
        return QTest::qWaitFor(registered, kWait);
    }
    // As when a desktop's notification service is replaced: ids start at 1 again.
    bool restartDaemon(const QString &program = u"dunst"_s)
    {
        daemon.kill();
        return daemon.waitForFinished(kWait) && QTest::qWaitFor([] { return !registered(); }, kWait) && startDaemon(program);
    }
    static bool registered() { return QDBusConnection::sessionBus().interface()->isServiceRegistered(u"org.freedesktop.Notifications"_s); }
    ~Desktop() { daemon.kill(), daemon.waitForFinished(); }
};

// Clicks the one bubble notification-daemon shows, and waits until it is gone.
bool clickBubble()
{
    const QStringList find{u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Notification$"_s};
    const auto shown = [&find] {
        QProcess search;
        search.start(u"xdotool"_s, find);
        return search.waitForFinished(kWait) && !search.readAllStandardOutput().trimmed().isEmpty();
    };
    return QTest::qWaitFor(shown, kWait)
        && QProcess::execute(u"xdotool"_s, find + QStringList{u"mousemove"_s, u"--window"_s, u"%1"_s, u"20"_s, u"20"_s, u"click"_s, u"1"_s}) == 0
        && QTest::qWaitFor([&] { return !shown(); }, kWait);
}

struct Clicks : GrowlDelegate {
    QVariantList clicked;
    QString applicationNameForGrowl() override { return u"Rivulet"_s; }
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
    void init() { QProcess::execute(u"dunstctl"_s, {u"close-all"_s}); }

    void serverReceivesEscapedTextTheIconAndTheDesktopEntry()
    {
        QProcess monitor;
        monitor.start(u"dbus-monitor"_s, {u"--session"_s, u"interface='org.freedesktop.Notifications',member='Notify'"_s});
        QByteArray sent;
        QTRY_VERIFY_WITH_TIMEOUT((sent += monitor.readAllStandardOutput()).contains("NameLost"), kWait); // a monitor now
        TempHome home; // the icon is written below it
        NotificationService service;
        const QString body = u"Rivulet added 01 a & <b>.mp3 to MPD.\nClick here to play it."_s;
        QVERIFY(service.notifyWithTitle(u"t"_s, body, u"addedFile"_s, u"rivulet"_s, 0, false, QVariant()) > 0);
        QTRY_VERIFY_WITH_TIMEOUT((sent += monitor.readAllStandardOutput()).contains("x-rivulet-name"), kWait);
        monitor.kill();
        const QByteArray text = sent.simplified();
        QVERIFY2(text.contains("string \"" + body.toHtmlEscaped().toUtf8().simplified() + '"'), text);
        QVERIFY(text.contains("string \"desktop-entry\" variant string \"rivulet\""));
        const QByteArray image = text.mid(text.indexOf("string \"image-path\" variant string \"file://") + 43).split('"').value(0);
        QVERIFY2(!image.isEmpty() && QFile::exists(QFile::decodeName(QByteArray::fromPercentEncoding(image))), image);
    }

    // A big archive names its first files and how many more; a click plays its first track, also after MPD restarts.
    void albumNotificationClickPlaysItsFirstTrack()
    {
        ImportFixture f;
        QStringList names{u"01 a & <b>.mp3"_s};
        for (int i = 2; i <= 11; ++i)
            names << u"%1 tone.mp3"_s.arg(i, 2, 10, QChar(u'0'));
        f.start();
        f.drop(f.zipped(u"album.zip"_s, names), u"album.zip"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 1, kWait);
        QCOMPARE(f.notifications()[0],
                 u"Rivulet added the contents of album.zip to MPD:\n\n"_s + names.mid(0, 9).join(u'\n') + u"\nand 2 more\n\nClick here to play."_s);
        QVERIFY(f.playing().isEmpty() && repeatCurrentSong(f.socket()));
        QVERIFY(clickLatestNotification());
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/01 a & <b>.mp3"), kWait);
        f.stopMpd();
        f.drop(testData(u"tones/02 tone.mp3"_s), u"single.mp3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(f.notifications().size(), 2, kWait); // the import started MPD again
        QCOMPARE(f.notifications()[1], u"Rivulet added single.mp3 to MPD. Click here to play it."_s);
        f.app->growlNotificationWasClicked(QVariantMap{{u"trackId"_s, 0u}, {u"file"_s, QByteArray("Rivulet/05 tone.mp3")}});
        QTRY_COMPARE_WITH_TIMEOUT(f.playing(), QByteArray("Rivulet/05 tone.mp3"), kWait);
    }

    // A restarted daemon's ids start at 1 again: a click on another's notification with an old id plays nothing.
    void clickAfterDaemonRestartIsNotTakenForAnOldNotification()
    {
        const QString broadcasting = u"/usr/lib/notification-daemon/notification-daemon"_s;
        if (!QFile::exists(broadcasting))
            QSKIP("needs notification-daemon (scripts/packages.d)");
        QVERIFY(m_desktop.restartDaemon(broadcasting));
        Clicks clicks;
        NotificationService service;
        service.setGrowlDelegate(&clicks);
        const auto post = [&](const QString &context) {
            return service.notifyWithTitle(u"t"_s, context, u"addedFile"_s, u"rivulet"_s, 0, false, context);
        };
        const uint old = post(u"old track"_s);
        QVERIFY(old > 0 && m_desktop.restartDaemon(broadcasting));
        QDBusConnection other = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"another program"_s);
        QDBusMessage notify = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
                                                             u"org.freedesktop.Notifications"_s, u"Notify"_s);
        notify << u"other"_s << uint(0) << QString() << u"hello"_s << QString() << QStringList{u"default"_s, u"Open"_s} << QVariantMap() << int(-1);
        const QDBusMessage reply = other.call(notify);
        QDBusConnection::disconnectFromBus(u"another program"_s);
        QCOMPARE(reply.arguments().value(0).toUInt(), old);
        QVERIFY(clickBubble());
        QVERIFY(post(u"new track"_s) > 0 && clickBubble());
        QTRY_VERIFY_WITH_TIMEOUT(!clicks.clicked.isEmpty(), kWait);
        QCOMPARE(clicks.clicked, QVariantList{u"new track"_s});
        QVERIFY(m_desktop.restartDaemon());
    }
};

QTEST_GUILESS_MAIN(TestNotification)
#include "test_notification.moc"
