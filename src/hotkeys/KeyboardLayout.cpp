#include "hotkeys/KeyboardLayout.h"
#include "hotkeys/VirtualKeys.h"

#include <QGuiApplication>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace {
// Keys that type no text of their own, by the character the names table uses.
struct SpecialKey {
    xkb_keysym_t sym;
    char16_t unit;
};
constexpr SpecialKey kSpecialKeys[] = {
    {XKB_KEY_Up, 0xF700},   {XKB_KEY_Down, 0xF701},      {XKB_KEY_Left, 0xF702},        {XKB_KEY_Right, 0xF703},
    {XKB_KEY_Home, 0xF729}, {XKB_KEY_End, 0xF72B},       {XKB_KEY_Page_Up, 0xF72C},     {XKB_KEY_Page_Down, 0xF72D},
    {XKB_KEY_Return, 0x000D}, {XKB_KEY_KP_Enter, 0x0003}, {XKB_KEY_Tab, 0x0009},         {XKB_KEY_ISO_Left_Tab, 0x0019},
    {XKB_KEY_BackSpace, 0x0008}, {XKB_KEY_Delete, 0x007F}, {XKB_KEY_Escape, 0x001B},
};
}

KeyboardLayout::KeyboardLayout()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return;
    xcb_connection_t *c = x11->connection();
    if (!c || !xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                     nullptr, nullptr, nullptr, nullptr))
        return;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!m_context || device < 0)
        return;
    m_keymap = xkb_x11_keymap_new_from_device(m_context, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (m_keymap)
        m_state = xkb_state_new(m_keymap); // a fresh state: no modifiers held
}

KeyboardLayout::~KeyboardLayout()
{
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

QString KeyboardLayout::translate(quint16 virtualKey) const
{
    const quint8 x = xKeycodeForVirtualKey(virtualKey);
    if (!m_state || !x)
        return {};
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(m_state, x);
    for (const SpecialKey &k : kSpecialKeys)
        if (k.sym == sym)
            return QString(QChar(k.unit));
    char text[64] = {};
    xkb_state_key_get_utf8(m_state, x, text, sizeof text);
    return QString::fromUtf8(text);
}
