#include "watch/DirectoryListing.h"
#include <dirent.h>
#include <sys/stat.h>

std::vector<DirectoryEntry> listDirectory(const QByteArray &path, EntryFilter filter)
{
    std::vector<DirectoryEntry> entries;
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return entries;
    DirectoryEntry entry;
    while (const dirent *d = ::readdir(dir)) {
        entry.name = QByteArray::fromRawData(d->d_name, qsizetype(strlen(d->d_name)));
        entry.type = d->d_type;
        if (entry.type == DT_UNKNOWN) {
            // Some file systems report no type: look at the entry itself, without following links.
            struct stat st;
            const QByteArray full = path + '/' + entry.name;
            if (::lstat(full.constData(), &st) == 0)
                entry.type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        // Filter on the raw name before anything is copied.
        if (filter(entry)) {
            entry.name.detach();
            entries.push_back(entry);
        }
    }
    ::closedir(dir);
    return entries;
}
