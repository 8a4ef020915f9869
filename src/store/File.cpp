#include "store/File.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "store/XmlFields.h"

QByteArray File::name() const { auto l = managedObjectContext()->lock(); return m_name; }
std::optional<Date> File::modified() const { auto l = managedObjectContext()->lock(); return m_modified; }
quint64 File::size() const { auto l = managedObjectContext()->lock(); return m_size; }
Directory *File::directory() const { auto l = managedObjectContext()->lock(); return m_directory; }

void File::setName(const QByteArray &name)
{
    auto l = managedObjectContext()->lock();
    m_name = name;
    markChanged();
}

void File::setModified(const std::optional<Date> &date)
{
    auto l = managedObjectContext()->lock();
    m_modified = date;
    markChanged();
}

void File::setSize(quint64 size)
{
    auto l = managedObjectContext()->lock();
    m_size = size;
    markChanged();
}

QVariant File::valueForKey(const QString &key) const
{
    auto l = managedObjectContext()->lock();
    if (key == QLatin1String("name"))
        return m_name;
    if (key == QLatin1String("size"))
        return QVariant::fromValue<qulonglong>(m_size);
    if (key == QLatin1String("modified"))
        return m_modified ? QVariant::fromValue<qlonglong>(dateToNanos(*m_modified)) : QVariant();
    if (key == QLatin1String("directory"))
        return QVariant::fromValue(m_directory);
    return {};
}

void File::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == QLatin1String("name"))
        setName(value.toByteArray());
    else if (key == QLatin1String("size"))
        setSize(value.toULongLong());
    else if (key == QLatin1String("modified"))
        setModified(value.isValid() ? std::optional(dateFromNanos(value.toLongLong())) : std::nullopt);
}

const ManagedObject *File::owner(bool *required) const
{
    *required = true; // a file record is only loaded with its folder
    return m_directory;
}

void File::writeRecord(RecordWriter &out, const IdOf &idOf) const
{
    out.bytes("name", m_name);
    out.date("modified", m_modified);
    out.number("size", m_size);
    if (m_directory)
        out.number("directory", idOf(m_directory));
}

bool File::readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason)
{
    qulonglong dirId = 0;
    if (!fields.bytes("name", &m_name) || !fields.date("modified", &m_modified) || !fields.number("size", &m_size)
        || !fields.number("directory", &dirId)) {
        *reason = QStringLiteral("a File record has a malformed field");
        return false;
    }
    auto *dir = dynamic_cast<Directory *>(objectFor(dirId));
    if (!dir) {
        *reason = QStringLiteral("a File record names no folder");
        return false;
    }
    dir->m_files.push_back(this);
    m_directory = dir;
    return true;
}

void File::willBeDeleted()
{
    if (m_directory)
        m_directory->removeFilesObject(this);
}
