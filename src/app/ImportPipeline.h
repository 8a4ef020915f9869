#pragma once
// The import pipeline: each settled file the watcher hands over is imported
// into the music library; archives are unpacked first and their music
// imported together, as one batch. It runs on the watcher's thread and owns
// the state of the import under way; the controller forwards to it.
#include "library/ITunesManager.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

class DirectoryDiffer;

class ImportPipeline {
public:
    // What the pipeline asks of the program around it; either may be empty.
    struct Host {
        // Shows a notification for an added track (or an archive's batch).
        std::function<void(const QString &text, TrackId trackId)> announce;
        // Tells the user something they must act on (from any thread).
        std::function<void(const QString &title, const QString &text)> alert;
    };
    explicit ImportPipeline(Host host = {});

    // The watcher whose scan collects an archive's files and which is told to
    // leave keep folders alone; set once it exists.
    void setDiffer(DirectoryDiffer *differ) { m_differ = differ; }

    void fileAddedOrUpdated(const QByteArray &path);
    // Offers again the files the library did not take.
    void retryDue();
    // True (once) when path's import was cut short and must be offered again.
    bool takeInterrupted(const QByteArray &path);

    // Unpacks into a fresh scratch folder (beside the archive when possible); false leaves none.
    bool unpackArchive(const QByteArray &path, const QByteArray &type);
    // Moves and Trash operations refuse anything that does not resolve to a place inside within.
    // True when every item was moved.
    bool moveContentsOfDirectory(const QByteArray &source, const QByteArray &destination, const QByteArray &within);
    bool moveToTrash(const QByteArray &path, const QByteArray &within);

    // An archive's notification: one for the batch instead of one per file.
    void startGrowlQueue(const QByteArray &archiveName);
    void activateGrowlQueue();

    // A quit went through: an unpack it ended is offered again at the next start.
    void markQuit() { m_quitAccepted = true; }
    bool quitAccepted() const { return m_quitAccepted; }

    // The data folder's scratch folder, for archives beside which nothing can be written.
    static QByteArray archiveDir();

private:
    void importArchive(const QByteArray &path, const QByteArray &type);
    void importMusicFile(const QByteArray &path);
    int importBatch(QList<QByteArray> paths, const QByteArray &within, QList<QByteArray> *refused);
    bool finishImport(const QByteArray &path, TrackId trackId, const QByteArray &within);
    void askForMusicFolderOnce();
    bool unpackCutShort(const QByteArray &path, const QByteArray &type) const;
    QByteArray scratchFolderFor(const QByteArray &archive);
    void announce(const QString &text, TrackId trackId);

    struct GrowlEntry {
        QByteArray name;
        TrackId trackId;
    };
    // The archive batch: the archive's leaf name, then each imported file with its track id.
    struct GrowlQueue {
        QByteArray archiveName;
        QList<GrowlEntry> entries;
    };

    Host m_host;
    DirectoryDiffer *m_differ = nullptr;
    std::optional<GrowlQueue> m_growlQueue;
    // The archive being imported: where it was unpacked, and the music files its scan handed over.
    QByteArray m_unpackFolder;
    std::optional<QList<QByteArray>> m_archiveBatch;
    // The archive whose unpacking was cut short (quit, full disk): offered again at the next start.
    QByteArray m_interruptedImport;
    // Read on the watcher's thread, written by the quit on the main thread.
    std::atomic<bool> m_quitAccepted{false};
    std::atomic<bool> m_askedForMusicFolder{false};
};
