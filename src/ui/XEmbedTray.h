#pragma once
// Docks a widget into the X11 system tray as an XEmbed client: a dock
// request to the owner of _NET_SYSTEM_TRAY_S<screen>, and the widget shown
// only once the tray has embedded it. Tells when a tray host appears (dock
// then) and when the embedding tray goes away.
#include <QAbstractNativeEventFilter>
#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRect>

class QWidget;

class XEmbedTray : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedTray(QObject *parent = nullptr);
    ~XEmbedTray() override;
    // True when the X server is reachable through Qt's xcb platform.
    static bool available();
    // A tray host owns the selection now.
    bool trayPresent() const;
    // The depth of the visual the tray asks its icons to use
    // (_NET_SYSTEM_TRAY_VISUAL); 0 when it names none.
    int trayVisualDepth() const;
    // Asks the current tray host to embed the icon; false when there is none.
    bool dock(QWidget *icon);
    // Leaves the tray (the icon is hidden).
    void undock();
    bool embedded() const { return m_embedded; }
    QWidget *icon() const { return m_icon; }
    // The panel's colour where the icon sits, sampled before the icon is
    // shown; invalid when it could not be read.
    QColor panelBackground() const { return m_background; }
    // The icon's and its panel's rectangles on the screen in native pixels
    // (the embedded window's own idea of its position is wrong, so they are
    // asked from the X server).
    QRect iconNativeRect() const;
    QRect panelNativeRect() const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void embeddedChanged(bool embedded);
    // A tray host took the selection (a new or restarted tray).
    void trayAppeared();
    // The panel's colour around the icon changed (or was first read).
    void backgroundChanged(const QColor &colour);

private:
    QColor sampleBackground() const;
    void resampleBackground();
    QPointer<QWidget> m_icon;
    bool m_embedded = false;
    quint32 m_trayWindow = 0;
    quint32 m_selectionAtom = 0;
    quint32 m_opcodeAtom = 0;
    quint32 m_xembedAtom = 0;
    quint32 m_managerAtom = 0;
    quint32 m_visualAtom = 0;
    QColor m_background;
};
