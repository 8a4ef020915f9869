#pragma once
// A differ watching real folders in a temporary folder, with its store.
#include "RecordingDelegate.h"
#include "TestSupport.h"
#include "../store/StoreFixture.h"
#include "store/Directory.h"
#include <QThread>
#include <memory>

struct DifferFixture {
    QTemporaryDir tmp;
    QString base = tmp.path();
    QString storePath = base + QStringLiteral("/storedata");
    RecordingDelegate delegate;
    std::unique_ptr<OpenStore> store;
    std::unique_ptr<DirectoryDiffer> differ; // declared last: it stops before the rest goes
    Directory *top = nullptr;
    Directory *exclusions = nullptr;

    // Opens (or reopens) the store and makes a differ for the given roots.
    void open(const QStringList &roots, const QStringList &excluded, DirectoryDiffer::Timings timings)
    {
        differ.reset();
        store = std::make_unique<OpenStore>(storePath);
        auto *ctx = store->context.get();
        auto tops = ctx->fetchAll(QStringLiteral("Directory"));
        top = nullptr;
        for (ManagedObject *o : tops)
            if (static_cast<Directory *>(o)->name() == "root" && !top)
                top = static_cast<Directory *>(o);
            else if (static_cast<Directory *>(o)->name() == "root")
                exclusions = static_cast<Directory *>(o);
        if (!top) {
            top = ctx->insertNew<Directory>();
            top->setName("root");
            exclusions = ctx->insertNew<Directory>();
            exclusions->setName("root");
            for (const QString &r : roots) {
                QDir().mkpath(r);
                Directory *d = nullptr;
                top->addSubdirectoryNamed(QFile::encodeName(r), true, &d);
                d->setLastScanTime(dateNow());
            }
            for (const QString &e : excluded)
                exclusions->addSubdirectoryNamed(QFile::encodeName(e), true);
            StoreError err;
            ctx->save(&err);
        }
        differ = std::make_unique<DirectoryDiffer>([this] { return store->context.get(); }, timings);
        differ->setRoots(top->subdirectories());
        differ->setExclusions(exclusions->subdirectories());
        differ->setDelegate(&delegate);
    }

    static DirectoryDiffer::Timings fast() { return DirectoryDiffer::Timings::fast(); }

    // Waits until the differ has set up watching (its first log lines are out).
    void startAndWait(quint64 lastId = 0)
    {
        differ->startWatchingWithLastSCEvent(lastId);
        QTRY_VERIFY_WITH_TIMEOUT(differ->watching(), 5000);
        QThread::msleep(100);
    }
};
