#pragma once
// The watcher process of the history test: the real differ and store, with a delegate
// that hashes what it is handed into a log and has idle work. SIGUSR1 reloads the watched folders (a
// differ restart), SIGUSR2 loses queued events as an overflow does, SIGTERM quits.
#include "../store/StoreFixture.h"
#include "support/Bytes.h"
#include "base/Log.h"
#include "watch/DirectoryDiffer.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace history {

inline qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// One line, appended in a single write so lines of a killed process are whole or absent.
inline void appendLine(const QByteArray &file, const QByteArray &line)
{
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const QByteArray l = line + '\n';
    [[maybe_unused]] ssize_t n = ::write(fd, l.constData(), size_t(l.size()));
    ::close(fd);
}

inline DirectoryDiffer::Timings timings()
{
    return {.settleSeconds = 1.0, .passSeconds = 0.1, .latencySeconds = 0.2, .idleSeconds = 2.0};
}

class ChildDelegate : public DirectoryDifferDelegate {
public:
    ChildDelegate(QByteArray dir, unsigned seed) : m_dir(std::move(dir)), m_rng(seed) {}
    void directoryDifferFileAddedOrUpdated(DirectoryDiffer *, const QByteArray &path) override
    {
        if (m_active.fetch_add(1) > 0)
            appendLine(m_dir + "/handovers", "OVERLAP " + path.toHex());
        const qint64 t = nowMs();
        QByteArray kind = "reg";
        QCryptographicHash hash(QCryptographicHash::Sha1);
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (fd < 0) {
            kind = errno == ELOOP ? "nonreg" : "gone";
        } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            kind = "nonreg";
        } else {
            char buf[65536];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                hash.addData(QByteArrayView(buf, n));
        }
        if (fd >= 0)
            ::close(fd);
        appendLine(m_dir + "/handovers", "H " + QByteArray::number(t) + ' ' + kind + ' ' + path.toHex() + ' ' + hash.result().toHex() + ' '
                                             + QByteArray::number(nowMs()));
        if (m_rng() % 6 == 0)
            turnLoop();
        m_active.fetch_sub(1);
    }
    // The program's idle work retries imports: no hand-over may run inside it.
    void directoryDifferIdle(DirectoryDiffer *) override
    {
        if (m_active.fetch_add(1) > 0)
            appendLine(m_dir + "/handovers", "OVERLAP " + QByteArray("idle work").toHex());
        turnLoop();
        m_active.fetch_sub(1);
    }
    void directoryDifferReceivedLastSCEvent(DirectoryDiffer *, quint64 id) override
    {
        if (writeBytes(m_dir + "/lastid.tmp", QByteArray::number(id)))
            ::rename((m_dir + "/lastid.tmp").constData(), (m_dir + "/lastid").constData());
    }
    void startIconAnimation() override {}
    void stopIconAnimation() override {}

private:
    // Like an unpacker run by the tool runner: the loop turns while it waits.
    static void turnLoop()
    {
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QByteArray m_dir;
    std::mt19937 m_rng;
    std::atomic<int> m_active{0};
};

inline int g_signalPipe[2];

inline void applyConfig(ManagedObjectContext *ctx, Directory *top, Directory *exclusions, const QByteArray &dir)
{
    QList<QByteArray> roots;
    auto lock = ctx->lock();
    for (const QByteArray &line : readBytes(dir + "/config").split('\n')) {
        if (line.startsWith("R "))
            roots << QByteArray::fromHex(line.mid(2));
        else if (line.startsWith("X "))
            exclusions->addSubdirectoryNamed(QByteArray::fromHex(line.mid(2)), true);
    }
    for (Directory *d : top->subdirectories())
        if (!roots.contains(d->name()))
            top->deleteSubdirectoryNamed(d->name(), true);
    for (const QByteArray &r : roots) {
        Directory *d = nullptr;
        if (top->addSubdirectoryNamed(r, true, &d))
            d->setLastScanTime(dateNow());
    }
}

inline int childMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray dir = argv[2];
    Log::setEcho(false);
    Log::setSink([dir](const QString &line) { appendLine(dir + "/watch.log", line.toUtf8()); });
    OpenStore store(QFile::decodeName(dir + "/storedata"));
    if (!store.ok()) {
        appendLine(dir + "/handovers", "STOREFAIL " + store.error.text().toUtf8().toHex());
        return 3;
    }
    ManagedObjectContext *ctx = store.context.get();
    Directory *top = nullptr, *exclusions = nullptr;
    for (ManagedObject *o : ctx->fetchAll(QStringLiteral("Directory")))
        if (auto *d = static_cast<Directory *>(o); d->name() == "root" && !d->superdirectory())
            (top ? exclusions : top) = d;
    if (!top) {
        top = newDirectory(ctx, "root");
        exclusions = newDirectory(ctx, "root");
        applyConfig(ctx, top, exclusions, dir);
        store.save();
    }
    ChildDelegate delegate(dir, unsigned(atoi(argv[3])));
    auto differ = std::make_unique<DirectoryDiffer>([ctx] { return ctx; }, timings());
    differ->setRoots(top->subdirectories());
    differ->setExclusions(exclusions->subdirectories());
    differ->setDelegate(&delegate);
    const auto lastId = [&] { return readBytes(dir + "/lastid").toULongLong(); };
    differ->startWatchingWithLastSCEvent(lastId());

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 4;
    for (int sig : {SIGTERM, SIGUSR1, SIGUSR2})
        std::signal(sig, [](int s) {
            const char b = char(s);
            [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &b, 1);
        });
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char b;
        while (::read(g_signalPipe[0], &b, 1) == 1) {
            if (b == SIGTERM) {
                QCoreApplication::quit();
            } else if (b == SIGUSR1) {
                // What the controller does after the watched folders changed.
                differ->stopWatching();
                applyConfig(ctx, top, exclusions, dir);
                differ->setRoots(top->subdirectories());
                differ->startWatchingWithLastSCEvent(lastId());
            } else if (b == SIGUSR2) {
                differ->simulateLostEvents();
            }
        }
    });
    appendLine(dir + "/handovers", "READY " + QByteArray::number(nowMs()));
    app.exec();
    differ->stopWatching();
    const int inside = differ->stats().passesInsideHandOver;
    differ.reset();
    store.save();
    appendLine(dir + "/handovers", "END " + QByteArray::number(inside));
    return 0;
}

} // namespace history
