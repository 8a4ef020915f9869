#pragma once
// The system hotkey service on X11: a key grab on the root window for each
// registered combination (also with Caps Lock and Num Lock held, Num Lock
// on whichever modifier the server maps it to), refused
// when another client holds the grab; the release of a grabbed combination
// reaches the hotkey center through a native event filter.
#include "hotkeys/DDHotKeyCenter.h"
#include <QAbstractNativeEventFilter>
#include <QHash>

class X11HotKeyService : public HotKeyService, public QAbstractNativeEventFilter {
public:
    static X11HotKeyService *shared();
    quint64 registerHotKey(quint16 keyCode, quint32 serviceModifiers, quint32 signature, quint32 id) override;
    void unregisterHotKey(quint64 handle) override;
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    // The X modifier mask for service modifiers: command → Mod4, shift → Shift, option → Mod1, control → Control.
    static quint16 xModifiersForServiceModifiers(quint32 serviceModifiers);
    // The toolkit modifier word for an X modifier state.
    static quint64 toolkitModifiersForXState(quint16 state);

private:
    struct Grab {
        quint8 keycode;
        quint16 modifiers;
        quint32 id;
        quint16 numLock; // as mapped when grabbed
    };
    bool grab(const Grab &g, bool on);
    QHash<quint64, Grab> m_grabs;
    quint64 m_nextHandle = 1;
    quint32 m_pressedId = 0;
    quint8 m_pressedKeycode = 0;
    bool m_filterInstalled = false;
};
