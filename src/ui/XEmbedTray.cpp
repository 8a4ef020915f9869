#include "ui/XEmbedTray.h"
#include "base/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <xcb/xcb.h>

namespace {
constexpr quint32 kSystemTrayRequestDock = 0;
constexpr quint32 kXEmbedEmbeddedNotify = 0;
constexpr int kResampleMs = 400;

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

xcb_window_t selectionOwner(xcb_connection_t *c, quint32 selection)
{
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const xcb_window_t tray = owner ? owner->owner : XCB_NONE;
    free(owner);
    return tray;
}

// The window's rectangle in root coordinates.
QRect rootRect(xcb_connection_t *c, xcb_window_t w)
{
    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    xcb_translate_coordinates_reply_t *t =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, screen(c)->root, 0, 0), nullptr);
    const QRect r = (g && t) ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
    free(g);
    free(t);
    return r;
}
}

bool XEmbedTray::available()
{
    return connection() != nullptr;
}

XEmbedTray::XEmbedTray(QObject *parent) : QObject(parent)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    m_selectionAtom = atom(c, "_NET_SYSTEM_TRAY_S0");
    m_opcodeAtom = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    m_xembedAtom = atom(c, "_XEMBED");
    m_managerAtom = atom(c, "MANAGER");
    m_visualAtom = atom(c, "_NET_SYSTEM_TRAY_VISUAL");
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

bool XEmbedTray::trayPresent() const
{
    xcb_connection_t *c = connection();
    return c && selectionOwner(c, m_selectionAtom) != XCB_NONE;
}

int XEmbedTray::trayVisualDepth() const
{
    xcb_connection_t *c = connection();
    const xcb_window_t tray = c ? selectionOwner(c, m_selectionAtom) : XCB_NONE;
    if (tray == XCB_NONE)
        return 0;
    xcb_get_property_reply_t *p = xcb_get_property_reply(c, xcb_get_property(c, 0, tray, m_visualAtom, XCB_ATOM_VISUALID, 0, 1), nullptr);
    xcb_visualid_t visual = 0;
    if (p && xcb_get_property_value_length(p) >= 4)
        visual = *static_cast<xcb_visualid_t *>(xcb_get_property_value(p));
    free(p);
    if (!visual)
        return 0;
    for (auto d = xcb_screen_allowed_depths_iterator(screen(c)); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == visual)
                return d.data->depth;
    return 0;
}

bool XEmbedTray::dock(QWidget *icon)
{
    xcb_connection_t *c = connection();
    if (!c || !icon)
        return false;
    const xcb_window_t tray = selectionOwner(c, m_selectionAtom);
    if (tray == XCB_NONE)
        return false;
    m_icon = icon;
    m_embedded = false;
    m_trayWindow = tray;
    // Told when the tray window goes away.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, tray, XCB_CW_EVENT_MASK, &mask);
    const xcb_window_t window = xcb_window_t(icon->winId()); // a native window, not yet shown
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

void XEmbedTray::undock()
{
    if (m_icon)
        m_icon->hide();
    const bool was = m_embedded;
    m_embedded = false;
    m_trayWindow = 0;
    if (was)
        emit embeddedChanged(false);
}

QRect XEmbedTray::iconNativeRect() const
{
    xcb_connection_t *c = connection();
    if (!c || !m_icon)
        return {};
    return rootRect(c, xcb_window_t(m_icon->winId()));
}

// The panel is the icon's ancestor that is a child of the root window.
QRect XEmbedTray::panelNativeRect() const
{
    xcb_connection_t *c = connection();
    if (!c || !m_icon)
        return {};
    const xcb_window_t root = screen(c)->root;
    xcb_window_t w = xcb_window_t(m_icon->winId());
    for (int depth = 0; depth < 16; ++depth) {
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        const xcb_window_t parent = tree ? tree->parent : XCB_NONE;
        free(tree);
        if (parent == XCB_NONE)
            return {};
        if (parent == root)
            return rootRect(c, w);
        w = parent;
    }
    return {};
}

// The average colour of a rectangle of the screen, in native pixels.
static QColor averageColour(xcb_connection_t *c, const QRect &r)
{
    xcb_screen_t *s = screen(c);
    if (r.isEmpty() || (s->root_depth != 24 && s->root_depth != 32))
        return {};
    xcb_get_image_reply_t *img = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height()), ~0u),
        nullptr);
    if (!img)
        return {};
    const int n = xcb_get_image_data_length(img) / 4;
    const auto *px = reinterpret_cast<const quint32 *>(xcb_get_image_data(img));
    quint64 red = 0, green = 0, blue = 0;
    for (int i = 0; i < n; ++i) {
        red += (px[i] >> 16) & 0xff;
        green += (px[i] >> 8) & 0xff;
        blue += px[i] & 0xff;
    }
    free(img);
    return n > 0 ? QColor(int(red / quint64(n)), int(green / quint64(n)), int(blue / quint64(n))) : QColor();
}

// The panel's colour: the rows of the panel just above and below the icon
// (trays centre their icons), else what the screen shows where the still
// unmapped icon will be.
QColor XEmbedTray::sampleBackground() const
{
    xcb_connection_t *c = connection();
    const QRect icon = iconNativeRect();
    if (!c || icon.isEmpty())
        return {};
    const QRect panel = panelNativeRect();
    if (panel.top() < icon.top())
        return averageColour(c, QRect(icon.left(), panel.top(), icon.width(), icon.top() - panel.top()));
    if (panel.bottom() > icon.bottom())
        return averageColour(c, QRect(icon.left(), icon.bottom() + 1, icon.width(), panel.bottom() - icon.bottom()));
    return m_icon && m_icon->isVisible() ? QColor() : averageColour(c, icon);
}

void XEmbedTray::resampleBackground()
{
    const QColor colour = sampleBackground();
    if (colour.isValid() && colour != m_background) {
        m_background = colour;
        emit backgroundChanged(colour);
    }
}

bool XEmbedTray::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    auto *cm = reinterpret_cast<xcb_client_message_event_t *>(event);
    // Heard with or without an icon: a tray that comes after start-up is used.
    if (type == XCB_CLIENT_MESSAGE && cm->type == m_managerAtom && cm->data.data32[1] == m_selectionAtom) {
        Log::f("A system tray appeared; docking the icon");
        emit trayAppeared();
        return false;
    }
    if (!m_icon)
        return false;
    const xcb_window_t iconWindow = xcb_window_t(m_icon->internalWinId());
    if (type == XCB_CLIENT_MESSAGE) {
        if (cm->type == m_xembedAtom && cm->window == iconWindow && cm->data.data32[1] == kXEmbedEmbeddedNotify && !m_embedded) {
            m_embedded = true;
            m_background = sampleBackground();
            emit embeddedChanged(true);
            // Some trays paint their background only after embedding.
            QTimer::singleShot(kResampleMs, this, &XEmbedTray::resampleBackground);
        }
    } else if (type == XCB_REPARENT_NOTIFY && m_embedded) {
        auto *rn = reinterpret_cast<xcb_reparent_notify_event_t *>(event);
        // Taken back to the root window: the tray went away.
        if (rn->window == iconWindow && rn->parent == screen(connection())->root)
            undock();
    } else if (type == XCB_DESTROY_NOTIFY && m_trayWindow) {
        auto *dn = reinterpret_cast<xcb_destroy_notify_event_t *>(event);
        if (dn->window == m_trayWindow)
            undock();
    }
    return false;
}
