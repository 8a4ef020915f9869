#pragma once
// The real program as a child process in the test's HOME, its output kept; its MPD without sound output.
#include "TestSupport.h"
#include <QElapsedTimer>
#include <QProcess>
#include <csignal>

struct Program {
    QProcess process;
    QByteArray seen; // its output so far

    explicit Program(const QStringList &args, QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
    {
        env.insert(QStringLiteral("RIVULET_MPD_OUTPUT"), QStringLiteral("null"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(RIVULET_BINARY), args);
        process.waitForStarted(10000);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(10000))
                process.kill();
        }
    }
    qint64 pid() const { return process.processId(); }
    QString output() { return QString::fromUtf8(seen += process.readAll()); }
    bool waitFor(const QByteArray &needle, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!(seen += process.readAll()).contains(needle) && t.elapsed() < ms)
            if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
                break;
        return seen.contains(needle);
    }
    bool exits(int code, int ms = 10000) { return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == code; }
    bool endsOn(int signal, int ms = 120000) { return pid() > 0 && ::kill(pid_t(pid()), signal) == 0 && exits(0, ms); } // not kill(0): the whole group
};
