#pragma once
// Reports mouse-button presses and releases anywhere on the screen except on
// our own windows (XInput2 raw button events on the root window), so the
// drop-down can close when the user clicks elsewhere.
#include <QAbstractNativeEventFilter>
#include <QList>

class GlobalEventMonitor;

// An event type: a class ("mous") and a kind (1 press, 2 release).
struct MonitorEventType {
    quint32 eventClass;
    quint32 eventKind;
};
constexpr quint32 kEventClassMouse = 0x6d6f7573; // 'mous'
constexpr quint32 kEventMouseDown = 1;
constexpr quint32 kEventMouseUp = 2;

struct MonitorEvent {
    quint32 eventKind;
    int button;
};

class GlobalEventMonitorDelegate {
public:
    virtual ~GlobalEventMonitorDelegate() = default;
    virtual void globalEventMonitorEventOccured(GlobalEventMonitor *monitor, const MonitorEvent &event) = 0;
};

class GlobalEventMonitor : public QAbstractNativeEventFilter {
public:
    static GlobalEventMonitor *sharedMonitor();
    int setEventTypes(const QList<MonitorEventType> &types);
    void setDelegate(GlobalEventMonitorDelegate *d) { m_delegate = d; }
    GlobalEventMonitorDelegate *delegate() const { return m_delegate; }
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    GlobalEventMonitor() = default;
    bool pointerIsOverOurWindow() const;
    GlobalEventMonitorDelegate *m_delegate = nullptr;
    QList<MonitorEventType> m_types;
    quint8 m_xinputOpcode = 0;
    bool m_installed = false;
};
