#pragma once
// The desktop's GlobalShortcuts portal (org.freedesktop.portal.GlobalShortcuts),
// where Wayland desktops offer one: a session, our one shortcut bound with the
// stored hotkey as its preferred trigger, and Activated when the user presses it.
#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class QDBusObjectPath;

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kService = "org.freedesktop.portal.Desktop";
    static constexpr const char *kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char *kInterface = "org.freedesktop.portal.GlobalShortcuts";
    static constexpr const char *kShortcutId = "toggle-drop-down";

    explicit GlobalShortcutsPortal(QDBusConnection bus, QObject *parent = nullptr);
    // The portal is on the bus and has the GlobalShortcuts interface.
    static bool offered(QDBusConnection bus);
    // The trigger in the portal's notation ("ALT+d", "CTRL+SHIFT+k") for a
    // modifier word of the hotkey and its key's name ("D", "Space").
    static QString triggerFor(quint64 modifiers, const QString &keyName);
    // A key's name from its virtual key code, for letters and space.
    static QString keyNameForVirtualKey(quint16 keycode);
    // Creates the session and binds the shortcut; bound() tells the outcome.
    void bind(const QString &preferredTrigger);

signals:
    void bound(bool ok);
    void activated();

private slots:
    void sessionCreated(uint response, const QVariantMap &results);
    void shortcutsBound(uint response, const QVariantMap &results);
    void shortcutActivated(const QDBusObjectPath &session, const QString &id, qulonglong timestamp, const QVariantMap &options);

private:
    // Calls a portal method whose answer comes as a Request's Response signal.
    bool request(const QString &method, const QVariantList &args, const QString &token, const char *slot);
    QDBusConnection m_bus;
    QString m_trigger;
    QString m_session;
    int m_tokens = 0;
};
