#pragma once
// The system hotkey service in Wayland sessions whose desktop offers the
// GlobalShortcuts portal: each registered combination is a portal session
// with one shortcut, the combination as its preferred trigger; removing it
// closes the session. The portal's Activated reaches the hotkey center.
#include "hotkeys/DDHotKeyCenter.h"
#include <QDBusConnection>
#include <QHash>
#include <QObject>

class GlobalShortcutsPortal;

class PortalHotKeyService : public QObject, public HotKeyService {
    Q_OBJECT
public:
    explicit PortalHotKeyService(QDBusConnection bus, QObject *parent = nullptr);
    quint64 registerHotKey(quint16 keyCode, quint32 serviceModifiers, quint32 signature, quint32 id) override;
    void unregisterHotKey(quint64 handle) override;

private:
    QDBusConnection m_bus;
    QHash<quint64, GlobalShortcutsPortal *> m_sessions;
    quint64 m_nextHandle = 1;
};
