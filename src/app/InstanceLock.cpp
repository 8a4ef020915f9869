#include "app/InstanceLock.h"
#include "base/Log.h"

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

namespace {
QString errnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

// Only a file that holds nothing but a pid is ours to rewrite.
bool holdsOnlyAPid(int fd)
{
    char bytes[32];
    const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
    if (n < 0 || n >= ssize_t(sizeof bytes))
        return false;
    for (ssize_t i = 0; i < n; ++i)
        if (!(bytes[i] >= '0' && bytes[i] <= '9') && !(bytes[i] == '\n' && i == n - 1))
            return false;
    return true;
}
}

InstanceLock::Result InstanceLock::acquire(const QByteArray &folder)
{
    release();
    m_holderPid = 0;
    m_problem.clear();
    m_path = folder + '/' + kFileName;
    // O_NOFOLLOW: a link planted in the lock's place leads nowhere; O_NONBLOCK:
    // a fifo there cannot hang the start.
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool created = true;
    int fd = ::open(m_path.constData(), flags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(m_path.constData(), flags);
    }
    if (fd < 0) {
        m_problem = errno == ELOOP ? QStringLiteral("it is a link") : errnoText(errno);
        Log::f("Could not open the instance lock %@: %@", m_path, m_problem);
        return Result::Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        m_problem = QStringLiteral("it is not a plain file of this account's");
        Log::f("Could not use the instance lock %@: %@", m_path, m_problem);
        ::close(fd);
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
        m_problem = errnoText(err);
        Log::f("Could not lock %@: %@", m_path, m_problem);
        ::close(fd);
        return Result::Failed;
    }
    // The pid in the file is for people; the lock itself decides. A file that
    // holds anything else (or is linked elsewhere too) is left as it is.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (created || (st.st_nlink == 1 && holdsOnlyAPid(fd))) {
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) < 0)
            Log::f("Could not write %@", m_path);
    }
    m_fd = fd;
    return Result::Acquired;
}
