#pragma once
// Turns file-system events in the watched folders into a steady flow of
// settled files. Owns a thread of its own: it starts and stops the event
// stream there, rescans the folder of each event, keeps found files in a
// queue until they stop changing and hands them to its delegate one at a time.
#include "base/Date.h"
#include "watch/DirectoryDifferDelegate.h"
#include "watch/FileQueue.h"
#include "watch/SCEvents.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QHash>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class Directory;
class File;
class ManagedObjectContext;
class QAbstractEventDispatcher;
class QObject;
class QThread;
class QTimer;

// What the differ counts about itself; tests read it.
struct DifferStats {
    int passes = 0;               // queue passes run
    int passesInsideHandOver = 0; // passes that ran while a hand-over was under way
    int deferredPasses = 0;       // passes put off because a pass or hand-over was running
    int saves = 0;                // store saves made by the differ
};

// The program's timings; tests may shorten them.
struct DifferTimings {
    double settleSeconds = 5.0;     // a queued file must wait longer than this
    double passSeconds = 1.0;       // between queue passes
    double hurrySeconds = 0.1;      // a pass checks files for at most this long
    double latencySeconds = 3.0;    // the event stream gathers changes this long
    double uncertaintySeconds = 30; // file dates this close to a scan are uncertain
    double exclusionLeadSeconds = 34;
    double idleSeconds = 60;        // between calls of the delegate's idle work
    // Short ones, for the tests and RIVULET_TEST_TIMINGS=fast: many rounds in little time.
    static DifferTimings fast()
    {
        DifferTimings t;
        t.settleSeconds = 0.5;
        t.passSeconds = 0.1;
        t.latencySeconds = 0.3;
        return t;
    }
};

class DirectoryDiffer : public SCEventListenerProtocol {
public:
    using Timings = DifferTimings;
    using ContextProvider = std::function<ManagedObjectContext *()>;

    explicit DirectoryDiffer(ContextProvider context, Timings timings = Timings());
    ~DirectoryDiffer() override;

    // Called on the main thread.
    void startWatchingWithLastSCEvent(quint64 lastSCEvent);
    void startWatching() { startWatchingWithLastSCEvent(0); }
    void stopWatching();
    // Ends the thread, waiting for a running hand-over to return first; the
    // differ stays whole until then. Safe to call more than once.
    void shutDown();
    // Acts as if the kernel's event queue had overflowed (for tests of the recovery).
    void simulateLostEvents();
    DifferStats stats() const;
    void setRoots(const std::vector<Directory *> &roots);
    std::vector<Directory *> roots() const;
    void setExclusions(const std::vector<Directory *> &exclusions);
    std::vector<Directory *> exclusions() const;
    void setDelegate(DirectoryDifferDelegate *delegate) { m_delegate = delegate; }
    DirectoryDifferDelegate *delegate() const { return m_delegate; }
    void setSubdirMaxDepth(int depth) { m_subdirMaxDepth = depth; }
    int subdirMaxDepth() const { return m_subdirMaxDepth; }
    bool watching() const { return m_watching; }
    const Timings &timings() const { return m_timings; }

    // Scanning (on the differ's thread).
    void scanDirectory(Directory *dir, int currentDepth, bool scanningArchive, Date date, int *numFiles, int *numMusicFiles);
    void scanDirectory(Directory *dir, int currentDepth, bool scanningArchive, Date date);
    float scanDirectoryAtPath(const QByteArray &path);
    void excludeDirectoryByScanTime(Directory *dir, int currentDepth);
    void excludeDirectoryByScanTimeAtPath(const QByteArray &path);
    static QString loggingPadForDepth(int depth);

    // Differ state.
    static bool fileIsInExcludedDirType(const QByteArray &path);
    Directory *directoryContainingPath(const QByteArray &path) const;
    void logDirectories() const;
    bool checkMOC() const;
    ManagedObjectContext *managedObjectContext() const { return m_context(); }

    void pathWatcherEventOccurred(SCEvents *pathWatcher, const SCEvent &event) override;
    void pathWatcherBatchEnded(SCEvents *pathWatcher) override;

private:
    void threadMain();
    void handleRequests();
    void setupSCEventsWithLastSCEvent(quint64 lastSCEvent);
    void stopSCEvents();
    void scanUnpackedFolder(Directory *dir, int currentDepth, Date date, int *numFiles, int *numMusicFiles);
    bool scanWatchedFolder(Directory *dir, const QString &pad, Date scanTime, Date *scanDate, QList<QByteArray> *seen);
    void processQueue();
    QList<FileQueueEntry> passOverQueue(const QList<FileQueueEntry> &taken, bool *hurry, bool *handedOver);
    void scheduleQueuePass(double seconds);
    void queueFile(File *file, quint64 size, const std::optional<Date> &mtime);
    void wakeUp();
    void save();
    void reclaimFileRecords();
    void handOver(File *file, quint64 size, const std::optional<Date> &mtime);
    bool isHandedOverDatedAhead(const File *record) const;
    void followRename(Directory *root, const QByteArray &from, const QByteArray &to);
    void forgetVanishedRecords();
    void forgetGoneFiles(Directory *dir, const QByteArray &rootName);
    void forgetUnfoundFolders();
    void forgetGoneFilesBelow(Directory *dir);
    void followRenamesWhileStopped(Directory *root, const QByteArray &path);
    bool takeVanishedWaiting(Directory *dir, const QByteArray &name, quint64 size);

    ContextProvider m_context;
    Timings m_timings;
    mutable std::mutex m_rootsMutex;
    std::vector<Directory *> m_roots;
    std::vector<Directory *> m_exclusions;
    std::atomic<int> m_subdirMaxDepth{3};
    std::atomic<bool> m_watching{false};
    QThread *m_thread = nullptr;
    QObject *m_threadContext = nullptr; // lives on the differ's thread, for its timers
    std::atomic<DirectoryDifferDelegate *> m_delegate{nullptr};
    FileQueue m_fileQueue;
    // The one timer of the pass chain; it lives on the differ's thread.
    QTimer *m_passTimer = nullptr;
    bool m_inPass = false;
    bool m_inHandOver = false;
    // Set by a scan whose event was not yet saved; the end of the batch saves once.
    bool m_batchScanned = false;
    quint64 m_batchLastId = 0;
    std::atomic<bool> m_lostEventsRequested{false};
    // Files that were still waiting when the last run ended and are gone from
    // where they were: one turning up elsewhere under the same watched folder
    // (its folder renamed while stopped) is still owed its import.
    struct VanishedWaiting {
        QByteArray root;
        QByteArray leaf;
        quint64 size;
    };
    QList<VanishedWaiting> m_vanishedWaiting;
    // Folders not where their records say at the start (renamed or deleted
    // while Rivulet was stopped), known by inode until the start's replay ends.
    struct VanishedFolder {
        QByteArray root;
        QByteArray path;
        quint64 inode;
    };
    QList<VanishedFolder> m_vanishedFolders;
    std::atomic<bool> m_startedOnce{false};
    mutable std::mutex m_statsMutex;
    DifferStats m_stats;
    // Start (with its event id) and stop requests in the order they were
    // made, so the last one always decides whether the differ ends up watching.
    std::mutex m_requestsMutex;
    QList<std::optional<quint64>> m_requests; // none stands for a stop
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_ready{false};
    std::mutex m_dispatcherMutex;
    QAbstractEventDispatcher *m_dispatcher = nullptr; // the thread's, while it runs
};
