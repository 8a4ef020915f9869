#pragma once
// The user's system-wide shortcut as a value: a virtual key code and a
// modifier word, packed into one 64-bit number for the settings (key code in
// bits 0-15, bits 16-23 zero, the modifier word's bits 0-39 in bits 24-63).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>
#include <optional>

class Hotkey {
public:
    static Hotkey hotkeyWithKeycode(quint32 keycode, quint64 modifiers);
    static Hotkey hotkeyWithLongLong(quint64 value);
    static Hotkey hotkeyWithNumber(const QVariant &number);

    quint16 keycode() const { return m_keycode; }
    void setKeycode(quint16 k) { m_keycode = k; }
    quint64 modifiers() const { return m_modifiers; }
    void setModifiers(quint64 m) { m_modifiers = m; }

    void setLongLong(quint64 value);
    quint64 unsignedLongLongValue() const;
    QVariant numberValue() const;

    void registerWithTarget(QObject *target, const QByteArray &action, const QVariant &object) const;
    void unregister() const;
    // The display text as Linux desktops write shortcuts ("Alt+D",
    // "Ctrl+Shift+K", "Meta+Space"): the modifiers as Qt writes them, then the
    // key's name under the keyboard layout in use; none when the key has no
    // name (a dead key).
    std::optional<QString> stringValue() const;
    // The modifier part, separator included ("Ctrl+Shift+"), empty without
    // modifiers: Command is Meta, Option is Alt, Control is Ctrl; keypad keys add Qt's "Num+".
    static QString modifierText(quint64 modifiers, bool keypad = false);

private:
    quint16 m_keycode = 0;
    quint64 m_modifiers = 0;
};
