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
const QString kDeleteArchiveContents = QStringLiteral("DeleteArchiveContents");
const QString kDeleteFiles = QStringLiteral("DeleteFiles");
const QString kDeleteZips = QStringLiteral("DeleteZips");
const QString kDidFirstLoad = QStringLiteral("DidFirstLoad");
const QString kIfStopped = QStringLiteral("IfStopped");
const QString kPlaySongs = QStringLiteral("PlaySongs");
const QString kStartAtLogin = QStringLiteral("StartAtLogin");
const QString kUnzipFiles = QStringLiteral("UnzipFiles");
const QString kUseDownloadHotkey = QStringLiteral("UseDownloadHotkey");
const QString kDownloadHotkey = QStringLiteral("DownloadHotkey");
const QString kLastSCEvent = QStringLiteral("LastSCEvent");
const QString kGrowlNotifications = QStringLiteral("GrowlNotifications");
const QString kImportMoreFormats = QStringLiteral("ImportMoreFormats");
const QString kMpdMusicFolder = QStringLiteral("MpdMusicFolder");
const QString kSearchLocation = QStringLiteral("SearchLocation");
const QString kRootDirectory = QStringLiteral("RootDirectory");
const QString kExclusionsDirectory = QStringLiteral("ExclusionsDirectory");

// Option-D: key code 2 with the Option modifier 0x80000 shifted left by 24.
constexpr quint64 kDefaultDownloadHotkey = (quint64(0x80000) << 24) + 2;
constexpr quint64 kHotkeyMask = (quint64(1) << 56) - 1;

// Stands for "no default value" under the two record keys.
struct NullMarker {};

std::once_flag g_defaultsOnce;
QHash<QString, QVariant> g_defaultObjects;

std::atomic<SettingsHost *> g_host{nullptr};
std::mutex g_recordMutex;
// QSettings is reentrant and synchronises its shared file cache itself; one
// lock around our use also makes that ordering visible to thread checkers.
std::mutex g_prefsMutex;
Settings *g_coreDataSettings = nullptr;
}
Q_DECLARE_METATYPE(NullMarker)

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
    g_defaultObjects = {
        {kDeleteArchiveContents, false}, {kDeleteFiles, false}, {kDeleteZips, false}, {kDidFirstLoad, false},
        {kIfStopped, true}, {kPlaySongs, false}, {kStartAtLogin, false}, {kUnzipFiles, true},
        {kUseDownloadHotkey, true}, {kDownloadHotkey, QVariant::fromValue<qulonglong>(kDefaultDownloadHotkey)},
        {kLastSCEvent, QVariant::fromValue<qulonglong>(0)}, {kGrowlNotifications, true},
        {kSearchLocation, QString::fromLatin1(kDefaultSearchLocation)},
        {kImportMoreFormats, false}, {kMpdMusicFolder, QByteArray()},
        {kRootDirectory, QVariant::fromValue(NullMarker{})}, {kExclusionsDirectory, QVariant::fromValue(NullMarker{})},
    };
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

bool Settings::deleteArchiveContents() { return boolForKey(kDeleteArchiveContents); }
void Settings::setDeleteArchiveContents(bool v) { setBoolForKey(v, kDeleteArchiveContents); }
bool Settings::deleteFiles() { return boolForKey(kDeleteFiles); }
void Settings::setDeleteFiles(bool v) { setBoolForKey(v, kDeleteFiles); }
bool Settings::deleteZips() { return boolForKey(kDeleteZips); }
void Settings::setDeleteZips(bool v) { setBoolForKey(v, kDeleteZips); }
bool Settings::didFirstLoad() { return boolForKey(kDidFirstLoad); }
void Settings::setDidFirstLoad(bool v) { setBoolForKey(v, kDidFirstLoad); }
bool Settings::ifStopped() { return boolForKey(kIfStopped); }
void Settings::setIfStopped(bool v) { setBoolForKey(v, kIfStopped); }
bool Settings::playSongs() { return boolForKey(kPlaySongs); }
void Settings::setPlaySongs(bool v) { setBoolForKey(v, kPlaySongs); }
bool Settings::startAtLogin() { return boolForKey(kStartAtLogin); }
void Settings::setStartAtLogin(bool v) { setBoolForKey(v, kStartAtLogin); }
bool Settings::unzipFiles() { return boolForKey(kUnzipFiles); }
void Settings::setUnzipFiles(bool v) { setBoolForKey(v, kUnzipFiles); }
bool Settings::useDownloadHotkey() { return boolForKey(kUseDownloadHotkey); }
void Settings::setUseDownloadHotkey(bool v) { setBoolForKey(v, kUseDownloadHotkey); }
bool Settings::growlNotifications() { return boolForKey(kGrowlNotifications); }
void Settings::setGrowlNotifications(bool v) { setBoolForKey(v, kGrowlNotifications); }
quint64 Settings::downloadHotkey() { return ULLForKey(kDownloadHotkey) & kHotkeyMask; }
void Settings::setDownloadHotkey(quint64 v) { setULLForKey(v, kDownloadHotkey); }
quint64 Settings::lastSCEvent() { return ULLForKey(kLastSCEvent); }
void Settings::setLastSCEvent(quint64 v) { setULLForKey(v, kLastSCEvent); }
bool Settings::importMoreFormats() { return boolForKey(kImportMoreFormats); }
void Settings::setImportMoreFormats(bool v) { setBoolForKey(v, kImportMoreFormats); }
QByteArray Settings::mpdMusicFolder()
{
    const QVariant value = objectForKey(kMpdMusicFolder);
    // Stored as bytes; a hand-edited text value is taken as the local encoding.
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QFile::encodeName(value.toString());
}
void Settings::setMpdMusicFolder(const QByteArray &v) { setObjectForKey(v, kMpdMusicFolder); }
QString Settings::searchLocation() { return objectForKey(kSearchLocation).toString(); }
void Settings::setSearchLocation(const QString &v) { setObjectForKey(v, kSearchLocation); }
Directory *Settings::rootDirectory() { return coreDataObjectForKey(kRootDirectory); }
void Settings::setRootDirectory(Directory *dir) { setCoreDataObjectForKey(dir, kRootDirectory); }
Directory *Settings::exclusionsDirectory() { return coreDataObjectForKey(kExclusionsDirectory); }
void Settings::setExclusionsDirectory(Directory *dir) { setCoreDataObjectForKey(dir, kExclusionsDirectory); }

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
    g_coreDataSettings->setValueForKey(QVariant::fromValue(root), kRootDirectory);

    auto *exclusions = ctx->insertNew<Directory>();
    exclusions->setName("root");
    auto *support = ctx->insertNew<Directory>();
    support->setName(StandardFolders::cleanAbsolutePath(host->applicationSupportDirectory()).value_or(host->applicationSupportDirectory()));
    exclusions->addSubdirectoriesObject(support);
    g_coreDataSettings->setValueForKey(QVariant::fromValue(exclusions), kExclusionsDirectory);

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
    Log::f("startAtLogin:%i", startAtLogin());
    Log::f("unzipFiles:%i", unzipFiles());
    Log::f("deleteFiles:%i", deleteFiles());
    Log::f("deleteArchiveContents:%i", deleteArchiveContents());
    Log::f("deleteZips:%i", deleteZips());
    Log::f("playSongs:%i", playSongs());
    Log::f("ifStopped:%i", ifStopped());
    Log::f("didFirstLoad:%i", didFirstLoad());
    Log::f("useDownloadHotkey:%i", useDownloadHotkey());
    Log::f("downloadHotkey:%qu", downloadHotkey());
    Log::f("growlNotifications:%i", growlNotifications());
    Log::f("searchLocation:%@", searchLocation());
    Log::f("importMoreFormats:%i", importMoreFormats());
    Log::f("mpdMusicFolder:%@", mpdMusicFolder());
}
