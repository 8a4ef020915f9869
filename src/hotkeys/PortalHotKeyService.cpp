#include "hotkeys/PortalHotKeyService.h"
#include "base/Log.h"
#include "hotkeys/GlobalShortcutsPortal.h"

#include <QDateTime>

namespace {
// The center's modifier word for the service's bits.
quint64 toolkitModifiers(quint32 service)
{
    quint64 flags = 0;
    if (service & 0x100)
        flags |= 0x100000;
    if (service & 0x200)
        flags |= 0x20000;
    if (service & 0x800)
        flags |= 0x80000;
    if (service & 0x1000)
        flags |= 0x40000;
    return flags;
}
}

PortalHotKeyService::PortalHotKeyService(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus)) {}

quint64 PortalHotKeyService::registerHotKey(quint16 keyCode, quint32 serviceModifiers, quint32, quint32 id)
{
    const quint64 modifiers = toolkitModifiers(serviceModifiers);
    const QString trigger = GlobalShortcutsPortal::triggerForHotkey(keyCode, modifiers);
    if (trigger.isEmpty())
        return 0;
    auto *portal = new GlobalShortcutsPortal(m_bus, this);
    connect(portal, &GlobalShortcutsPortal::bound, this, [trigger](bool ok) {
        if (ok)
            Log::f("Hotkey path: GlobalShortcuts portal (preferred trigger %@)", trigger);
        else
            Log::f("%@", QString::fromLatin1(DDHotKeyCenter::kCommandOnlyNote));
    });
    connect(portal, &GlobalShortcutsPortal::activated, this, [keyCode, modifiers, id] {
        dd_hotKeyHandler(id, HotKeyEvent{keyCode, modifiers, QDateTime::currentMSecsSinceEpoch()});
    });
    portal->bind(trigger);
    const quint64 handle = m_nextHandle++;
    m_sessions.insert(handle, portal);
    return handle;
}

void PortalHotKeyService::unregisterHotKey(quint64 handle)
{
    delete m_sessions.take(handle); // closes its session
}
