#pragma once
// Inside a record's method: holds its context's lock to the end of the scope.
#include "store/ManagedObjectContext.h"

#define LOCK_STORE auto storeLock = managedObjectContext()->lock()
