#include "base/StandardFolders.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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

static QString errnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

// Makes each missing folder of path, 0700 as the XDG rule says.
static bool makePath(const QByteArray &path, QString *problem)
{
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? path : path.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            *problem = errnoText(errno);
            return false;
        }
        if (slash < 0)
            return true;
    }
}

QString prepareApplicationSupport()
{
    const QByteArray path = applicationSupport();
    const bool sharedTemp = !dataHome();
    QString problem;
    if (sharedTemp) {
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return errnoText(errno);
        struct stat st;
        // lstat: a link planted there must not lead elsewhere.
        if (::lstat(path.constData(), &st) != 0)
            return errnoText(errno);
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700)
            return QStringLiteral("there is no home folder (HOME is not set), and %1 in the shared temporary folder is not "
                                  "a folder of this account's own with mode 0700, so another account may have made it; "
                                  "set HOME or XDG_DATA_HOME")
                .arg(QFile::decodeName(path));
        return {};
    }
    if (!makePath(path, &problem))
        return problem;
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return errnoText(errno);
    if (!S_ISDIR(st.st_mode))
        return errnoText(ENOTDIR);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("the folder belongs to another account");
    // Earlier versions left it 0755: the store and logs named every download.
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), st.st_mode & 07700) != 0)
        return errnoText(errno);
    return {};
}

} // namespace StandardFolders
