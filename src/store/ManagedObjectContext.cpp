#include "store/ManagedObjectContext.h"
#include "store/ManagedObject.h"
#include "store/ManagedObjectModel.h"
#include "store/PersistentStoreCoordinator.h"
#include "store/XmlFields.h"
#include "base/Log.h"

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
    const ManagedObjectModel *model = coordinator->managedObjectModel();
    const size_t count = coordinator->loadedRecordCount();
    auto formatError = [error](const QString &reason) {
        *error = {QStringLiteral("NSCocoaErrorDomain"), 259, QStringLiteral("The store file isn't in the correct format."), reason};
    };
    std::vector<ManagedObject *> made;
    made.reserve(count);
    auto fail = [&made, coordinator](bool ok) {
        if (!ok) {
            qDeleteAll(made);
            coordinator->dropLoadedRecords();
        }
        return ok;
    };
    // First every record is made with its id; then the fields are read, when
    // every reference has a record to point at.
    std::vector<qulonglong> ids(count);
    qulonglong maxId = 0;
    for (size_t i = 0; i < count; ++i) {
        RecordFields fields;
        coordinator->loadedFields(i, &fields);
        const int entity = coordinator->loadedEntity(i);
        ManagedObject *o = model->make(entity, this);
        if (!o || !fields.number("id", &ids[i]) || ids[i] == 0) {
            delete o;
            formatError(QStringLiteral("A record has a missing or repeated id."));
            return fail(false);
        }
        o->m_entity = uint8_t(entity);
        maxId = std::max(maxId, ids[i]);
        made.push_back(o);
    }
    // Saved ids run from 1 without gaps: a table finds them; other files get a hash.
    std::vector<ManagedObject *> table;
    QHash<qulonglong, ManagedObject *> hash;
    const bool dense = maxId <= 2 * count + 64;
    if (dense)
        table.assign(size_t(maxId) + 1, nullptr);
    for (size_t i = 0; i < count; ++i) {
        ManagedObject *&slot = dense ? table[size_t(ids[i])] : hash[ids[i]];
        if (slot) {
            formatError(QStringLiteral("A record has a missing or repeated id."));
            return fail(false);
        }
        slot = made[i];
    }
    std::vector<qulonglong>().swap(ids);
    const ManagedObject::ObjectFor objectFor = [&](qulonglong id) -> ManagedObject * {
        if (dense)
            return id < table.size() ? table[size_t(id)] : nullptr;
        return hash.value(id);
    };
    for (size_t i = 0; i < count; ++i) {
        RecordFields fields;
        coordinator->loadedFields(i, &fields);
        QString reason;
        if (!made[i]->readRecord(fields, objectFor, &reason)) {
            formatError(reason);
            return fail(false);
        }
    }
    m_objects.insert(m_objects.end(), made.begin(), made.end());
    coordinator->dropLoadedRecords();
    dropUnacceptableRecords();
    // Dropping them changes nothing on disk until the next save.
    m_changed = false;
    return true;
}

void ManagedObjectContext::dropUnacceptableRecords()
{
    const std::vector<ManagedObject *> loaded = m_objects;
    for (ManagedObject *o : loaded) {
        QString reason;
        if (o->m_deleted || o->acceptLoaded(&reason))
            continue;
        Log::f("Dropping the %@ record \"%@\" from the store: %@", o->entityName(), o->valueForKey(QStringLiteral("name")).toByteArray(), reason);
        deleteObject(o);
    }
}

ManagedObject *ManagedObjectContext::insertNewObjectForEntityForName(const QString &entity)
{
    auto l = lock();
    if (!m_coordinator)
        return nullptr;
    const ManagedObjectModel *model = m_coordinator->managedObjectModel();
    const int index = model->indexOf(entity.toUtf8().constData());
    ManagedObject *o = index < 0 ? nullptr : model->make(index, this);
    if (o) {
        o->m_entity = uint8_t(index);
        m_objects.push_back(o);
        m_changed = true;
    }
    return o;
}

std::vector<ManagedObject *> ManagedObjectContext::fetchAll(const QString &entity) const
{
    auto l = lock();
    std::vector<ManagedObject *> result;
    const int index = m_coordinator ? m_coordinator->managedObjectModel()->indexOf(entity.toUtf8().constData()) : -1;
    for (ManagedObject *o : m_objects) {
        if (o->m_deleted)
            continue;
        // Records know their entity's place in the schema; comparing it spares a name per record.
        if (o->m_entity != ManagedObject::kNoEntity ? o->m_entity == index : o->entityName() == entity)
            result.push_back(o);
    }
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

void ManagedObjectContext::reclaimDeleted(const std::function<bool(const ManagedObject *)> &mayFree)
{
    auto l = lock();
    if (m_deletedInObjects)
        compact();
    const auto held = std::stable_partition(m_graveyard.begin(), m_graveyard.end(), [&mayFree](ManagedObject *o) { return !mayFree(o); });
    for (auto it = held; it != m_graveyard.end(); ++it)
        delete *it;
    m_graveyard.erase(held, m_graveyard.end());
}

size_t ManagedObjectContext::retainedDeletedCount() const
{
    auto l = lock();
    return m_graveyard.size() + m_deletedInObjects;
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

// The records are written under the lock; the sync and the rename run
// without it, so the other thread is not held up by a slow disk.
bool ManagedObjectContext::save(StoreError *error)
{
    StoreFile::NewFile written;
    quint64 number = 0;
    PersistentStoreCoordinator *coordinator = nullptr;
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
        if (!m_coordinator->write(m_objects, &written, &number, error))
            return false;
        m_changed = false;
        coordinator = m_coordinator;
    }
    if (coordinator->place(&written, number, error))
        return true;
    auto l = lock();
    m_changed = true;
    return false;
}

size_t ManagedObjectContext::liveCount() const
{
    auto l = lock();
    return m_objects.size() - m_deletedInObjects;
}
