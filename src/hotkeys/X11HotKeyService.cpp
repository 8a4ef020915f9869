#include "hotkeys/X11HotKeyService.h"
#include "hotkeys/VirtualKeys.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <xcb/xcb.h>

namespace {
constexpr quint16 kLock = XCB_MOD_MASK_LOCK;
constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// The modifier Num Lock is on in the server's modifier mapping (Mod2 on most
// desktops, but not all); 0 when no key carries it.
quint16 readNumLockMask(xcb_connection_t *c)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *keys =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, uint8_t(count)), nullptr);
    xcb_get_modifier_mapping_reply_t *mods = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    quint16 mask = 0;
    if (keys && mods) {
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(keys);
        const int perKey = keys->keysyms_per_keycode;
        const xcb_keycode_t *modKeys = xcb_get_modifier_mapping_keycodes(mods);
        for (int m = 0; m < 8 && !mask; ++m)
            for (int k = 0; k < mods->keycodes_per_modifier && !mask; ++k) {
                const int keycode = modKeys[m * mods->keycodes_per_modifier + k];
                if (keycode < setup->min_keycode || keycode > setup->max_keycode)
                    continue;
                for (int s = 0; s < perKey; ++s)
                    if (syms[(keycode - setup->min_keycode) * perKey + s] == kNumLockKeysym)
                        mask = quint16(1 << m);
            }
    }
    free(keys);
    free(mods);
    return mask;
}
}

X11HotKeyService *X11HotKeyService::shared()
{
    static X11HotKeyService service;
    return &service;
}

quint16 X11HotKeyService::xModifiersForServiceModifiers(quint32 m)
{
    quint16 x = 0;
    if (m & 0x100)
        x |= XCB_MOD_MASK_4;
    if (m & 0x200)
        x |= XCB_MOD_MASK_SHIFT;
    if (m & 0x800)
        x |= XCB_MOD_MASK_1;
    if (m & 0x1000)
        x |= XCB_MOD_MASK_CONTROL;
    return x;
}

quint64 X11HotKeyService::toolkitModifiersForXState(quint16 state)
{
    quint64 flags = 0;
    if (state & XCB_MOD_MASK_SHIFT)
        flags |= 0x20000;
    if (state & XCB_MOD_MASK_CONTROL)
        flags |= 0x40000;
    if (state & XCB_MOD_MASK_1)
        flags |= 0x80000;
    if (state & XCB_MOD_MASK_4)
        flags |= 0x100000;
    if (state & XCB_MOD_MASK_LOCK)
        flags |= 0x10000;
    return flags;
}

bool X11HotKeyService::grab(const Grab &g, bool on)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const xcb_window_t root = rootWindow(c);
    // A grab also holds with Caps Lock and Num Lock on.
    const quint16 lockVariants[] = {0, kLock, g.numLock, quint16(kLock | g.numLock)};
    bool ok = true;
    int grabbed = 0;
    for (quint16 variant : lockVariants) {
        if (!on) {
            xcb_ungrab_key(c, g.keycode, root, g.modifiers | variant);
            continue;
        }
        // A grab another client holds comes back as BadAccess: the combination is taken.
        xcb_generic_error_t *error = xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, g.modifiers | variant, g.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        if (error) {
            free(error);
            ok = false;
            break;
        }
        ++grabbed;
    }
    if (!ok)
        for (int i = 0; i < grabbed; ++i)
            xcb_ungrab_key(c, g.keycode, root, g.modifiers | lockVariants[i]);
    xcb_flush(c);
    return ok;
}

quint64 X11HotKeyService::registerHotKey(quint16 keyCode, quint32 serviceModifiers, quint32, quint32 id)
{
    const quint8 x = xKeycodeForVirtualKey(keyCode);
    if (!x || !connection())
        return 0;
    if (!m_filterInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    const Grab g{x, xModifiersForServiceModifiers(serviceModifiers), id, readNumLockMask(connection())};
    // Two registrations that differ only in bits X ignores would be one grab
    // firing both: the second is refused as taken, like a grab another client holds.
    for (const Grab &other : std::as_const(m_grabs))
        if (other.keycode == g.keycode && other.modifiers == g.modifiers)
            return 0;
    if (!grab(g, true))
        return 0;
    const quint64 handle = m_nextHandle++;
    m_grabs.insert(handle, g);
    return handle;
}

void X11HotKeyService::unregisterHotKey(quint64 handle)
{
    const auto it = m_grabs.constFind(handle);
    if (it == m_grabs.cend())
        return;
    const Grab g = *it;
    m_grabs.erase(it);
    grab(g, false);
}

bool X11HotKeyService::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (key->event != rootWindow(connection()))
        return false;
    if (type == XCB_KEY_PRESS) {
        for (const Grab &g : std::as_const(m_grabs)) {
            const quint16 state = key->state & ~(kLock | g.numLock) & 0xff;
            if (g.keycode == key->detail && g.modifiers == state) {
                m_pressedId = g.id;
                m_pressedKeycode = key->detail;
            }
        }
    } else if (m_pressedId && key->detail == m_pressedKeycode) {
        // Hotkeys fire on release, whichever modifier was let go first.
        const quint32 id = m_pressedId;
        m_pressedId = 0;
        dd_hotKeyHandler(id, HotKeyEvent{virtualKeyForXKeycode(key->detail), toolkitModifiersForXState(key->state),
                                         QDateTime::currentMSecsSinceEpoch()});
    }
    return false;
}
