// The Settings record: two to-one references to the tops of the folder trees.
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "store/XmlFields.h"

namespace {
const QString kRootKey = QStringLiteral("RootDirectory");
const QString kExclusionsKey = QStringLiteral("ExclusionsDirectory");
}

Directory *Settings::rootDirectoryRecord() const
{
    auto l = managedObjectContext()->lock();
    return m_rootDirectory;
}

Directory *Settings::exclusionsDirectoryRecord() const
{
    auto l = managedObjectContext()->lock();
    return m_exclusionsDirectory;
}

QVariant Settings::valueForKey(const QString &key) const
{
    auto l = managedObjectContext()->lock();
    if (key == kRootKey)
        return QVariant::fromValue(m_rootDirectory && !m_rootDirectory->isDeleted() ? m_rootDirectory : nullptr);
    if (key == kExclusionsKey)
        return QVariant::fromValue(m_exclusionsDirectory && !m_exclusionsDirectory->isDeleted() ? m_exclusionsDirectory : nullptr);
    return {};
}

void Settings::setValueForKey(const QVariant &value, const QString &key)
{
    auto l = managedObjectContext()->lock();
    if (key == kRootKey)
        m_rootDirectory = value.value<Directory *>();
    else if (key == kExclusionsKey)
        m_exclusionsDirectory = value.value<Directory *>();
    else
        return;
    markChanged();
}

void Settings::writeFields(QXmlStreamWriter &xml, const IdOf &idOf) const
{
    // A deleted tree top has no id: the reference is then simply not written.
    if (qulonglong id = m_rootDirectory ? idOf(m_rootDirectory) : 0)
        xml.writeAttribute(kRootKey, QString::number(id));
    if (qulonglong id = m_exclusionsDirectory ? idOf(m_exclusionsDirectory) : 0)
        xml.writeAttribute(kExclusionsKey, QString::number(id));
}

bool Settings::readFields(const QXmlStreamAttributes &attrs, const ObjectFor &objectFor, QString *reason)
{
    for (const auto &[key, field] : {std::pair{kRootKey, &m_rootDirectory}, std::pair{kExclusionsKey, &m_exclusionsDirectory}}) {
        if (!attrs.hasAttribute(key))
            continue;
        qulonglong id = 0;
        *field = XmlFields::readULL(attrs, key, &id) ? dynamic_cast<Directory *>(objectFor(id)) : nullptr;
        if (!*field) {
            *reason = QStringLiteral("the Settings record names no folder under %1").arg(key);
            return false;
        }
    }
    return true;
}
