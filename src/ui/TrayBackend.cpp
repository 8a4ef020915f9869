#include "ui/TrayBackend.h"
#include "base/Log.h"
#include "ui/IconArt.h"
#include "ui/IconView.h"
#include "ui/StatusNotifierItem.h"
#include "ui/XEmbedTray.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QTimer>

namespace {
// A host that has just taken the watcher's name registers itself a moment later.
constexpr int kHostSettleMs = 300;
}

StatusNotifierBackend::StatusNotifierBackend(QObject *parent) : TrayBackend(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_watcherWatch = new QDBusServiceWatcher(QString::fromLatin1(StatusNotifierItem::kWatcherService), bus,
                                             QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcherWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this] { QTimer::singleShot(kHostSettleMs, this, &StatusNotifierBackend::hostsMayHaveChanged); });
    for (const char *signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus.connect(QString(), QString::fromLatin1(StatusNotifierItem::kWatcherPath), QStringLiteral("org.kde.StatusNotifierWatcher"),
                    QString::fromLatin1(signal), this, SLOT(hostsMayHaveChanged()));
}

StatusNotifierBackend::~StatusNotifierBackend()
{
    delete m_item;
}

// A watcher or host came or went: an item registered with the old one is
// registered again with the new one (or moves elsewhere).
void StatusNotifierBackend::hostsMayHaveChanged()
{
    if (m_item) {
        detach();
        emit lost();
    } else {
        emit hostsChanged();
    }
}

bool StatusNotifierBackend::attach()
{
    if (m_item)
        return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!StatusNotifierItem::hostAvailable(bus))
        return false;
    auto *item = new StatusNotifierItem(bus);
    m_item = item;
    showFrame(m_frame);
    if (!item->registerWithWatcher()) {
        delete item;
        m_item = nullptr;
        return false;
    }
    connect(item, &StatusNotifierItem::activated, this, &TrayBackend::activated);
    Log::f("Tray icon: status notifier item %@", item->serviceName());
    emit iconShown();
    return true;
}

void StatusNotifierBackend::detach()
{
    delete m_item;
    m_item = nullptr;
}

void StatusNotifierBackend::showFrame(int index)
{
    m_frame = index;
    if (m_item)
        m_item->setIcon(StatusNotifierItem::pixmapsFor([index](int size) { return IconArt::render(index, size, IconArt::Panel::Unknown); }));
}

XEmbedBackend::XEmbedBackend(std::function<IconView *(bool)> makeIcon, QObject *parent)
    : TrayBackend(parent), m_makeIcon(std::move(makeIcon))
{
    if (!XEmbedTray::available())
        return;
    m_tray = new XEmbedTray(this);
    connect(m_tray, &XEmbedTray::embeddedChanged, this, [this](bool embedded) {
        if (!m_attached || !m_icon)
            return;
        if (embedded) {
            const QColor background = m_tray->panelBackground();
            m_icon->setPanel(m_icon->testAttribute(Qt::WA_TranslucentBackground) ? IconArt::Panel::Unknown : IconArt::panelFor(background),
                             background);
            squareIcon();
            m_icon->show();
            emit iconShown();
        } else {
            Log::f("The system tray went away");
            m_attached = false;
            emit lost();
        }
    });
    connect(m_tray, &XEmbedTray::backgroundChanged, this, [this](const QColor &background) {
        if (m_attached && m_icon && !m_icon->testAttribute(Qt::WA_TranslucentBackground))
            m_icon->setPanel(IconArt::panelFor(background), background);
    });
    connect(m_tray, &XEmbedTray::trayAppeared, this, &TrayBackend::hostsChanged);
}

bool XEmbedBackend::attach()
{
    if (m_attached)
        return true;
    if (!m_tray || !m_tray->trayPresent())
        return false;
    // The visual the tray asks for: 32-bit only when it offers one, else
    // the panel's own colour painted behind the icon.
    const bool translucent = m_tray->trayVisualDepth() == 32;
    m_icon = m_makeIcon(translucent);
    connect(m_icon, &IconView::resized, this, &XEmbedBackend::squareIcon);
    if (!m_tray->dock(m_icon))
        return false;
    m_attached = true;
    Log::f("Tray icon: XEmbed tray (%@ visual)", translucent ? "32-bit" : "default");
    return true;
}

void XEmbedBackend::detach()
{
    if (!m_attached)
        return;
    m_attached = false;
    m_tray->undock();
    m_icon = m_makeIcon(false);
}

bool XEmbedBackend::shown() const
{
    return m_attached && m_tray->embedded();
}

QRect XEmbedBackend::iconNativeRect() const
{
    return shown() ? m_tray->iconNativeRect() : QRect();
}

QRect XEmbedBackend::panelNativeRect() const
{
    return shown() ? m_tray->panelNativeRect() : QRect();
}

int XEmbedBackend::thickness() const
{
    return shown() && m_icon ? m_icon->height() : 0;
}

// Square at whatever height the tray gives, every time it gives one.
void XEmbedBackend::squareIcon()
{
    if (!m_icon || !shown())
        return;
    const int t = m_icon->height();
    if (t > 0 && (m_icon->width() != t || m_icon->minimumWidth() != t)) {
        m_icon->setMinimumSize(t, t);
        m_icon->resize(t, t);
    }
}

bool NoTrayBackend::attach()
{
    if (!m_said)
        Log::f("No system tray is available; open Rivulet with its hotkey");
    m_said = true;
    return true;
}
