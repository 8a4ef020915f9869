// The real program quits cleanly on SIGTERM and SIGINT in the middle of an import, also without a display.
#include "Program.h"
#include "store/StoreFixture.h"

using namespace Qt::StringLiterals;

class TestQuitAndCrash : public QObject {
    Q_OBJECT

private slots:
    // It waits for the import, saves and ends; the next start (no display, SIGINT) unpacks the archive again.
    void quitDuringALongImportEndsCleanly()
    {
        TempHome home;
        QVERIFY(QDir().mkpath(home.path(u"Downloads"_s)));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"RIVULET_TEST_TIMINGS"_s, u"fast"_s);
        env.insert(u"RIVULET_UNPACK_LIMIT"_s, u"4000000000"_s);
        const QString zip = home.path(u"Downloads/big.zip"_s);
        for (int run = 0; run < 2; ++run) {
            if (run > 0)
                env.remove(u"DISPLAY"_s), env.remove(u"WAYLAND_DISPLAY"_s);
            Program p(run ? QStringList() : QStringList{u"--no-tray"_s}, env);
            QVERIFY(p.waitFor("searchLocation:", 10000)); // logged once its quit handling is in place
            // 600 MB of zeros: a small zip that takes unzip a few seconds.
            QVERIFY(run > 0 || (QProcess::execute(u"python3"_s, {u"-c"_s, u"import zipfile,sys\n"
                                                                          "with zipfile.ZipFile(sys.argv[1]+'.tmp','w',zipfile.ZIP_DEFLATED,compresslevel=1) as z:\n"
                                                                          "  with z.open('big.bin','w',force_zip64=True) as f:\n"
                                                                          "    for i in range(600): f.write(bytes(1<<20))\n"_s,
                                                                  zip}) == 0 && QFile::rename(zip + u".tmp"_s, zip)));
            QVERIFY2(p.waitFor("^^/usr/bin/unzip " + QFile::encodeName(zip), 30000), run ? "not offered again" : "not unpacked");
            QThread::msleep(300);
            QVERIFY(p.endsOn(run ? SIGINT : SIGTERM));
            OpenStore store(home.storePath());
            QVERIFY(store.ok() && store.context->fetchAll(u"Settings"_s).size() == 1);
            QVERIFY(QFile::exists(zip)); // the user's archive is where it was
        }
    }
};

QTEST_GUILESS_MAIN(TestQuitAndCrash)
#include "test_quit_and_crash.moc"
