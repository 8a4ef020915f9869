#pragma once
// Lists a folder through an entry filter, in the order the file system
// returns the entries. A folder that cannot be listed yields no entries.
#include "watch/FileClassification.h"
#include <vector>

using EntryFilter = int (*)(const DirectoryEntry &);

std::vector<DirectoryEntry> listDirectory(const QByteArray &path, EntryFilter filter);
