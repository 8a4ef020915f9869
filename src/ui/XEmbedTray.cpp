#include "ui/XEmbedTray.h"
#include "base/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

namespace {
constexpr quint32 kSystemTrayRequestDock = 0;
constexpr quint32 kXEmbedEmbeddedNotify = 0;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_screen_t *screen(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data;
}

quint32 atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const quint32 a = reply ? reply->atom : 0;
    free(reply);
    return a;
}
}

bool XEmbedTray::available()
{
    return connection() != nullptr;
}

XEmbedTray::XEmbedTray(QWidget *icon, QObject *parent) : QObject(parent), m_icon(icon)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    m_selectionAtom = atom(c, "_NET_SYSTEM_TRAY_S0");
    m_opcodeAtom = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    m_xembedAtom = atom(c, "_XEMBED");
    m_managerAtom = atom(c, "MANAGER");
    // A tray host announces itself on the root window with MANAGER.
    xcb_screen_t *s = screen(c);
    xcb_get_window_attributes_reply_t *attrs = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, s->root), nullptr);
    const uint32_t mask = (attrs ? attrs->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    free(attrs);
    xcb_change_window_attributes(c, s->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XEmbedTray::~XEmbedTray()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XEmbedTray::dock()
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, m_selectionAtom), nullptr);
    const xcb_window_t tray = owner ? owner->owner : XCB_NONE;
    free(owner);
    if (tray == XCB_NONE)
        return false;
    const xcb_window_t window = xcb_window_t(m_icon->winId()); // a native window, not yet shown
    // _XEMBED_INFO: protocol version 0, not mapped until embedded.
    const uint32_t info[2] = {0, 0};
    const quint32 infoAtom = atom(c, "_XEMBED_INFO");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, infoAtom, infoAtom, 32, 2, info);
    xcb_client_message_event_t ev = {};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = tray;
    ev.type = m_opcodeAtom;
    ev.data.data32[0] = XCB_CURRENT_TIME;
    ev.data.data32[1] = kSystemTrayRequestDock;
    ev.data.data32[2] = window;
    xcb_send_event(c, 0, tray, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
    xcb_flush(c);
    return true;
}

QRect XEmbedTray::iconScreenRect() const
{
    xcb_connection_t *c = connection();
    if (!c)
        return m_icon->geometry();
    xcb_translate_coordinates_reply_t *r = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, xcb_window_t(m_icon->winId()), screen(c)->root, 0, 0), nullptr);
    const QPoint origin = r ? QPoint(r->dst_x, r->dst_y) : QPoint();
    free(r);
    return QRect(origin, m_icon->size());
}

bool XEmbedTray::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_CLIENT_MESSAGE) {
        auto *cm = reinterpret_cast<xcb_client_message_event_t *>(event);
        if (cm->type == m_xembedAtom && cm->window == xcb_window_t(m_icon->winId()) && cm->data.data32[1] == kXEmbedEmbeddedNotify) {
            m_embedded = true;
            m_icon->show();
            emit embeddedChanged(true);
        } else if (cm->type == m_managerAtom && cm->data.data32[1] == m_selectionAtom) {
            Log::f("A system tray appeared; docking the icon");
            dock();
        }
    } else if (type == XCB_REPARENT_NOTIFY && m_embedded) {
        auto *rn = reinterpret_cast<xcb_reparent_notify_event_t *>(event);
        // Taken back to the root window: the tray went away.
        if (rn->window == xcb_window_t(m_icon->winId()) && rn->parent == screen(connection())->root) {
            m_embedded = false;
            m_icon->hide();
            emit embeddedChanged(false);
        }
    }
    return false;
}
