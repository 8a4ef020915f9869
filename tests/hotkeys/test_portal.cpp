// The hotkey through the GlobalShortcuts portal. Debian 12's portal predates that interface:
// a stand-in written from the published one runs on a real private bus.
#include "TestSupport.h"
#include "ui/UiTestSupport.h"
#include "support/PrivateBus.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/GlobalShortcutsPortal.h"
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QProcess>
#include <QScopeGuard>

using Shortcuts = QList<QPair<QString, QVariantMap>>;
const QString kId = QString::fromLatin1(GlobalShortcutsPortal::kShortcutId);

class Fired : public QObject {
    Q_OBJECT
public:
    int count = 0;
public slots:
    void fired() { ++count; }
};

class StandInPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit StandInPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}
    uint version() const { return 1; }
    QString session;
    Shortcuts shortcuts;

public slots:
    // Not in the interface: the test presses the shortcut through it.
    void Press(const QString &id) { emit Activated(QDBusObjectPath(session), id, 0, {}); }
    QStringList BoundShortcuts()
    {
        QStringList out;
        for (const auto &[id, options] : std::as_const(shortcuts))
            out << id + QLatin1Char('=') + options.value(u"preferred_trigger"_s).toString();
        return out;
    }
    QDBusObjectPath CreateSession(const QVariantMap &options, const QDBusMessage &message)
    {
        session = u"/org/freedesktop/portal/desktop/session/%1/%2"_s.arg(sender(message), options.value(u"session_handle_token"_s).toString());
        return answer(message, options, {{u"session_handle"_s, session}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &, const QList<QPair<QString, QVariantMap>> &list, const QString &, const QVariantMap &options,
                                  const QDBusMessage &message)
    {
        shortcuts = list;
        return answer(message, options, {});
    }

signals:
    void Activated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options);

private:
    static QString sender(const QDBusMessage &message) { return message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')); }
    // The answer comes later, as Response on the request's path.
    QDBusObjectPath answer(const QDBusMessage &message, const QVariantMap &options, const QVariantMap &results)
    {
        const QString path = u"/org/freedesktop/portal/desktop/request/%1/%2"_s.arg(sender(message), options.value(u"handle_token"_s).toString());
        QMetaObject::invokeMethod(this, [this, path, results] {
            QDBusMessage response = QDBusMessage::createSignal(path, u"org.freedesktop.portal.Request"_s, u"Response"_s);
            response << uint(0) << results;
            m_bus.send(response);
        }, Qt::QueuedConnection);
        return QDBusObjectPath(path);
    }
    QDBusConnection m_bus;
};

// The stand-in in a process of its own (this program with --stand-in-portal), as a portal is.
struct RunningPortal {
    QProcess process;
    QDBusConnection bus;
    explicit RunningPortal(const PrivateBus &privateBus) : bus(privateBus.connection())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, privateBus.address);
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {u"--stand-in-portal"_s});
        QTRY_VERIFY_WITH_TIMEOUT(GlobalShortcutsPortal::offered(bus), 5000);
    }
    ~RunningPortal()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QVariant call(const QString &method, const QVariantList &args = {})
    {
        QDBusInterface portal(QString::fromLatin1(GlobalShortcutsPortal::kService), QString::fromLatin1(GlobalShortcutsPortal::kPath),
                              QString::fromLatin1(GlobalShortcutsPortal::kInterface), bus);
        return portal.callWithArgumentList(QDBus::Block, method, args).arguments().value(0);
    }
    void press(const QString &id = kId) { call(u"Press"_s, {id}); }
    QStringList bound() { return call(u"BoundShortcuts"_s).toStringList(); }
};

class TestPortal : public QObject {
    Q_OBJECT

private slots:
    // Keysym names under the layout in use (without X: XKB_DEFAULT_LAYOUT).
    void triggersInThePortalsNotation()
    {
        qputenv("XKB_DEFAULT_LAYOUT", "us");
        QCOMPARE(GlobalShortcutsPortal::triggerForHotkey(40, 0x40000 | 0x20000), u"CTRL+SHIFT+k"_s);
        QCOMPARE(GlobalShortcutsPortal::triggerForHotkey(49, 0x100000), u"LOGO+space"_s);
        QCOMPARE(GlobalShortcutsPortal::triggerForHotkey(24, 0x80000), u"ALT+equal"_s);
        qputenv("XKB_DEFAULT_LAYOUT", "ru");
        QCOMPARE(GlobalShortcutsPortal::triggerForHotkey(2, 0x80000), u"ALT+Cyrillic_ve"_s);
        qunsetenv("XKB_DEFAULT_LAYOUT");
    }

    void theCenterRegistersChangesAndRemovesThroughThePortal()
    {
        PrivateBus bus;
        QVERIFY(bus.ok());
        // Nothing here used another session bus before.
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8());
        qputenv("WAYLAND_DISPLAY", "wayland-test-none");
        const auto restore = qScopeGuard([] {
            qunsetenv("WAYLAND_DISPLAY");
            DDHotKeyCenter::setService(nullptr);
        });
        DDHotKeyCenter::setService(nullptr);
        QCOMPARE(DDHotKeyCenter::path(), DDHotKeyCenter::Path::CommandOnly); // no portal yet: only rivulet --toggle
        RunningPortal running(bus);
        DDHotKeyCenter::setService(nullptr);
        QCOMPARE(DDHotKeyCenter::path(), DDHotKeyCenter::Path::Portal);
        DDHotKeyCenter center;
        Fired receiver;
        QVERIFY(center.registerHotKeyWithKeyCode(36, 0x40000, &receiver, "fired", QVariant()));
        QTRY_COMPARE(running.bound(), QStringList{kId + u"=CTRL+Return"_s});
        running.press(u"something-else"_s);
        running.press();
        QTRY_COMPARE(receiver.count, 1);
        QTest::qWait(200);
        QCOMPARE(receiver.count, 1); // only our shortcut, once
        center.unregisterHotKeyWithKeyCode(36, 0x40000);
        QVERIFY(center.registerHotKeyWithKeyCode(96, 0, &receiver, "fired", QVariant()));
        QTRY_COMPARE(running.bound(), QStringList{kId + u"=F5"_s});
        running.press();
        QTRY_COMPARE(receiver.count, 2);
        center.unregisterHotKeysWithTarget(&receiver);
        running.press();
        QTest::qWait(300);
        QCOMPARE(receiver.count, 2);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<Shortcuts>();
    if (argc > 1 && QByteArray(argv[1]) == "--stand-in-portal") {
        QDBusConnection bus = QDBusConnection::sessionBus();
        StandInPortal portal(bus);
        bus.registerObject(QString::fromLatin1(GlobalShortcutsPortal::kPath), &portal,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties);
        if (!bus.registerService(QString::fromLatin1(GlobalShortcutsPortal::kService)))
            return 1;
        return app.exec();
    }
    TestPortal test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_portal.moc"
