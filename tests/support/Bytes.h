#pragma once
// Files read and written by their byte paths: names in these tests need not
// be UTF-8, and QFile cannot name every byte path.
#include <QByteArray>
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
    QByteArray data;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    if (fd >= 0)
        ::close(fd);
    return data;
}
