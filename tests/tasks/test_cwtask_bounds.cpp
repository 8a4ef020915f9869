// The bounds an untrusted tool runs under: its status when a signal ends it,
// the file-size limit set in the child, the check that ends it while it
// runs, a working folder whose name is not text, and ending every running
// tool at quit from another thread.
#include "tasks/CWTask.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString sh(const QString &script, const CWTask::Bounds &bounds, int *status)
{
    return CWTask::performSynchronousTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, bounds, status);
}
}

class TestCWTaskBounds : public QObject {
    Q_OBJECT

private slots:
    void aSignalIsReportedAs128PlusItsNumber()
    {
        int status = 0;
        CWTask::performSynchronousTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("kill -KILL $$")}, std::nullopt,
                                       std::nullopt, &status);
        QCOMPARE(status, 128 + 9);
        sh(QStringLiteral("kill -TERM $$"), {}, &status);
        QCOMPARE(status, 128 + 15);
    }

    void noFileGrowsPastTheLimit()
    {
        QTemporaryDir dir;
        CWTask::Bounds bounds;
        bounds.workingDirectory = QFile::encodeName(dir.path());
        bounds.fileSizeLimit = 100000;
        int status = 0;
        sh(QStringLiteral("head -c 1000000 /dev/zero >big; exit 0"), bounds, &status);
        QVERIFY2(QFileInfo(dir.path() + QStringLiteral("/big")).size() <= 100000, "the kernel stopped the write at the limit");
        QDir d(dir.path());
        QCOMPARE(d.entryList(QDir::Files).size(), 1); // no core file beside it
        // The same limit does not reach this process.
        QFile mine(dir.path() + QStringLiteral("/mine"));
        QVERIFY(mine.open(QIODevice::WriteOnly));
        QCOMPARE(mine.write(QByteArray(200000, 'x')), qint64(200000));
    }

    void theCheckEndsAToolWhileItRuns()
    {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        CWTask::Bounds bounds;
        bounds.workingDirectory = folder;
        int checks = 0;
        bounds.keepGoing = [&] {
            ++checks;
            return !QFile::exists(dir.path() + QStringLiteral("/stop"));
        };
        QElapsedTimer t;
        t.start();
        int status = 0;
        // The shell and its child both end: the whole group is signalled.
        sh(QStringLiteral("touch stop; sleep 30 & wait"), bounds, &status);
        QVERIFY(t.elapsed() < 3000);
        QCOMPARE(status, 128 + 15);
        QVERIFY(checks >= 1);
        // A tool that ignores the request is killed after a grace period.
        t.restart();
        sh(QStringLiteral("trap '' TERM; touch stop; while :; do :; done"), bounds, &status);
        QCOMPARE(status, 128 + 9);
        QVERIFY(t.elapsed() < 6000);
    }

    void aRunPastItsTimeLimitEndsWithItsGroup()
    {
        QTemporaryDir dir;
        CWTask::Bounds bounds;
        bounds.workingDirectory = QFile::encodeName(dir.path());
        bounds.timeLimitMs = 300;
        int status = 0;
        sh(QStringLiteral("sleep 30 & echo $! >child; wait"), bounds, &status);
        QCOMPARE(status, 128 + 15);
        QFile pidFile(dir.path() + QStringLiteral("/child"));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t sleeper = pid_t(pidFile.readAll().trimmed().toInt());
        QTRY_VERIFY_WITH_TIMEOUT(sleeper > 0 && ::kill(sleeper, 0) != 0, 10000);
    }

    void aWorkingFolderIsTakenAsBytes()
    {
        QTemporaryDir dir;
        const QByteArray odd = QFile::encodeName(dir.path()) + "/caf\xe9 \xff";
        QVERIFY(::mkdir(odd.constData(), 0700) == 0);
        CWTask::Bounds bounds;
        bounds.workingDirectory = odd;
        int status = -1;
        sh(QStringLiteral("echo here >file"), bounds, &status);
        QCOMPARE(status, 0);
        QVERIFY(::access((odd + "/file").constData(), F_OK) == 0);
        bounds.workingDirectory = odd + "/missing";
        sh(QStringLiteral("echo never >file"), bounds, &status);
        QCOMPARE(status, 126);
    }

    // Last: after it every new task ends at once, as at quit.
    void runningToolsEndWhenTheProgramQuits()
    {
        QElapsedTimer t;
        t.start();
        QThread *quitter = QThread::create([] {
            QThread::msleep(300);
            CWTask::terminateRunningTasks();
        });
        quitter->start();
        int status = 0;
        sh(QStringLiteral("sleep 30"), {}, &status);
        quitter->wait();
        delete quitter;
        QCOMPARE(status, 128 + 15);
        QVERIFY(t.elapsed() < 5000);
        t.restart();
        sh(QStringLiteral("sleep 30"), {}, &status);
        QVERIFY(t.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestCWTaskBounds)
#include "test_cwtask_bounds.moc"
