// The external command runner with real child processes.
#include "TestSupport.h"
#include "tasks/CWTask.h"
#include <QElapsedTimer>

namespace {
QString sh(const QString &script, int *status, const std::optional<QMap<QString, QString>> &env = std::nullopt)
{
    return CWTask::performSynchronousTask(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, std::nullopt, env, status);
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
    void outputOfBothStreamsInOrderAndStatus()
    {
        int status = 0;
        const QString out = sh(QStringLiteral("echo one; sleep 0.2; echo two >&2; sleep 0.2; echo three; exit 3"), &status);
        QCOMPARE(out, QStringLiteral("one\ntwo\nthree\n"));
        QCOMPARE(status, 3);
    }

    void nonAsciiBecomesSpacesAndZeroEndsAChunk()
    {
        int status = -1;
        QCOMPARE(sh(QStringLiteral("printf 'caf\\303\\251!'"), &status), QStringLiteral("caf  !"));
        QCOMPARE(status, 0);
        const char bytes[] = {'a', 'b', 0, 'c'};
        QCOMPARE(CWTask::stringWithCleanedUpUTF8String(bytes, 4), QStringLiteral("ab"));
    }

    void quickProgramReturnsPromptly()
    {
        QElapsedTimer t;
        t.start();
        int status = -1;
        sh(QStringLiteral("true"), &status);
        QCOMPARE(status, 0);
        QVERIFY(t.elapsed() < 600);
    }

    void environmentIsAddedToTheParents()
    {
        qputenv("RIVULET_TEST_PARENT", "kept");
        int status = 0;
        QCOMPARE(sh(QStringLiteral("echo $LANG/$RIVULET_TEST_PARENT"), &status, QMap<QString, QString>{{QStringLiteral("LANG"), QStringLiteral("C")}}),
                 QStringLiteral("C/kept\n"));
        QCOMPARE(sh(QStringLiteral("echo $RIVULET_TEST_PARENT"), &status), QStringLiteral("kept\n"));
        QTemporaryDir dir;
        QCOMPARE(CWTask::performSynchronousTask(QStringLiteral("/bin/pwd"), {}, dir.path(), std::nullopt, &status), dir.path() + QLatin1Char('\n'));
    }

    void programsThatAskOrCannotStartDoNotHang()
    {
        QElapsedTimer t;
        t.start();
        int status = 0;
        // Standard input is closed: a question gets end-of-file at once.
        sh(QStringLiteral("read answer || exit 4; exit 0"), &status);
        QCOMPARE(status, 4);
        // No controlling terminal to ask on either.
        sh(QStringLiteral("( : </dev/tty ) 2>/dev/null || exit 5"), &status);
        QCOMPARE(status, 5);
        CWTask::performSynchronousTask(QStringLiteral("/no/such/tool"), {}, std::nullopt, std::nullopt, &status);
        QVERIFY(status != 0);
        QVERIFY(t.elapsed() < 3000);
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
        QTRY_COMPARE_WITH_TIMEOUT(recorder.ended, 2, 2000);
        QVERIFY(recorder.streams.contains(QStringLiteral("stdout")) && recorder.streams.contains(QStringLiteral("stderr")));
    }
};

QTEST_GUILESS_MAIN(TestCWTask)
#include "test_cwtask.moc"
