// The external command runner with real child processes, and the bounds an untrusted tool runs under.
#include "TestSupport.h"
#include "tasks/CWTask.h"
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
// Bounds are written with designated initializers: the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {
QString sh(const QString &script, int *status, const CWTask::Bounds &bounds = {})
{
    return CWTask::performSynchronousTask(u"/bin/sh"_s, {u"-c"_s, script}, bounds, status);
}
}

class TestCWTask : public QObject {
    Q_OBJECT

private slots:
    // Both streams in order, non-ASCII as spaces; asking on stdin or the terminal fails instead of hanging.
    void outputStatusAndFolder()
    {
        int status = -1;
        for (const auto &[script, output, code] : {std::tuple{"echo one; sleep 0.2; echo two >&2; sleep 0.2; echo three; exit 3", "one\ntwo\nthree\n", 3},
                                                   {"printf 'caf\\303\\251!'", "caf  !", 0}, {"read answer || exit 4; exit 0", "", 4},
                                                   {"( : </dev/tty ) 2>/dev/null || exit 5", "", 5}}) {
            QCOMPARE(sh(QString::fromLatin1(script), &status), QString::fromLatin1(output));
            QCOMPARE(status, code);
        }
        CWTask::performSynchronousTask(u"/no/such/tool"_s, {}, CWTask::Bounds{}, &status);
        QVERIFY(status != 0);
        QTemporaryDir dir; // a working folder is taken as bytes
        const QByteArray odd = QFile::encodeName(dir.path()) + "/caf\xe9 \xff";
        QVERIFY(::mkdir(odd.constData(), 0700) == 0);
        sh(u"echo here >file"_s, &status, {.workingDirectory = odd});
        QVERIFY(status == 0 && ::access((odd + "/file").constData(), F_OK) == 0);
        sh(u"echo never >file"_s, &status, {.workingDirectory = odd + "/missing"});
        QCOMPARE(status, 126);
    }

    void noFileGrowsPastTheLimit()
    {
        QTemporaryDir dir;
        int status = 0;
        sh(u"head -c 1000000 /dev/zero >big; exit 0"_s, &status, {.workingDirectory = QFile::encodeName(dir.path()), .fileSizeLimit = 100000});
        QVERIFY(QFileInfo(dir.filePath(u"big"_s)).size() <= 100000);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no core file beside it
        QVERIFY(writeFile(dir.filePath(u"mine"_s), QByteArray(200000, 'x'))); // not this process's limit
    }

    // The whole group ends past the time limit and by the check, by force when TERM is ignored: status 128 + signal.
    void aRunPastItsTimeLimitEndsWithItsGroup()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const auto noStop = [&] { return !QFile::exists(dir.filePath(u"stop"_s)); };
        for (const CWTask::Bounds &bounds : {CWTask::Bounds{.workingDirectory = folder, .timeLimitMs = 300}, CWTask::Bounds{.workingDirectory = folder, .keepGoing = noStop}}) {
            int status = 0;
            sh(u"touch stop; sleep 30 & echo $! >child; wait"_s, &status, bounds);
            QCOMPARE(status, 128 + 15);
            const pid_t sleeper = pid_t(readAll(dir.filePath(u"child"_s)).trimmed().toInt());
            QTRY_VERIFY_WITH_TIMEOUT(sleeper > 0 && ::kill(sleeper, 0) != 0, 10000);
            sh(u"trap '' TERM; touch stop; while :; do :; done"_s, &status, bounds);
            QCOMPARE(status, 128 + 9);
        }
    }

    // Last: every later task ends at once. The runner turns this loop while it waits, so a timer quits.
    void runningToolsEndWhenTheProgramQuits()
    {
        QTimer::singleShot(300, [] { CWTask::terminateRunningTasks(); });
        int status = 0;
        QElapsedTimer t;
        t.start();
        sh(u"sleep 30"_s, &status);
        QCOMPARE(status, 128 + 15);
        sh(u"sleep 30"_s, &status);
        QVERIFY(t.elapsed() < 20000);
    }
};

QTEST_GUILESS_MAIN(TestCWTask)
#include "test_cwtask.moc"
