#pragma once
// A context attached to a store file in a temporary folder.
#include "app/RivuletModel.h"
#include "settings/Settings.h"
#include "store/ManagedObjectContext.h"
#include "store/ManagedObjectModel.h"
#include "store/Directory.h"
#include "store/File.h"
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
    bool save() { return context->save(&error); }
    size_t count(const char *entity) const { return context->fetchAll(QString::fromLatin1(entity)).size(); }
    Settings *settings() const { return static_cast<Settings *>(context->fetchAll(QStringLiteral("Settings")).at(0)); }
};

inline Directory *newDirectory(ManagedObjectContext *ctx, const QByteArray &name, Directory *parent = nullptr)
{
    auto *d = ctx->insertNew<Directory>();
    d->setName(name);
    if (parent)
        parent->addSubdirectoriesObject(d);
    return d;
}

inline File *newFile(ManagedObjectContext *ctx, const QByteArray &name, Directory *dir)
{
    auto *file = ctx->insertNew<File>();
    file->setName(name);
    if (dir)
        dir->addFilesObject(file);
    return file;
}

// A new settings record whose tree top (of the given key) is a new folder record.
inline Directory *newTop(ManagedObjectContext *ctx, const QString &key = QStringLiteral("RootDirectory"))
{
    const auto all = ctx->fetchAll(QStringLiteral("Settings"));
    auto *settings = all.empty() ? ctx->insertNewObjectForEntityForName(QStringLiteral("Settings")) : all.at(0);
    auto *top = newDirectory(ctx, "root");
    settings->setValueForKey(QVariant::fromValue(top), key);
    return top;
}
