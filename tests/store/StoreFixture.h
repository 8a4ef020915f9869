#pragma once
// A context attached to a store file in a temporary folder.
#include "app/RivuletModel.h"
#include "store/ManagedObjectContext.h"
#include "store/ManagedObjectModel.h"
#include "store/Directory.h"
#include "store/PersistentStoreCoordinator.h"
#include <memory>

struct OpenStore {
    std::unique_ptr<ManagedObjectModel> model{newRivuletModel()};
    std::unique_ptr<PersistentStoreCoordinator> coordinator;
    std::unique_ptr<ManagedObjectContext> context;
    StoreError error;

    explicit OpenStore(const QString &path)
    {
        auto c = std::make_unique<PersistentStoreCoordinator>(model.get());
        if (!c->addPersistentStore(path, &error))
            return;
        auto ctx = std::make_unique<ManagedObjectContext>();
        if (!ctx->setPersistentStoreCoordinator(c.get(), &error))
            return;
        coordinator = std::move(c);
        context = std::move(ctx);
    }
    bool ok() const { return context != nullptr; }
};

// A folder record named name, under parent when one is given.
inline Directory *newDirectory(ManagedObjectContext *ctx, const QByteArray &name, Directory *parent = nullptr)
{
    auto *d = ctx->insertNew<Directory>();
    d->setName(name);
    if (parent)
        parent->addSubdirectoriesObject(d);
    return d;
}
