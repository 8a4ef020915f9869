#include "watch/SCEvents.h"
#include "watch/InotifyBackend.h"
#include "base/PathContainment.h"

#include <QTimer>
#include <chrono>

SCEvents *SCEvents::sharedPathWatcher()
{
    static SCEvents instance; // creation is serialised by the language
    return &instance;
}

bool SCEvents::startWatchingPaths(const QList<QByteArray> &paths)
{
    return startWatchingPaths(paths, kFSEventStreamEventIdSinceNow);
}

bool SCEvents::startWatchingPaths(const QList<QByteArray> &paths, quint64 sinceEvent)
{
    if (paths.isEmpty() || m_isWatchingPaths)
        return false;
    setWatchedPaths(paths);
    delete m_eventStream;
    m_eventStream = new InotifyBackend(paths, excludedPaths(), m_notificationLatency, [this](const QList<InotifyBackend::Change> &changes) {
        QList<QByteArray> p, r;
        QList<quint32> f;
        for (const auto &c : changes) {
            p << c.path;
            f << c.flags;
            r << c.renamedFrom;
        }
        callback(p, f, r);
    });
    m_eventStream->start();
    m_isWatchingPaths = true;
    if (sinceEvent != kFSEventStreamEventIdSinceNow) {
        // Ids keep increasing past the stored one, also across restarts.
        quint64 last = m_lastId;
        while (last < sinceEvent && !m_lastId.compare_exchange_weak(last, sinceEvent)) {}
        QTimer::singleShot(0, m_eventStream, [this] { replayHistory(); });
    }
    return true;
}

// What changed while nobody watched is found by scanning every folder: one
// event for each, then the marker that the history is complete.
void SCEvents::replayHistory()
{
    QList<QByteArray> paths = m_eventStream->watchedFolders();
    QList<quint32> flags(paths.size(), 0);
    paths << (m_watchedPaths.isEmpty() ? QByteArray() : m_watchedPaths.first());
    flags << kFSEventStreamEventFlagHistoryDone;
    callback(paths, flags);
}

bool SCEvents::stopWatchingPaths()
{
    if (!m_isWatchingPaths)
        return false;
    delete m_eventStream;
    m_eventStream = nullptr;
    m_isWatchingPaths = false;
    return true;
}

bool SCEvents::flushEventStreamSync()
{
    if (!m_isWatchingPaths)
        return false;
    m_eventStream->flushSync();
    return true;
}

bool SCEvents::recoverLostEvents()
{
    if (!m_isWatchingPaths)
        return false;
    m_eventStream->recoverFromOverflow();
    return true;
}

bool SCEvents::flushEventStreamAsync()
{
    if (!m_isWatchingPaths)
        return false;
    QTimer::singleShot(0, m_eventStream, [stream = m_eventStream] { stream->flush(); });
    return true;
}

QString SCEvents::streamDescription() const
{
    if (!m_isWatchingPaths)
        return QStringLiteral("The event stream is not running. Start it by calling: startWatchingPaths:");
    return QStringLiteral("<inotify stream: %1 folders watched, latency %2 s, last id %3>")
        .arg(m_eventStream->watchCount()).arg(double(m_notificationLatency)).arg(quint64(m_lastId));
}

static QString joinPaths(const QList<QByteArray> &paths)
{
    QStringList list;
    for (const QByteArray &p : paths)
        list << QString::fromUtf8(p);
    return QLatin1Char('(') + list.join(QLatin1String(", ")) + QLatin1Char(')');
}

QString SCEvents::description() const
{
    return QStringLiteral("<SCEvents { watchedPaths = %1, excludedPaths = %2 } >").arg(joinPaths(watchedPaths()), joinPaths(excludedPaths()));
}

std::optional<SCEvent> SCEvents::lastEvent() const
{
    std::lock_guard lock(m_mutex);
    return m_lastEvent;
}

void SCEvents::setLastEvent(const SCEvent &event)
{
    std::lock_guard lock(m_mutex);
    m_lastEvent = event;
}

QList<QByteArray> SCEvents::watchedPaths() const
{
    std::lock_guard lock(m_mutex);
    return m_watchedPaths;
}

void SCEvents::setWatchedPaths(const QList<QByteArray> &paths)
{
    std::lock_guard lock(m_mutex);
    m_watchedPaths = paths;
}

QList<QByteArray> SCEvents::excludedPaths() const
{
    std::lock_guard lock(m_mutex);
    return m_excludedPaths;
}

void SCEvents::setExcludedPaths(const QList<QByteArray> &paths)
{
    std::lock_guard lock(m_mutex);
    m_excludedPaths = paths;
}

quint64 SCEvents::nextEventId()
{
    const quint64 micros = quint64(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::system_clock::now().time_since_epoch()).count());
    quint64 last = m_lastId;
    quint64 next;
    do {
        next = std::max(last + 1, micros);
    } while (!m_lastId.compare_exchange_weak(last, next));
    return next;
}

void SCEvents::callback(const QList<QByteArray> &paths, const QList<quint32> &flags, const QList<QByteArray> &renamedFrom)
{
    const QList<QByteArray> excluded = excludedPaths();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        QByteArray p = paths[i];
        if (flags[i] & kFSEventStreamEventFlagHistoryDone)
            continue;
        if (excluded.contains(p))
            continue;
        if (m_ignoreEventsFromSubDirs) {
            bool below = false;
            for (const QByteArray &ex : excluded)
                below = below || pathIsInside(p, ex);
            if (below)
                continue;
        }
        if (p.endsWith('/') && p.size() > 1)
            p.chop(1);
        const SCEvent event(nextEventId(), dateNow(), p, flags[i], renamedFrom.value(i));
        if (SCEventListenerProtocol *listener = m_delegate)
            listener->pathWatcherEventOccurred(this, event);
        if (i == paths.size() - 1)
            setLastEvent(event);
    }
    if (SCEventListenerProtocol *listener = m_delegate)
        listener->pathWatcherBatchEnded(this);
}
