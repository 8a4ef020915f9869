// Generated second-day histories against the real program: downloads (single
// files and album zips) arrive while the program runs, while it is stopped,
// while its MPD is down; the program quits, is killed (also in the middle of
// an unpack) and starts again. At the end every download is in the playlist,
// announced once, the music that was there before the first start never, and
// the user's originals are all still there. A failure prints its seed.
#include "TestSupport.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QRandomGenerator>
#include <csignal>
#include <random>
#include <sys/stat.h>
#include <utime.h>

namespace {
const QString kTone = QStringLiteral(RIVULET_TEST_DATA "/tones/01 tone.mp3");

bool writeZip(const QString &zip, const QStringList &names)
{
    // Made beside the folder and renamed in, as a browser finishes a download.
    QStringList args{QStringLiteral("-c"), QStringLiteral("import zipfile,sys\n"
                                                          "with zipfile.ZipFile(sys.argv[1],'w') as z:\n"
                                                          "  for n in sys.argv[3:]: z.write(sys.argv[2], n)\n"),
                     zip + QStringLiteral(".tmp"), kTone};
    args += names;
    return QProcess::execute(QStringLiteral("python3"), args) == 0 && QFile::rename(zip + QStringLiteral(".tmp"), zip);
}

void backdate(const QString &path, int days)
{
    const time_t t = time(nullptr) - days * 86400;
    const utimbuf times{t, t};
    ::utime(QFile::encodeName(path).constData(), &times);
}
}

class AppHistory {
public:
    AppHistory(unsigned seed, int steps) : m_seed(seed), m_steps(steps), m_rng(seed) {}

    QString run()
    {
        const QString tag = QStringLiteral("h%1").arg(m_seed);
        QDir().mkpath(m_downloads + QStringLiteral("/old album"));
        // Music that sat in Downloads, a month old, before the first start.
        QFile::copy(kTone, m_downloads + QStringLiteral("/old-") + tag + QStringLiteral(".mp3"));
        QFile::copy(kTone, m_downloads + QStringLiteral("/old album/old-") + tag + QStringLiteral("-b.mp3"));
        writeZip(m_downloads + QStringLiteral("/old-") + tag + QStringLiteral("-c.zip"), {QStringLiteral("old-") + tag + QStringLiteral("-c.mp3")});
        for (const QString &p : {QStringLiteral("/old-%1.mp3"), QStringLiteral("/old album/old-%1-b.mp3"), QStringLiteral("/old-%1-c.zip")})
            backdate(m_downloads + p.arg(tag), 30);
        backdate(m_downloads + QStringLiteral("/old album"), 30);
        backdate(m_downloads, 30);
        if (!startMonitor())
            return QStringLiteral("dbus-monitor does not start");
        start();
        for (int step = 0; step < m_steps; ++step) {
            announced();
            const int what = pick(100);
            const QString name = QStringLiteral("%1-%2").arg(tag).arg(step);
            if (what < 30) {
                QFile::copy(kTone, m_downloads + QStringLiteral("/.") + name + QStringLiteral(".part"));
                QFile::rename(m_downloads + QStringLiteral("/.") + name + QStringLiteral(".part"), m_downloads + QLatin1Char('/') + name + QStringLiteral(".mp3"));
                m_expected << name + QStringLiteral(".mp3");
                m_originals << name + QStringLiteral(".mp3");
            } else if (what < 50) {
                const QStringList tracks{name + QStringLiteral("-1.mp3"), name + QStringLiteral("-2.mp3")};
                if (!writeZip(m_downloads + QLatin1Char('/') + name + QStringLiteral(".zip"), tracks))
                    return QStringLiteral("python3 could not make a zip");
                m_expected << name + QStringLiteral(".zip");
                m_tracks << tracks;
                m_originals << name + QStringLiteral(".zip");
            } else if (what < 60) {
                stopMpd(); // the library goes away; the program's next import finds it down
            } else if (what < 70) {
                // A quit (often in the middle of an import) and a start.
                QThread::msleep(ulong(pick(800)));
                stop(SIGTERM);
                start();
            } else if (what < 76) {
                QThread::msleep(ulong(pick(800)));
                noteKilledInstance();
                stop(SIGKILL);
                start();
            } else if (what < 82) {
                stop(SIGTERM); // downloads arrive while the program is stopped
                const QString later = name + QStringLiteral("-while-stopped.mp3");
                QFile::copy(kTone, m_downloads + QLatin1Char('/') + later);
                m_expected << later;
                m_originals << later;
                start();
            } else {
                QThread::msleep(ulong(300 + pick(1500)));
            }
        }
        // The end of the day: a last start must bring in whatever is still owed.
        stop(SIGTERM);
        start();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 120000 && !(missing().isEmpty() && notYetInPlaylist().isEmpty()))
            QThread::msleep(250);
        QThread::msleep(3000); // time for a wrong second import to show
        stop(SIGTERM);
        m_monitor.kill();
        m_monitor.waitForFinished(5000);
        return check();
    }

private:
    int pick(int n) { return int(m_rng() % unsigned(n)); }

    bool startMonitor()
    {
        m_monitor.setProcessChannelMode(QProcess::MergedChannels);
        m_monitor.start(QStringLiteral("dbus-monitor"), {QStringLiteral("--session"),
                                                         QStringLiteral("interface='org.freedesktop.Notifications',member='Notify'")});
        return m_monitor.waitForStarted(5000);
    }

    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("RIVULET_TEST_TIMINGS"), QStringLiteral("fast"));
        env.insert(QStringLiteral("RIVULET_MPD_OUTPUT"), QStringLiteral("null"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path(QStringLiteral("run")));
        env.remove(QStringLiteral("MPD_HOST"));
        env.remove(QStringLiteral("MPD_PORT"));
        m_app.setProcessEnvironment(env);
        m_app.setProcessChannelMode(QProcess::MergedChannels);
        m_app.setStandardOutputFile(m_home.path(QStringLiteral("log")), QIODevice::Append);
        m_app.start(QStringLiteral(RIVULET_BINARY), {QStringLiteral("--no-tray")});
        m_app.waitForStarted(10000);
        // Started: its store exists once it has watched; a short pause lets it look.
        QThread::msleep(ulong(300 + pick(700)));
    }

    void stop(int signal)
    {
        if (m_app.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_app.processId()), signal);
        if (!m_app.waitForFinished(120000))
            m_failures << QStringLiteral("the program did not end after signal %1").arg(signal);
        if (signal == SIGKILL)
            stopMpd(); // its MPD would otherwise outlive it, as after a crash
    }

    void stopMpd()
    {
        const QByteArray pid = readAll(m_home.supportDir() + QStringLiteral("/mpd/pid")).trimmed();
        if (pid.toInt() <= 0)
            return;
        ::kill(pid.toInt(), SIGTERM);
        for (int i = 0; i < 100 && ::kill(pid.toInt(), 0) == 0; ++i)
            QThread::msleep(50);
    }

    // How often each download was announced, from the Notify calls on the
    // bus, and by which run of the program (its bus name) first.
    const QHash<QString, int> &announced()
    {
        m_seen += m_monitor.readAll();
        const int cut = int(m_seen.lastIndexOf('\n')) + 1;
        for (const QByteArray &line : m_seen.left(cut).split('\n')) {
            if (const int from = line.indexOf(" sender="); from >= 0)
                m_sender = line.mid(from + 8, line.indexOf(' ', from + 8) - from - 8);
            const int at = line.indexOf("Rivulet added ");
            if (at < 0)
                continue;
            QByteArray rest = line.mid(at + 14);
            if (rest.startsWith("the contents of "))
                rest = rest.mid(16);
            const QString name = QString::fromUtf8(rest.left(rest.indexOf(" to ")));
            if (!m_counts[name]++)
                m_firstBy[name] = m_sender;
        }
        m_seen.remove(0, cut);
        return m_counts;
    }

    // A run killed between its import and the save of its store imports
    // that file again at the next start: its bus name is noted before the kill.
    void noteKilledInstance()
    {
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        for (const QString &name : bus->registeredServiceNames().value())
            if (name.startsWith(QLatin1Char(':')) && bus->servicePid(name).value() == uint(m_app.processId()))
                m_killed.insert(name.toUtf8());
    }

    QStringList missing()
    {
        const QHash<QString, int> &counts = announced();
        QStringList out;
        for (const QString &e : std::as_const(m_expected))
            if (!counts.value(e))
                out << e;
        return out;
    }

    QStringList notYetInPlaylist()
    {
        // MPD keeps the stored playlist as a file; read there, it needs no running MPD.
        const QList<QByteArray> list = readAll(m_home.supportDir() + QStringLiteral("/mpd/playlists/Rivulet.m3u")).split('\n');
        QStringList out;
        QStringList wanted = m_tracks;
        for (const QString &e : std::as_const(m_expected))
            if (e.endsWith(QLatin1String(".mp3")))
                wanted << e;
        for (const QString &w : std::as_const(wanted)) {
            bool found = false;
            for (const QByteArray &uri : list)
                found = found || uri.endsWith('/' + QFile::encodeName(w));
            if (!found)
                out << w;
        }
        for (const QByteArray &uri : list)
            if (uri.contains("/old-"))
                out << QStringLiteral("(old music in the playlist) ") + QString::fromUtf8(uri);
        return out;
    }

    QString check()
    {
        QStringList problems = m_failures;
        for (const QString &m : missing())
            problems << QStringLiteral("never announced: ") + m;
        for (const QString &m : notYetInPlaylist())
            problems << QStringLiteral("not in the playlist: ") + m;
        const QHash<QString, int> &counts = announced();
        for (auto it = counts.begin(); it != counts.end(); ++it) {
            if (it.key().startsWith(QLatin1String("old-")))
                problems << QStringLiteral("imported music that was there before the first start: ") + it.key();
            else if (it.value() > 1 && !m_killed.contains(m_firstBy.value(it.key())))
                problems << QStringLiteral("announced %1 times: %2").arg(it.value()).arg(it.key());
        }
        for (const QString &o : std::as_const(m_originals))
            if (!QFile::exists(m_downloads + QLatin1Char('/') + o))
                problems << QStringLiteral("the user's download is gone: ") + o;
        if (problems.isEmpty())
            return {};
        if (qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_LOG"))
            printf("%s\n", readAll(m_home.path(QStringLiteral("log"))).constData());
        return QStringLiteral("seed %1 (replay with RIVULET_APP_HISTORY_SEED=%1; the program's log: %2):\n  ")
                   .arg(m_seed)
                   .arg(m_home.path(QStringLiteral("log")))
            + problems.join(QStringLiteral("\n  "));
    }

    unsigned m_seed;
    int m_steps;
    std::mt19937 m_rng;
    TempHome m_home;
    QString m_downloads = m_home.path(QStringLiteral("Downloads"));
    QProcess m_app;
    QProcess m_monitor;
    QByteArray m_seen;
    QHash<QString, int> m_counts;
    QHash<QString, QByteArray> m_firstBy;
    QByteArray m_sender;
    QSet<QByteArray> m_killed;
    QStringList m_expected, m_tracks, m_originals, m_failures;
};

class TestAppHistory : public QObject {
    Q_OBJECT
private slots:
    void generatedSecondDays()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a session bus with a notification daemon (run in the desktop rig)");
        QList<unsigned> seeds{1, 2};
        if (qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_SEED"))
            seeds = {qEnvironmentVariable("RIVULET_APP_HISTORY_SEED").toUInt()};
        const int steps = qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_STEPS") ? qEnvironmentVariableIntValue("RIVULET_APP_HISTORY_STEPS") : 20;
        QStringList failed;
        for (unsigned seed : seeds) {
            const QString problems = AppHistory(seed, steps).run();
            printf("app history seed %u, %d steps: %s\n", seed, steps, problems.isEmpty() ? "fine" : qPrintable(problems));
            fflush(stdout);
            if (!problems.isEmpty())
                failed << problems;
        }
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestAppHistory)
#include "test_app_history.moc"
