#pragma once
// Base of every record kept by the object store. A record belongs to one
// context, which serialises every access with its lock, and goes away only
// through the context's delete operation.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>

class ManagedObjectContext;
class QXmlStreamWriter;
class QXmlStreamAttributes;
class RecordWriter;
class RecordFields;

class ManagedObject {
public:
    explicit ManagedObject(ManagedObjectContext *context) : m_context(context) {}
    virtual ~ManagedObject() = default;
    ManagedObject(const ManagedObject &) = delete;
    ManagedObject &operator=(const ManagedObject &) = delete;

    virtual QString entityName() const = 0;
    ManagedObjectContext *managedObjectContext() const { return m_context; }
    bool isDeleted() const;

    // Key-value access to the record's fields; unknown keys read as an invalid QVariant.
    virtual QVariant valueForKey(const QString &key) const = 0;
    virtual void setValueForKey(const QVariant &value, const QString &key) = 0;

    // Persistence: fields as XML attributes; references are written as record
    // ids, and a record that is not written has the id 0.
    using IdOf = std::function<qulonglong(const ManagedObject *)>;
    using ObjectFor = std::function<ManagedObject *(qulonglong)>;
    // The record's fields after its entity and id. The default goes through
    // writeFields below.
    virtual void writeRecord(RecordWriter &out, const IdOf &idOf) const;
    // Returns false with a reason when the fields are malformed. The default
    // goes through readFields below.
    virtual bool readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason);
    // The same through Qt's XML stream classes, for records that do not
    // provide the two above.
    virtual void writeFields(QXmlStreamWriter &, const IdOf &) const {}
    virtual bool readFields(const QXmlStreamAttributes &, const ObjectFor &, QString *) { return true; }

    // The record this one cannot be loaded without (its folder), or none.
    // A record whose owner is not saved is not saved either.
    virtual const ManagedObject *owner(bool *required) const
    {
        *required = false;
        return nullptr;
    }
    // After a load: false with a reason when the record must not be kept.
    virtual bool acceptLoaded(QString *) const { return true; }

protected:
    void markChanged();
    // Called by the context when the record is deleted: drop it from its relationships.
    virtual void willBeDeleted() {}

private:
    friend class ManagedObjectContext;
    friend class PersistentStoreCoordinator;
    ManagedObjectContext *m_context;
    // Kept in the space after the pointer: the record's id and state while a
    // save runs, and its entity's place in the schema.
    static constexpr uint8_t kNoEntity = 0xff;
    uint32_t m_saveId = 0;
    uint8_t m_saveState = 0;
    uint8_t m_entity = kNoEntity;
    bool m_deleted = false;
};
