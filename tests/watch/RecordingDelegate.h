#pragma once
// A differ delegate that remembers what it was handed.
#include "watch/DirectoryDiffer.h"
#include <QList>
#include <functional>
#include <mutex>

class RecordingDelegate : public DirectoryDifferDelegate {
public:
    void directoryDifferFileAddedOrUpdated(DirectoryDiffer *differ, const QByteArray &path) override
    {
        std::unique_lock lock(m_mutex);
        m_files << path;
        lock.unlock();
        if (onFile)
            onFile(differ, path);
    }
    void directoryDifferReceivedLastSCEvent(DirectoryDiffer *, quint64 id) override { std::lock_guard lock(m_mutex); m_ids << id; }
    void directoryDifferIdle(DirectoryDiffer *differ) override { if (onIdle) onIdle(differ); }
    void startIconAnimation() override {}
    void stopIconAnimation() override {}

    // Copies of their own: a shared list would be grown by the differ's thread
    // while this one lets go of its copy, with Qt's sharing unseen by the
    // thread checker.
    QList<QByteArray> files() const { std::lock_guard lock(m_mutex); return {m_files.cbegin(), m_files.cend()}; }
    QList<quint64> ids() const { std::lock_guard lock(m_mutex); return {m_ids.cbegin(), m_ids.cend()}; }
    void clear() { std::lock_guard lock(m_mutex); m_files.clear(); m_ids.clear(); }
    std::function<void(DirectoryDiffer *, const QByteArray &)> onFile;
    std::function<void(DirectoryDiffer *)> onIdle;

private:
    mutable std::mutex m_mutex;
    QList<QByteArray> m_files;
    QList<quint64> m_ids;
};
