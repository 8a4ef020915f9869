#include "library/MpdConfigFile.h"
#include <cctype>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Whole file by its byte path; configurations are small.
std::optional<QByteArray> readFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    QByteArray all;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && all.size() < 1024 * 1024)
        all.append(buffer, n);
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    return all;
}

QByteArray expandHome(const QByteArray &value, const QByteArray &home)
{
    if (value == "~" || value.startsWith("~/"))
        return home + value.mid(1);
    return value;
}

// `name "value"` or `name value`; none for blocks, comments and other lines.
bool splitSetting(const QByteArray &line, QByteArray *name, QByteArray *value)
{
    const QByteArray text = line.trimmed();
    if (text.isEmpty() || text.startsWith('#'))
        return false;
    qsizetype space = 0;
    while (space < text.size() && !std::isspace(static_cast<unsigned char>(text.at(space))))
        ++space;
    *name = text.left(space);
    QByteArray rest = text.mid(space).trimmed();
    if (rest.startsWith('"')) {
        QByteArray out;
        for (qsizetype i = 1; i < rest.size() && rest.at(i) != '"'; ++i) {
            if (rest.at(i) == '\\' && i + 1 < rest.size())
                ++i;
            out += rest.at(i);
        }
        rest = out;
    }
    *value = rest;
    return !name->isEmpty();
}
}

std::optional<MpdConfigFile> MpdConfigFile::read(const QByteArray &path, const QByteArray &home)
{
    const std::optional<QByteArray> text = readFile(path);
    if (!text)
        return std::nullopt;
    MpdConfigFile conf;
    conf.path = path;
    int depth = 0; // settings inside blocks (audio_output { ... }) are not the server's
    for (const QByteArray &line : text->split('\n')) {
        QByteArray name, value;
        if (!splitSetting(line, &name, &value))
            continue;
        if (name == "}") {
            depth = qMax(0, depth - 1);
            continue;
        }
        if (value.endsWith('{') || name.endsWith('{')) {
            ++depth;
            continue;
        }
        if (depth > 0)
            continue;
        if (name == "music_directory") {
            conf.musicDirectory = expandHome(value, home);
        } else if (name == "port") {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (ok && port > 0 && port < 65536)
                conf.port = port;
        } else if (name == "bind_to_address") {
            const QByteArray bind = expandHome(value, home);
            if (bind.startsWith('/'))
                conf.socketBinds << bind;
            else
                conf.hostBinds << bind;
        }
    }
    return conf;
}

bool MpdConfigFile::serves(const QByteArray &address) const
{
    if (address.startsWith('/'))
        return socketBinds.contains(address);
    const qsizetype colon = address.lastIndexOf(':');
    return colon > 0 && address.mid(colon + 1).toInt() == port;
}
