#pragma once
// Where the icon lives: a status notifier host on the session bus, an XEmbed
// tray on X11, or nowhere. StatusItem asks the backends in that order and
// asks again whenever one of them hears of a host coming or going.
#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>

class IconView;
class QDBusServiceWatcher;
class StatusNotifierItem;
class XEmbedTray;

class TrayBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual const char *name() const = 0;
    // Puts the icon on a host; false when there is none.
    virtual bool attach() = 0;
    // Takes the icon off the host.
    virtual void detach() = 0;
    // A host shows the icon now.
    virtual bool shown() const = 0;
    // The icon's and its panel's rectangles in native pixels, when the host tells.
    virtual QRect iconNativeRect() const { return {}; }
    virtual QRect panelNativeRect() const { return {}; }
    // The icon's size in the tray; 0 when the host does not say.
    virtual int thickness() const { return 0; }
    // Shows a frame of the icon animation (hosts that take pixmaps).
    virtual void showFrame(int) {}

signals:
    void iconShown();
    // The host showing the icon went away.
    void lost();
    // A host of this kind came or went: time to choose again.
    void hostsChanged();
    // The host's activation at a point in native screen pixels.
    void activated(const QPoint &nativePoint);
};

class StatusNotifierBackend : public TrayBackend {
    Q_OBJECT
public:
    explicit StatusNotifierBackend(QObject *parent = nullptr);
    ~StatusNotifierBackend() override;
    const char *name() const override { return "status notifier"; }
    bool attach() override;
    void detach() override;
    bool shown() const override { return m_item != nullptr; }
    void showFrame(int index) override;
    StatusNotifierItem *item() const { return m_item; }

private slots:
    void hostsMayHaveChanged();

private:
    StatusNotifierItem *m_item = nullptr;
    QDBusServiceWatcher *m_watcherWatch = nullptr;
    int m_frame = 0;
};

class XEmbedBackend : public TrayBackend {
    Q_OBJECT
public:
    // makeIcon gives a fresh icon window, translucent or not: a window's
    // visual is fixed when it is made, and an embedded one cannot be taken
    // back cleanly.
    XEmbedBackend(std::function<IconView *(bool translucent)> makeIcon, QObject *parent = nullptr);
    const char *name() const override { return "XEmbed"; }
    bool attach() override;
    void detach() override;
    bool shown() const override;
    QRect iconNativeRect() const override;
    QRect panelNativeRect() const override;
    int thickness() const override;

private:
    void squareIcon();
    std::function<IconView *(bool)> m_makeIcon;
    IconView *m_icon = nullptr;
    XEmbedTray *m_tray = nullptr;
    bool m_attached = false;
};

class NoTrayBackend : public TrayBackend {
    Q_OBJECT
public:
    using TrayBackend::TrayBackend;
    const char *name() const override { return "none"; }
    bool attach() override;
    void detach() override { m_said = false; }
    bool shown() const override { return false; }

private:
    bool m_said = false;
};
