#include "app/StandardFolders.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace StandardFolders {

QByteArray home()
{
    return QFile::encodeName(QDir::homePath());
}

static QByteArray absoluteEnv(const char *name)
{
    const QByteArray value = qgetenv(name);
    return value.startsWith('/') ? value : QByteArray();
}

QByteArray configHome()
{
    const QByteArray env = absoluteEnv("XDG_CONFIG_HOME");
    return env.isEmpty() ? home() + "/.config" : env;
}

std::optional<QByteArray> dataHome()
{
    const QByteArray env = absoluteEnv("XDG_DATA_HOME");
    if (!env.isEmpty())
        return env;
    if (qgetenv("HOME").isEmpty())
        return std::nullopt;
    return home() + "/.local/share";
}

// Reads XDG_DOWNLOAD_DIR="$HOME/..." from user-dirs.dirs.
static std::optional<QByteArray> downloadsFromUserDirs()
{
    QFile file(QFile::decodeName(configHome() + "/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    while (!file.atEnd()) {
        QByteArray line = file.readLine().trimmed();
        if (!line.startsWith("XDG_DOWNLOAD_DIR="))
            continue;
        QByteArray value = line.mid(int(qstrlen("XDG_DOWNLOAD_DIR=")));
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (value.startsWith("$HOME"))
            value = home() + value.mid(5);
        while (value.size() > 1 && value.endsWith('/'))
            value.chop(1);
        // A folder set to the home folder itself means "no such folder".
        if (!value.startsWith('/') || value == home())
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<QByteArray> downloads()
{
    const QByteArray env = absoluteEnv("XDG_DOWNLOAD_DIR");
    if (!env.isEmpty())
        return env;
    if (auto fromFile = downloadsFromUserDirs())
        return fromFile;
    const QByteArray fallback = home() + "/Downloads";
    if (QFileInfo(QFile::decodeName(fallback)).isDir())
        return fallback;
    return std::nullopt;
}

} // namespace StandardFolders
