// The real program quits cleanly on SIGTERM and SIGINT, also in the middle
// of an import, and its store loads afterwards.
#include "TestSupport.h"
#include "store/StoreFixture.h"
#include <QProcess>
#include <csignal>
#include <unistd.h>

class TestQuitAndCrash : public QObject {
    Q_OBJECT

    static bool waitForLine(QProcess &p, const QByteArray &needle, int ms)
    {
        QByteArray seen;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardError();
            if (seen.contains(needle))
                return true;
        }
        return false;
    }

private slots:
    // Also without a display, where it runs without tray icon and windows.
    void quitSignalsEndTheProgramCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("display");
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGTERM, no display") << int(SIGTERM) << false;
    }
    void quitSignalsEndTheProgramCleanly()
    {
        QFETCH(int, signal);
        QFETCH(bool, display);
        TempHome home;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!display)
            env.remove(QStringLiteral("DISPLAY")), env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RIVULET_BINARY), display ? QStringList{QStringLiteral("--no-tray")} : QStringList());
        QVERIFY(waitForLine(p, display ? "searchLocation:" : "No display found; running without tray icon and windows.", 10000));
        QVERIFY(p.processId() > 0); // kill(0, ...) would signal the whole process group
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        OpenStore store(home.storePath());
        QVERIFY(store.ok());
        QCOMPARE(store.context->fetchAll(QStringLiteral("Settings")).size(), size_t(1));
    }

    // Quitting while an import runs a long unpack: the program waits for the
    // import to return, saves and ends normally, without a crash; the archive
    // is unpacked again at the next start.
    void quitDuringALongImportEndsCleanly()
    {
        TempHome home;
        QVERIFY(QDir().mkpath(home.path(QStringLiteral("Downloads"))));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("RIVULET_TEST_TIMINGS"), QStringLiteral("fast"));
        env.insert(QStringLiteral("RIVULET_UNPACK_LIMIT"), QStringLiteral("4000000000"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RIVULET_BINARY), {QStringLiteral("--no-tray")});
        QVERIFY(p.waitForStarted());
        QVERIFY(waitForLine(p, "searchLocation:", 10000));
        // 600 MB of zeros: a small zip that takes unzip a few seconds.
        const QString zip = home.path(QStringLiteral("Downloads/big.zip"));
        QCOMPARE(QProcess::execute(QStringLiteral("python3"),
                                   {QStringLiteral("-c"), QStringLiteral("import zipfile,sys\n"
                                                                         "with zipfile.ZipFile(sys.argv[1]+'.tmp','w',zipfile.ZIP_DEFLATED,compresslevel=1) as z:\n"
                                                                         "  with z.open('big.bin','w',force_zip64=True) as f:\n"
                                                                         "    b=bytes(1<<20)\n"
                                                                         "    for i in range(600): f.write(b)\n"),
                                    zip}),
                 0);
        QVERIFY(QFile::rename(zip + QStringLiteral(".tmp"), zip));
        for (int run = 0; run < 2; ++run) {
            if (run > 0) {
                p.start(QStringLiteral(RIVULET_BINARY), {QStringLiteral("--no-tray")});
                QVERIFY(p.waitForStarted());
            }
            QVERIFY2(waitForLine(p, "^^/usr/bin/unzip " + QFile::encodeName(zip), 30000), run ? "not offered again" : "not unpacked");
            QThread::msleep(300);
            QVERIFY(p.processId() > 0); // kill(0, ...) would signal the whole process group
            ::kill(pid_t(p.processId()), SIGTERM);
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
            OpenStore store(home.storePath());
            QVERIFY(store.ok());
            QVERIFY(QFile::exists(zip)); // the user's archive is where it was
        }
    }
};

QTEST_GUILESS_MAIN(TestQuitAndCrash)
#include "test_quit_and_crash.moc"
