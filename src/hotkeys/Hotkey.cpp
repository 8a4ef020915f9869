#include "hotkeys/Hotkey.h"
#include "base/Log.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/KeyboardLayout.h"

#include <QCoreApplication>

namespace {
// Special keys by the character their translation starts with.
struct GlyphName {
    const char *name;
    char16_t unit;
};
constexpr GlyphName mapOfNamesForUnicodeGlyphs[] = {
    {"Up", 0xF700},     {"Down", 0xF701},      {"Left", 0xF702},   {"Right", 0xF703},   {"Home", 0xF729},   {"End", 0xF72B},
    {"Page Up", 0xF72C}, {"Page Down", 0xF72D}, {"Up", 0x001E},     {"Down", 0x001F},    {"Left", 0x001C},   {"Right", 0x001D},
    {"Home", 0x0001},   {"End", 0x0004},       {"Page Up", 0x000B}, {"Page Down", 0x000C}, {"Return", 0x0003}, {"Tab", 0x0009},
    {"Backtab", 0x0019}, {"Enter", 0x000D},    {"Backspace", 0x0008}, {"Delete", 0x007F}, {"Escape", 0x001B}, {"Space", 0x0020},
};

// Shown in this fixed order.
struct ModifierGlyph {
    quint64 mask;
    char16_t glyph;
};
constexpr ModifierGlyph kModifierGlyphs[] = {{0x20000, 0x2326}, {0x40000, 0x2324}, {0x100000, 0x2318}, {0x80000, 0x2325}};
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

QString Hotkey::keyTextForTranslation(const QString &translation)
{
    QString key = translation;
    for (const GlyphName &row : mapOfNamesForUnicodeGlyphs) {
        if (translation.at(0).unicode() == row.unit) {
            const QString localized = QCoreApplication::translate("Hotkey", row.name);
            key = localized.isEmpty() ? QString::fromLatin1(row.name) : localized;
            break;
        }
    }
    if (key.size() == 1 && key.at(0) >= QLatin1Char('a') && key.at(0) <= QLatin1Char('z'))
        key = key.toUpper();
    return key;
}

QString Hotkey::modifierGlyphs(quint64 modifiers)
{
    QString text;
    for (const ModifierGlyph &m : kModifierGlyphs)
        if (modifiers & m.mask)
            text += QChar(m.glyph);
    return text;
}

std::optional<QString> Hotkey::stringValue() const
{
    KeyboardLayout layout;
    if (!layout.isValid()) {
        Log::f("Couldn't find a suitable keyboard layout from which to translate");
        return std::nullopt;
    }
    const QString translation = layout.translate(m_keycode);
    if (translation.isEmpty()) {
        Log::f("Couldn't find a translation for the '%d' key code", int(m_keycode));
        return std::nullopt;
    }
    const QString key = keyTextForTranslation(translation);
    const QString modifierText = modifierGlyphs(m_modifiers);
    return modifierText.isEmpty() ? key : modifierText + QLatin1Char(' ') + key;
}
