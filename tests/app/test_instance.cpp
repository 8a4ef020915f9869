// One Rivulet per data folder: real processes of the program, a real
// session bus (a private dbus-daemon) or none at all.
#include "TestSupport.h"
#include "../ui/PrivateBus.h"
#include "app/InstanceLock.h"
#include "app/InstanceService.h"
#include <QProcess>
#include <QSignalSpy>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Starts the program with the test's HOME and the given bus address.
struct Program {
    QProcess process;
    Program(const QString &busAddress, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        env.insert(QStringLiteral("RIVULET_MPD_OUTPUT"), QStringLiteral("null"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(RIVULET_BINARY), args);
        process.waitForStarted();
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
        }
    }
    QString output() { return QString::fromUtf8(process.readAll()); }
};

const QString kNoBus = QStringLiteral("unix:path=/nonexistent/bus");

// The first start holds the lock once the file names its pid.
bool holdsLock(const TempHome &home, qint64 pid)
{
    QFile f(home.supportDir() + QStringLiteral("/instance.lock"));
    return f.open(QIODevice::ReadOnly) && f.readAll().trimmed().toLongLong() == pid;
}
}

class TestInstance : public QObject {
    Q_OBJECT

private slots:
    // The lock in-process: a second holder is refused and told the pid; the
    // lock goes with the holder.
    void lockIsExclusiveAndNamesItsHolder()
    {
        TempHome home;
        const QByteArray folder = home.bytes(QStringLiteral("data/Rivulet"));
        InstanceLock first;
        QCOMPARE(first.acquire(folder), InstanceLock::Result::Acquired);
        // Record locks are per process: ask from a child, as a second start would.
        const pid_t child = fork();
        if (child == 0) {
            InstanceLock second;
            const bool refused = second.acquire(folder) == InstanceLock::Result::HeldByOther && second.holderPid() == getppid();
            _exit(refused ? 0 : 1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        first.release();
        InstanceLock again;
        QCOMPARE(again.acquire(folder), InstanceLock::Result::Acquired);
    }

    // Without a bus a second start says who runs and exits 0; killing the
    // holder (a crash) leaves no stale lock.
    void secondStartWithoutBusSaysWhoRuns()
    {
        TempHome home;
        Program first(kNoBus, {QStringLiteral("--no-tray")});
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(home, first.process.processId()), 10000);
        Program second(kNoBus, {QStringLiteral("--no-tray")});
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY2(second.output().contains(QStringLiteral("Rivulet already runs (process %1)").arg(first.process.processId())),
                 "the second start names the running one");
        QVERIFY(first.process.state() == QProcess::Running);

        QVERIFY(first.process.processId() > 0); // kill(0, ...) would signal the whole process group
        ::kill(pid_t(first.process.processId()), SIGKILL);
        first.process.waitForFinished(5000);
        Program third(kNoBus, {QStringLiteral("--no-tray")});
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(home, third.process.processId()), 10000);
        QVERIFY(third.process.state() == QProcess::Running);
    }

    // With a bus, a second start and --toggle hand their request to the
    // running one and exit 0 at once.
    void secondStartHandsOverOnTheBus()
    {
        PrivateBus bus;
        QVERIFY(bus.ok());
        TempHome home;
        Program first(bus.address, {QStringLiteral("--no-tray")});
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(home, first.process.processId()), 10000);
        QString firstLog;
        Program second(bus.address, {QStringLiteral("--no-tray")});
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(!second.output().contains(QStringLiteral("already runs")));
        QTRY_VERIFY_WITH_TIMEOUT((firstLog += first.output()).contains(QStringLiteral("A second start asked to open the drop-down")), 5000);

        Program toggle(bus.address, {QStringLiteral("--toggle")});
        QVERIFY(toggle.process.waitForFinished(10000));
        QCOMPARE(toggle.process.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT((firstLog += first.output()).contains(QStringLiteral("Toggle requested over the session bus")), 5000);
        QCOMPARE(firstLog.count(QStringLiteral("Rivulet already runs")), 0);
    }

    // Another data folder's Rivulet may hold the name: a start whose lock is
    // held by someone else is not handed to it.
    void handOverChecksTheHolder()
    {
        PrivateBus bus;
        QVERIFY(bus.ok());
        QDBusConnection connection = bus.connection();
        InstanceService service(connection);
        QVERIFY(service.publish());
        QSignalSpy toggles(&service, &InstanceService::toggleRequested);
        using H = InstanceService::HandOver;
        // The bus daemon answers who holds the name: no call reaches the service.
        const H result = InstanceService::handOver(connection, InstanceService::Request::Toggle, getpid() + 1, 100);
        QCOMPARE(result, H::OtherInstance);
        QCOMPARE(toggles.size(), 0);
        QCOMPARE(InstanceService::handOver(QDBusConnection(QStringLiteral("none")), InstanceService::Request::Open, 0, 100), H::NoBus);
    }
};

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
