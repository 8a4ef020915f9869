#include "base/StandardFolders.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace StandardFolders {

QByteArray home()
{
    return QFile::encodeName(QDir::homePath());
}

std::optional<QByteArray> cleanAbsolutePath(const QByteArray &path)
{
    if (!path.startsWith('/'))
        return std::nullopt;
    QList<QByteArray> parts;
    for (const QByteArray &part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
        } else {
            parts << part;
        }
    }
    return '/' + parts.join('/');
}

static QByteArray absoluteEnv(const char *name)
{
    return cleanAbsolutePath(qgetenv(name)).value_or(QByteArray());
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

// Reads KEY="$HOME/..." from user-dirs.dirs.
static std::optional<QByteArray> fromUserDirs(const QByteArray &key)
{
    QFile file(QFile::decodeName(configHome() + "/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    while (!file.atEnd()) {
        QByteArray line = file.readLine().trimmed();
        if (!line.startsWith(key + '='))
            continue;
        QByteArray value = line.mid(key.size() + 1);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (value.startsWith("$HOME"))
            value = home() + value.mid(5);
        const std::optional<QByteArray> clean = cleanAbsolutePath(value);
        // A folder set to the home folder itself means "no such folder".
        if (!clean || *clean == home())
            return std::nullopt;
        return clean;
    }
    return std::nullopt;
}

static std::optional<QByteArray> userDir(const char *key)
{
    const QByteArray env = absoluteEnv(key);
    if (!env.isEmpty())
        return env;
    return fromUserDirs(key);
}

std::optional<QByteArray> downloads()
{
    if (auto dir = userDir("XDG_DOWNLOAD_DIR"))
        return dir;
    const QByteArray fallback = home() + "/Downloads";
    if (QFileInfo(QFile::decodeName(fallback)).isDir())
        return fallback;
    return std::nullopt;
}

QByteArray music()
{
    if (auto dir = userDir("XDG_MUSIC_DIR"))
        return *dir;
    return home() + "/Music";
}

QByteArray applicationSupport()
{
    const auto data = dataHome();
    return (data ? *data : QFile::encodeName(QDir::tempPath())) + "/Rivulet";
}

} // namespace StandardFolders
