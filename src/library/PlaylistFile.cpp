#include "library/PlaylistFile.h"
#include "base/Log.h"
#include "library/LibraryImport.h"
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readSmall(const QByteArray &path)
{
    QByteArray all;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return all;
    char buffer[8192];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        all.append(buffer, n);
    ::close(fd);
    return all;
}
}

bool writeM3u(const QByteArray &path, const QList<QByteArray> &entries)
{
    QByteArray text;
    for (const QByteArray &entry : entries)
        if (!entry.contains('\n'))
            text += entry + '\n';
    if (readSmall(path) == text)
        return true;
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray temp = path.left(slash + 1) + ".playlist-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Log::f("--- Could not write the playlist file %@: %@", path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    bool ok = ::fchmod(fd, 0666 & ~currentUmask()) == 0;
    for (qsizetype done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), path.constData()) == 0;
    if (!ok) {
        Log::f("--- Could not write the playlist file %@: %@", path, QString::fromLocal8Bit(strerror(errno)));
        ::unlink(temp.constData());
    }
    return ok;
}
