#pragma once
// The program's item for StatusNotifierItem hosts (KDE Plasma, GNOME's
// AppIndicator extension, swaybar, waybar), over the session bus: the icon
// as pixmaps at several sizes, a tooltip, and Activate / ContextMenu, which
// arrive with the point where the user clicked.
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>

struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes; // ARGB32, network byte order
};
using SniPixmapList = QList<SniPixmap>;
struct SniToolTip {
    QString iconName;
    SniPixmapList iconPixmap;
    QString title;
    QString description;
};
Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)
QDBusArgument &operator<<(QDBusArgument &a, const SniPixmap &p);
const QDBusArgument &operator>>(const QDBusArgument &a, SniPixmap &p);
QDBusArgument &operator<<(QDBusArgument &a, const SniToolTip &t);
const QDBusArgument &operator>>(const QDBusArgument &a, SniToolTip &t);

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char *kWatcherPath = "/StatusNotifierWatcher";
    static constexpr const char *kItemPath = "/StatusNotifierItem";

    explicit StatusNotifierItem(QDBusConnection bus, QObject *parent = nullptr);
    ~StatusNotifierItem() override;
    // A watcher is on the bus and a host has registered with it.
    static bool hostAvailable(QDBusConnection bus);
    // Publishes the item and registers it with the watcher.
    bool registerWithWatcher();
    QString serviceName() const { return m_service; }

    // Shows a frame: every size a host may ask for, and NewIcon.
    void setIcon(const SniPixmapList &pixmaps);
    SniPixmapList iconPixmap() const { return m_pixmaps; }
    static SniPixmapList pixmapsFor(const std::function<QImage(int size)> &render);

signals:
    // Native screen coordinates of the click, as the host gives them.
    void activated(const QPoint &point);
    void newIcon();

private:
    friend class StatusNotifierItemAdaptor;
    QDBusConnection m_bus;
    QString m_service;
    SniPixmapList m_pixmaps;
    bool m_registered = false;
};

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ iconName)
    Q_PROPERTY(SniPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ iconName)
    Q_PROPERTY(SniPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem *item);
    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("rivulet"); }
    QString title() const { return QStringLiteral("Rivulet"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return {}; }
    SniPixmapList iconPixmap() const;
    SniPixmapList noPixmaps() const { return {}; }
    SniToolTip toolTip() const;
    bool itemIsMenu() const { return false; }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString &orientation);

signals:
    void NewIcon();
    void NewTitle();
    void NewToolTip();
    void NewStatus(const QString &status);
    void NewAttentionIcon();
    void NewOverlayIcon();

private:
    StatusNotifierItem *m_item;
};
