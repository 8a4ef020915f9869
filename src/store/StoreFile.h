#pragma once
// The store file on disk, by its path's bytes: reading it whole, and replacing
// it by a new file that is written, synced and renamed over it.
#include "store/StoreError.h"
#include <QByteArray>
#include <functional>

namespace StoreFile {
class Contents;
enum Status { Read, Missing, Failed };
struct ReadResult {
    Status status;
    int error = 0; // errno when Failed
};
// A file's bytes in a private, writable mapping (so that a parser may work
// in place), or none for an empty file.
class Contents {
public:
    Contents() = default;
    ~Contents();
    Contents(const Contents &) = delete;
    Contents &operator=(const Contents &) = delete;
    char *data() const { return m_data; }
    qsizetype size() const { return qsizetype(m_size); }

private:
    friend ReadResult read(const QByteArray &path, Contents *contents);
    char *m_data = nullptr;
    size_t m_size = 0;
};
ReadResult read(const QByteArray &path, Contents *contents);
// The error shown when the file exists but cannot be read, naming the cause.
StoreError openError(const QByteArray &path, int error);
// A new file beside its target, written and not yet synced or renamed.
struct NewFile {
    QByteArray temp;
    QByteArray target;
    int fd = -1;
};
// The steps of replace, so that a caller can write under its lock and sync
// and rename without it. On failure each step removes the new file.
bool writeNew(const QByteArray &path, const std::function<int(int fd)> &writeTo, NewFile *file, int *error);
bool sync(NewFile *file, int *error);
bool place(NewFile *file, int *error);
void discard(NewFile *file);
// Tests only: called before each sync, standing in for a slow disk.
void setBeforeSyncForTests(void (*hook)());
// Writes bytes to a new file next to path, syncs it and renames it over path.
// On failure the old file is untouched and error holds errno.
// writeTo gets the new file's descriptor and answers errno, or 0 when all was written.
bool replace(const QByteArray &path, const std::function<int(int fd)> &writeTo, int *error);
}
