#include "hotkeys/KeyboardLayoutWatcher.h"

#include <QCoreApplication>
#include <QGuiApplication>
#define explicit explicit_ // xkb.h uses the C++ keyword as a field name
#include <xcb/xkb.h>
#undef explicit

KeyboardLayoutWatcher::KeyboardLayoutWatcher(QObject *parent) : QObject(parent)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(c, &xcb_xkb_id);
    if (!xkb || !xkb->present)
        return;
    m_xkbFirstEvent = xkb->first_event;
    // Group changes and new keymaps of the core keyboard reach this connection.
    const uint16_t events = XCB_XKB_EVENT_TYPE_STATE_NOTIFY | XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    const uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, mapParts, mapParts, nullptr);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_installed = true;
}

KeyboardLayoutWatcher::~KeyboardLayoutWatcher()
{
    if (m_installed && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool KeyboardLayoutWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != m_xkbFirstEvent)
        return false;
    // Every XKB event starts with the same header; its second byte says which it is.
    const uint8_t xkbType = event->pad0;
    if (xkbType == XCB_XKB_STATE_NOTIFY) {
        auto *state = reinterpret_cast<xcb_xkb_state_notify_event_t *>(event);
        if (state->changed & XCB_XKB_STATE_PART_GROUP_STATE)
            emit layoutChanged();
    } else if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) {
        emit layoutChanged();
    }
    return false;
}
