#pragma once
// A differ on real folders (by default <base>/Downloads), its store, a delegate recording hand-overs.
#include "TestSupport.h"
#include "../store/StoreFixture.h"
#include "store/Directory.h"
#include "watch/DirectoryDiffer.h"
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

class RecordingDelegate : public DirectoryDifferDelegate {
public:
    void directoryDifferFileAddedOrUpdated(DirectoryDiffer *differ, const QByteArray &path) override
    {
        { std::lock_guard lock(m_mutex); m_files << path; }
        if (onFile)
            onFile(differ, path);
    }
    void directoryDifferReceivedLastSCEvent(DirectoryDiffer *, quint64 id) override { std::lock_guard lock(m_mutex); m_ids << id; }
    void startIconAnimation() override {}
    void stopIconAnimation() override {}
    // Copies: a shared list would be grown by the differ's thread while this one lets go of it.
    QList<QByteArray> files() const { std::lock_guard lock(m_mutex); return {m_files.cbegin(), m_files.cend()}; }
    QList<quint64> ids() const { std::lock_guard lock(m_mutex); return {m_ids.cbegin(), m_ids.cend()}; }
    void clear() { std::lock_guard lock(m_mutex); m_files.clear(); m_ids.clear(); }
    std::function<void(DirectoryDiffer *, const QByteArray &)> onFile;

private:
    mutable std::mutex m_mutex;
    QList<QByteArray> m_files;
    QList<quint64> m_ids;
};

struct DifferFixture {
    QTemporaryDir tmp;
    QString base = tmp.path();
    QString root = base + QStringLiteral("/Downloads");
    QString storePath = base + QStringLiteral("/storedata");
    RecordingDelegate delegate;
    std::unique_ptr<OpenStore> store;
    std::unique_ptr<DirectoryDiffer> differ; // declared last: it stops before the rest goes
    Directory *top = nullptr;
    Directory *exclusions = nullptr;

    static DirectoryDiffer::Timings fast(double latency = 0.3, double settle = 0.5)
    {
        return {.settleSeconds = settle, .passSeconds = 0.1, .latencySeconds = latency};
    }

    // (Re)opens the store and makes a differ for the roots (default: root); a new store gets their records.
    void open(DirectoryDiffer::Timings timings = fast(), QStringList roots = {}, const QStringList &excluded = {})
    {
        differ.reset();
        store = std::make_unique<OpenStore>(storePath);
        auto *ctx = store->context.get();
        top = exclusions = nullptr;
        for (ManagedObject *o : ctx->fetchAll(QStringLiteral("Directory")))
            if (static_cast<Directory *>(o)->name() == "root")
                (top ? exclusions : top) = static_cast<Directory *>(o);
        if (!top) {
            top = newDirectory(ctx, "root");
            exclusions = newDirectory(ctx, "root");
            for (const QString &r : roots.isEmpty() ? QStringList{root} : roots) {
                QDir().mkpath(r);
                newDirectory(ctx, QFile::encodeName(r), top)->setLastScanTime(dateNow());
            }
            for (const QString &e : excluded)
                newDirectory(ctx, QFile::encodeName(e), exclusions);
            store->save();
        }
        differ = std::make_unique<DirectoryDiffer>([this] { return store->context.get(); }, timings);
        differ->setRoots(top->subdirectories());
        differ->setExclusions(exclusions->subdirectories());
        differ->setDelegate(&delegate);
    }
    // Starts watching and waits for the first queue pass, which comes once the watches are set up.
    void startAndWait(quint64 lastId = 0)
    {
        const int passes = differ->stats().passes;
        differ->startWatchingWithLastSCEvent(lastId);
        QTRY_VERIFY_WITH_TIMEOUT(differ->watching() && differ->stats().passes > passes, 10000);
    }
    void start(DirectoryDiffer::Timings timings = fast(), quint64 lastId = 0)
    {
        open(timings);
        startAndWait(lastId);
    }
    // A quit and, after whileStopped, a start from the last event id reported.
    void restart(DirectoryDiffer::Timings timings, const std::function<void()> &whileStopped)
    {
        differ.reset();
        whileStopped();
        start(timings, lastId());
    }
    quint64 lastId() const { return delegate.ids().isEmpty() ? 0 : delegate.ids().last(); }

    QByteArray path(const QString &rel) const { return QFile::encodeName(root + QLatin1Char('/') + rel); }
    bool put(const QString &rel, const QByteArray &content = "x") const { return writeFile(root + QLatin1Char('/') + rel, content); }
    bool mkdir(const QString &rel) const { return QDir().mkpath(root + QLatin1Char('/') + rel); }
    bool move(const QString &from, const QString &to) const { return QDir().rename(root + QLatin1Char('/') + from, root + QLatin1Char('/') + to); }
    bool handed(const QString &rel) const { return delegate.files().contains(path(rel)); }
    qsizetype count() const { return delegate.files().size(); }
};
