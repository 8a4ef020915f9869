#pragma once
// Translates a virtual key code under the current X keyboard layout, with no
// modifiers held, into the text the key types; special keys (arrows, Return,
// Enter, ...) give the characters the hotkey names table knows them by. A
// dead key, or a key that types nothing, gives an empty text.
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
    QString translate(quint16 virtualKey) const;

private:
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_state = nullptr;
};
