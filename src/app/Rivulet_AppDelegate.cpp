#include "app/Rivulet_AppDelegate.h"
#include "base/Log.h"
#include "app/QuitSignals.h"
#include "app/RivuletModel.h"
#include "base/StandardFolders.h"
#include "hotkeys/Hotkey.h"
#include "library/ITunesManager.h"
#include "library/MprisPlayer.h"
#include "settings/LoginItems.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "store/ManagedObjectModel.h"
#include "store/PersistentStoreCoordinator.h"
#include "tasks/CWTask.h"
#include "watch/FileClassification.h"
#include "ui/Windows.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSessionManager>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {
Rivulet_AppDelegate *g_shared = nullptr;

std::vector<Directory *> childrenOf(Directory *top)
{
    return top ? top->subdirectories() : std::vector<Directory *>();
}
const char *kClassName = "Rivulet_AppDelegate";
}

Rivulet_AppDelegate::Rivulet_AppDelegate(bool withUi, QObject *parent) : QObject(parent), m_withUi(withUi)
{
    ImportPipeline::Host host;
    host.announce = [this](const QString &text, TrackId trackId) { postNotification(text, trackId); };
    host.alert = [this](const QString &title, const QString &text) {
        QMetaObject::invokeMethod(this, [this, title, text] { alertWithTitle(title, text); }, Qt::QueuedConnection);
    };
    m_pipeline = std::make_unique<ImportPipeline>(std::move(host));
    g_shared = this;
    Settings::forgetCoreDataSettings();
    Settings::setHost(this);
}

Rivulet_AppDelegate::~Rivulet_AppDelegate()
{
    if (GlobalEventMonitor::sharedMonitor()->delegate() == this)
        GlobalEventMonitor::sharedMonitor()->setDelegate(nullptr);
    if (m_directoryDiffer) {
        // A tool an import runs ends now; the import then finishes quickly.
        CWTask::terminateRunningTasks();
        // Its thread may still be importing: the differ, and this controller the import
        // calls, stay whole until that thread has ended. Only then does the pointer go.
        m_directoryDiffer->shutDown();
        m_directoryDiffer.reset();
        CWTask::allowNewTasks();
    }
    // After a quit (not when a test drops a controller) the private MPD stops unless it plays.
    if (m_pipeline->quitAccepted())
        ITunesManager::sharedManager()->shutdown();
    // The import that was running when the program quit changed the store after the quit's save.
    if (m_managedObjectContext && m_managedObjectContext->hasChanges()) {
        StoreError error;
        if (!m_managedObjectContext->save(&error))
            Log::f("Could not save the store after the last import: %@", error.text());
    }
    // The interface goes while the controller, which its parts call back, is whole.
    tearDownInterface();
    Settings::setHost(nullptr);
    Settings::forgetCoreDataSettings();
    if (g_shared == this)
        g_shared = nullptr;
}

Rivulet_AppDelegate *Rivulet_AppDelegate::shared() { return g_shared; }

void Rivulet_AppDelegate::awakeFromNib()
{
    // 1. The operating system's quit request (SIGTERM, SIGINT) goes through handleQuit.
    m_quitSignals = new QuitSignals(this);
    connect(m_quitSignals, &QuitSignals::quitRequested, this, [this] { handleQuit(); });
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        // The session manager's quit takes the same path as the Quit entry and SIGTERM.
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
            if (quitForSessionManager() && manager.allowsInteraction())
                manager.cancel();
        });
    }
    // 2. The controller answers the notification service.
    m_notifications = new NotificationService(this);
    m_notifications->setGrowlDelegate(this);
    // 3. The global event monitor reports clicks elsewhere, to close the drop-down.
    if (m_withUi) {
        GlobalEventMonitor::sharedMonitor()->setEventTypes({{kEventClassMouse, kEventMouseUp}, {kEventClassMouse, kEventMouseDown}});
        GlobalEventMonitor::sharedMonitor()->setDelegate(this);
    }
    // 4. Log all settings; this builds the store and the settings record.
    Settings::logSettings();
    // 5, 6. The preferences and About windows, where there is a display.
    if (m_withUi)
        makeWindows();
    // 7. The directory differ with the watched and excluded folders; the controller imports what it finds.
    configureMusicLibrary();
    m_directoryDiffer = std::make_unique<DirectoryDiffer>([this] { return managedObjectContext(); }, m_differTimings);
    m_directoryDiffer->setRoots(childrenOf(Settings::rootDirectory()));
    m_directoryDiffer->setExclusions(childrenOf(Settings::exclusionsDirectory()));
    m_directoryDiffer->setDelegate(this);
    m_pipeline->setDiffer(m_directoryDiffer.get());
    // 8. The login item follows "StartAtLogin".
    LoginItems::runAppOnUserLogin(Settings::startAtLogin());
    // 9. Watching resumes from the persisted event id.
    m_directoryDiffer->startWatchingWithLastSCEvent(Settings::lastSCEvent());
    // 10. The first run asks about starting at login; once the question was shown it is never asked
    // again, whatever the answer. A start without a display leaves it for the next start that has one.
    if (!Settings::didFirstLoad() && m_withUi) {
        showFirstRunWindow();
        // The answer takes effect at once, not at the next start: a user who
        // answers Yes and logs out gets Rivulet at the next login.
        if (m_startupWC)
            connect(m_startupWC, &TrackedWindow::closed, this, [] { LoginItems::runAppOnUserLogin(Settings::startAtLogin()); });
        Settings::setDidFirstLoad(true);
        StoreError ignored;
        if (ManagedObjectContext *ctx = managedObjectContext())
            ctx->save(&ignored);
    }
    // 11. The system-wide hotkey opens the drop-down with the search field focused.
    if (m_withUi && Settings::useDownloadHotkey())
        Hotkey::hotkeyWithLongLong(Settings::downloadHotkey()).registerWithTarget(this, "rivuletHotKeyPressed", QVariant());
}

void Rivulet_AppDelegate::configureMusicLibrary()
{
    MpdLauncherConfig config = defaultMpdLauncherConfig(applicationSupportDirectory());
    // Over TCP the server does not say where its music is: the user's setting does.
    config.musicFolderSetting = [] { return Settings::mpdMusicFolder(); };
    ITunesManager::sharedManager()->configure(config);
    setImportMoreFormats(Settings::importMoreFormats());
    // The desktop's media controls, for the server Rivulet started.
    if (m_withUi)
        MprisPlayer::start();
}

void Rivulet_AppDelegate::libraryChoicesChanged()
{
    // MPD's music folder is read from the settings at each import; the formats are told to the watcher.
    setImportMoreFormats(Settings::importMoreFormats());
}

bool Rivulet_AppDelegate::musicFolderNeeded()
{
    return ITunesManager::sharedManager()->musicFolderNeeded();
}

void Rivulet_AppDelegate::watchDirsUpdated()
{
    m_directoryDiffer->stopWatching();
    m_directoryDiffer->setRoots(childrenOf(Settings::rootDirectory()));
    m_directoryDiffer->startWatchingWithLastSCEvent(Settings::lastSCEvent());
}

std::optional<QByteArray> Rivulet_AppDelegate::downloadsDirectory() const
{
    return StandardFolders::downloads();
}

QByteArray Rivulet_AppDelegate::applicationSupportDirectory() const
{
    return StandardFolders::applicationSupport();
}

QByteArray Rivulet_AppDelegate::archiveDir() const
{
    return ImportPipeline::archiveDir();
}

void Rivulet_AppDelegate::directoryDifferFileAddedOrUpdated(DirectoryDiffer *, const QByteArray &path)
{
    m_pipeline->fileAddedOrUpdated(path);
}

void Rivulet_AppDelegate::directoryDifferReceivedLastSCEvent(DirectoryDiffer *, quint64 eventId)
{
    Settings::setLastSCEvent(eventId);
}

void Rivulet_AppDelegate::directoryDifferIdle(DirectoryDiffer *)
{
    m_pipeline->retryDue();
}

bool Rivulet_AppDelegate::directoryDifferImportInterrupted(DirectoryDiffer *, const QByteArray &path)
{
    return m_pipeline->takeInterrupted(path);
}

// The store is built lazily by whichever thread asks first (the main thread or
// the differ's): building is serialised so both get the same one.
ManagedObjectModel *Rivulet_AppDelegate::managedObjectModel()
{
    std::lock_guard lock(m_storeBuildMutex);
    if (!m_managedObjectModel)
        m_managedObjectModel.reset(newRivuletModel());
    return m_managedObjectModel.get();
}

PersistentStoreCoordinator *Rivulet_AppDelegate::persistentStoreCoordinator()
{
    std::lock_guard lock(m_storeBuildMutex);
    if (m_persistentStoreCoordinator)
        return m_persistentStoreCoordinator.get();
    ManagedObjectModel *model = managedObjectModel();
    if (!model) {
        presentError({QString(), 0, QStringLiteral("Managed object model is nil"), QString()});
        Log::f("%@:%s No model to generate a store from", kClassName, "persistentStoreCoordinator");
        return nullptr;
    }
    const QByteArray support = applicationSupportDirectory();
    // Made private (or tightened) before the store goes in: it names every download.
    if (const QString reason = StandardFolders::prepareApplicationSupport(); !reason.isEmpty()) {
        presentError({QStringLiteral("NSCocoaErrorDomain"), 512,
                      Log::format("Failed to create App Support directory %@ : %@", {support, reason}), QString()});
        Log::f("Error creating application support directory at %@ : %@", support, reason);
        return nullptr;
    }
    auto coordinator = std::make_unique<PersistentStoreCoordinator>(model);
    StoreError error;
    if (!coordinator->addPersistentStore(QByteArray(support + "/storedata"), &error)) {
        presentError(error);
        return nullptr; // nothing remembered: the next request tries again
    }
    m_persistentStoreCoordinator = std::move(coordinator);
    return m_persistentStoreCoordinator.get();
}

ManagedObjectContext *Rivulet_AppDelegate::managedObjectContext()
{
    std::lock_guard lock(m_storeBuildMutex);
    if (m_managedObjectContext)
        return m_managedObjectContext.get();
    if (PersistentStoreCoordinator *coordinator = persistentStoreCoordinator()) {
        auto context = std::make_unique<ManagedObjectContext>();
        StoreError error;
        if (context->setPersistentStoreCoordinator(coordinator, &error)) {
            m_managedObjectContext = std::move(context);
            return m_managedObjectContext.get();
        }
        presentError(error);
        m_persistentStoreCoordinator.reset();
    }
    presentError({QStringLiteral("YOUR_ERROR_DOMAIN"), 9999, QStringLiteral("Failed to initialize the store"),
                  QStringLiteral("There was an error building up the data file.")});
    return nullptr;
}

bool Rivulet_AppDelegate::presentError(const StoreError &error)
{
    Log::f("Error (%@ %i): %@", error.domain, error.code, error.text());
    if (m_errorPresenter)
        return m_errorPresenter(error);
    // Alerts can only be shown by the main thread of a program with windows.
    if (!m_withUi || QThread::currentThread() != QCoreApplication::instance()->thread())
        return false;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Rivulet"), error.description, QMessageBox::Ok);
    box.setInformativeText(error.failureReason);
    box.exec();
    return false; // no recovery is offered, so the error is never "dealt with"
}

bool Rivulet_AppDelegate::askQuitAnyway()
{
    if (m_quitAnywayPresenter)
        return m_quitAnywayPresenter();
    if (!m_withUi) {
        // Nobody can answer; the user asked to quit, so quit.
        Log::f("Could not save changes while quitting; quitting anyway.");
        return true;
    }
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setText(tr("Could not save changes while quitting.  Quit anyway?"));
    alert.setInformativeText(tr("Quitting now will lose any changes you have made since the last successful save"));
    QPushButton *quit = alert.addButton(tr("Quit anyway"), QMessageBox::AcceptRole);
    alert.addButton(tr("Cancel"), QMessageBox::RejectRole);
    alert.setDefaultButton(quit);
    alert.exec();
    return alert.clickedButton() == static_cast<QAbstractButton *>(quit);
}

Rivulet_AppDelegate::TerminateReply Rivulet_AppDelegate::applicationShouldTerminate()
{
    stopModal(); // a modal run of a window ends first
    if (!m_managedObjectContext)
        return TerminateNow;
    if (!m_managedObjectContext->commitEditing()) {
        Log::f("%@:%s unable to commit editing to terminate", kClassName, "applicationShouldTerminate:");
        return TerminateCancel;
    }
    if (!m_managedObjectContext->hasChanges())
        return TerminateNow;
    StoreError error;
    if (m_managedObjectContext->save(&error))
        return TerminateNow;
    if (presentError(error))
        return TerminateCancel;
    return askQuitAnyway() ? TerminateNow : TerminateCancel;
}

void Rivulet_AppDelegate::handleQuit()
{
    runQuit();
}

bool Rivulet_AppDelegate::quitForSessionManager()
{
    return runQuit() == TerminateCancel;
}

Rivulet_AppDelegate::TerminateReply Rivulet_AppDelegate::runQuit()
{
    if (m_terminating)
        return TerminateNow; // a second quit request while the first is being answered
    m_terminating = true;
    closeWindows();
    const TerminateReply reply = applicationShouldTerminate();
    m_terminating = false;
    if (reply == TerminateNow) {
        m_pipeline->markQuit();
        emit terminated();
        QCoreApplication::quit();
    }
    return reply;
}
