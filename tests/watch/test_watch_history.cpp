// Generated, untidy histories of downloads run against the real watcher (a child process
// with a real store), checked against the test's own model: each settled music version
// handed over once, never two at once nor inside the idle work, nothing still changing or
// not regular, no pass inside a hand-over, a store that loads. Each run prints its seed; README.md has the knobs.
#include "HistoryModel.h"
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace history {

struct Writer {
    QByteArray target, writing;
    int pieces = 0;
    qint64 nextAt = 0;
    int inPlaceSize = 0; // rewritten in place at this size, or appended to when 0
};

class History {
public:
    History(unsigned seed, int steps, bool polling) : m_seed(seed), m_steps(steps), m_rng(seed), m_model(polling) {}

    bool run()
    {
        QTemporaryDir tmp;
        m_base = QFile::encodeName(tmp.path()) + "/download"; // like ~/download: only the part below a root counts
        setUp();
        spawn();
        for (int actions = 0; actions < m_steps;) {
            tick();
            if (pick(100) < 55) {
                act();
                ++actions;
            }
        }
        while (!m_writers.isEmpty())
            tick();
        // A loaded machine can hold the watcher back: the wait goes on (bounded) while a file is owed.
        QThread::msleep(ulong(m_model.mustWindowMs() + 1500));
        for (int i = 0; i < 60 && m_model.stillOwed(nowMs(), m_base + "/handovers"); ++i)
            QThread::msleep(500);
        stopChild(SIGTERM);
        m_model.finish(nowMs());
        const QStringList problems = m_model.check(m_base + "/handovers");
        printf("seed %u: %d steps, %s\n", m_seed, m_steps, qPrintable(m_model.summary()));
        for (const QString &p : problems.mid(0, 25))
            printf("  VIOLATION: %s\n", qPrintable(p));
        fflush(stdout);
        if (!problems.isEmpty() && qEnvironmentVariableIsSet("RIVULET_HISTORY_KEEP")) {
            tmp.setAutoRemove(false); // the folders, the store and the watcher's log stay for a look
            printf("  kept in %s\n", m_base.constData());
        }
        if (tmp.autoRemove())
            std::filesystem::remove_all(m_base.toStdString()); // by bytes: some names are not UTF-8
        return problems.isEmpty();
    }

private:
    int pick(int n) { return int(m_rng() % unsigned(n)); }
    QByteArray anyOf(const QList<QByteArray> &l) { return l.isEmpty() ? QByteArray() : l[pick(int(l.size()))]; }
    QByteArray path(const QByteArray &rel) const { return m_base + '/' + rel; }

    void setUp()
    {
        m_folders = {path("Downloads/albums"), path("Mail Downloads/x y"), path("Downloads/.Trashy")};
        m_excludedFolders = {path("Downloads/Support"), path("Downloads/Incomplete Downloads"), path("Mail Downloads/page.download"),
                             path("Downloads/.Trash-1000/files")};
        for (const QByteArray &f : m_folders + m_excludedFolders + QList{path("disk2/Real"), path("Extra"), path("staging")})
            std::filesystem::create_directories(f.toStdString());
        ::symlink(path("disk2/Real").constData(), path("Linked").constData());
        m_roots = {path("Downloads"), path("Mail Downloads"), path("Linked")};
        m_model.roots = m_roots;
        m_model.excluded = {path("Downloads/Support")};
        // The second day: music a month old, there before the first start, also in a folder added later.
        for (const char *rel : {"Downloads/01 old.mp3", "Downloads/Old Album/02 old.mp3", "Downloads/Old Album/CD2/03 old.MP3",
                                "Mail Downloads/old.zip", "Extra/Kept/04 old.mp3"}) {
            const QByteArray p = path(rel), c = content(400);
            std::filesystem::create_directories(parentPath(p).toStdString());
            writeDated(p, c, -30 * 86400);
            // One not yet watched stays out of the model's reach: a hand-over of it is no version at all.
            if (!p.contains("/Extra/"))
                m_model.begin(p, c, 0).old = true;
        }
        m_folders << path("Downloads/Old Album") << path("Downloads/Old Album/CD2");
        writeConfig();
        appendLine(m_base + "/lastid", "1"); // replay what happens while the watcher is down
    }

    void writeConfig()
    {
        QByteArray c;
        for (const QByteArray &r : m_roots)
            c += "R " + r.toHex() + '\n';
        if (m_extraRoot)
            c += "R " + path("Extra").toHex() + '\n';
        c += "X " + path("Downloads/Support").toHex() + '\n';
        writeBytes(m_base + "/config", c);
    }

    void spawn()
    {
        const auto ready = [this] { return readBytes(m_base + "/handovers").count("READY"); };
        const qsizetype readyLines = ready();
        m_child = std::make_unique<QProcess>();
        m_child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QFile::decodeName(m_base), QString::number(m_seed)});
        m_child->waitForStarted(10000);
        for (int i = 0; i < 200 && ready() == readyLines; ++i)
            QThread::msleep(50);
        m_model.addDowntime(m_downSince, nowMs() + 300);
    }

    // A child that is gone has no pid, and kill(0, ...) would signal the whole process group.
    void signalChild(int sig)
    {
        if (const qint64 pid = m_child->processId(); pid > 0)
            ::kill(pid_t(pid), sig);
        else
            m_model.problem(QStringLiteral("the watcher child is not running"));
    }

    void stopChild(int sig)
    {
        m_downSince = nowMs();
        if (sig == SIGKILL)
            m_model.noteKill(m_downSince);
        m_model.noteStop(m_downSince);
        signalChild(sig);
        m_child->waitForFinished(30000);
        if (sig == SIGTERM && (m_child->exitStatus() != QProcess::NormalExit || m_child->exitCode() != 0))
            m_model.problem(QStringLiteral("the watcher did not end cleanly (status %1)").arg(m_child->exitCode()));
        m_model.checkStore(m_base + "/storedata");
    }

    QByteArray content(int size)
    {
        QByteArray c = "seed " + QByteArray::number(m_seed) + " item " + QByteArray::number(++m_counter) + ' ';
        while (c.size() < size)
            c += char('a' + pick(26));
        return c;
    }

    QByteArray name()
    {
        static const char *const styles[] = {"song ", "two  spaces ", "new\nline ", "\xff\xfe raw ", "Ünïcode ", "-dash "};
        // Mp3, flac (more formats are off) and part do not count.
        static const char *const exts[] = {"mp3", "mp3", "mp3", "m4a", "MP3", "M4A", "aiff", "AIFF", "zip",
                                           "Mp3", "flac", "mp3.part"};
        return QByteArray(styles[pick(6)]) + QByteArray::number(++m_counter) + '.' + exts[pick(12)];
    }

    bool busy(const QByteArray &p) const
    {
        for (const Writer &w : m_writers)
            if (pathIsInside(w.target, p) || pathIsInside(w.writing, p))
                return true;
        return false;
    }

    // Written in one go, dated secondsAhead from now unless that is 0.
    static void writeDated(const QByteArray &p, const QByteArray &c, qint64 secondsAhead)
    {
        writeBytes(p, c);
        const timespec at[2] = {{::time(nullptr) + secondsAhead, 0}, {::time(nullptr) + secondsAhead, 0}};
        if (secondsAhead)
            ::utimensat(AT_FDCWD, p.constData(), at, 0);
    }

    void writeWhole(const QByteArray &p, const QByteArray &c, qint64 secondsAhead = 0)
    {
        m_model.touch(p, nowMs());
        writeDated(p, c, secondsAhead);
        m_model.begin(p, c, nowMs());
    }

    void tick()
    {
        QThread::msleep(60);
        const qint64 now = nowMs();
        for (Writer &w : m_writers) {
            if (w.nextAt > now)
                continue;
            const QByteArray piece = content(200 + pick(3000));
            const QByteArray block = w.inPlaceSize ? piece.left(w.inPlaceSize) : piece;
            // An in-place rewrite ends the old content at its first write, not when it was planned.
            m_model.touch(w.writing, nowMs());
            const int flags = w.inPlaceSize ? O_WRONLY : O_WRONLY | O_CREAT | O_APPEND; // pwrite appends with O_APPEND
            const int fd = ::open(w.writing.constData(), flags | O_CLOEXEC, 0644);
            [[maybe_unused]] ssize_t n = ::pwrite(fd, block.constData(), size_t(block.size()), 0);
            ::close(fd);
            m_model.notePiece(w.writing, nowMs());
            w.nextAt = now + 80 + pick(170);
            if (--w.pieces > 0)
                continue;
            if (w.writing != w.target)
                ::rename(w.writing.constData(), w.target.constData());
            m_model.touch(w.target, nowMs());
            m_model.begin(w.target, readBytes(w.target), nowMs());
        }
        m_writers.removeIf([](const Writer &w) { return w.pieces == 0; });
    }

    void act()
    {
        static const int weights[] = {14, 6, 4, 6, 4, 4, 3, 3, 2, 2, 3, 3, 3, 2, 3, 2, 1, 1, 6};
        int r = pick(72), a = 0;
        while (r >= weights[a])
            r -= weights[a++];
        const QByteArray folder = anyOf(m_roots + m_folders);
        switch (a) {
        case 0: { // a whole file at once, new or over an old one
            const QByteArray old = anyOf(m_model.currentPaths());
            const QByteArray p = !old.isEmpty() && pick(4) == 0 ? old : folder + '/' + name();
            if (!busy(p))
                writeWhole(p, content(100 + pick(5000)));
            break;
        }
        case 1: case 2: case 3: { // browser download with placeholder, .crdownload, or slow direct write
            const QByteArray target = folder + '/' + name();
            const QByteArray writing = target + (a == 1 ? ".part" : a == 2 ? ".crdownload" : "");
            if (a == 1)
                writeWhole(target, QByteArray()); // the empty placeholder
            m_model.touch(target, nowMs());
            m_writers << Writer{target, writing, 3 + pick(12), nowMs()};
            break;
        }
        case 4: { // overwritten in place at its final size
            const QByteArray p = anyOf(m_model.currentPaths());
            struct stat st;
            if (!busy(p) && ::lstat(p.constData(), &st) == 0 && st.st_size >= 64)
                m_writers << Writer{p, p, 3 + pick(8), nowMs(), int(st.st_size)};
            break;
        }
        case 5: { // dated hours ahead, as zips from the east and curl -R give
            const QByteArray p = folder + '/' + name(), c = content(500);
            writeWhole(p, c, 3600 * (1 + pick(14)));
            break;
        }
        case 6: { // an album folder moved in
            const QByteArray staged = path("staging/album" + QByteArray::number(++m_counter));
            ::mkdir(staged.constData(), 0755);
            QList<QByteArray> songs;
            for (int i = 0, n = 1 + pick(3); i < n; ++i) {
                songs << content(300 + pick(2000));
                writeBytes(staged + "/track " + QByteArray::number(i) + ".mp3", songs.last());
            }
            const QByteArray parent = pick(2) ? m_roots[pick(3)] : folder;
            if (depthIn(parent) >= 2)
                break;
            const QByteArray dest = parent + "/Album " + QByteArray::number(++m_counter);
            ::rename(staged.constData(), dest.constData());
            for (int i = 0; i < songs.size(); ++i)
                m_model.begin(dest + "/track " + QByteArray::number(i) + ".mp3", songs[i], nowMs()).movedIn = true;
            m_folders << dest;
            break;
        }
        case 7: case 8: { // a folder renamed or deleted
            const QByteArray f = anyOf(m_folders);
            if (f.isEmpty() || busy(f))
                break;
            if (a == 7) {
                const QByteArray to = parentPath(f) + "/Renamed " + QByteArray::number(++m_counter);
                ::rename(f.constData(), to.constData());
                m_model.moveFolder(f, to, nowMs());
                for (QByteArray &g : m_folders)
                    if (pathIsInside(g, f))
                        g = to + g.mid(f.size());
            } else {
                std::filesystem::remove_all(f.toStdString());
                m_model.removeFolder(f, nowMs());
                m_folders.removeIf([&](const QByteArray &g) { return pathIsInside(g, f); });
                m_deletedFolders << f;
            }
            break;
        }
        case 9: // a deleted folder made again
            if (!m_deletedFolders.isEmpty()) {
                const QByteArray f = m_deletedFolders.takeAt(pick(int(m_deletedFolders.size())));
                if (::mkdir(f.constData(), 0755) == 0)
                    m_folders << f;
            }
            break;
        case 10: // a new folder
            if (depthIn(folder) < 2) {
                const QByteArray f = folder + "/dir " + QByteArray::number(++m_counter);
                ::mkdir(f.constData(), 0755);
                m_folders << f;
            }
            break;
        case 11: { // a file deleted
            const QByteArray p = anyOf(m_model.currentPaths());
            if (!p.isEmpty() && !busy(p)) {
                ::unlink(p.constData());
                m_model.touch(p, nowMs());
            }
            break;
        }
        case 12: // music where nothing counts: an excluded folder, unfinished downloads, a file system's trash
            writeWhole(m_excludedFolders[pick(4)] + '/' + name(), content(300));
            break;
        case 13: // a link or a fifo with a music name
            if (pick(2))
                ::symlink("/etc/hostname", (folder + "/link " + QByteArray::number(++m_counter) + ".mp3").constData());
            else
                ::mkfifo((folder + "/fifo " + QByteArray::number(++m_counter) + ".mp3").constData(), 0644);
            break;
        case 14: // the watched folders change: the differ restarts
            m_extraRoot = !m_extraRoot;
            writeConfig();
            m_model.noteDifferRestart(nowMs());
            signalChild(SIGUSR1);
            break;
        case 15: // events lost in a queue overflow
            signalChild(SIGUSR2);
            break;
        case 16: case 17: // the program quits and starts again, or is killed
            stopChild(a == 16 ? SIGTERM : SIGKILL);
            spawn();
            break;
        default:
            QThread::msleep(ulong(300 + pick(500)));
        }
    }

    int depthIn(const QByteArray &folder) const
    {
        for (const QByteArray &r : m_roots)
            if (pathIsInside(folder, r))
                return int(folder.mid(r.size()).count('/'));
        return 99;
    }

    unsigned m_seed;
    int m_steps;
    std::mt19937 m_rng;
    Model m_model;
    QByteArray m_base;
    QList<QByteArray> m_roots, m_folders, m_excludedFolders, m_deletedFolders;
    QList<Writer> m_writers;
    std::unique_ptr<QProcess> m_child;
    qint64 m_downSince = nowMs(); // the watcher is down until the first start
    bool m_extraRoot = false;
    int m_counter = 0;
};

} // namespace history

int main(int argc, char **argv)
{
    if (argc > 3 && !strcmp(argv[1], "--child"))
        return history::childMain(argc, argv);
    QCoreApplication app(argc, argv);
    const bool polling = qEnvironmentVariableIsSet("RIVULET_FORCE_POLLING");
    const bool longMode = qEnvironmentVariableIsSet("RIVULET_HISTORY_LONG");
    QList<unsigned> seeds;
    const QString list = qEnvironmentVariable("RIVULET_HISTORY_SEED", qEnvironmentVariable("RIVULET_HISTORY_SEEDS"));
    for (const QString &s : list.split(' ', Qt::SkipEmptyParts))
        seeds << s.toUInt();
    if (seeds.isEmpty())
        seeds = longMode ? QList<unsigned>{11, 12, 13, 14, 15, 16, 17, 18} : QList<unsigned>{1, 2};
    const int steps = qEnvironmentVariableIsSet("RIVULET_HISTORY_STEPS") ? qEnvironmentVariableIntValue("RIVULET_HISTORY_STEPS")
                                                                        : longMode ? 2000 : 150;
    QElapsedTimer t;
    t.start();
    int passed = 0;
    for (unsigned seed : seeds) {
        printf("history seed %u%s (replay with RIVULET_HISTORY_SEED=%u)\n", seed, polling ? " on the polling backend" : "", seed);
        fflush(stdout);
        passed += history::History(seed, steps, polling).run() ? 1 : 0;
    }
    printf("%d of %lld histories passed in %.1f s\n", passed, qlonglong(seeds.size()), double(t.elapsed()) / 1000);
    return passed == seeds.size() ? 0 : 1;
}
