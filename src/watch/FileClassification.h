#pragma once
// Which directory entries the watcher cares about, from their byte names and
// type codes alone: music files, archives, folders, and folders of downloads
// still in progress.
#include <QByteArray>

// Entry type codes as the directory listing reports them.
constexpr int kEntryTypeFile = 8;   // DT_REG
constexpr int kEntryTypeFolder = 4; // DT_DIR

struct DirectoryEntry {
    QByteArray name;
    int type = 0;
};

// Each table ends with an empty string, which is never compared.
extern const char *const musicExtensions[];
extern const char *const musicAndArchiveExtensions[];
// FLAC, Ogg, Opus and WAV: music only while more formats are on.
extern const char *const moreMusicExtensions[];
extern const char *const excludedDirectoryExtensions[];
extern const char *const excludedDirectoryNames[];

// "Also import FLAC, Ogg, Opus and WAV files": the application sets it from
// the preferences at start and whenever it changes; off by default. Read
// by every test below, from any thread.
void setImportMoreFormats(bool on);
bool importMoreFormats();

int extensionTester(const DirectoryEntry &entry, const char *const table[]);
int fileTester(const DirectoryEntry &entry);
int directoryTester(const DirectoryEntry &entry);
int musicFileTester(const DirectoryEntry &entry);
int musicFileOrArchiveTester(const DirectoryEntry &entry);
int musicFileOrDirectoryTester(const DirectoryEntry &entry);

// True when a component of the path marks a folder of an unfinished download.
bool pathIsInExcludedDirType(const QByteArray &path);
