#pragma once
// What the differ hands to the application: settled files and consumed event ids.
#include <QByteArray>

class DirectoryDiffer;

class DirectoryDifferDelegate {
public:
    virtual ~DirectoryDifferDelegate() = default;
    virtual void directoryDifferFileAddedOrUpdated(DirectoryDiffer *differ, const QByteArray &path) = 0;
    virtual void directoryDifferReceivedLastSCEvent(DirectoryDiffer *differ, quint64 eventId) = 0;
    virtual void startIconAnimation() = 0;
    virtual void stopIconAnimation() = 0;
    // Called on the differ's thread about once a minute while it watches and no
    // pass or hand-over runs: the place for work that must not overlap an import.
    virtual void directoryDifferIdle(DirectoryDiffer *) {}
    // Asked right after a hand-over: true when its import was cut short (the
    // program quitting, a full disk), so the file is offered again at the next start.
    virtual bool directoryDifferImportInterrupted(DirectoryDiffer *, const QByteArray &) { return false; }
};
