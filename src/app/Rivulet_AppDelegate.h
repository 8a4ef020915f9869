#pragma once
// The application controller: builds and connects the program at start-up,
// owns the store, answers for the standard folders and decides whether the
// program may quit.
#include "settings/Settings.h"
#include "store/StoreError.h"
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class ManagedObjectModel;
class PersistentStoreCoordinator;
class ManagedObjectContext;
class QuitSignals;

class Rivulet_AppDelegate : public QObject, public SettingsHost {
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

signals:
    void terminated();

private:
    bool askQuitAnyway();

    bool m_withUi;
    std::unique_ptr<ManagedObjectModel> m_managedObjectModel;
    std::unique_ptr<PersistentStoreCoordinator> m_persistentStoreCoordinator;
    std::unique_ptr<ManagedObjectContext> m_managedObjectContext;
    QuitSignals *m_quitSignals = nullptr;
    ErrorPresenter m_errorPresenter;
    QuitAnywayPresenter m_quitAnywayPresenter;
    bool m_terminating = false;
};
