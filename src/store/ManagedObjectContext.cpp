#include "store/ManagedObjectContext.h"
#include "store/ManagedObject.h"
#include "store/ManagedObjectModel.h"
#include "store/PersistentStoreCoordinator.h"

#include <QHash>
#include <algorithm>

ManagedObjectContext::~ManagedObjectContext()
{
    for (ManagedObject *o : m_objects)
        delete o;
    for (ManagedObject *o : m_graveyard)
        delete o;
}

bool ManagedObjectContext::setPersistentStoreCoordinator(PersistentStoreCoordinator *coordinator, StoreError *error)
{
    auto l = lock();
    m_coordinator = coordinator;
    const auto &records = coordinator->loadedRecords();
    const ManagedObjectModel *model = coordinator->managedObjectModel();
    QHash<qulonglong, ManagedObject *> byId;
    byId.reserve(qsizetype(records.size()));
    std::vector<ManagedObject *> made;
    made.reserve(records.size());
    for (const auto &record : records) {
        ManagedObject *o = model->make(record.entity, this);
        bool ok = false;
        const qulonglong id = record.fields.value(QStringLiteral("id")).toULongLong(&ok);
        if (!o || !ok || byId.contains(id)) {
            delete o;
            qDeleteAll(made);
            *error = {QStringLiteral("NSCocoaErrorDomain"), 259, QStringLiteral("The store file isn't in the correct format."),
                      QStringLiteral("A record has a missing or repeated id.")};
            return false;
        }
        byId.insert(id, o);
        made.push_back(o);
    }
    const ManagedObject::ObjectFor objectFor = [&byId](qulonglong id) { return byId.value(id); };
    for (size_t i = 0; i < made.size(); ++i) {
        QString reason;
        if (!made[i]->readFields(records[i].fields, objectFor, &reason)) {
            qDeleteAll(made);
            *error = {QStringLiteral("NSCocoaErrorDomain"), 259, QStringLiteral("The store file isn't in the correct format."), reason};
            return false;
        }
    }
    m_objects.insert(m_objects.end(), made.begin(), made.end());
    coordinator->dropLoadedRecords();
    m_changed = false;
    return true;
}

ManagedObject *ManagedObjectContext::insertNewObjectForEntityForName(const QString &entity)
{
    auto l = lock();
    if (!m_coordinator)
        return nullptr;
    ManagedObject *o = m_coordinator->managedObjectModel()->make(entity, this);
    if (o) {
        m_objects.push_back(o);
        m_changed = true;
    }
    return o;
}

std::vector<ManagedObject *> ManagedObjectContext::fetchAll(const QString &entity) const
{
    auto l = lock();
    std::vector<ManagedObject *> result;
    for (ManagedObject *o : m_objects)
        if (!o->m_deleted && o->entityName() == entity)
            result.push_back(o);
    return result;
}

void ManagedObjectContext::deleteObject(ManagedObject *object)
{
    auto l = lock();
    if (!object || object->m_deleted)
        return;
    object->m_deleted = true;
    object->willBeDeleted();
    ++m_deletedInObjects;
    m_changed = true;
    if (m_deletedInObjects > 64 && m_deletedInObjects * 2 > m_objects.size())
        compact();
}

void ManagedObjectContext::compact()
{
    auto alive = std::stable_partition(m_objects.begin(), m_objects.end(), [](ManagedObject *o) { return !o->m_deleted; });
    m_graveyard.insert(m_graveyard.end(), alive, m_objects.end());
    m_objects.erase(alive, m_objects.end());
    m_deletedInObjects = 0;
}

bool ManagedObjectContext::hasChanges() const
{
    auto l = lock();
    return m_changed;
}

void ManagedObjectContext::refreshObject(ManagedObject *, bool)
{
    auto l = lock();
}

bool ManagedObjectContext::save(StoreError *error)
{
    auto l = lock();
    if (!m_changed)
        return true;
    if (!m_coordinator) {
        *error = {QStringLiteral("NSCocoaErrorDomain"), 134030, QStringLiteral("This context has no store to save to."), {}};
        return false;
    }
    if (m_deletedInObjects)
        compact();
    if (!m_coordinator->write(m_objects, error))
        return false;
    m_changed = false;
    return true;
}

size_t ManagedObjectContext::liveCount() const
{
    auto l = lock();
    return m_objects.size() - m_deletedInObjects;
}
