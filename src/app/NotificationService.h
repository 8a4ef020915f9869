#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus. A click on a notification (its "default" action) hands the
// notification's click context back to the delegate.
#include <QByteArray>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <atomic>
#include <mutex>
#include <optional>

class GrowlDelegate {
public:
    virtual ~GrowlDelegate() = default;
    virtual QString applicationNameForGrowl() = 0;
    virtual QVariantMap registrationDictionaryForGrowl() = 0;
    virtual void growlNotificationWasClicked(const QVariant &clickContext) = 0;
    virtual void growlNotificationTimedOut(const QVariant &clickContext) = 0;
};

class NotificationService : public QObject {
    Q_OBJECT
public:
    // Create it on the main thread: clicks are delivered there.
    explicit NotificationService(QObject *parent = nullptr);
    void setGrowlDelegate(GrowlDelegate *delegate) { m_delegate = delegate; }
    // Safe from any thread; it waits for the server's answer but holds no
    // lock meanwhile, so clicks are handled while it waits. Returns the notification's id, or 0 when none was shown.
    uint notifyWithTitle(const QString &title, const QString &description, const QString &notificationName, const QString &icon,
                         int priority, bool isSticky, const QVariant &clickContext);

signals:
    // A notification was shown (emitted on the posting thread).
    void posted(uint id, const QString &title, const QString &body);

private slots:
    void actionInvoked(uint id, const QString &actionKey, const QDBusMessage &signal);
    void notificationClosed(uint id, uint reason, const QDBusMessage &signal);
    void serverChanged(const QString &service, const QString &oldOwner, const QString &newOwner);

private:
    bool serverRendersMarkup();
    static QString iconFile();

    std::atomic<GrowlDelegate *> m_delegate{nullptr};
    // Ids are the server's: a restarted server gives them out again from 1,
    // so each context is kept with the bus name of the server that gave its id.
    struct Click {
        QString server;
        QVariant context;
    };
    std::optional<QVariant> takeClick(uint id, const QDBusMessage &signal, bool remove);
    std::mutex m_mutex; // guards the click contexts only
    QHash<uint, Click> m_clickContexts;
    std::atomic<int> m_markup{-1}; // unknown until asked
    std::atomic<bool> m_absenceLogged{false};
};
