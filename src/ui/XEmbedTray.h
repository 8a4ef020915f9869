#pragma once
// Docks a widget into the X11 system tray as an XEmbed client: a dock
// request to the owner of _NET_SYSTEM_TRAY_S<screen>, and the widget shown
// only once the tray has embedded it. A tray host that appears later is
// docked into when it announces itself.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRect>

class QWidget;

class XEmbedTray : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedTray(QWidget *icon, QObject *parent = nullptr);
    ~XEmbedTray() override;
    // True when the X server is reachable through Qt's xcb platform.
    static bool available();
    // Asks the current tray host to embed the icon; false when there is none.
    bool dock();
    bool embedded() const { return m_embedded; }
    // The icon's rectangle on the screen (the embedded window's own idea of
    // its position is wrong, so it is asked from the X server).
    QRect iconScreenRect() const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void embeddedChanged(bool embedded);

private:
    QWidget *m_icon;
    bool m_embedded = false;
    quint32 m_selectionAtom = 0;
    quint32 m_opcodeAtom = 0;
    quint32 m_xembedAtom = 0;
    quint32 m_managerAtom = 0;
};
