#pragma once
// The desktop toolkit's virtual key codes (2 = D, 12 = Q, 49 = Space, ...),
// which the stored hotkey keeps, and the X keycodes (evdev numbering) of the
// same physical keys. A key with no virtual code is 0x100 + its X keycode.
#include <QtGlobal>

constexpr quint16 kVirtualKeyForXKeycodeBase = 0x100;

quint8 xKeycodeForVirtualKey(quint16 virtualKey); // 0 when unknown
quint16 virtualKeyForXKeycode(quint8 xKeycode);
// F1 to F24: the only keys that may be a hotkey without a modifier.
bool isFunctionKey(quint16 virtualKey);
