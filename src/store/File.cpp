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

void File::writeFields(QXmlStreamWriter &xml, const IdOf &idOf) const
{
    XmlFields::writeBytes(xml, QStringLiteral("name"), m_name);
    XmlFields::writeDate(xml, QStringLiteral("modified"), m_modified);
    xml.writeAttribute(QStringLiteral("size"), QString::number(m_size));
    if (m_directory)
        xml.writeAttribute(QStringLiteral("directory"), QString::number(idOf(m_directory)));
}

bool File::readFields(const QXmlStreamAttributes &attrs, const ObjectFor &objectFor, QString *reason)
{
    qulonglong dirId = 0;
    if (!XmlFields::readBytes(attrs, QStringLiteral("name"), &m_name) || !XmlFields::readDate(attrs, QStringLiteral("modified"), &m_modified)
        || !XmlFields::readULL(attrs, QStringLiteral("size"), &m_size) || !XmlFields::readULL(attrs, QStringLiteral("directory"), &dirId)) {
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
