#pragma once
// The process-wide path watcher: watches folder trees, drops events below
// excluded folders and hands each remaining event to its listener on the
// thread that started it. It can resume from a stored event id.
#include "watch/SCEvent.h"
#include <QList>
#include <atomic>
#include <mutex>

class InotifyBackend;

class SCEvents {
public:
    static SCEvents *sharedPathWatcher();

    bool startWatchingPaths(const QList<QByteArray> &paths);
    bool startWatchingPaths(const QList<QByteArray> &paths, quint64 sinceEvent);
    bool stopWatchingPaths();
    bool flushEventStreamSync();
    bool flushEventStreamAsync();
    // Looks at every watched folder again, as after lost events (on the watching thread).
    bool recoverLostEvents();
    QString streamDescription() const;
    QString description() const;

    SCEventListenerProtocol *delegate() const { return m_delegate; }
    void setDelegate(SCEventListenerProtocol *d) { m_delegate = d; }
    bool isWatchingPaths() const { return m_isWatchingPaths; }
    bool ignoreEventsFromSubDirs() const { return m_ignoreEventsFromSubDirs; }
    void setIgnoreEventsFromSubDirs(bool on) { m_ignoreEventsFromSubDirs = on; }
    double notificationLatency() const { return m_notificationLatency; }
    void setNotificationLatency(double seconds) { m_notificationLatency = seconds; }
    std::optional<SCEvent> lastEvent() const;
    void setLastEvent(const SCEvent &event);
    QList<QByteArray> watchedPaths() const;
    void setWatchedPaths(const QList<QByteArray> &paths);
    QList<QByteArray> excludedPaths() const;
    void setExcludedPaths(const QList<QByteArray> &paths);
    // The id the next event gets is above this one.
    quint64 lastEventId() const { return m_lastId; }

private:
    SCEvents() = default;
    void callback(const QList<QByteArray> &paths, const QList<quint32> &flags, const QList<QByteArray> &renamedFrom = {});
    quint64 nextEventId();
    void replayHistory();

    std::atomic<SCEventListenerProtocol *> m_delegate{nullptr};
    std::atomic<bool> m_isWatchingPaths{false};
    std::atomic<bool> m_ignoreEventsFromSubDirs{true};
    std::atomic<double> m_notificationLatency{3.0};
    mutable std::mutex m_mutex;
    std::optional<SCEvent> m_lastEvent;
    QList<QByteArray> m_watchedPaths;
    QList<QByteArray> m_excludedPaths;
    InotifyBackend *m_eventStream = nullptr;
    std::atomic<quint64> m_lastId{0};
};
