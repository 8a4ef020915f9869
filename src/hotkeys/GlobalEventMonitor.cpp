#include "hotkeys/GlobalEventMonitor.h"

#include <QApplication>
#include <QWidget>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace {
constexpr uint32_t kFirstWheelButton = 4;
constexpr uint32_t kLastWheelButton = 7;

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}
}

GlobalEventMonitor *GlobalEventMonitor::sharedMonitor()
{
    static GlobalEventMonitor monitor; // creation is serialised by the language
    return &monitor;
}

int GlobalEventMonitor::setEventTypes(const QList<MonitorEventType> &types)
{
    m_types = types;
    xcb_connection_t *c = connection();
    if (!c || m_installed)
        return 0;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_input_id);
    if (!ext || !ext->present)
        return 0;
    m_xinputOpcode = ext->major_opcode;
    free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr));
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } mask;
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.mask = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_input_xi_select_events(c, root, 1, &mask.head);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_installed = true;
    return 0;
}

// Raw events carry no position: the window under the pointer tells whether
// the click was on one of ours (the tray icon, the drop-down, a window).
bool GlobalEventMonitor::pointerIsOverOurWindow() const
{
    xcb_connection_t *c = connection();
    xcb_window_t w = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    QList<xcb_window_t> under;
    for (int depth = 0; depth < 16; ++depth) {
        xcb_query_pointer_reply_t *p = xcb_query_pointer_reply(c, xcb_query_pointer(c, w), nullptr);
        const xcb_window_t child = p ? p->child : XCB_NONE;
        free(p);
        if (child == XCB_NONE)
            break;
        under << child;
        w = child;
    }
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->internalWinId() && under.contains(xcb_window_t(top->internalWinId())))
            return true;
    return false;
}

bool GlobalEventMonitor::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return false;
    auto *ge = reinterpret_cast<xcb_ge_generic_event_t *>(event);
    if (ge->extension != m_xinputOpcode)
        return false;
    quint32 kind = 0;
    if (ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS)
        kind = kEventMouseDown;
    else if (ge->event_type == XCB_INPUT_RAW_BUTTON_RELEASE)
        kind = kEventMouseUp;
    else
        return false;
    bool wanted = false;
    for (const MonitorEventType &t : std::as_const(m_types))
        wanted = wanted || (t.eventClass == kEventClassMouse && t.eventKind == kind);
    const auto *raw = reinterpret_cast<xcb_input_raw_button_press_event_t *>(event);
    // Buttons 4 to 7 are the wheel's steps, not clicks.
    if (raw->detail >= kFirstWheelButton && raw->detail <= kLastWheelButton)
        return false;
    if (!wanted || !m_delegate || pointerIsOverOurWindow())
        return false;
    m_delegate->globalEventMonitorEventOccured(this, MonitorEvent{kind, int(raw->detail)});
    return false;
}
