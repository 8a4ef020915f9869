#pragma once
// The application controller: builds and connects the program at start-up,
// owns the store, answers for the standard folders and decides whether the
// program may quit.
#include "app/ImportPipeline.h"
#include "app/NotificationService.h"
#include "library/ITunesManager.h"
#include "settings/Settings.h"
#include "store/StoreError.h"
#include "watch/DirectoryDiffer.h"
#include "hotkeys/GlobalEventMonitor.h"
#include "ui/PreferencesWindow.h"
#include "ui/SearchField.h"
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class IconAnimation;
class MenuView;
class QEventLoop;
class QLineEdit;
class SearchField;
class StatusItem;
class TrackedWindow;
class UpdateChecker;
class ManagedObjectModel;
class PersistentStoreCoordinator;
class ManagedObjectContext;
class QuitSignals;

class Rivulet_AppDelegate : public QObject,
                            public SettingsHost,
                            public DirectoryDifferDelegate,
                            public GrowlDelegate,
                            public SearchFieldDelegate,
                            public GlobalEventMonitorDelegate,
                            public PreferencesHost {
    Q_OBJECT
public:
    enum TerminateReply { TerminateCancel, TerminateNow };

    // withUi: windows and alerts can be shown; otherwise they are logged.
    explicit Rivulet_AppDelegate(bool withUi, QObject *parent = nullptr);
    ~Rivulet_AppDelegate() override;
    // The application's delegate, through which components find the controller.
    static Rivulet_AppDelegate *shared();

    void awakeFromNib();
    TerminateReply applicationShouldTerminate();
    // The Quit entry and the operating system's quit request end up here.
    void handleQuit();
    // The session manager's quit request: handleQuit's path; true when the quit was cancelled.
    bool quitForSessionManager();

    std::optional<QByteArray> downloadsDirectory() const override;
    QByteArray applicationSupportDirectory() const override;
    QByteArray archiveDir() const;

    ManagedObjectModel *managedObjectModel();
    PersistentStoreCoordinator *persistentStoreCoordinator();
    ManagedObjectContext *managedObjectContext() override;
    bool hasManagedObjectContext() const { return m_managedObjectContext != nullptr; }

    // Shows an error to the user; true when the presentation dealt with it.
    bool presentError(const StoreError &error);
    // Tests answer alerts through these; by default they are shown (or logged without a UI).
    using ErrorPresenter = std::function<bool(const StoreError &)>;
    using QuitAnywayPresenter = std::function<bool()>;
    void setErrorPresenter(ErrorPresenter p) { m_errorPresenter = std::move(p); }
    void setQuitAnywayPresenter(QuitAnywayPresenter p) { m_quitAnywayPresenter = std::move(p); }

    // The watcher's timings; tests shorten them before awakeFromNib.
    void setDifferTimings(const DirectoryDiffer::Timings &timings) { m_differTimings = timings; }
    DirectoryDiffer *directoryDiffer() const { return m_directoryDiffer.get(); }
    NotificationService *notificationService() const { return m_notifications; }
    ImportPipeline *importPipeline() const { return m_pipeline.get(); }

    // The watcher's hand-overs go to the import pipeline (on the watcher's thread).
    void directoryDifferFileAddedOrUpdated(DirectoryDiffer *differ, const QByteArray &path) override;
    void directoryDifferReceivedLastSCEvent(DirectoryDiffer *differ, quint64 eventId) override;
    void startIconAnimation() override;
    void stopIconAnimation() override;
    void directoryDifferIdle(DirectoryDiffer *differ) override;
    // After the watched folders changed: watch the new set, resuming from the stored id.
    void watchDirsUpdated() override;
    void libraryChoicesChanged() override;
    bool musicFolderNeeded() override;
    // The pipeline's operations, as ImportPipeline describes them.
    bool unpackArchive(const QByteArray &path, const QByteArray &type) { return m_pipeline->unpackArchive(path, type); }
    bool fsMoveContentsOfDirectory(const QByteArray &source, const QByteArray &destination, const QByteArray &within)
    {
        return m_pipeline->moveContentsOfDirectory(source, destination, within);
    }
    bool fsMoveToTrash(const QByteArray &path, const QByteArray &within) { return m_pipeline->moveToTrash(path, within); }

    // Notifications.
    QString applicationNameForGrowl() override;
    QVariantMap registrationDictionaryForGrowl() override;
    void growlNotificationWasClicked(const QVariant &clickContext) override;
    void growlNotificationTimedOut(const QVariant &clickContext) override;
    void startGrowlQueue(const QByteArray &archiveName) { m_pipeline->startGrowlQueue(archiveName); }
    void activateGrowlQueue() { m_pipeline->activateGrowlQueue(); }

    // The tray icon, its drop-down and the windows (only with a display).
    void buildInterface();
    StatusItem *statusItem() const { return m_statusItem; }
    IconAnimation *iconAnimation() const { return m_iconAnimation; }
    PreferencesWindow *preferencesWC() const { return m_preferencesWC; }
    QWidget *startupWC() const { return m_startupWC; }
    QObject *hotkeyTarget() override { return this; }
    QWidget *aboutWC() const;
    QWidget *modalWindow() const { return m_modalWindow; }
    void setModalWindow(QWidget *window);
    void openWindowForController(QWidget *window, bool modal, bool reopen, bool inFront);
    void openWindowForController(QWidget *window, bool modal) { openWindowForController(window, modal, true, false); }
    void openPreferencesWindow();
    void openAboutWindow();
    void closeWindows();
    void alertWithTitle(const QString &title, const QString &text);
    bool validateMenuItem(const QString &actionName) const;
    void stopModal();
    void applicationWillResignActive();

    // Music search.
    SearchField *searchField() const;
    bool controlTextViewDoCommandBySelector(QLineEdit *control, const QString &command) override;
    Q_INVOKABLE void rivuletHotKeyPressed();
    // A click anywhere but on our windows closes the drop-down.
    void globalEventMonitorEventOccured(GlobalEventMonitor *monitor, const MonitorEvent &event) override;

signals:
    void terminated();

private:
    bool askQuitAnyway();
    TerminateReply runQuit();
    void configureMusicLibrary();
    void makeWindows();
    void showFirstRunWindow();
    void tearDownInterface();
    bool directoryDifferImportInterrupted(DirectoryDiffer *, const QByteArray &path) override;
    void postNotification(const QString &description, TrackId trackId);

    // Outlives the differ, whose thread calls it.
    std::unique_ptr<ImportPipeline> m_pipeline;
    DirectoryDiffer::Timings m_differTimings;
    std::unique_ptr<DirectoryDiffer> m_directoryDiffer;
    NotificationService *m_notifications = nullptr;
    IconAnimation *m_iconAnimation = nullptr;
    StatusItem *m_statusItem = nullptr;
    MenuView *m_menuView = nullptr;
    UpdateChecker *m_updater = nullptr;
    PreferencesWindow *m_preferencesWC = nullptr;
    TrackedWindow *m_startupWC = nullptr;
    TrackedWindow *m_aboutWC = nullptr;
    QPointer<QWidget> m_modalWindow;
    QPointer<QEventLoop> m_modalLoop;

    bool m_withUi;
    std::unique_ptr<ManagedObjectModel> m_managedObjectModel;
    std::unique_ptr<PersistentStoreCoordinator> m_persistentStoreCoordinator;
    std::unique_ptr<ManagedObjectContext> m_managedObjectContext;
    std::recursive_mutex m_storeBuildMutex; // the main thread and the differ's may both build the store
    QuitSignals *m_quitSignals = nullptr;
    ErrorPresenter m_errorPresenter;
    QuitAnywayPresenter m_quitAnywayPresenter;
    bool m_terminating = false;
};
