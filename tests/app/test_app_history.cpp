// Generated second days of the real program: each download imported, announced once; old music never; originals kept.
#include "Program.h"
#include "support/PrivateMpd.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <optional>
#include <random>
#include <utime.h>

using namespace Qt::StringLiterals;

namespace {
const QString kTone = QStringLiteral(RIVULET_TEST_DATA "/tones/01 tone.mp3");

// Made beside the folder and renamed in, as a browser finishes a download.
bool writeZip(const QString &zip, const QStringList &names)
{
    const QString script = u"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z:\n  for n in sys.argv[3:]: z.write(sys.argv[2], n)\n"_s;
    return QProcess::execute(u"python3"_s, QStringList{u"-c"_s, script, zip + u".tmp"_s, kTone} + names) == 0 && QFile::rename(zip + u".tmp"_s, zip);
}
}

class AppHistory : PrivateMpd {
public:
    AppHistory(unsigned seed, int steps) : m_seed(seed), m_steps(steps), m_rng(seed) {}

    QString run()
    {
        const QString tag = u"h%1"_s.arg(m_seed);
        // Music a month old, there before the first start.
        const QStringList old{u"old-%1.mp3"_s.arg(tag), u"old album/old-%1-b.mp3"_s.arg(tag), u"old-%1-c.zip"_s.arg(tag)};
        QDir().mkpath(dl(u"old album"_s));
        QFile::copy(kTone, dl(old[0]));
        QFile::copy(kTone, dl(old[1]));
        writeZip(dl(old[2]), {u"old-%1-c.mp3"_s.arg(tag)});
        const time_t monthAgo = time(nullptr) - 30 * 86400;
        const utimbuf times{monthAgo, monthAgo};
        for (const QString &p : old + QStringList{u"old album"_s, QString()})
            ::utime(QFile::encodeName(dl(p)).constData(), &times);
        m_monitor.start(u"dbus-monitor"_s, {u"--session"_s, u"interface='org.freedesktop.Notifications',member='Notify'"_s});
        if (!m_monitor.waitForStarted(5000))
            return u"dbus-monitor does not start"_s;
        start();
        for (int step = 0; step < m_steps; ++step) {
            const int what = pick(100);
            const QString name = u"%1-%2"_s.arg(tag).arg(step);
            if (what < 30) {
                QFile::copy(kTone, dl(u"."_s + name + u".part"_s));
                QFile::rename(dl(u"."_s + name + u".part"_s), dl(name + u".mp3"_s));
                m_expected << name + u".mp3"_s;
            } else if (what < 50) {
                const QStringList tracks{name + u"-1.mp3"_s, name + u"-2.mp3"_s};
                if (!writeZip(dl(name + u".zip"_s), tracks))
                    return u"python3 could not make a zip"_s;
                m_expected << name + u".zip"_s;
                m_tracks << tracks;
            } else if (what < 60) {
                stopMpd(); // the library goes away; the program's next import finds it down
            } else if (what < 76) {
                QThread::msleep(ulong(pick(800)));
                stop(what < 70 ? SIGTERM : SIGKILL);
                start();
            } else if (what < 82) {
                stop(SIGTERM); // downloads arrive while the program is stopped
                QFile::copy(kTone, dl(name + u"-while-stopped.mp3"_s));
                m_expected << name + u"-while-stopped.mp3"_s;
                start();
            } else {
                QThread::msleep(ulong(300 + pick(1500)));
            }
        }
        stop(SIGTERM); // a last start must bring in whatever is still owed
        start();
        (void)QTest::qWaitFor([this] { return owed().isEmpty(); }, 120000);
        QTest::qWait(20000); // time for a wrong second import to show
        stop(SIGTERM);
        m_monitor.kill();
        m_monitor.waitForFinished(5000);
        return check();
    }

private:
    int pick(int n) { return int(m_rng() % unsigned(n)); }
    QString dl(const QString &name) const { return home.path(u"Downloads/"_s + name); }

    void start()
    {
        m_app.emplace(QStringList{u"--no-tray"_s});
        QThread::msleep(ulong(300 + pick(700)));
    }

    void stop(int signal)
    {
        if (!m_app)
            return;
        // A run killed before saving an import may rightly announce it again: its bus name is noted.
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        for (const QString &name : signal == SIGKILL ? bus->registeredServiceNames().value() : QStringList())
            if (name.startsWith(u':') && bus->servicePid(name).value() == uint(m_app->pid()))
                m_killed.insert(name.toUtf8());
        ::kill(pid_t(m_app->pid()), signal);
        if (!m_app->process.waitForFinished(120000))
            m_failures << u"the program did not end after signal %1"_s.arg(signal);
        m_log += m_app->output();
        m_app.reset();
        if (signal == SIGKILL)
            stopMpd(); // its MPD would otherwise outlive it, as after a crash
    }

    // How often each download was announced on the bus, and by which run (bus name) first.
    const QHash<QString, int> &announced()
    {
        m_seen += m_monitor.readAll();
        const int cut = int(m_seen.lastIndexOf('\n')) + 1;
        for (const QByteArray &line : m_seen.left(cut).split('\n')) {
            if (const int from = line.indexOf(" sender="); from >= 0)
                m_sender = line.mid(from + 8, line.indexOf(' ', from + 8) - from - 8);
            if (const int at = line.indexOf("Rivulet added "); at >= 0) {
                QByteArray rest = line.mid(at + 14);
                rest.remove(0, rest.startsWith("the contents of ") ? 16 : 0);
                const QString name = QString::fromUtf8(rest.left(rest.indexOf(" to ")));
                if (!m_counts[name]++)
                    m_firstBy[name] = m_sender;
            }
        }
        m_seen.remove(0, cut);
        return m_counts;
    }

    // What the day still owes: downloads not announced, tracks not in the playlist, old music in it.
    QStringList owed()
    {
        QStringList out;
        for (const QString &e : std::as_const(m_expected))
            if (!announced().value(e))
                out << u"never announced: "_s + e;
        const QList<QByteArray> list = readAll(home.supportDir() + u"/mpd/playlists/Rivulet.m3u"_s).split('\n');
        for (const QString &w : m_tracks + m_expected.filter(u".mp3"_s))
            if (std::none_of(list.begin(), list.end(), [&w](const QByteArray &uri) { return uri.endsWith('/' + QFile::encodeName(w)); }))
                out << u"not in the playlist: "_s + w;
        for (const QByteArray &uri : list)
            if (uri.contains("/old-"))
                out << u"old music in the playlist: "_s + QString::fromUtf8(uri);
        return out;
    }

    QString check()
    {
        QStringList problems = m_failures + owed();
        const QHash<QString, int> &counts = announced();
        for (auto it = counts.begin(); it != counts.end(); ++it) {
            if (it.key().startsWith("old-"_L1))
                problems << u"imported music that was there before the first start: "_s + it.key();
            else if (it.value() > 1 && !m_killed.contains(m_firstBy.value(it.key())))
                problems << u"announced %1 times: %2"_s.arg(it.value()).arg(it.key());
        }
        for (const QString &o : std::as_const(m_expected))
            if (!QFile::exists(dl(o)))
                problems << u"the user's download is gone: "_s + o;
        if (problems.isEmpty())
            return {};
        if (qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_LOG"))
            printf("%s\n", qPrintable(m_log));
        return u"seed %1 (replay with RIVULET_APP_HISTORY_SEED=%1 RIVULET_APP_HISTORY_LOG=1 to see the program's log):\n  "_s.arg(m_seed)
            + problems.join(u"\n  "_s);
    }

    unsigned m_seed;
    int m_steps;
    std::mt19937 m_rng;
    std::optional<Program> m_app;
    QProcess m_monitor;
    QString m_log;
    QByteArray m_seen, m_sender;
    QHash<QString, int> m_counts;
    QHash<QString, QByteArray> m_firstBy;
    QSet<QByteArray> m_killed;
    QStringList m_expected, m_tracks, m_failures;
};

class TestAppHistory : public QObject {
    Q_OBJECT
private slots:
    void generatedSecondDays()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs a session bus with a notification daemon (run in the desktop rig)");
        qputenv("RIVULET_TEST_TIMINGS", "fast");
        QList<unsigned> seeds{1, 2};
        if (qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_SEED"))
            seeds = {qEnvironmentVariable("RIVULET_APP_HISTORY_SEED").toUInt()};
        const int steps = qEnvironmentVariableIsSet("RIVULET_APP_HISTORY_STEPS") ? qEnvironmentVariableIntValue("RIVULET_APP_HISTORY_STEPS") : 20;
        for (unsigned seed : seeds) {
            const QString problems = AppHistory(seed, steps).run();
            QVERIFY2(problems.isEmpty(), qPrintable(problems));
        }
    }
};

QTEST_GUILESS_MAIN(TestAppHistory)
#include "test_app_history.moc"
