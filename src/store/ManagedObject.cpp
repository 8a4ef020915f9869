#include "store/ManagedObject.h"
#include "store/ManagedObjectContext.h"
#include "store/XmlFields.h"
#include <QXmlStreamWriter>

bool ManagedObject::isDeleted() const
{
    auto lock = m_context->lock();
    return m_deleted;
}

void ManagedObject::markChanged()
{
    m_context->markChanged();
}

void ManagedObject::writeRecord(RecordWriter &out, const IdOf &idOf) const
{
    // Let Qt's writer escape the fields, then take its attributes over as they are.
    QByteArray element;
    {
        QXmlStreamWriter xml(&element);
        xml.writeStartElement(QStringLiteral("r"));
        writeFields(xml, idOf);
        xml.writeEndElement();
    }
    // element is "<r .../>" or "<r/>"
    out.raw(element.mid(2, element.size() - 4).trimmed());
}

bool ManagedObject::readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason)
{
    return readFields(fields.toXmlStreamAttributes(), objectFor, reason);
}
