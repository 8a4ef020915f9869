#pragma once
// One folder of a watched tree: its absolute path (the two tree tops are
// named "root"), when it was last scanned, the names its latest scan saw in
// this run, its remembered files and its child folders.
#include "base/Date.h"
#include "store/ManagedObject.h"
#include <QHash>
#include <QList>
#include <optional>
#include <vector>

class File;

class Directory : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    static constexpr const char *kEntityName = "Directory";
    QString entityName() const override { return QString::fromLatin1(kEntityName); }

    // Record fields
    QByteArray name() const;
    void setName(const QByteArray &name);
    std::optional<Date> lastScanTime() const;
    void setLastScanTime(const std::optional<Date> &date);
    // The folder's inode when last scanned, 0 when not known (stores written
    // before it was kept). It finds the folder again after a rename made while
    // Rivulet was not running.
    quint64 inode() const;
    void setInode(quint64 inode);
    // The names its latest scan saw dated within the scan's uncertainty, kept
    // with the store; none in stores written before they were kept. At the
    // next start a name dated that close to the scan but not among them came
    // after it: a download renamed into place just before the program ended.
    std::optional<QList<QByteArray>> recentNames() const;
    // With each name's size and date as the scan saw it (not persisted): a
    // file written again just after the scan can carry a date before it
    // (file dates come from a coarse clock), and only these tell it changed.
    struct Stamp {
        quint64 size = 0;
        std::optional<Date> mtime;
        bool operator==(const Stamp &) const = default;
    };
    void setRecentNames(const QList<QByteArray> &names, const QHash<QByteArray, Stamp> &stamps = {});
    std::optional<Stamp> recentStamp(const QByteArray &name) const;
    // Not persisted: none until the folder has been scanned in this run.
    std::optional<QList<QByteArray>> filenames() const;
    void setFilenames(const std::optional<QList<QByteArray>> &names);
    // Not persisted: the scan date the folder had before its first scan in
    // this run. A child folder first met in this run is dated from it, so its
    // files are judged by their own dates: older ones were there already.
    std::optional<Date> scanTimeForNewChild() const;
    void noteFirstScanOfRun();
    Directory *superdirectory() const;
    std::vector<File *> files() const;
    std::vector<Directory *> subdirectories() const;
    // Children ordered by name with plain byte comparison.
    std::vector<Directory *> sortedSubdirectories() const;

    void addFilesObject(File *file);
    void removeFilesObject(File *file);
    void addSubdirectoriesObject(Directory *dir);
    void removeSubdirectoriesObject(Directory *dir);

    QVariant valueForKey(const QString &key) const override;
    void setValueForKey(const QVariant &value, const QString &key) override;
    void writeRecord(RecordWriter &out, const IdOf &idOf) const override;
    bool readRecord(const RecordFields &fields, const ObjectFor &objectFor, QString *reason) override;
    const ManagedObject *owner(bool *required) const override;
    bool acceptLoaded(QString *reason) const override;
    // An absolute path with no empty, "." or ".." part and no trailing "/".
    static bool isCleanAbsolutePath(const QByteArray &path);

    // Folder tree operations (DirectoryTree.cpp).
    QByteArray fullName(const QByteArray &name, bool fullPath) const;
    static bool checkDirName(const QByteArray &path);
    ManagedObject *findFileOrSubdirectoryNamed(const QByteArray &name, bool fullPath, bool file) const;
    File *findFileNamed(const QByteArray &name, bool fullPath) const;
    Directory *findSubdirectoryNamed(const QByteArray &name, bool fullPath) const;
    std::optional<Date> mtimeForFilename(const QByteArray &name, bool fullPath, quint64 *size) const;
    bool fileIsNewerThanLastScanTime(const QByteArray &name, bool fullPath, quint64 *size, std::optional<Date> *mtime) const;
    File *addFileNamed(const QByteArray &name, bool fullPath);
    // With the size the caller found: no lstat under the store's lock.
    File *addFileNamed(const QByteArray &name, bool fullPath, quint64 size);
    bool deleteFileNamed(const QByteArray &name, bool fullPath);
    void addSubdirectory(Directory *dir);
    bool addSubdirectoryNamed(const QByteArray &name, bool fullPath, bool checkExistence, Directory **newDir);
    bool addSubdirectoryNamed(const QByteArray &name, bool fullPath, Directory **newDir);
    bool addSubdirectoryNamed(const QByteArray &name, bool fullPath);
    bool deleteSubdirectoryNamed(const QByteArray &name, bool fullPath);
    bool deleteSubdirectoryAtIndex(int index);
    Directory *findSubdirectory(const QByteArray &path);
    Directory *findSubdirectory(const QByteArray &path, int currentDepth, int *returnDepth);
    // A record made here takes its parent's date (see scanTimeForNewChild),
    // but the folder at path itself none when it just appeared: all of it is new.
    Directory *addSubdirectoryChainLeadingToPath(const QByteArray &path, int subdirMaxDepth, int *depth, bool appeared = false);
    // A folder renamed inside the watched tree: its records (scan date,
    // waiting files, child folders) go with it under parent as path.
    void moveTree(Directory *parent, const QByteArray &path);

protected:
    void willBeDeleted() override;

private:
    friend class File;
    QByteArray m_name;
    std::optional<Date> m_lastScanTime;
    quint64 m_inode = 0;
    std::optional<QList<QByteArray>> m_filenames;
    std::optional<QList<QByteArray>> m_recentNames;
    QHash<QByteArray, Stamp> m_recentStamps;
    std::optional<std::optional<Date>> m_scanTimeAtRunStart;
    Directory *m_superdirectory = nullptr;
    // Insertion order is the sets' enumeration order; the hashes find by name.
    std::vector<File *> m_files;
    std::vector<Directory *> m_subdirectories;
};
Q_DECLARE_METATYPE(Directory *)
