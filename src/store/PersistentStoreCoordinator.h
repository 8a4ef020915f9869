#pragma once
// Links the schema to the XML file that holds the records. Reading parses the
// whole file; writing replaces it by renaming a fully written and synced new
// file over it, so a crash during a save leaves the old file or the new one,
// never a torn one.
#include "store/StoreError.h"
#include "store/StoreFile.h"
#include <QByteArray>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

class ManagedObject;
class ManagedObjectModel;
class RecordFields;

class PersistentStoreCoordinator {
public:
    explicit PersistentStoreCoordinator(const ManagedObjectModel *model);
    ~PersistentStoreCoordinator();
    const ManagedObjectModel *managedObjectModel() const { return m_model; }

    // Adds the XML store at path: reads it when it exists. A file that cannot
    // be read or parsed is an error and is left untouched.
    bool addPersistentStore(const QByteArray &path, StoreError *error);
    bool addPersistentStore(const QString &path, StoreError *error);
    QString storePath() const;

    // The records read by addPersistentStore, until they are dropped: each
    // one's entity (its index in the model) and fields.
    size_t loadedRecordCount() const;
    int loadedEntity(size_t index) const;
    void loadedFields(size_t index, RecordFields *fields) const;
    void dropLoadedRecords();

    // Writes every record that is not deleted and whose owner is written
    // into a new file beside the store, to be synced and put in place by
    // place(). Each write takes the next number: a write that ends after a
    // later one leaves the later one's file.
    bool write(const std::vector<ManagedObject *> &objects, StoreFile::NewFile *written, quint64 *number, StoreError *error);
    bool place(StoreFile::NewFile *written, quint64 number, StoreError *error);

private:
    struct Loaded;
    const ManagedObjectModel *m_model;
    QByteArray m_path;
    std::unique_ptr<Loaded> m_loaded;
    quint64 m_written = 0; // taken under the context's lock
    std::mutex m_placeOrder;
    quint64 m_placed = 0;
};
