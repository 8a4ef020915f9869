#include "tasks/CWTask.h"
#include "base/Log.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

namespace {
// How long the synchronous operation lets the event loop run per turn.
constexpr int kSliceMs = 500;
// Output that arrives shortly after the end is still reported before the end.
constexpr int kEndReportDelayMs = 400;
// A program that cannot be started ends with the shell's "not found" status.
constexpr int kCouldNotStart = 127;
// A working folder that cannot be entered: the shell's "cannot execute" status.
constexpr int kNoWorkingFolder = 126;
// How long a program asked to end may take before it is killed.
constexpr int kEndGraceMs = 2000;

// The process groups of the running children (each leads its own session),
// so that quitting can end them from any thread.
std::mutex g_runningMutex;
QSet<qint64> g_running;
std::atomic<bool> g_terminating = false;

void endGroup(qint64 pid, int signal)
{
    std::lock_guard lock(g_runningMutex);
    if (g_running.contains(pid))
        ::kill(-pid_t(pid), signal);
}
}

void CWTask::terminateRunningTasks()
{
    g_terminating = true;
    std::lock_guard lock(g_runningMutex);
    for (const qint64 pid : std::as_const(g_running))
        ::kill(-pid_t(pid), SIGTERM);
}

void CWTask::allowNewTasks()
{
    g_terminating = false;
}

CWTask::CWTask(QObject *parent) : QObject(parent) {}

CWTask::~CWTask()
{
    if (m_task && m_task->state() != QProcess::NotRunning) {
        if (m_pid > 0)
            endGroup(m_pid, SIGKILL);
        m_task->kill();
        m_task->waitForFinished(1000);
    }
    if (m_pid > 0) {
        std::lock_guard lock(g_runningMutex);
        g_running.remove(m_pid);
    }
}

QString CWTask::stringWithCleanedUpUTF8String(const char *bytes, int length)
{
    QByteArray copy;
    copy.reserve(qMax(0, length));
    for (int i = 0; i < length && bytes[i]; ++i)
        copy.append((uchar(bytes[i]) & 0x80) ? ' ' : bytes[i]);
    return QString::fromLatin1(copy);
}

qint64 CWTask::startTask(const QString &program, const QStringList &args)
{
    m_task = new QProcess(this);
    m_task->setProgram(program);
    m_task->setArguments(args);
    if (m_workingDirectory)
        m_task->setWorkingDirectory(*m_workingDirectory);
    if (m_addedEnvironment) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = m_addedEnvironment->cbegin(); it != m_addedEnvironment->cend(); ++it)
            env.insert(it.key(), it.value());
        m_task->setProcessEnvironment(env);
    }
    // Its own session: no controlling terminal to ask the user on. Bounds
    // are set in the child itself, between fork and exec, with no
    // allocation: the values are copied into the function beforehand.
    const bool limitSize = m_bounds.fileSizeLimit.has_value();
    const rlim_t sizeLimit = limitSize ? rlim_t(*m_bounds.fileSizeLimit) : 0;
    const QByteArray folder = m_bounds.workingDirectory.value_or(QByteArray());
    m_task->setChildProcessModifier([limitSize, sizeLimit, folder] {
        ::setsid();
        if (limitSize) {
            const rlimit size{sizeLimit, sizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &size);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::signal(SIGXFSZ, SIG_DFL);
        }
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
            ::_exit(kNoWorkingFolder);
    });
    connect(m_task, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        // A program ended by a signal reports it as a shell does: 128 + its number.
        taskEnded(how == QProcess::NormalExit ? code : 128 + code);
    });
    connect(m_task, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            taskEnded(kCouldNotStart);
    });
    connect(m_task, &QProcess::readyReadStandardOutput, this, [this] { taskUpdateStream(QStringLiteral("stdout")); });
    connect(m_task, &QProcess::readyReadStandardError, this, [this] { taskUpdateStream(QStringLiteral("stderr")); });
    m_taskOutput.clear();
    m_taskReturnValue = kRunning;
    m_task->start(QIODevice::ReadWrite);
    m_task->closeWriteChannel();
    m_pid = m_task->processId();
    if (m_pid > 0) {
        std::lock_guard lock(g_runningMutex);
        g_running.insert(m_pid);
    }
    if (g_terminating)
        endTask();
    return m_pid;
}

void CWTask::endTask()
{
    // The whole group: a tool's own children end with it.
    if (m_task && m_task->state() != QProcess::NotRunning && m_pid > 0)
        endGroup(m_pid, SIGTERM);
}

void CWTask::taskUpdateStream(const QString &stream)
{
    m_task->setReadChannel(stream == QLatin1String("stdout") ? QProcess::StandardOutput : QProcess::StandardError);
    const QByteArray chunk = m_task->readAll();
    if (chunk.isEmpty())
        return;
    const QString text = stringWithCleanedUpUTF8String(chunk.constData(), int(chunk.size()));
    m_taskOutput += text;
    if (m_delegate)
        m_delegate->cwTaskUpdate(this, {{stream, text}});
}

void CWTask::taskEnded(int status)
{
    if (m_taskReturnValue != kRunning)
        return;
    if (m_pid > 0) {
        std::lock_guard lock(g_runningMutex);
        g_running.remove(m_pid);
    }
    // Collect what the streams still hold before the end is known.
    taskUpdateStream(QStringLiteral("stdout"));
    taskUpdateStream(QStringLiteral("stderr"));
    m_taskReturnValue = status;
    emit ended();
    m_tellDelegateTaskEndedDelayTimer = new QTimer(this);
    m_tellDelegateTaskEndedDelayTimer->setSingleShot(true);
    connect(m_tellDelegateTaskEndedDelayTimer, &QTimer::timeout, this, &CWTask::tellDelegateTaskEnded);
    m_tellDelegateTaskEndedDelayTimer->start(kEndReportDelayMs);
}

void CWTask::tellDelegateTaskEnded()
{
    m_tellDelegateTaskEndedDelayTimer->deleteLater();
    m_tellDelegateTaskEndedDelayTimer = nullptr;
    if (m_delegate)
        m_delegate->cwTaskEnded(this, m_taskReturnValue);
}

QString CWTask::performSynchronousTask(const QString &program, const QStringList &args, const std::optional<QString> &workingDirectory,
                                       const std::optional<QMap<QString, QString>> &addedEnvironment, int *status)
{
    CWTask runner;
    runner.setWorkingDirectory(workingDirectory);
    runner.setAddedEnvironment(addedEnvironment);
    return runner.runAndWait(program, args, status);
}

QString CWTask::performSynchronousTask(const QString &program, const QStringList &args, const Bounds &bounds, int *status)
{
    CWTask runner;
    runner.setBounds(bounds);
    return runner.runAndWait(program, args, status);
}

QString CWTask::runAndWait(const QString &program, const QStringList &args, int *status)
{
    startTask(program, args);
    // Other work of this thread (file-system events) goes on meanwhile. A
    // slice ends early when the program ends, so a quick tool costs no wait.
    const int sliceMs = m_bounds.keepGoing || m_bounds.timeLimitMs ? m_bounds.checkEveryMs : kSliceMs;
    QElapsedTimer running, ending;
    running.start();
    while (m_taskReturnValue == kRunning) {
        QEventLoop slice;
        QTimer::singleShot(sliceMs, &slice, &QEventLoop::quit);
        connect(this, &CWTask::ended, &slice, &QEventLoop::quit);
        slice.exec();
        if (m_taskReturnValue != kRunning)
            break;
        const bool overTime = m_bounds.timeLimitMs && running.elapsed() > *m_bounds.timeLimitMs;
        if (!ending.isValid() && overTime)
            Log::f("--- %@ ran longer than its limit of %i seconds; it is ended", program, int(*m_bounds.timeLimitMs / 1000));
        if (!ending.isValid() && (g_terminating || overTime || (m_bounds.keepGoing && !m_bounds.keepGoing()))) {
            ending.start();
            endTask();
        } else if (ending.isValid() && ending.elapsed() > kEndGraceMs) {
            endGroup(m_pid, SIGKILL);
        }
    }
    if (status)
        *status = m_taskReturnValue;
    return m_taskOutput;
}
