#include "tasks/CWTask.h"

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <unistd.h>

namespace {
// How long the synchronous operation lets the event loop run per turn.
constexpr int kSliceMs = 500;
// Output that arrives shortly after the end is still reported before the end.
constexpr int kEndReportDelayMs = 400;
// A program that cannot be started ends with the shell's "not found" status.
constexpr int kCouldNotStart = 127;
}

CWTask::CWTask(QObject *parent) : QObject(parent) {}

CWTask::~CWTask()
{
    if (m_task && m_task->state() != QProcess::NotRunning) {
        m_task->kill();
        m_task->waitForFinished(1000);
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
    // Its own session: no controlling terminal to ask the user on.
    m_task->setChildProcessModifier([] { ::setsid(); });
    connect(m_task, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        taskEnded(how == QProcess::NormalExit ? code : 255); // killed by a signal
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
    return m_task->processId();
}

void CWTask::endTask()
{
    if (m_task && m_task->state() != QProcess::NotRunning)
        m_task->terminate();
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
    runner.startTask(program, args);
    // Other work of this thread (file-system events) goes on meanwhile. A
    // slice ends early when the program ends, so a quick tool costs no wait.
    while (runner.taskReturnValue() == kRunning) {
        QEventLoop slice;
        QTimer::singleShot(kSliceMs, &slice, &QEventLoop::quit);
        connect(&runner, &CWTask::ended, &slice, &QEventLoop::quit);
        slice.exec();
    }
    if (status)
        *status = runner.taskReturnValue();
    return runner.taskOutput();
}
