#include "hotkeys/GlobalShortcutsPortal.h"
#include "base/Log.h"
#include "hotkeys/KeyboardLayout.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QHash>

namespace {
constexpr int kCallMs = 5000;

// Request tokens name a path per call: unique in the process.
QString nextToken()
{
    static int tokens = 0;
    return QStringLiteral("rivulet_request%1").arg(++tokens);
}
using Shortcut = QPair<QString, QVariantMap>;

QString senderPart(const QDBusConnection &bus)
{
    return bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}
}

GlobalShortcutsPortal::GlobalShortcutsPortal(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<QList<QPair<QString, QVariantMap>>>();
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    if (!m_session.isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(kService), m_session, QStringLiteral("org.freedesktop.portal.Session"),
                                                       QStringLiteral("Close")));
}

bool GlobalShortcutsPortal::offered(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(kInterface) << QStringLiteral("version");
    return bus.call(get, QDBus::Block, kCallMs).type() == QDBusMessage::ReplyMessage;
}

QString GlobalShortcutsPortal::triggerFor(quint64 modifiers, const QString &keysymName)
{
    // The hotkey's modifier bits: Control, Option, Shift, Command.
    struct Name {
        quint64 mask;
        const char *text;
    };
    static constexpr Name kNames[] = {{0x40000, "CTRL"}, {0x80000, "ALT"}, {0x20000, "SHIFT"}, {0x100000, "LOGO"}};
    QStringList parts;
    for (const Name &n : kNames)
        if (modifiers & n.mask)
            parts << QString::fromLatin1(n.text);
    parts << keysymName;
    return parts.join(QLatin1Char('+'));
}

QString GlobalShortcutsPortal::triggerForHotkey(quint16 virtualKey, quint64 modifiers)
{
    const QString name = KeyboardLayout().keysymName(virtualKey);
    return name.isEmpty() ? QString() : triggerFor(modifiers, name);
}

bool GlobalShortcutsPortal::request(const QString &method, const QVariantList &args, const QString &token, const char *slot)
{
    // Listen on the request's path before asking, so the answer is not missed.
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(m_bus), token);
    m_bus.connect(QString::fromLatin1(kService), path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kInterface), method);
    call.setArguments(args);
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        Log::f("The GlobalShortcuts portal refused %@: %@", method, reply.errorMessage());
        return false;
    }
    return true;
}

void GlobalShortcutsPortal::bind(const QString &preferredTrigger)
{
    m_trigger = preferredTrigger;
    const QString token = nextToken();
    static int sessions = 0; // one session per binding, each its own name
    QVariantMap options{{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), QStringLiteral("rivulet%1").arg(++sessions)}};
    if (!request(QStringLiteral("CreateSession"), {options}, token, SLOT(sessionCreated(uint, QVariantMap))))
        emit bound(false);
}

void GlobalShortcutsPortal::sessionCreated(uint response, const QVariantMap &results)
{
    m_session = results.value(QStringLiteral("session_handle")).toString();
    if (response != 0 || m_session.isEmpty()) {
        emit bound(false);
        return;
    }
    m_bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface), QStringLiteral("Activated"), this,
                  SLOT(shortcutActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    const QString token = nextToken();
    const QList<Shortcut> shortcuts{{QString::fromLatin1(kShortcutId),
                                     {{QStringLiteral("description"), QStringLiteral("Open the Rivulet drop-down with the search field")},
                                      {QStringLiteral("preferred_trigger"), m_trigger}}}};
    const QVariantList args{QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
                            QVariantMap{{QStringLiteral("handle_token"), token}}};
    if (!request(QStringLiteral("BindShortcuts"), args, token, SLOT(shortcutsBound(uint, QVariantMap))))
        emit bound(false);
}

void GlobalShortcutsPortal::shortcutsBound(uint response, const QVariantMap &)
{
    emit bound(response == 0);
}

void GlobalShortcutsPortal::shortcutActivated(const QDBusObjectPath &session, const QString &id, qulonglong, const QVariantMap &)
{
    if (session.path() == m_session && id == QLatin1String(kShortcutId))
        emit activated();
}
