#include "app/InstanceLock.h"
#include "base/Log.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceLock::~InstanceLock()
{
    release();
}

void InstanceLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing drops the lock
    m_fd = -1;
}

InstanceLock::Result InstanceLock::acquire(const QByteArray &folder)
{
    release();
    m_holderPid = 0;
    struct stat st;
    if (::stat(folder.constData(), &st) != 0)
        QDir().mkpath(QFile::decodeName(folder));
    m_path = folder + '/' + kFileName;
    const int fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log::f("Could not open the instance lock %@: %@", m_path, QString::fromLocal8Bit(strerror(errno)));
        return Result::Failed;
    }
    // A record lock (not flock) so that the holder's pid can be asked for.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        const int err = errno;
        if (err == EACCES || err == EAGAIN) {
            struct flock probe = {};
            probe.l_type = F_WRLCK;
            probe.l_whence = SEEK_SET;
            if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
                m_holderPid = probe.l_pid;
            ::close(fd);
            return Result::HeldByOther;
        }
        Log::f("Could not lock %@: %@", m_path, QString::fromLocal8Bit(strerror(err)));
        ::close(fd);
        return Result::Failed;
    }
    // The pid in the file is for people; the lock itself decides.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) < 0)
        Log::f("Could not write %@", m_path);
    m_fd = fd;
    return Result::Acquired;
}
