#pragma once
// Files read and written by byte paths: test names need not be UTF-8, which QFile cannot name.
#include <QByteArray>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>

inline bool writeBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return (fd < 0 || ::close(fd) == 0) && ok;
}

inline QByteArray readBytes(const QByteArray &path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? file.readAll() : QByteArray();
}
