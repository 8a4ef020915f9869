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
    // Closes the session: the shortcut is the desktop's no more.
    ~GlobalShortcutsPortal() override;
    // The portal is on the bus and has the GlobalShortcuts interface.
    static bool offered(QDBusConnection bus);
    // The trigger in the portal's notation: modifiers, then the key's keysym
    // name ("ALT+d", "CTRL+SHIFT+Return", "F5", "LOGO+equal", "ALT+Cyrillic_ve").
    static QString triggerFor(quint64 modifiers, const QString &keysymName);
    // The trigger for a hotkey's virtual key code under the keyboard layout
    // in use; empty when the key has no name.
    static QString triggerForHotkey(quint16 virtualKey, quint64 modifiers);
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
};
