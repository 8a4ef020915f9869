#include "library/MpdLauncher.h"
#include "base/Log.h"
#include "base/StandardFolders.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <ctime>

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

QList<QByteArray> MpdLauncher::addresses() const
{
    QList<QByteArray> list;
    if (userNamedServer())
        return {QByteArray()};
    if (!m_config.runtimeDir.isEmpty())
        list << m_config.runtimeDir + "/mpd/socket";
    list << m_config.home + "/.mpd/socket" << privateSocket();
    return list;
}

QByteArray MpdLauncher::userConfigFile() const
{
    for (const QByteArray &candidate : {m_config.configHome + "/mpd/mpd.conf", m_config.home + "/.mpdconf", m_config.home + "/.mpd/mpd.conf"})
        if (QFile::exists(QFile::decodeName(candidate)))
            return candidate;
    return {};
}

int MpdLauncher::lock()
{
    QDir().mkpath(QFile::decodeName(m_config.privateFolder));
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
    QDir().mkpath(QFile::decodeName(dir + "/playlists"));
    QDir().mkpath(QFile::decodeName(m_config.musicFolder));
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
    if (conf.isEmpty() && !writePrivateConfig(&conf)) {
        Log::f("Could not write the configuration of the music library at %@", conf);
        return false;
    }
    Log::f("Starting the music library: mpd %@", conf);
    // MPD puts itself in the background; this waits only for that.
    QProcess mpd;
    mpd.setProgram(QStringLiteral("mpd"));
    mpd.setArguments({QFile::decodeName(conf)});
    mpd.setStandardInputFile(QProcess::nullDevice());
    mpd.start();
    if (!mpd.waitForFinished(10000) || mpd.exitCode() != 0) {
        Log::f("The music library did not start: %@", QString::fromLocal8Bit(mpd.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}
