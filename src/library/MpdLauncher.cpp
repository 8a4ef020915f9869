#include "library/MpdLauncher.h"
#include "base/Log.h"
#include "base/StandardFolders.h"
#include "library/LibraryImport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <ctime>

static QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray("/");
}

MpdLauncherConfig defaultMpdLauncherConfig(const QByteArray &supportFolder)
{
    MpdLauncherConfig config;
    config.home = StandardFolders::home();
    config.supportFolder = supportFolder;
    config.privateFolder = supportFolder + "/mpd";
    config.musicFolder = StandardFolders::music();
    config.runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    config.configHome = StandardFolders::configHome();
    // A machine without sound can ask for "null"; by default MPD picks the output.
    config.audioOutput = qgetenv("RIVULET_MPD_OUTPUT");
    return config;
}

bool MpdLauncher::userNamedServer()
{
    return !qEnvironmentVariableIsEmpty("MPD_HOST") || !qEnvironmentVariableIsEmpty("MPD_PORT");
}

QByteArray MpdLauncher::namedServer()
{
    QByteArray host = qgetenv("MPD_HOST");
    const QByteArray port = qgetenv("MPD_PORT");
    if (const qsizetype at = host.indexOf('@'); at > 0)
        host = host.mid(at + 1); // "password@host": the password stays out of the log
    return (host.isEmpty() ? QByteArray("localhost") : host) + (port.isEmpty() ? QByteArray() : ':' + port);
}

QByteArray MpdLauncher::namedAddress()
{
    QByteArray host = qgetenv("MPD_HOST");
    if (const qsizetype at = host.indexOf('@'); at > 0 && !host.startsWith('/'))
        host = host.mid(at + 1);
    if (host.startsWith('/'))
        return host;
    const QByteArray port = qgetenv("MPD_PORT");
    return (host.isEmpty() ? QByteArray("localhost") : host) + ':' + (port.isEmpty() ? QByteArray("6600") : port);
}

QList<QByteArray> MpdLauncher::addresses() const
{
    if (userNamedServer())
        return {QByteArray()};
    QList<QByteArray> list;
    if (!m_config.runtimeDir.isEmpty())
        list << m_config.runtimeDir + "/mpd/socket";
    if (!m_config.systemSocket.isEmpty())
        list << m_config.systemSocket;
    list << m_config.home + "/.mpd/socket";
    int port = m_config.defaultPort;
    const QByteArray own = userConfigFile();
    if (const auto conf = own.isEmpty() ? std::nullopt : MpdConfigFile::read(own, m_config.home)) {
        list << conf->socketBinds;
        port = conf->port;
    }
    if (port > 0)
        list << "localhost:" + QByteArray::number(port);
    list << privateSocket();
    QList<QByteArray> unique;
    for (const QByteArray &address : std::as_const(list))
        if (!unique.contains(address))
            unique << address;
    return unique;
}

QList<MpdConfigFile> MpdLauncher::configFiles() const
{
    QList<MpdConfigFile> files;
    for (const QByteArray &candidate : {m_config.configHome + "/mpd/mpd.conf", m_config.home + "/.mpdconf",
                                        m_config.home + "/.mpd/mpd.conf", m_config.systemConfig})
        if (!candidate.isEmpty())
            if (auto conf = MpdConfigFile::read(candidate, m_config.home))
                files << *conf;
    return files;
}

QByteArray MpdLauncher::userConfigFile() const
{
    for (const QByteArray &candidate : {m_config.configHome + "/mpd/mpd.conf", m_config.home + "/.mpdconf", m_config.home + "/.mpd/mpd.conf"})
        if (::access(candidate.constData(), F_OK) == 0)
            return candidate;
    return {};
}

// Our MPD's folder holds its socket, log, database and state: only the user
// may enter it, also when an earlier version made it open.
bool MpdLauncher::makePrivateFolder(const QByteArray &path)
{
    makeFolders(parentOf(path));
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    return (st.st_mode & 07777) == 0700 || ::chmod(path.constData(), 0700) == 0;
}

int MpdLauncher::lock()
{
    makePrivateFolder(m_config.privateFolder);
    const int fd = ::open((m_config.privateFolder + "/launch.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::flock(fd, LOCK_EX);
    return fd;
}

void MpdLauncher::unlock(int fd)
{
    if (fd >= 0) {
        ::flock(fd, LOCK_UN);
        ::close(fd);
    }
}

static QByteArray quoted(const QByteArray &value)
{
    QByteArray q = value;
    q.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + q + '"';
}

bool MpdLauncher::writePrivateConfig(QByteArray *path)
{
    const QByteArray dir = m_config.privateFolder;
    if (!makePrivateFolder(dir) || !makePrivateFolder(dir + "/playlists"))
        return false;
    // Files an earlier version left readable by all.
    for (const char *name : {"/log", "/database", "/state"})
        ::chmod((dir + name).constData(), 0600);
    makeFolders(m_config.musicFolder);
    QByteArray conf;
    conf += "music_directory " + quoted(m_config.musicFolder) + "\n";
    conf += "playlist_directory " + quoted(dir + "/playlists") + "\n";
    conf += "db_file " + quoted(dir + "/database") + "\n";
    conf += "state_file " + quoted(dir + "/state") + "\n";
    conf += "pid_file " + quoted(dir + "/pid") + "\n";
    conf += "log_file " + quoted(dir + "/log") + "\n";
    conf += "bind_to_address " + quoted(privateSocket()) + "\n";
    conf += "auto_update \"no\"\n";
    conf += "restore_paused \"yes\"\n";
    if (!m_config.audioOutput.isEmpty())
        conf += "audio_output {\n  type " + quoted(m_config.audioOutput) + "\n  name " + quoted(m_config.audioOutput) + "\n}\n";
    *path = dir + "/mpd.conf";
    QSaveFile file(QFile::decodeName(*path));
    return file.open(QIODevice::WriteOnly) && file.write(conf) == conf.size() && file.commit();
}

bool MpdLauncher::startServer()
{
    QByteArray conf = userConfigFile();
    const bool ours = conf.isEmpty();
    if (ours && !writePrivateConfig(&conf)) {
        Log::f("Could not write the configuration of the music library at %@", conf);
        return false;
    }
    Log::f("Starting the music library: mpd %@", conf);
    // MPD puts itself in the background; this waits only for that.
    QProcess mpd;
    mpd.setProgram(QStringLiteral("mpd"));
    mpd.setArguments({QFile::decodeName(conf)});
    mpd.setStandardInputFile(QProcess::nullDevice());
    if (ours) // what our server writes (log, database, state) is the user's alone
        mpd.setChildProcessModifier([] { ::umask(077); });
    mpd.start();
    if (!mpd.waitForFinished(10000) || mpd.exitCode() != 0) {
        Log::f("The music library did not start: %@", QString::fromLocal8Bit(mpd.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}
