// One Rivulet per data folder: real processes of the program, a private session bus or none.
#include "Program.h"
#include "support/PrivateBus.h"
#include "app/InstanceService.h"
#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QStringList kNoTray{u"--no-tray"_s};

// The environment with the given session bus (by default none) and no display.
QProcessEnvironment session(const QString &bus = u"unix:path=/nonexistent/bus"_s)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus);
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    return env;
}

bool holdsLock(const QString &folder, const Program &program)
{
    return readAll(folder + u"/instance.lock"_s).trimmed().toLongLong() == program.pid() && program.process.state() == QProcess::Running;
}

mode_t modeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}
}

class TestInstance : public QObject {
    Q_OBJECT

private slots:
    // It names every download: made or tightened to 0700; without HOME only an own 0700 one in TMPDIR; no lock, no start.
    void dataFolderIsPrivate_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("refusal");
        const QString notOwn = u"not a folder of this account's own with mode 0700"_s;
        QTest::newRow("new") << u"home"_s << QString();
        QTest::newRow("left open by an earlier version") << u"home, open"_s << QString();
        QTest::newRow("a folder as the lock") << u"home, lock"_s << u"cannot make sure it runs only once"_s;
        QTest::newRow("a link as the lock") << u"home, linked document"_s << u"cannot make sure it runs only once"_s;
        QTest::newRow("a document as the lock: kept") << u"home, document"_s << QString();
        QTest::newRow("no HOME: none yet") << QString() << QString();
        QTest::newRow("no HOME: own, 0755") << u"open"_s << notOwn;
        QTest::newRow("no HOME: another account's") << u"other"_s << notOwn;
        QTest::newRow("no HOME: link to own folder") << u"link"_s << notOwn;
    }
    void dataFolderIsPrivate()
    {
        QFETCH(QString, planted);
        QFETCH(QString, refusal);
        TempHome home;
        const bool withHome = planted.startsWith("home"_L1);
        const QString tmp = home.path(u"tmp"_s), folder = withHome ? home.supportDir() : tmp + u"/Rivulet"_s;
        const QString lock = folder + u"/instance.lock"_s, document = home.path(u"thesis.odt"_s);
        QVERIFY(QDir().mkpath(tmp));
        if (planted == "link"_L1) {
            QVERIFY(QDir().mkpath(home.supportDir()) && ::chmod(QFile::encodeName(home.supportDir()).constData(), 0700) == 0);
            QVERIFY(QFile::link(home.supportDir(), folder));
        } else if (planted.endsWith("lock"_L1)) {
            QVERIFY(QDir().mkpath(lock));
        } else if (planted.endsWith("document"_L1)) {
            QVERIFY(QDir().mkpath(folder) && writeFile(document, "my thesis"));
            QVERIFY(planted.contains("linked"_L1) ? QFile::link(document, lock) : QFile::copy(document, lock));
        } else if (planted.endsWith("open"_L1) || planted == "other"_L1) {
            QVERIFY(QDir().mkpath(folder) && ::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
            QVERIFY(writeFile(folder + u"/storedata"_s, "<store/>") && ::chmod(QFile::encodeName(folder + u"/storedata"_s).constData(), 0644) == 0);
            if (planted == "other"_L1 && ::geteuid() != 0)
                QSKIP("giving a folder to another account needs root");
            QVERIFY(planted != "other"_L1 || ::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
        }
        QProcessEnvironment env = session();
        for (const QString &name : {u"HOME"_s, u"XDG_DATA_HOME"_s, u"XDG_CONFIG_HOME"_s})
            env.remove(withHome ? QString() : name);
        env.insert(u"TMPDIR"_s, tmp);
        Program start(kNoTray, env);
        if (!refusal.isEmpty()) {
            QVERIFY(start.exits(1));
            QVERIFY2(start.output().contains(refusal), qPrintable(start.output()));
            QVERIFY(!planted.endsWith("document"_L1) || readAll(document) == "my thesis");
            return;
        }
        // A lock file holding more than a pid is not rewritten.
        const auto locked = [&] {
            if (!planted.endsWith("document"_L1))
                return holdsLock(folder, start);
            return readAll(lock) == "my thesis" && start.process.state() == QProcess::Running;
        };
        QTRY_VERIFY_WITH_TIMEOUT(locked() && QFileInfo::exists(folder + u"/storedata"_s), 10000);
        QCOMPARE(modeOf(folder), mode_t(0700));
    }

    // A second start says who runs and exits 0 (with a bus, it and --toggle hand over); kill -9: test_app_history.
    void secondStartLeavesItToTheRunningOne()
    {
        for (const bool withBus : {false, true}) {
            PrivateBus bus;
            TempHome home;
            const QProcessEnvironment env = withBus ? session(bus.address) : session();
            Program first(kNoTray, env);
            QTRY_VERIFY_WITH_TIMEOUT(bus.ok() && holdsLock(home.supportDir(), first), 10000);
            Program second(kNoTray, env);
            QVERIFY(second.exits(0));
            const QString told = u"Rivulet already runs (process %1)%2"_s.arg(first.pid())
                                     .arg(withBus ? "; its drop-down was opened" : "");
            QVERIFY2(second.output().contains(told), qPrintable(second.output()));
            if (withBus) {
                QVERIFY(first.waitFor("A second start asked to open the drop-down", 5000));
                QVERIFY(Program({u"--toggle"_s}, env).exits(0));
                QVERIFY(first.waitFor("Toggle requested over the session bus", 5000));
            }
        }
    }

    // Another data folder's Rivulet may hold the name: the bus daemon says who, no call reaches the service.
    void handOverChecksTheHolder()
    {
        PrivateBus bus;
        QVERIFY(bus.ok());
        QDBusConnection connection = bus.connection();
        InstanceService service(connection);
        QVERIFY(service.publish());
        QSignalSpy toggles(&service, &InstanceService::toggleRequested);
        using H = InstanceService::HandOver;
        QCOMPARE(InstanceService::handOver(connection, InstanceService::Request::Toggle, getpid() + 1, 100), H::OtherInstance);
        QCOMPARE(toggles.size(), 0);
        QCOMPARE(InstanceService::handOver(QDBusConnection(u"none"_s), InstanceService::Request::Open, 0, 100), H::NoBus);
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
