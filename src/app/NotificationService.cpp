#include "app/NotificationService.h"
#include "base/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

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
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString, QDBusMessage)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(notificationClosed(uint, uint, QDBusMessage)));
    connect(new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this), &QDBusServiceWatcher::serviceOwnerChanged, this,
            &NotificationService::serverChanged);
}

// The program's icon as a file the server can show: the installed theme
// icon when there is one, else the built-in image written once to the cache.
QString NotificationService::iconFile()
{
    static const QString path = [] {
        for (const char *rel : {"icons/hicolor/scalable/apps/rivulet.svg", "icons/hicolor/256x256/apps/rivulet.png",
                                "icons/hicolor/128x128/apps/rivulet.png", "icons/hicolor/48x48/apps/rivulet.png"}) {
            const QString found = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QLatin1String(rel));
            if (!found.isEmpty())
                return found;
        }
        QFile image(QStringLiteral(":/rivulet.png"));
        const QString cached = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/rivulet/rivulet.png");
        if (QFile::exists(cached))
            return cached;
        if (!image.open(QIODevice::ReadOnly) || !QDir().mkpath(QFileInfo(cached).path()))
            return QString();
        QSaveFile out(cached);
        const QByteArray bytes = image.readAll();
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit() ? cached : QString();
    }();
    return path;
}

bool NotificationService::serverRendersMarkup()
{
    int markup = m_markup;
    if (markup < 0) {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
        QDBusReply<QStringList> reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
        if (!reply.isValid())
            return false;
        markup = reply.value().contains(QStringLiteral("body-markup")) ? 1 : 0;
        m_markup = markup;
    }
    return markup == 1;
}

uint NotificationService::notifyWithTitle(const QString &title, const QString &description, const QString &notificationName,
                                          const QString &icon, int priority, bool isSticky, const QVariant &clickContext)
{
    // No lock across the calls to the server: they may wait for seconds.
    GrowlDelegate *delegate = m_delegate;
    const QString appName = delegate ? delegate->applicationNameForGrowl() : QStringLiteral("Rivulet");
    // File names may hold "<" or "&": shown as text where the server reads markup.
    const QString body = serverRendersMarkup() ? description.toHtmlEscaped() : description;
    // The icon and the desktop entry let notification centres group and label them.
    const QString image = iconFile();
    const bool themed = image.isEmpty() || image.contains(QLatin1String("/icons/hicolor/"));
    const QString appIcon = themed ? icon : QUrl::fromLocalFile(image).toString();
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(priority > 0 ? 2 : priority < 0 ? 0 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("rivulet"));
    if (!image.isEmpty())
        hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(image).toString());
    hints.insert(QStringLiteral("x-rivulet-name"), notificationName);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << appName << uint(0) << appIcon << title << body << QStringList{QStringLiteral("default"), QStringLiteral("Play")} << hints
         << int(isSticky ? 0 : -1);
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    const QDBusReply<uint> reply(answer);
    if (!reply.isValid()) {
        if (!m_absenceLogged.exchange(true))
            Log::f("No notification service answers on the session bus (%@); notifications are not shown", reply.error().message());
        m_markup = -1;
        return 0;
    }
    m_absenceLogged = false;
    {
        std::lock_guard lock(m_mutex);
        m_clickContexts.insert(reply.value(), Click{answer.service(), clickContext});
    }
    emit posted(reply.value(), title, description);
    return reply.value();
}

std::optional<QVariant> NotificationService::takeClick(uint id, const QDBusMessage &signal, bool remove)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_clickContexts.constFind(id);
    if (it == m_clickContexts.cend() || it->server != signal.service())
        return std::nullopt;
    const QVariant context = it->context;
    if (remove)
        m_clickContexts.erase(it);
    return context;
}

void NotificationService::actionInvoked(uint id, const QString &actionKey, const QDBusMessage &signal)
{
    if (actionKey != QLatin1String("default"))
        return;
    if (const auto context = takeClick(id, signal, false))
        if (GrowlDelegate *delegate = m_delegate)
            delegate->growlNotificationWasClicked(*context);
}

void NotificationService::notificationClosed(uint id, uint reason, const QDBusMessage &signal)
{
    if (const auto context = takeClick(id, signal, true))
        if (reason == kClosedBecauseExpired)
            if (GrowlDelegate *delegate = m_delegate)
                delegate->growlNotificationTimedOut(*context);
}

// A new server knows nothing of the old one's notifications: their ids are
// forgotten, and what it can render is asked again.
void NotificationService::serverChanged(const QString &, const QString &, const QString &newOwner)
{
    m_markup = -1;
    std::lock_guard lock(m_mutex);
    m_clickContexts.removeIf([&newOwner](const auto &it) { return it.value().server != newOwner; });
}
