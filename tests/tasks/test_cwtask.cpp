// The external command runner with real child processes, and the bounds an
// untrusted tool runs under: signal status, file-size and time limits, the
// check that ends it, a working folder as bytes, and ending all at quit.
#include "TestSupport.h"
#include "tasks/CWTask.h"
#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString sh(const QString &script, int *status, const CWTask::Bounds &bounds = {})
{
    return CWTask::performSynchronousTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, bounds, status);
}

CWTask::Bounds in(const QTemporaryDir &dir)
{
    CWTask::Bounds bounds;
    bounds.workingDirectory = QFile::encodeName(dir.path());
    return bounds;
}

struct Recorder : CWTaskDelegate {
    QStringList streams;
    int ended = CWTask::kRunning;
    void cwTaskUpdate(CWTask *, const QMap<QString, QString> &update) override { streams << update.firstKey(); }
    void cwTaskEnded(CWTask *, int status) override { ended = status; }
};
}

class TestCWTask : public QObject {
    Q_OBJECT

private slots:
    void outputStatusAndEnvironment()
    {
        int status = 0;
        QCOMPARE(sh(QStringLiteral("echo one; sleep 0.2; echo two >&2; sleep 0.2; echo three; exit 3"), &status), QStringLiteral("one\ntwo\nthree\n"));
        QCOMPARE(status, 3);
        QCOMPARE(sh(QStringLiteral("printf 'caf\\303\\251!'"), &status), QStringLiteral("caf  !")); // non-ASCII becomes spaces
        QCOMPARE(status, 0);
        const char bytes[] = {'a', 'b', 0, 'c'};
        QCOMPARE(CWTask::stringWithCleanedUpUTF8String(bytes, 4), QStringLiteral("ab"));
        qputenv("RIVULET_TEST_PARENT", "kept");
        QCOMPARE(CWTask::performSynchronousTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo $LANG/$RIVULET_TEST_PARENT")},
                                                std::nullopt, QMap<QString, QString>{{QStringLiteral("LANG"), QStringLiteral("C")}}, &status),
                 QStringLiteral("C/kept\n"));
        for (const auto &[script, code] : {std::pair{"kill -KILL $$", 128 + 9}, {"kill -TERM $$", 128 + 15}}) {
            sh(QString::fromLatin1(script), &status);
            QCOMPARE(status, code);
        }
    }

    void programsThatAskOrCannotStartDoNotHang()
    {
        QElapsedTimer t;
        t.start();
        int status = 0;
        sh(QStringLiteral("read answer || exit 4; exit 0"), &status); // standard input is closed
        QCOMPARE(status, 4);
        sh(QStringLiteral("( : </dev/tty ) 2>/dev/null || exit 5"), &status); // no controlling terminal
        QCOMPARE(status, 5);
        CWTask::performSynchronousTask(QStringLiteral("/no/such/tool"), {}, std::nullopt, std::nullopt, &status);
        QVERIFY(status != 0);
        QVERIFY(t.elapsed() < 10000);
    }

    void delegateHearsOfTheEndAfterTheDelay()
    {
        Recorder recorder;
        CWTask task;
        task.setDelegate(&recorder);
        QVERIFY(task.startTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2; exit 2")}) > 0);
        QCOMPARE(task.taskReturnValue(), CWTask::kRunning);
        QTRY_COMPARE(task.taskReturnValue(), 2);
        QCOMPARE(recorder.ended, int(CWTask::kRunning));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.ended, 2, 5000);
        QVERIFY(recorder.streams.contains(QStringLiteral("stdout")) && recorder.streams.contains(QStringLiteral("stderr")));
    }

    void noFileGrowsPastTheLimit()
    {
        QTemporaryDir dir;
        CWTask::Bounds bounds = in(dir);
        bounds.fileSizeLimit = 100000;
        int status = 0;
        sh(QStringLiteral("head -c 1000000 /dev/zero >big; exit 0"), &status, bounds);
        QVERIFY(QFileInfo(dir.path() + QStringLiteral("/big")).size() <= 100000);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no core file beside it
        QVERIFY(writeFile(dir.path() + QStringLiteral("/mine"), QByteArray(200000, 'x'))); // not this process's limit
    }

    // The whole group ends: by the check, past the time limit, and by force when TERM is ignored.
    void theCheckAndTheTimeLimitEndTheGroup()
    {
        QTemporaryDir dir;
        CWTask::Bounds bounds = in(dir);
        bounds.keepGoing = [&] { return !QFile::exists(dir.path() + QStringLiteral("/stop")); };
        int status = 0;
        sh(QStringLiteral("touch stop; sleep 30 & echo $! >child; wait"), &status, bounds);
        QCOMPARE(status, 128 + 15);
        const pid_t sleeper = pid_t(readAll(dir.path() + QStringLiteral("/child")).trimmed().toInt());
        QTRY_VERIFY_WITH_TIMEOUT(sleeper > 0 && ::kill(sleeper, 0) != 0, 10000);
        sh(QStringLiteral("trap '' TERM; touch stop; while :; do :; done"), &status, bounds);
        QCOMPARE(status, 128 + 9);
        bounds = in(dir);
        bounds.timeLimitMs = 300;
        QElapsedTimer t;
        t.start();
        sh(QStringLiteral("sleep 30 & wait"), &status, bounds);
        QCOMPARE(status, 128 + 15);
        QVERIFY(t.elapsed() < 20000);
    }

    void aWorkingFolderIsTakenAsBytes()
    {
        QTemporaryDir dir;
        const QByteArray odd = QFile::encodeName(dir.path()) + "/caf\xe9 \xff";
        QVERIFY(::mkdir(odd.constData(), 0700) == 0);
        CWTask::Bounds bounds;
        bounds.workingDirectory = odd;
        int status = -1;
        sh(QStringLiteral("echo here >file"), &status, bounds);
        QCOMPARE(status, 0);
        QVERIFY(::access((odd + "/file").constData(), F_OK) == 0);
        bounds.workingDirectory = odd + "/missing";
        sh(QStringLiteral("echo never >file"), &status, bounds);
        QCOMPARE(status, 126);
    }

    // Last: after it every new task ends at once, as at quit.
    void runningToolsEndWhenTheProgramQuits()
    {
        QThread *quitter = QThread::create([] {
            QThread::msleep(300);
            CWTask::terminateRunningTasks();
        });
        quitter->start();
        int status = 0;
        QElapsedTimer t;
        t.start();
        sh(QStringLiteral("sleep 30"), &status);
        quitter->wait();
        delete quitter;
        QCOMPARE(status, 128 + 15);
        sh(QStringLiteral("sleep 30"), &status);
        QVERIFY(t.elapsed() < 20000);
    }
};

QTEST_GUILESS_MAIN(TestCWTask)
#include "test_cwtask.moc"
