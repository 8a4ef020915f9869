#pragma once
// One running Rivulet per data folder: an exclusive lock on a file in that
// folder. The kernel releases it when the holder ends, however it ends, so a
// crash never leaves a stale lock behind.
#include <QByteArray>
#include <QString>
#include <sys/types.h>

class InstanceLock {
public:
    enum class Result { Acquired, HeldByOther, Failed };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock in folder, which must exist. HeldByOther gives the
    // holder's process id in holderPid(); Failed says why in problem().
    Result acquire(const QByteArray &folder);
    pid_t holderPid() const { return m_holderPid; }
    QString problem() const { return m_problem; }
    QByteArray path() const { return m_path; }
    // Gives the lock up (the destructor does the same).
    void release();

    static constexpr const char *kFileName = "instance.lock";

private:
    int m_fd = -1;
    pid_t m_holderPid = 0;
    QByteArray m_path;
    QString m_problem;
};
