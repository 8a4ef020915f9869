#include "app/NotificationService.h"
#include "base/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr uint kClosedBecauseExpired = 1;
constexpr int kCallTimeoutMs = 5000;
}

NotificationService::NotificationService(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint)));
}

bool NotificationService::serverRendersMarkup()
{
    if (m_markup < 0) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
        QDBusReply<QStringList> reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
        if (!reply.isValid())
            return false;
        m_markup = reply.value().contains(QStringLiteral("body-markup")) ? 1 : 0;
    }
    return m_markup == 1;
}

uint NotificationService::notifyWithTitle(const QString &title, const QString &description, const QString &notificationName,
                                          const QString &icon, int priority, bool isSticky, const QVariant &clickContext)
{
    std::lock_guard lock(m_mutex);
    GrowlDelegate *delegate = m_delegate;
    const QString appName = delegate ? delegate->applicationNameForGrowl() : QStringLiteral("Rivulet");
    // File names may hold "<" or "&": shown as text where the server reads markup.
    const QString body = serverRendersMarkup() ? description.toHtmlEscaped() : description;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(priority > 0 ? 2 : priority < 0 ? 0 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("rivulet"));
    hints.insert(QStringLiteral("x-rivulet-name"), notificationName);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << appName << uint(0) << icon << title << body << QStringList{QStringLiteral("default"), QStringLiteral("Play")} << hints
         << int(isSticky ? 0 : -1);
    QDBusReply<uint> reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    if (!reply.isValid()) {
        if (!m_absenceLogged)
            Log::f("No notification service answers on the session bus (%@); notifications are not shown", reply.error().message());
        m_absenceLogged = true;
        m_markup = -1;
        return 0;
    }
    m_absenceLogged = false;
    m_clickContexts.insert(reply.value(), clickContext);
    emit posted(reply.value(), title, description);
    return reply.value();
}

void NotificationService::actionInvoked(uint id, const QString &actionKey)
{
    QVariant context;
    {
        std::lock_guard lock(m_mutex);
        if (actionKey != QLatin1String("default") || !m_clickContexts.contains(id))
            return;
        context = m_clickContexts.value(id);
    }
    if (GrowlDelegate *delegate = m_delegate)
        delegate->growlNotificationWasClicked(context);
}

void NotificationService::notificationClosed(uint id, uint reason)
{
    QVariant context;
    {
        std::lock_guard lock(m_mutex);
        if (!m_clickContexts.contains(id))
            return;
        context = m_clickContexts.take(id);
    }
    if (reason == kClosedBecauseExpired)
        if (GrowlDelegate *delegate = m_delegate)
            delegate->growlNotificationTimedOut(context);
}
