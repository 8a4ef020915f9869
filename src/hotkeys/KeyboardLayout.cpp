#include "hotkeys/KeyboardLayout.h"
#include "hotkeys/VirtualKeys.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace {
// Keys that type no text of their own, or whose text is not their name.
struct SpecialKey {
    xkb_keysym_t sym;
    Qt::Key key;
};
constexpr SpecialKey kSpecialKeys[] = {
    {XKB_KEY_Up, Qt::Key_Up},           {XKB_KEY_Down, Qt::Key_Down},         {XKB_KEY_Left, Qt::Key_Left},
    {XKB_KEY_Right, Qt::Key_Right},     {XKB_KEY_Home, Qt::Key_Home},         {XKB_KEY_End, Qt::Key_End},
    {XKB_KEY_Page_Up, Qt::Key_PageUp},  {XKB_KEY_Page_Down, Qt::Key_PageDown}, {XKB_KEY_Insert, Qt::Key_Insert},
    {XKB_KEY_Return, Qt::Key_Return},   {XKB_KEY_KP_Enter, Qt::Key_Enter},    {XKB_KEY_Tab, Qt::Key_Tab},
    {XKB_KEY_ISO_Left_Tab, Qt::Key_Backtab}, {XKB_KEY_BackSpace, Qt::Key_Backspace}, {XKB_KEY_Delete, Qt::Key_Delete},
    {XKB_KEY_KP_Delete, Qt::Key_Delete}, {XKB_KEY_Escape, Qt::Key_Escape},    {XKB_KEY_space, Qt::Key_Space},
    {XKB_KEY_KP_Space, Qt::Key_Space},  {XKB_KEY_Print, Qt::Key_Print},       {XKB_KEY_Pause, Qt::Key_Pause},
    {XKB_KEY_Menu, Qt::Key_Menu},       {XKB_KEY_Scroll_Lock, Qt::Key_ScrollLock}, {XKB_KEY_Num_Lock, Qt::Key_NumLock},
};

bool isKeypad(xkb_keysym_t sym)
{
    return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_Equal;
}

QString qtName(int key)
{
    return QKeySequence(key).toString(QKeySequence::NativeText);
}
}

KeyboardLayout::KeyboardLayout()
{
    // qGuiApp is a plain cast: a console application has no native interface.
    auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 = gui ? gui->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    const bool xkb = c && xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                                      XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr);
    const int32_t device = xkb ? xkb_x11_get_core_keyboard_device_id(c) : -1;
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!m_context)
        return;
    if (device >= 0)
        m_keymap = xkb_x11_keymap_new_from_device(m_context, c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    // XWayland has no keys before a Wayland keyboard focuses one of its
    // windows, and a Wayland session may have no X at all: the system's
    // default layout names the keys then.
    const xkb_keysym_t *syms = nullptr;
    if (m_keymap && xkb_keymap_key_get_syms_by_level(m_keymap, xKeycodeForVirtualKey(2), 0, 0, &syms) <= 0) {
        xkb_keymap_unref(m_keymap);
        m_keymap = nullptr;
    } else if (m_keymap) {
        // The group in use now comes from the server; the modifiers held now do not count.
        if (xkb_state *current = xkb_x11_state_new_from_device(m_keymap, c, device)) {
            m_group = xkb_state_serialize_layout(current, XKB_STATE_LAYOUT_EFFECTIVE);
            xkb_state_unref(current);
        }
    }
    if (!m_keymap)
        m_keymap = xkb_keymap_new_from_names(m_context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!m_keymap)
        return;
    m_state = xkb_state_new(m_keymap);
    xkb_state_update_mask(m_state, 0, 0, 0, 0, 0, m_group);
    m_numLockState = xkb_state_new(m_keymap);
    const xkb_mod_index_t numLock = xkb_keymap_mod_get_index(m_keymap, XKB_MOD_NAME_NUM);
    const xkb_mod_mask_t numLockMask = numLock == XKB_MOD_INVALID ? 0 : (xkb_mod_mask_t(1) << numLock);
    xkb_state_update_mask(m_numLockState, 0, 0, numLockMask, 0, 0, m_group);
}

KeyboardLayout::~KeyboardLayout()
{
    for (xkb_state *s : {m_state, m_numLockState})
        if (s)
            xkb_state_unref(s);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

quint32 KeyboardLayout::keysym(quint8 xKeycode, bool numLock) const
{
    return xkb_state_key_get_one_sym(numLock ? m_numLockState : m_state, xKeycode);
}

QString KeyboardLayout::keyName(quint16 virtualKey, bool *keypad) const
{
    const quint8 x = xKeycodeForVirtualKey(virtualKey);
    if (keypad)
        *keypad = false;
    if (!m_state || !x)
        return {};
    xkb_keysym_t sym = keysym(x, false);
    xkb_state *state = m_state;
    if (isKeypad(sym) || isKeypad(keysym(x, true))) {
        // Keypad keys are named by what they type with Num Lock on.
        sym = keysym(x, true);
        state = m_numLockState;
        if (keypad)
            *keypad = true;
    }
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F35)
        return qtName(Qt::Key_F1 + int(sym - XKB_KEY_F1));
    for (const SpecialKey &k : kSpecialKeys)
        if (k.sym == sym)
            return qtName(k.key);
    char text[64] = {};
    xkb_state_key_get_utf8(state, x, text, sizeof text);
    QString name = QString::fromUtf8(text);
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return {}; // a control character is no name
    // Letters are written as capitals, like the legends on the keys; only ASCII ones.
    if (name.size() == 1 && name.at(0) >= QLatin1Char('a') && name.at(0) <= QLatin1Char('z'))
        name = name.toUpper();
    return name;
}

QString KeyboardLayout::keysymName(quint16 virtualKey) const
{
    const quint8 x = xKeycodeForVirtualKey(virtualKey);
    if (!m_state || !x)
        return {};
    xkb_keysym_t sym = keysym(x, false);
    if (isKeypad(sym) || isKeypad(keysym(x, true)))
        sym = keysym(x, true);
    char name[64] = {};
    if (sym == XKB_KEY_NoSymbol || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        return {};
    return QString::fromLatin1(name);
}
