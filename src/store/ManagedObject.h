#pragma once
// Base of every record kept by the object store. A record belongs to one
// context, which serialises every access with its lock, and goes away only
// through the context's delete operation.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>

class ManagedObjectContext;
class QXmlStreamWriter;
class QXmlStreamAttributes;

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

    // Persistence: fields as XML attributes; references are written as record ids.
    using IdOf = std::function<qulonglong(const ManagedObject *)>;
    using ObjectFor = std::function<ManagedObject *(qulonglong)>;
    virtual void writeFields(QXmlStreamWriter &xml, const IdOf &idOf) const = 0;
    // Returns false with a reason when the fields are malformed.
    virtual bool readFields(const QXmlStreamAttributes &attrs, const ObjectFor &objectFor, QString *reason) = 0;

protected:
    void markChanged();
    // Called by the context when the record is deleted: drop it from its relationships.
    virtual void willBeDeleted() {}

private:
    friend class ManagedObjectContext;
    ManagedObjectContext *m_context;
    bool m_deleted = false;
};
