#pragma once
// The one context through which every component reads and writes records.
// It is shared by the main thread and the watcher thread: every access takes
// the context's (recursive) lock, and compound work can hold it with lock().
#include "store/StoreError.h"
#include <QString>
#include <functional>
#include <mutex>
#include <vector>

class ManagedObject;
class PersistentStoreCoordinator;

class ManagedObjectContext {
public:
    ManagedObjectContext() = default;
    ~ManagedObjectContext();
    ManagedObjectContext(const ManagedObjectContext &) = delete;
    ManagedObjectContext &operator=(const ManagedObjectContext &) = delete;

    // Attaches the context and takes in the records the coordinator read.
    bool setPersistentStoreCoordinator(PersistentStoreCoordinator *coordinator, StoreError *error);
    PersistentStoreCoordinator *persistentStoreCoordinator() const { return m_coordinator; }

    std::unique_lock<std::recursive_mutex> lock() const { return std::unique_lock(m_mutex); }

    ManagedObject *insertNewObjectForEntityForName(const QString &entity);
    template <typename T> T *insertNew() { return static_cast<T *>(insertNewObjectForEntityForName(QString::fromLatin1(T::kEntityName))); }
    // All live records of an entity, in the order they were inserted or loaded.
    std::vector<ManagedObject *> fetchAll(const QString &entity) const;
    // Deletes the record; a folder takes its files and subfolders with it.
    void deleteObject(ManagedObject *object);

    bool hasChanges() const;
    bool commitEditing() { return true; }
    // Re-reads a record from the store keeping its unsaved changes. This
    // store has no second copy of a record, so there is nothing to merge.
    void refreshObject(ManagedObject *object, bool mergeChanges);
    bool save(StoreError *error);

    // Frees deleted records the caller says nobody holds any more (by
    // default they stay allocated until the context goes, see below).
    void reclaimDeleted(const std::function<bool(const ManagedObject *)> &mayFree);
    size_t retainedDeletedCount() const;

    void markChanged() { m_changed = true; }
    size_t liveCount() const;

private:
    friend class ManagedObject;
    void compact();
    // After a load: deletes records that must not be kept, with a log line each.
    void dropUnacceptableRecords();

    mutable std::recursive_mutex m_mutex;
    PersistentStoreCoordinator *m_coordinator = nullptr;
    std::vector<ManagedObject *> m_objects;
    // Deleted records stay allocated until the context goes: the other thread
    // may still hold a pointer to one and must find it marked deleted.
    std::vector<ManagedObject *> m_graveyard;
    size_t m_deletedInObjects = 0;
    bool m_changed = false;
};
