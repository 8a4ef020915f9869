#pragma once
// Runs one external program as a child process, with no shell in between,
// and collects everything it writes to standard output and standard error
// into one text. The child runs in its own session with its standard input
// closed, so a program that stops to ask a question fails instead of
// waiting for ever.
#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QProcess;
class QTimer;
class CWTask;

class CWTaskDelegate {
public:
    virtual ~CWTaskDelegate() = default;
    virtual void cwTaskUpdate(CWTask *, const QMap<QString, QString> &) {}
    virtual void cwTaskEnded(CWTask *, int) {}
};

class CWTask : public QObject {
    Q_OBJECT
public:
    static constexpr int kRunning = -999;

    explicit CWTask(QObject *parent = nullptr);
    ~CWTask() override;

    // Bounds for a run of an untrusted tool.
    struct Bounds {
        // The working folder as bytes (a name need not be text).
        std::optional<QByteArray> workingDirectory;
        // No file the program writes may grow past this (RLIMIT_FSIZE): the
        // kernel stops it with SIGXFSZ.
        std::optional<quint64> fileSizeLimit;
        // Asked every checkEveryMs while the program runs; false ends it.
        std::function<bool()> keepGoing;
        int checkEveryMs = 100;
        // A run longer than this is ended, its whole process group, and logged.
        std::optional<qint64> timeLimitMs;
    };

    // Runs the program and waits for it, turning this thread's event loop
    // meanwhile; returns the output and writes the exit status. A program
    // ended by a signal has the status 128 + the signal's number.
    static QString performSynchronousTask(const QString &program, const QStringList &args, const std::optional<QString> &workingDirectory,
                                          const std::optional<QMap<QString, QString>> &addedEnvironment, int *status);
    static QString performSynchronousTask(const QString &program, const QStringList &args, const Bounds &bounds, int *status);

    // Ends every child this process runs through CWTask, from any thread:
    // each gets SIGTERM, and one still running after two seconds SIGKILL.
    // Used when the program quits; later tasks end at once too.
    static void terminateRunningTasks();
    // Lets tools run again once the ending that terminateRunningTasks began is over
    // (a new controller in the same process, as tests make).
    static void allowNewTasks();

    qint64 startTask(const QString &program, const QStringList &args);
    void endTask();

    QProcess *task() const { return m_task; }
    std::optional<QString> workingDirectory() const { return m_workingDirectory; }
    void setWorkingDirectory(const std::optional<QString> &dir) { m_workingDirectory = dir; }
    std::optional<QMap<QString, QString>> addedEnvironment() const { return m_addedEnvironment; }
    void setAddedEnvironment(const std::optional<QMap<QString, QString>> &env) { m_addedEnvironment = env; }
    CWTaskDelegate *delegate() const { return m_delegate; }
    void setDelegate(CWTaskDelegate *d) { m_delegate = d; }
    QString taskOutput() const { return m_taskOutput; }
    int taskReturnValue() const { return m_taskReturnValue; }
    QTimer *tellDelegateTaskEndedDelayTimer() const { return m_tellDelegateTaskEndedDelayTimer; }

    // Copies at most length bytes, stopping at a zero byte, and turns every
    // byte with the high bit set into one space: the result is plain ASCII.
    static QString stringWithCleanedUpUTF8String(const char *bytes, int length);

signals:
    void ended();

private:
    void setBounds(const Bounds &bounds) { m_bounds = bounds; }
    QString runAndWait(const QString &program, const QStringList &args, int *status);
    void taskUpdateStream(const QString &stream);
    void taskEnded(int status);
    void tellDelegateTaskEnded();

    QProcess *m_task = nullptr;
    std::optional<QString> m_workingDirectory;
    std::optional<QMap<QString, QString>> m_addedEnvironment;
    CWTaskDelegate *m_delegate = nullptr;
    QString m_taskOutput;
    int m_taskReturnValue = kRunning;
    QTimer *m_tellDelegateTaskEndedDelayTimer = nullptr;
    Bounds m_bounds;
    qint64 m_pid = 0;
};
