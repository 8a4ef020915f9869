#include "hotkeys/Hotkey.h"
#include "base/Log.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/KeyboardLayout.h"

#include <QKeySequence>

namespace {
constexpr quint64 kShift = 0x20000, kControl = 0x40000, kOption = 0x80000, kCommand = 0x100000;
}

Hotkey Hotkey::hotkeyWithKeycode(quint32 keycode, quint64 modifiers)
{
    Hotkey h;
    h.m_keycode = quint16(keycode);
    h.m_modifiers = modifiers;
    return h;
}

Hotkey Hotkey::hotkeyWithLongLong(quint64 value)
{
    Hotkey h;
    h.setLongLong(value);
    return h;
}

Hotkey Hotkey::hotkeyWithNumber(const QVariant &number)
{
    return hotkeyWithLongLong(number.toULongLong());
}

void Hotkey::setLongLong(quint64 value)
{
    m_keycode = quint16(value & 0xFFFF);
    m_modifiers = value >> 24;
    Log::f("%llu --> %u, %u", value, unsigned(m_keycode), unsigned(quint32(m_modifiers)));
}

quint64 Hotkey::unsignedLongLongValue() const
{
    const quint64 value = quint64(m_keycode) + (m_modifiers << 24);
    Log::f("%llu <-- %u, %u)", value, unsigned(m_keycode), unsigned(quint32(m_modifiers)));
    return value;
}

QVariant Hotkey::numberValue() const
{
    return QVariant::fromValue<qint64>(qint64(unsignedLongLongValue()));
}

void Hotkey::registerWithTarget(QObject *target, const QByteArray &action, const QVariant &object) const
{
    Log::f("Register hotkey with keycode:%u modifierFlags:%u", unsigned(m_keycode), unsigned(quint32(m_modifiers)));
    DDHotKeyCenter().registerHotKeyWithKeyCode(m_keycode, m_modifiers, target, action, object);
}

void Hotkey::unregister() const
{
    Log::f("Unregister hotkey with keycode:%u modifierFlags:%u", unsigned(m_keycode), unsigned(quint32(m_modifiers)));
    DDHotKeyCenter().unregisterHotKeyWithKeyCode(m_keycode, m_modifiers);
}

QString Hotkey::modifierText(quint64 modifiers, bool keypad)
{
    Qt::KeyboardModifiers qt;
    if (modifiers & kCommand)
        qt |= Qt::MetaModifier;
    if (modifiers & kOption)
        qt |= Qt::AltModifier;
    if (modifiers & kControl)
        qt |= Qt::ControlModifier;
    if (modifiers & kShift)
        qt |= Qt::ShiftModifier;
    if (keypad)
        qt |= Qt::KeypadModifier;
    if (!qt)
        return {};
    // Qt writes the modifiers in its order with its separator; the key after them is cut off.
    QString text = QKeySequence(QKeyCombination(qt, Qt::Key_A)).toString(QKeySequence::NativeText);
    text.chop(1);
    return text;
}

std::optional<QString> Hotkey::stringValue() const
{
    KeyboardLayout layout;
    if (!layout.isValid()) {
        Log::f("Couldn't find a suitable keyboard layout from which to translate");
        return std::nullopt;
    }
    bool keypad = false;
    const QString key = layout.keyName(m_keycode, &keypad);
    if (key.isEmpty()) {
        Log::f("Couldn't find a translation for the '%d' key code", int(m_keycode));
        return std::nullopt;
    }
    return modifierText(m_modifiers, keypad) + key;
}
