#pragma once
// Links the schema to the XML file that holds the records. Reading parses the
// whole file; writing replaces it atomically, so a crash during a save leaves
// the old file or the new one, never a torn one.
#include "store/StoreError.h"
#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>
#include <vector>

class ManagedObject;
class ManagedObjectModel;

class PersistentStoreCoordinator {
public:
    struct Record {
        QString entity;
        QXmlStreamAttributes fields;
    };

    explicit PersistentStoreCoordinator(const ManagedObjectModel *model) : m_model(model) {}
    const ManagedObjectModel *managedObjectModel() const { return m_model; }

    // Adds the XML store at path: reads it when it exists. A file that cannot
    // be read or parsed is an error and is left untouched.
    bool addPersistentStore(const QString &path, StoreError *error);
    QString storePath() const { return m_path; }
    const std::vector<Record> &loadedRecords() const { return m_records; }
    void dropLoadedRecords() { m_records.clear(); m_records.shrink_to_fit(); }

    bool write(const std::vector<ManagedObject *> &objects, StoreError *error);

private:
    const ManagedObjectModel *m_model;
    QString m_path;
    std::vector<Record> m_records;
};
