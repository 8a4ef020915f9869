#pragma once
// System-wide hotkeys: one process-wide registry of key combinations
// registered with the system's hotkey service. A registered combination
// calls its target's action when it is released, whichever application has
// the keyboard focus.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

// Hotkey ids handed to the system carry this signature ("htk1").
constexpr quint32 kDDHotKeySignature = 0x68746B31;

// The released combination, as handed to the action.
struct HotKeyEvent {
    quint16 keyCode = 0;
    quint64 modifierFlags = 0;
    qint64 timestamp = 0;
};

Q_DECLARE_METATYPE(HotKeyEvent)

class DDHotKey {
public:
    virtual ~DDHotKey() = default;
    virtual QObject *target() const { return nullptr; }
    virtual QByteArray action() const { return {}; }
    virtual QVariant object() const { return {}; }
    virtual quint16 keyCode() const { return 0; }
    virtual quint64 modifierFlags() const { return 0; }
    // Two hotkeys are the same combination when key code and modifier word are equal.
    bool isEqual(const DDHotKey &other) const { return keyCode() == other.keyCode() && modifierFlags() == other.modifierFlags(); }
    quint64 hash() const { return quint64(keyCode()) + modifierFlags(); }
    QString description() const;
};

class _DDHotKey : public DDHotKey {
public:
    ~_DDHotKey() override;
    QObject *target() const override { return m_target; }
    QByteArray action() const override { return m_action; }
    QVariant object() const override { return m_object; }
    quint16 keyCode() const override { return m_keyCode; }
    quint64 modifierFlags() const override { return m_modifierFlags; }
    void setTarget(QObject *t) { m_target = t; }
    void setAction(const QByteArray &a) { m_action = a; }
    void setObject(const QVariant &o) { m_object = o; }
    void setKeyCode(quint16 k) { m_keyCode = k; }
    void setModifierFlags(quint64 m) { m_modifierFlags = m; }
    quint32 hotKeyID() const { return m_hotKeyID; }
    bool isRegistered() const { return m_hotKeyRef != 0; }
    QByteArray actionString() const { return m_action; }

    bool registerHotKey();
    void unregisterHotKey();
    void invokeWithEvent(const HotKeyEvent &event);

private:
    QPointer<QObject> m_target;
    QByteArray m_action;
    QVariant m_object;
    quint16 m_keyCode = 0;
    quint64 m_modifierFlags = 0;
    quint32 m_hotKeyID = 0;
    quint64 m_hotKeyRef = 0; // the system registration's handle; 0 while unregistered
};

// The system hotkey service below the center; the X11 one is the program's.
class HotKeyService {
public:
    virtual ~HotKeyService() = default;
    // Registers a virtual key code with service modifiers under an id; returns a handle, or 0 when refused.
    virtual quint64 registerHotKey(quint16 keyCode, quint32 serviceModifiers, quint32 signature, quint32 id) = 0;
    virtual void unregisterHotKey(quint64 handle) = 0;
};

quint32 dd_translateModifierFlags(quint64 flags);
QString dd_stringifyModifierFlags(quint64 flags);
// Called by the service when a registered combination is released.
void dd_hotKeyHandler(quint32 hotKeyID, const HotKeyEvent &event);

class DDHotKeyCenter {
public:
    using Predicate = std::function<bool(const _DDHotKey &)>;

    // How hotkeys reach the program: the X key grab; the desktop's
    // GlobalShortcuts portal (Wayland sessions that offer it); or, in other
    // Wayland sessions, only `rivulet --toggle` bound by the user (the X grab
    // stays, but sees only keys typed into X windows).
    enum class Path { XGrab, Portal, CommandOnly };
    static Path path();
    static constexpr const char *kCommandOnlyNote =
        "Hotkey path: command only; bind rivulet --toggle to a key in the desktop's keyboard settings "
        "(X key grabs see no keys typed into Wayland windows)";

    // The service the registry uses, chosen for the session at first use;
    // a test may set another (nullptr: choose again).
    static void setService(HotKeyService *service);
    static HotKeyService *service();

    std::vector<std::shared_ptr<_DDHotKey>> hotKeysMatchingPredicate(const Predicate &predicate) const;
    bool hasRegisteredHotKeyWithKeyCode(quint16 keyCode, quint64 modifierFlags) const;
    bool registerHotKeyWithKeyCode(quint32 keyCode, quint64 modifierFlags, QObject *target, const QByteArray &action, const QVariant &object);
    void unregisterHotKeysMatchingPredicate(const Predicate &predicate);
    void unregisterHotKeysWithTarget(QObject *target);
    void unregisterHotKeysWithTarget(QObject *target, const QByteArray &action);
    void unregisterHotKeyWithKeyCode(quint16 keyCode, quint64 modifierFlags);
    // Throws std::invalid_argument("Invalid hotkey") for anything but a registry record.
    void unregisterHotKey(DDHotKey *hotKey);
    std::vector<std::shared_ptr<_DDHotKey>> registeredHotKeys() const;
    // The id the next successful registration gets.
    static quint32 nextHotKeyID();
};
