#include "watch/FileClassification.h"
#include <atomic>
#include <cstring>

const char *const musicExtensions[] = {"mp3", "m4a", "aiff", "MP3", "M4A", "AIFF", ""};
const char *const musicAndArchiveExtensions[] = {"mp3", "m4a", "aiff", "zip", "rar", "MP3", "M4A", "AIFF", "ZIP", "RAR", ""};
const char *const moreMusicExtensions[] = {"flac", "ogg", "opus", "wav", "FLAC", "OGG", "OPUS", "WAV", ""};
const char *const excludedDirectoryExtensions[] = {"download", ""};
const char *const excludedDirectoryNames[] = {"Incomplete Downloads", ""};

int extensionTester(const DirectoryEntry &entry, const char *const table[])
{
    const QByteArray &name = entry.name;
    // The last dot that is not the first byte starts the extension.
    qsizetype dot = -1;
    for (qsizetype i = name.size() - 1; i >= 1; --i) {
        if (name.at(i) == '.') {
            dot = i;
            break;
        }
    }
    if (dot < 0)
        return 0;
    const char *ext = name.constData() + dot + 1;
    const size_t extLength = size_t(name.size() - dot - 1);
    int found = 0;
    for (int i = 0; table[i][0]; ++i)
        if (strlen(table[i]) == extLength && memcmp(table[i], ext, extLength) == 0)
            found = 1;
    return found;
}

namespace {
std::atomic<bool> g_moreFormats{false};
}

void setImportMoreFormats(bool on)
{
    g_moreFormats = on;
}

bool importMoreFormats()
{
    return g_moreFormats;
}

int fileTester(const DirectoryEntry &entry)
{
    return entry.type == kEntryTypeFile;
}

int directoryTester(const DirectoryEntry &entry)
{
    return entry.type == kEntryTypeFolder && entry.name != "." && entry.name != "..";
}

int musicFileTester(const DirectoryEntry &entry)
{
    return extensionTester(entry, musicExtensions) || (g_moreFormats && extensionTester(entry, moreMusicExtensions));
}

int musicFileOrArchiveTester(const DirectoryEntry &entry)
{
    return extensionTester(entry, musicAndArchiveExtensions) || (g_moreFormats && extensionTester(entry, moreMusicExtensions));
}

int musicFileOrDirectoryTester(const DirectoryEntry &entry)
{
    return directoryTester(entry) || musicFileTester(entry);
}

static bool componentIsExcluded(const char *start, size_t length)
{
    for (int i = 0; excludedDirectoryExtensions[i][0]; ++i) {
        const size_t n = strlen(excludedDirectoryExtensions[i]);
        if (length >= n && memcmp(start + length - n, excludedDirectoryExtensions[i], n) == 0)
            return true;
    }
    for (int i = 0; excludedDirectoryNames[i][0]; ++i)
        if (strlen(excludedDirectoryNames[i]) == length && memcmp(start, excludedDirectoryNames[i], length) == 0)
            return true;
    // A file system's own trash (.Trash, .Trash-<uid>) holds what the user threw
    // away; on a Downloads that is a mount of its own it lies inside the watched folder.
    return (length == 6 && memcmp(start, ".Trash", 6) == 0) || (length > 7 && memcmp(start, ".Trash-", 7) == 0);
}

bool pathIsInExcludedDirType(const QByteArray &path)
{
    const char *p = path.constData();
    const char *end = p + path.size();
    while (p <= end) {
        const char *slash = static_cast<const char *>(memchr(p, '/', size_t(end - p)));
        const char *stop = slash ? slash : end;
        if (componentIsExcluded(p, size_t(stop - p)))
            return true;
        if (!slash)
            break;
        p = slash + 1;
    }
    return false;
}
