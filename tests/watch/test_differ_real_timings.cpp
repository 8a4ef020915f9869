// The differ with the program's own timings (3 s latency, 5 s settle, 1 s
// passes): a file that stops changing is handed over once it has settled
// (about 5 to 12 s later; how much later is the machine's, measured in bench/).
#include "StartedDiffer.h"
#include <QElapsedTimer>

class TestDifferRealTimings : public QObject {
    Q_OBJECT

private slots:
    void settledFileIsHandedOverOnceAfterSettling()
    {
        DifferFixture f;
        const QString root = startOnDownloads(f, DirectoryDiffer::Timings());
        QFile out(root + QStringLiteral("/album track.m4a"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        for (int i = 0; i < 30; ++i) { // written for 3 seconds
            out.write(QByteArray(8192, 'x'));
            out.flush();
            QThread::msleep(100);
        }
        out.close();
        QElapsedTimer sinceLastWrite;
        sinceLastWrite.start();
        QTRY_COMPARE_WITH_TIMEOUT(f.delegate.files().size(), 1, 60000);
        const qint64 latency = sinceLastWrite.elapsed();
        QVERIFY2(latency >= 4500, qPrintable(QString::number(latency)));
        QThread::msleep(2000);
        QCOMPARE(f.delegate.files().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDifferRealTimings)
#include "test_differ_real_timings.moc"
