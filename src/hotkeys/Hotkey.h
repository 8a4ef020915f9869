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
    // The display text: modifier glyphs, a space and the key's name under the
    // current keyboard layout; none when the key has no text (a dead key).
    std::optional<QString> stringValue() const;
    // The name or text of a key's translation (table of special keys applied, single letters upper-cased).
    static QString keyTextForTranslation(const QString &translation);
    static QString modifierGlyphs(quint64 modifiers);

private:
    quint16 m_keycode = 0;
    quint64 m_modifiers = 0;
};
