#include "store/PersistentStoreCoordinator.h"
#include "base/Log.h"
#include "store/ManagedObject.h"
#include "store/ManagedObjectModel.h"
#include "store/ParseArena.h"
#include "store/StoreFile.h"
#include "store/XmlFields.h"

#include <QFile>
#include <cstring>
#include <pugixml.hpp>

namespace {
const QString kCocoaDomain = QStringLiteral("NSCocoaErrorDomain");

QString leaf(const QByteArray &path)
{
    return QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1));
}

StoreError formatError(const QByteArray &path, const QString &reason)
{
    return {kCocoaDomain, 259,
            QStringLiteral("The file \u201c%1\u201d couldn't be opened because it isn't in the correct format.").arg(leaf(path)), reason};
}

// Line and column (from 1) of a byte offset, for parse errors.
QString position(const StoreFile::Contents &contents, ptrdiff_t offset)
{
    offset = std::clamp<ptrdiff_t>(offset, 0, contents.size());
    const QByteArrayView before(contents.data(), offset);
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

// Store states of a record during a save (ManagedObject::m_saveState).
enum : uint8_t { kUnknown = 0, kVisiting, kWritten, kLeftOut };
}

struct PersistentStoreCoordinator::Loaded {
    StoreFile::Contents contents; // parsed in place: the document's strings point into it
    std::unique_ptr<ParseArena> arena; // declared before the document, which it outlives
    pugi::xml_document document;
    std::vector<pugi::xml_node> records;
    std::vector<int> entities;
};

PersistentStoreCoordinator::PersistentStoreCoordinator(const ManagedObjectModel *model) : m_model(model) {}
PersistentStoreCoordinator::~PersistentStoreCoordinator() = default;

QString PersistentStoreCoordinator::storePath() const
{
    return QFile::decodeName(m_path);
}

bool PersistentStoreCoordinator::addPersistentStore(const QString &path, StoreError *error)
{
    return addPersistentStore(QFile::encodeName(path), error);
}

bool PersistentStoreCoordinator::addPersistentStore(const QByteArray &path, StoreError *error)
{
    m_path = path;
    m_loaded.reset();
    auto loaded = std::make_unique<Loaded>();
    StoreFile::ReadResult read = StoreFile::read(path, &loaded->contents);
    if (read.status == StoreFile::Missing)
        return true; // a new store: the file appears at the first save
    if (read.status == StoreFile::Failed) {
        *error = StoreFile::openError(path, read.error);
        return false;
    }
    if (loaded->contents.size() == 0) {
        *error = formatError(path, QStringLiteral("The file is empty."));
        return false;
    }
    // The parsed records of this format take a little under twice the file's size.
    loaded->arena = std::make_unique<ParseArena>(size_t(loaded->contents.size()) * 2);
    loaded->arena->activate();
    const pugi::xml_parse_result parsed =
        loaded->document.load_buffer_inplace(loaded->contents.data(), size_t(loaded->contents.size()), pugi::parse_default, pugi::encoding_auto);
    loaded->arena->deactivate();
    const pugi::xml_node root = loaded->document.document_element();
    if (!parsed && parsed.status != pugi::status_no_document_element) {
        *error = formatError(path, QStringLiteral("%1 (%2).").arg(QString::fromUtf8(parsed.description()), position(loaded->contents, parsed.offset)));
        return false;
    }
    if (!root) {
        *error = formatError(path, QStringLiteral("The file is empty."));
        return false;
    }
    if (std::strcmp(root.name(), "store") != 0 || std::strcmp(root.attribute("format").value(), "rivulet-store") != 0) {
        *error = formatError(path, QStringLiteral("It is not a Rivulet store."));
        return false;
    }
    for (pugi::xml_node record = root.first_child(); record; record = record.next_sibling()) {
        if (record.type() != pugi::node_element)
            continue;
        if (std::strcmp(record.name(), "record") != 0) {
            *error = formatError(path, QStringLiteral("unexpected element %1.").arg(QString::fromUtf8(record.name())));
            return false;
        }
        const char *entity = record.attribute("entity").value();
        const int index = m_model->indexOf(entity);
        if (index < 0) {
            *error = formatError(path, QStringLiteral("unknown record type \"%1\".").arg(QString::fromUtf8(entity)));
            return false;
        }
        int fields = 0;
        for (pugi::xml_attribute a = record.first_attribute(); a; a = a.next_attribute())
            ++fields;
        if (fields > RecordFields::kMax) {
            *error = formatError(path, QStringLiteral("a record has more than %1 fields.").arg(RecordFields::kMax));
            return false;
        }
        loaded->records.push_back(record);
        loaded->entities.push_back(index);
    }
    m_loaded = std::move(loaded);
    return true;
}

size_t PersistentStoreCoordinator::loadedRecordCount() const
{
    return m_loaded ? m_loaded->records.size() : 0;
}

int PersistentStoreCoordinator::loadedEntity(size_t index) const
{
    return m_loaded->entities[index];
}

void PersistentStoreCoordinator::loadedFields(size_t index, RecordFields *fields) const
{
    for (pugi::xml_attribute a = m_loaded->records[index].first_attribute(); a; a = a.next_attribute())
        fields->add(a.name(), a.value());
}

void PersistentStoreCoordinator::dropLoadedRecords()
{
    m_loaded.reset();
}

bool PersistentStoreCoordinator::write(const std::vector<ManagedObject *> &objects, StoreFile::NewFile *written, quint64 *number, StoreError *error)
{
    // A record is written when it is not deleted and the record it cannot be
    // loaded without (its folder) is written: a record added under a folder
    // that was deleted meanwhile would otherwise name a parent the file lacks.
    std::vector<const ManagedObject *> chain;
    auto isWritten = [&chain](ManagedObject *start) {
        for (const ManagedObject *o = start;;) {
            if (o->m_saveState == kWritten || o->m_saveState == kLeftOut || o->m_saveState == kVisiting) {
                // A loop of owners is never written.
                const uint8_t result = o->m_saveState == kWritten ? kWritten : kLeftOut;
                for (const ManagedObject *c : chain)
                    const_cast<ManagedObject *>(c)->m_saveState = result;
                chain.clear();
                return result == kWritten;
            }
            const_cast<ManagedObject *>(o)->m_saveState = kVisiting;
            chain.push_back(o);
            bool required = false;
            const ManagedObject *owner = o->owner(&required);
            if (o->m_deleted || (owner && owner->m_deleted) || (!owner && required)) {
                for (const ManagedObject *c : chain)
                    const_cast<ManagedObject *>(c)->m_saveState = kLeftOut;
                chain.clear();
                return false;
            }
            if (!owner) {
                for (const ManagedObject *c : chain)
                    const_cast<ManagedObject *>(c)->m_saveState = kWritten;
                chain.clear();
                return true;
            }
            o = owner;
        }
    };
    uint32_t nextId = 0;
    size_t leftOut = 0;
    for (ManagedObject *o : objects) {
        if (isWritten(o))
            o->m_saveId = ++nextId;
        else
            ++leftOut;
    }
    if (leftOut)
        Log::f("Not saving %lu records whose folder record is gone", (unsigned long)leftOut);

    const ManagedObject::IdOf idOf = [](const ManagedObject *o) { return qulonglong(o->m_saveId); };
    auto writeTo = [&](int fd) {
        RecordWriter out(fd);
        const char header[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<store format=\"rivulet-store\" version=\"1\">\n";
        out.put(header, sizeof header - 1);
        for (ManagedObject *o : objects) {
            if (!o->m_saveId)
                continue;
            out.begin(o->m_entity != ManagedObject::kNoEntity ? m_model->entityName(o->m_entity) : o->entityName().toUtf8().constData(), o->m_saveId);
            o->writeRecord(out, idOf);
            out.end();
        }
        out.put("</store>\n", 9);
        return out.finish();
    };
    int savedErrno = 0;
    const bool saved = StoreFile::writeNew(m_path, writeTo, written, &savedErrno);
    for (ManagedObject *o : objects) {
        o->m_saveId = 0;
        o->m_saveState = kUnknown;
    }
    if (!saved) {
        *error = {kCocoaDomain, 512, QStringLiteral("The file \u201c%1\u201d couldn't be saved.").arg(leaf(m_path)),
                  QString::fromLocal8Bit(strerror(savedErrno))};
        return false;
    }
    *number = ++m_written;
    return true;
}

// Runs without the context's lock: the sync may take long on a slow disk.
bool PersistentStoreCoordinator::place(StoreFile::NewFile *written, quint64 number, StoreError *error)
{
    int savedErrno = 0;
    bool saved = StoreFile::sync(written, &savedErrno);
    if (saved) {
        std::lock_guard order(m_placeOrder);
        if (number > m_placed) {
            saved = StoreFile::place(written, &savedErrno);
            if (saved)
                m_placed = number;
        } else {
            StoreFile::discard(written); // a later save is on disk already
        }
    }
    if (!saved)
        *error = {kCocoaDomain, 512, QStringLiteral("The file \u201c%1\u201d couldn't be saved.").arg(leaf(m_path)),
                  QString::fromLocal8Bit(strerror(savedErrno))};
    return saved;
}
