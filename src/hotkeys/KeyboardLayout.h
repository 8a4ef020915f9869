#pragma once
// Names a virtual key under the X keyboard layout in use now (the active
// group of the core keyboard), with no modifiers held, the way Linux desktops
// write keys: the text the key types ("D", "ö"), special keys by Qt's names
// ("Return", "Space", "PgUp", "F5"), keypad keys by what they type with Num
// Lock on. A dead key, or a key that types nothing, has no name. Where
// the X server has no keys (XWayland before a Wayland window had the focus,
// or no X at all), the system's default layout names them.
#include <QString>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

class KeyboardLayout {
public:
    KeyboardLayout();
    ~KeyboardLayout();
    KeyboardLayout(const KeyboardLayout &) = delete;
    KeyboardLayout &operator=(const KeyboardLayout &) = delete;
    bool isValid() const { return m_state != nullptr; }
    // The layout group the names come from (0 is the first layout).
    quint32 group() const { return m_group; }
    // Empty when the key has no name; keypad is set for keys of the keypad.
    QString keyName(quint16 virtualKey, bool *keypad = nullptr) const;
    // The key's keysym name ("d", "Return", "F5", "equal", "Cyrillic_ef"), as
    // shortcut triggers name keys; empty when the key has none.
    QString keysymName(quint16 virtualKey) const;

private:
    quint32 keysym(quint8 xKeycode, bool numLock) const;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_state = nullptr;
    xkb_state *m_numLockState = nullptr;
    quint32 m_group = 0;
};
