#include "store/ManagedObject.h"
#include "store/ManagedObjectContext.h"

bool ManagedObject::isDeleted() const
{
    auto lock = m_context->lock();
    return m_deleted;
}

void ManagedObject::markChanged()
{
    m_context->markChanged();
}
