#include "store/PersistentStoreCoordinator.h"
#include "store/ManagedObject.h"
#include "store/ManagedObjectModel.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {
const QString kRootElement = QStringLiteral("store");
const QString kFormat = QStringLiteral("rivulet-store");
const QString kRecordElement = QStringLiteral("record");
const QString kCocoaDomain = QStringLiteral("NSCocoaErrorDomain");

StoreError formatError(const QString &path, const QString &reason)
{
    return {kCocoaDomain, 259,
            QStringLiteral("The file \u201c%1\u201d couldn't be opened because it isn't in the correct format.").arg(QFileInfo(path).fileName()),
            reason};
}
}

bool PersistentStoreCoordinator::addPersistentStore(const QString &path, StoreError *error)
{
    m_path = path;
    m_records.clear();
    QFile file(path);
    if (!file.exists())
        return true; // a new store: the file appears at the first save
    if (!file.open(QIODevice::ReadOnly)) {
        *error = {kCocoaDomain, 257,
                  QStringLiteral("The file \u201c%1\u201d couldn't be opened because you don't have permission to view it.").arg(QFileInfo(path).fileName()),
                  file.errorString()};
        return false;
    }
    const QByteArray bytes = file.readAll();
    QXmlStreamReader xml(bytes);
    bool sawRoot = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!sawRoot) {
            if (xml.name() != kRootElement || xml.attributes().value(QStringLiteral("format")) != kFormat) {
                *error = formatError(path, QStringLiteral("It is not a Rivulet store."));
                return false;
            }
            sawRoot = true;
            continue;
        }
        if (xml.name() != kRecordElement) {
            xml.raiseError(QStringLiteral("unexpected element %1").arg(xml.name()));
            break;
        }
        Record record{xml.attributes().value(QStringLiteral("entity")).toString(), xml.attributes()};
        if (!m_model->hasEntity(record.entity)) {
            xml.raiseError(QStringLiteral("unknown record type \"%1\"").arg(record.entity));
            break;
        }
        m_records.push_back(std::move(record));
        xml.skipCurrentElement();
    }
    if (xml.hasError() || !sawRoot) {
        *error = formatError(path, sawRoot ? QStringLiteral("%1 (line %2, column %3).").arg(xml.errorString()).arg(xml.lineNumber()).arg(xml.columnNumber())
                                           : QStringLiteral("The file is empty."));
        m_records.clear();
        return false;
    }
    return true;
}

bool PersistentStoreCoordinator::write(const std::vector<ManagedObject *> &objects, StoreError *error)
{
    QHash<const ManagedObject *, qulonglong> ids;
    ids.reserve(qsizetype(objects.size()));
    for (const ManagedObject *o : objects)
        ids.insert(o, qulonglong(ids.size() + 1));
    const ManagedObject::IdOf idOf = [&ids](const ManagedObject *o) { return ids.value(o); };

    QByteArray bytes;
    bytes.reserve(qsizetype(objects.size()) * 160);
    {
        QXmlStreamWriter xml(&bytes);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(kRootElement);
        xml.writeAttribute(QStringLiteral("format"), kFormat);
        xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
        for (const ManagedObject *o : objects) {
            xml.writeStartElement(kRecordElement);
            xml.writeAttribute(QStringLiteral("entity"), o->entityName());
            xml.writeAttribute(QStringLiteral("id"), QString::number(ids.value(o)));
            o->writeFields(xml, idOf);
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndDocument();
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = {kCocoaDomain, 512, QStringLiteral("The file \u201c%1\u201d couldn't be saved.").arg(QFileInfo(m_path).fileName()), file.errorString()};
        return false;
    }
    return true;
}
