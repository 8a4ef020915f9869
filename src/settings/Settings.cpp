// The settings facade: class-level getters and setters over the preferences
// file and the Settings record.
#include "settings/Settings.h"
#include "base/Log.h"
#include "base/StandardFolders.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <atomic>
#include <mutex>

namespace {
constexpr quint64 kHotkeyMask = (quint64(1) << 56) - 1;

// Stands for "no default value" under the two record keys.
struct NullMarker {};
}
Q_DECLARE_METATYPE(NullMarker)

namespace {
// How a setting is stored and read: Record settings live in the store's
// Settings record, every other one in the preferences file.
enum class Kind { Bool, Number, Hotkey, Bytes, Text, Record };

// Every setting: its stored key (users' files name it), how it is read, its
// default, and the name it is logged under (none: not logged). logSettings
// follows this order.
struct Row {
    QString key;
    Kind kind;
    QVariant defaultValue;
    const char *logged;
};

const QList<Row> &table()
{
    static const QList<Row> rows = {
        {QStringLiteral("StartAtLogin"), Kind::Bool, false, "startAtLogin"},
        {QStringLiteral("UnzipFiles"), Kind::Bool, true, "unzipFiles"},
        {QStringLiteral("DeleteFiles"), Kind::Bool, false, "deleteFiles"},
        {QStringLiteral("DeleteArchiveContents"), Kind::Bool, false, "deleteArchiveContents"},
        {QStringLiteral("DeleteZips"), Kind::Bool, false, "deleteZips"},
        {QStringLiteral("PlaySongs"), Kind::Bool, false, "playSongs"},
        {QStringLiteral("IfStopped"), Kind::Bool, true, "ifStopped"},
        {QStringLiteral("DidFirstLoad"), Kind::Bool, false, "didFirstLoad"},
        {QStringLiteral("UseDownloadHotkey"), Kind::Bool, true, "useDownloadHotkey"},
        // Option-D: key code 2 with the Option modifier 0x80000 shifted left by 24.
        {QStringLiteral("DownloadHotkey"), Kind::Hotkey, QVariant::fromValue<qulonglong>((quint64(0x80000) << 24) + 2), "downloadHotkey"},
        {QStringLiteral("GrowlNotifications"), Kind::Bool, true, "growlNotifications"},
        {QStringLiteral("SearchLocation"), Kind::Text, QString::fromLatin1(kDefaultSearchLocation), "searchLocation"},
        {QStringLiteral("ImportMoreFormats"), Kind::Bool, false, "importMoreFormats"},
        {QStringLiteral("MpdMusicFolder"), Kind::Bytes, QByteArray(), "mpdMusicFolder"},
        {QStringLiteral("LastSCEvent"), Kind::Number, QVariant::fromValue<qulonglong>(0), nullptr},
        {QStringLiteral("RootDirectory"), Kind::Record, QVariant::fromValue(NullMarker{}), nullptr},
        {QStringLiteral("ExclusionsDirectory"), Kind::Record, QVariant::fromValue(NullMarker{}), nullptr},
    };
    return rows;
}

std::once_flag g_defaultsOnce;
QHash<QString, QVariant> g_defaultObjects;

std::atomic<SettingsHost *> g_host{nullptr};
std::mutex g_recordMutex;
// QSettings is reentrant and synchronises its shared file cache itself; one
// lock around our use also makes that ordering visible to thread checkers.
std::mutex g_prefsMutex;
Settings *g_coreDataSettings = nullptr;
}

void Settings::setHost(SettingsHost *host) { g_host = host; }

void Settings::forgetCoreDataSettings()
{
    std::lock_guard lock(g_recordMutex);
    g_coreDataSettings = nullptr;
}

QString Settings::preferencesFilePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QLatin1String("/.config");
    return config + QLatin1String("/Rivulet/Rivulet.conf");
}

void Settings::setupDefaultObjects()
{
    for (const Row &row : table())
        g_defaultObjects.insert(row.key, row.defaultValue);
}

QVariant Settings::objectForKey(const QString &key)
{
    QVariant value;
    {
        std::lock_guard lock(g_prefsMutex);
        QSettings store(preferencesFilePath(), QSettings::IniFormat);
        value = store.value(key);
    }
    if (!value.isValid()) {
        std::call_once(g_defaultsOnce, setupDefaultObjects);
        value = g_defaultObjects.value(key);
    }
    if (value.canConvert<NullMarker>() && value.userType() == qMetaTypeId<NullMarker>())
        return {};
    return value;
}

void Settings::setObjectForKey(const QVariant &value, const QString &key)
{
    std::lock_guard lock(g_prefsMutex);
    QSettings store(preferencesFilePath(), QSettings::IniFormat);
    store.setValue(key, value);
    store.sync();
}

// Only true/false/1/0 are booleans: anything else (a hand-edited file, a value
// written by another program) must not switch on a setting that deletes files.
static std::optional<bool> readBool(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        if (value.toLongLong() == 0 || value.toLongLong() == 1)
            return value.toLongLong() == 1;
        return std::nullopt;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text == QLatin1String("true") || text == QLatin1String("1"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("0"))
            return false;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool Settings::boolForKey(const QString &key)
{
    const QVariant value = objectForKey(key);
    if (!value.isValid())
        return false; // a key outside the table
    if (const std::optional<bool> b = readBool(value))
        return *b;
    std::call_once(g_defaultsOnce, setupDefaultObjects);
    const bool fallback = g_defaultObjects.value(key).toBool();
    // Said once per key and run: the import reads these settings for every file.
    static std::mutex loggedMutex;
    static QSet<QString> logged;
    std::lock_guard lock(loggedMutex);
    if (!logged.contains(key)) {
        logged.insert(key);
        Log::f("The stored value of %@ is not a boolean; using its default %@", key, fallback ? "true" : "false");
    }
    return fallback;
}
void Settings::setBoolForKey(bool value, const QString &key) { setObjectForKey(value, key); }
quint64 Settings::ULLForKey(const QString &key) { return objectForKey(key).toULongLong(); }
void Settings::setULLForKey(quint64 value, const QString &key) { setObjectForKey(QVariant::fromValue<qulonglong>(value), key); }

QByteArray Settings::bytesForKey(const QString &key)
{
    const QVariant value = objectForKey(key);
    // Stored as bytes; a hand-edited text value is taken as the local encoding.
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QFile::encodeName(value.toString());
}

// The typed accessors: each names its row's key.
#define RIVULET_BOOL_SETTING(get, set, key) \
    bool Settings::get() { return boolForKey(QStringLiteral(key)); } \
    void Settings::set(bool v) { setBoolForKey(v, QStringLiteral(key)); }
RIVULET_BOOL_SETTING(deleteArchiveContents, setDeleteArchiveContents, "DeleteArchiveContents")
RIVULET_BOOL_SETTING(deleteFiles, setDeleteFiles, "DeleteFiles")
RIVULET_BOOL_SETTING(deleteZips, setDeleteZips, "DeleteZips")
RIVULET_BOOL_SETTING(didFirstLoad, setDidFirstLoad, "DidFirstLoad")
RIVULET_BOOL_SETTING(ifStopped, setIfStopped, "IfStopped")
RIVULET_BOOL_SETTING(playSongs, setPlaySongs, "PlaySongs")
RIVULET_BOOL_SETTING(startAtLogin, setStartAtLogin, "StartAtLogin")
RIVULET_BOOL_SETTING(unzipFiles, setUnzipFiles, "UnzipFiles")
RIVULET_BOOL_SETTING(useDownloadHotkey, setUseDownloadHotkey, "UseDownloadHotkey")
RIVULET_BOOL_SETTING(growlNotifications, setGrowlNotifications, "GrowlNotifications")
RIVULET_BOOL_SETTING(importMoreFormats, setImportMoreFormats, "ImportMoreFormats")
#undef RIVULET_BOOL_SETTING
quint64 Settings::downloadHotkey() { return ULLForKey(QStringLiteral("DownloadHotkey")) & kHotkeyMask; }
void Settings::setDownloadHotkey(quint64 v) { setULLForKey(v, QStringLiteral("DownloadHotkey")); }
quint64 Settings::lastSCEvent() { return ULLForKey(QStringLiteral("LastSCEvent")); }
void Settings::setLastSCEvent(quint64 v) { setULLForKey(v, QStringLiteral("LastSCEvent")); }
QByteArray Settings::mpdMusicFolder() { return bytesForKey(QStringLiteral("MpdMusicFolder")); }
void Settings::setMpdMusicFolder(const QByteArray &v) { setObjectForKey(v, QStringLiteral("MpdMusicFolder")); }
QString Settings::searchLocation() { return objectForKey(QStringLiteral("SearchLocation")).toString(); }
void Settings::setSearchLocation(const QString &v) { setObjectForKey(v, QStringLiteral("SearchLocation")); }
Directory *Settings::rootDirectory() { return coreDataObjectForKey(QStringLiteral("RootDirectory")); }
void Settings::setRootDirectory(Directory *dir) { setCoreDataObjectForKey(dir, QStringLiteral("RootDirectory")); }
Directory *Settings::exclusionsDirectory() { return coreDataObjectForKey(QStringLiteral("ExclusionsDirectory")); }
void Settings::setExclusionsDirectory(Directory *dir) { setCoreDataObjectForKey(dir, QStringLiteral("ExclusionsDirectory")); }

// Lock order: the store's lock, then the record pointer's, so that a thread
// holding the store lock can still reach the record.
Directory *Settings::coreDataObjectForKey(const QString &key)
{
    SettingsHost *host = g_host;
    ManagedObjectContext *ctx = host ? host->managedObjectContext() : nullptr;
    if (!ctx)
        return nullptr; // without a store both trees read as none
    auto storeLock = ctx->lock();
    std::lock_guard lock(g_recordMutex);
    if (!g_coreDataSettings)
        loadCoreDataSettings(ctx);
    return g_coreDataSettings->valueForKey(key).value<Directory *>();
}

void Settings::setCoreDataObjectForKey(Directory *value, const QString &key)
{
    SettingsHost *host = g_host;
    ManagedObjectContext *ctx = host ? host->managedObjectContext() : nullptr;
    if (!ctx)
        return;
    auto storeLock = ctx->lock();
    std::lock_guard lock(g_recordMutex);
    if (!g_coreDataSettings)
        loadCoreDataSettings(ctx);
    g_coreDataSettings->setValueForKey(QVariant::fromValue(value), key);
}

void Settings::loadCoreDataSettings(ManagedObjectContext *ctx)
{
    const auto found = ctx->fetchAll(QString::fromLatin1(kEntityName));
    if (!found.empty())
        g_coreDataSettings = static_cast<Settings *>(found.front());
    else
        createCoreDataSettings(ctx);
}

void Settings::createCoreDataSettings(ManagedObjectContext *ctx)
{
    SettingsHost *host = g_host;
    g_coreDataSettings = ctx->insertNew<Settings>();

    auto *root = ctx->insertNew<Directory>();
    root->setName("root");
    QList<QByteArray> watched;
    if (auto downloads = host->downloadsDirectory())
        if (auto clean = StandardFolders::cleanAbsolutePath(*downloads))
            watched << *clean;
    watched << StandardFolders::home() + "/Mail Downloads";
    for (const QByteArray &path : watched) {
        auto *dir = ctx->insertNew<Directory>();
        dir->setName(path);
        root->addSubdirectoriesObject(dir);
        dir->setLastScanTime(dateNow());
    }
    g_coreDataSettings->setValueForKey(QVariant::fromValue(root), QStringLiteral("RootDirectory"));

    auto *exclusions = ctx->insertNew<Directory>();
    exclusions->setName("root");
    auto *support = ctx->insertNew<Directory>();
    support->setName(StandardFolders::cleanAbsolutePath(host->applicationSupportDirectory()).value_or(host->applicationSupportDirectory()));
    exclusions->addSubdirectoriesObject(support);
    g_coreDataSettings->setValueForKey(QVariant::fromValue(exclusions), QStringLiteral("ExclusionsDirectory"));

    StoreError ignored;
    ctx->save(&ignored);
}

void Settings::logSettings()
{
    Log::f("Log Settings");
    Log::f("Directories:");
    if (Directory *root = rootDirectory())
        for (Directory *child : root->subdirectories())
            Log::f("  %@", child->name());
    for (const Row &row : table()) {
        if (!row.logged)
            continue;
        const QString name = QString::fromLatin1(row.logged);
        if (row.kind == Kind::Bool)
            Log::f("%@:%i", name, boolForKey(row.key));
        else if (row.kind == Kind::Hotkey)
            Log::f("%@:%qu", name, ULLForKey(row.key) & kHotkeyMask);
        else if (row.kind == Kind::Bytes)
            Log::f("%@:%@", name, bytesForKey(row.key));
        else
            Log::f("%@:%@", name, objectForKey(row.key).toString());
    }
}
