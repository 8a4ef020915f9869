// One Rivulet per data folder: real processes of the program, a real
// session bus (a private dbus-daemon) or none at all.
#include "TestSupport.h"
#include "support/PrivateBus.h"
#include "app/InstanceLock.h"
#include "app/InstanceService.h"
#include <QProcess>
#include <QSignalSpy>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Starts the program with the test's HOME and the given bus address.
struct Program {
    QProcess process;
    Program(const QString &busAddress, const QStringList &args, const QProcessEnvironment &base = QProcessEnvironment::systemEnvironment())
    {
        QProcessEnvironment env = base;
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
    // A start that must refuse: its exit code and what it printed.
    QString refusal()
    {
        return process.waitForFinished(10000) && process.exitCode() == 1 ? output() : QStringLiteral("did not refuse");
    }
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
    // What sits in the lock's place and is not its file is never written to
    // and never locked through: a folder, a link to a document; a file of
    // other contents is locked but kept as it is.
    void lockTouchesOnlyItsOwnFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<InstanceLock::Result>("result");
        QTest::newRow("folder") << QStringLiteral("folder") << InstanceLock::Result::Failed;
        QTest::newRow("link to a document") << QStringLiteral("link") << InstanceLock::Result::Failed;
        QTest::newRow("file of other contents") << QStringLiteral("file") << InstanceLock::Result::Acquired;
    }
    void lockTouchesOnlyItsOwnFile()
    {
        QFETCH(QString, kind);
        QFETCH(InstanceLock::Result, result);
        TempHome home;
        const QString lockPath = home.path(QStringLiteral("instance.lock"));
        const QString document = home.path(QStringLiteral("thesis.odt"));
        QVERIFY(writeFile(document, "my thesis"));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(lockPath));
        else if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(document, lockPath));
        else
            QVERIFY(QFile::copy(document, lockPath));
        InstanceLock lock;
        QCOMPARE(lock.acquire(QFile::encodeName(home.home)), result);
        QCOMPARE(readAll(document), QByteArray("my thesis"));
        if (kind == QLatin1String("file"))
            QCOMPARE(readAll(lockPath), QByteArray("my thesis"));
        else
            QVERIFY(!lock.problem().isEmpty());
    }

    // A lock that cannot be taken stops the start with a clear message: two
    // copies would import the same files.
    void startWithoutTheLockRefuses()
    {
        TempHome home;
        QVERIFY(QDir().mkpath(home.supportDir() + QStringLiteral("/instance.lock")));
        Program start(kNoBus, {QStringLiteral("--no-tray")});
        QVERIFY2(start.refusal().contains(QStringLiteral("cannot make sure it runs only once")), "refused, saying why");
    }

    // Without HOME the data folder is in the shared temporary folder: only a
    // folder of this account's own, 0700, is used; one made there is 0700.
    void dataFolderInTheSharedTemporaryFolder_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("used");
        QTest::newRow("none yet") << QString() << true;
        QTest::newRow("own, 0755") << QStringLiteral("open") << false;
        QTest::newRow("another account's") << QStringLiteral("other") << false;
        QTest::newRow("link to own folder") << QStringLiteral("link") << false;
    }
    void dataFolderInTheSharedTemporaryFolder()
    {
        QFETCH(QString, planted);
        QFETCH(bool, used);
        TempHome home;
        const QString tmp = home.path(QStringLiteral("tmp"));
        const QString folder = tmp + QStringLiteral("/Rivulet");
        QVERIFY(QDir().mkpath(tmp));
        if (planted == QLatin1String("link")) {
            QVERIFY(QDir().mkpath(home.supportDir()));
            QVERIFY(QFile::setPermissions(home.supportDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QVERIFY(QFile::link(home.supportDir(), folder));
        } else if (!planted.isEmpty()) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
            if (planted == QLatin1String("other") && ::geteuid() != 0)
                QSKIP("giving a folder to another account needs root");
            if (planted == QLatin1String("other"))
                QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("TMPDIR"), tmp);
        Program start(kNoBus, {QStringLiteral("--no-tray")}, env);
        if (!used) {
            QVERIFY2(start.refusal().contains(QStringLiteral("not a folder of this account's own with mode 0700")), "refused");
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder + QStringLiteral("/instance.lock")), 10000);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(folder).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    // The data folder names every download: a new one is made 0700, one an
    // earlier version left open is tightened, and so is the store in it.
    void dataFolderIsPrivate_data()
    {
        QTest::addColumn<bool>("earlierVersion");
        QTest::newRow("new") << false;
        QTest::newRow("left open by an earlier version") << true;
    }
    void dataFolderIsPrivate()
    {
        QFETCH(bool, earlierVersion);
        TempHome home;
        const QString store = home.storePath();
        if (earlierVersion) {
            QVERIFY(QDir().mkpath(home.supportDir()) && writeFile(store, "<store/>"));
            QVERIFY(::chmod(QFile::encodeName(home.supportDir()).constData(), 0755) == 0 && ::chmod(QFile::encodeName(store).constData(), 0644) == 0);
        }
        Program first(kNoBus, {QStringLiteral("--no-tray")});
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(home, first.process.processId()), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(store), 10000);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(home.supportDir()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
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
        QVERIFY2(second.output().contains(QStringLiteral("Rivulet already runs (process %1); its drop-down was opened").arg(first.process.processId())),
                 "the terminal is told what happened");
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
