#pragma once
// Every preference of the program. The class-level (static) operations are
// the facade: fifteen scalar keys in the preferences file, and the two
// folder trees in the one Settings record of the object store. Instances are
// those records.
#include "store/ManagedObject.h"
#include <QByteArray>
#include <QString>
#include <optional>

class Directory;
class ManagedObjectContext;

// What the facade needs from the application: the store and standard folders.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    virtual ManagedObjectContext *managedObjectContext() = 0;
    virtual std::optional<QByteArray> downloadsDirectory() const = 0;
    virtual QByteArray applicationSupportDirectory() const = 0;
};

class Settings : public ManagedObject {
public:
    using ManagedObject::ManagedObject;
    static constexpr const char *kEntityName = "Settings";
    QString entityName() const override { return QString::fromLatin1(kEntityName); }

    // Record fields, also reachable by the keys "RootDirectory" and "ExclusionsDirectory".
    Directory *rootDirectoryRecord() const;
    Directory *exclusionsDirectoryRecord() const;
    QVariant valueForKey(const QString &key) const override;
    void setValueForKey(const QVariant &value, const QString &key) override;
    void writeFields(QXmlStreamWriter &xml, const IdOf &idOf) const override;
    bool readFields(const QXmlStreamAttributes &attrs, const ObjectFor &objectFor, QString *reason) override;

    // --- facade ---
    static void setHost(SettingsHost *host);
    // Forgets the current record; the host calls it when its store goes away.
    static void forgetCoreDataSettings();
    // The preferences file: $XDG_CONFIG_HOME/Rivulet/Rivulet.conf.
    static QString preferencesFilePath();

    static bool deleteArchiveContents();
    static void setDeleteArchiveContents(bool v);
    static bool deleteFiles();
    static void setDeleteFiles(bool v);
    static bool deleteZips();
    static void setDeleteZips(bool v);
    static bool didFirstLoad();
    static void setDidFirstLoad(bool v);
    static bool ifStopped();
    static void setIfStopped(bool v);
    static bool playSongs();
    static void setPlaySongs(bool v);
    static bool startAtLogin();
    static void setStartAtLogin(bool v);
    static bool unzipFiles();
    static void setUnzipFiles(bool v);
    static bool useDownloadHotkey();
    static void setUseDownloadHotkey(bool v);
    static bool growlNotifications();
    static void setGrowlNotifications(bool v);
    static quint64 downloadHotkey();
    static void setDownloadHotkey(quint64 v);
    static quint64 lastSCEvent();
    static void setLastSCEvent(quint64 v);
    // "Also import FLAC, Ogg, Opus and WAV files"; off by default.
    static bool importMoreFormats();
    static void setImportMoreFormats(bool v);
    // "MPD's music folder": asked only when the server's own configuration
    // does not tell it (a server reached over TCP). Bytes: it is a path.
    static QByteArray mpdMusicFolder();
    static void setMpdMusicFolder(const QByteArray &v);
    static QString searchLocation();
    static void setSearchLocation(const QString &v);
    static Directory *rootDirectory();
    static void setRootDirectory(Directory *dir);
    static Directory *exclusionsDirectory();
    static void setExclusionsDirectory(Directory *dir);

    static QVariant objectForKey(const QString &key);
    static void setObjectForKey(const QVariant &value, const QString &key);
    static bool boolForKey(const QString &key);
    static void setBoolForKey(bool value, const QString &key);
    static quint64 ULLForKey(const QString &key);
    static QByteArray bytesForKey(const QString &key);
    static void setULLForKey(quint64 value, const QString &key);
    static Directory *coreDataObjectForKey(const QString &key);
    static void setCoreDataObjectForKey(Directory *value, const QString &key);

    static void logSettings();

private:
    static void setupDefaultObjects();
    static void loadCoreDataSettings(ManagedObjectContext *ctx);
    static void createCoreDataSettings(ManagedObjectContext *ctx);

    Directory *m_rootDirectory = nullptr;
    Directory *m_exclusionsDirectory = nullptr;
};

#define RIVULET_SETTINGS_STR2(x) #x
#define RIVULET_SETTINGS_STR(x) RIVULET_SETTINGS_STR2(x)
// The music search page the program serves itself on loopback.
inline constexpr const char *kDefaultSearchLocation =
    "http://127.0.0.1:" RIVULET_SETTINGS_STR(RIVULET_SEARCH_PORT) "/search/search.html#/s/mediafire/";
