#include "ui/StatusNotifierItem.h"
#include "base/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QtEndian>
#include <atomic>
#include <unistd.h>

namespace {
// Hosts pick the size closest to their slot.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48, 64, 96};
constexpr int kWatcherCallMs = 2000;
std::atomic<int> g_itemCount{0};

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmapList>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    Q_UNUSED(done);
}
}

QDBusArgument &operator<<(QDBusArgument &a, const SniPixmap &p)
{
    a.beginStructure();
    a << p.width << p.height << p.bytes;
    a.endStructure();
    return a;
}

const QDBusArgument &operator>>(const QDBusArgument &a, SniPixmap &p)
{
    a.beginStructure();
    a >> p.width >> p.height >> p.bytes;
    a.endStructure();
    return a;
}

QDBusArgument &operator<<(QDBusArgument &a, const SniToolTip &t)
{
    a.beginStructure();
    a << t.iconName << t.iconPixmap << t.title << t.description;
    a.endStructure();
    return a;
}

const QDBusArgument &operator>>(const QDBusArgument &a, SniToolTip &t)
{
    a.beginStructure();
    a >> t.iconName >> t.iconPixmap >> t.title >> t.description;
    a.endStructure();
    return a;
}

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
    registerTypes();
    new StatusNotifierItemAdaptor(this);
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(::getpid()).arg(++g_itemCount);
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!m_registered)
        return;
    m_bus.unregisterObject(QString::fromLatin1(kItemPath));
    m_bus.unregisterService(m_service);
}

bool StatusNotifierItem::hostAvailable(QDBusConnection bus)
{
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService)).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kWatcherCallMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
}

bool StatusNotifierItem::registerWithWatcher()
{
    if (!m_registered) {
        if (!m_bus.registerObject(QString::fromLatin1(kItemPath), this, QDBusConnection::ExportAdaptors))
            return false;
        if (!m_bus.registerService(m_service)) {
            m_bus.unregisterObject(QString::fromLatin1(kItemPath));
            return false;
        }
        m_registered = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService), QString::fromLatin1(kWatcherPath),
                                                       QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kWatcherCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        Log::f("The status notifier watcher refused the icon: %@", reply.errorMessage());
        return false;
    }
    return true;
}

void StatusNotifierItem::setIcon(const SniPixmapList &pixmaps)
{
    m_pixmaps = pixmaps;
    emit newIcon();
}

SniPixmapList StatusNotifierItem::pixmapsFor(const std::function<QImage(int size)> &render)
{
    SniPixmapList list;
    for (int size : kPixmapSizes) {
        const QImage image = render(size).convertToFormat(QImage::Format_ARGB32);
        SniPixmap p;
        p.width = image.width();
        p.height = image.height();
        p.bytes.resize(qsizetype(image.width()) * image.height() * 4);
        auto *out = reinterpret_cast<quint32 *>(p.bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        list << p;
    }
    return list;
}

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem *item) : QDBusAbstractAdaptor(item), m_item(item)
{
    setAutoRelaySignals(false);
    connect(item, &StatusNotifierItem::newIcon, this, &StatusNotifierItemAdaptor::NewIcon);
}

SniPixmapList StatusNotifierItemAdaptor::iconPixmap() const
{
    return m_item->m_pixmaps;
}

SniToolTip StatusNotifierItemAdaptor::toolTip() const
{
    return {QString(), {}, QStringLiteral("Rivulet"), QString()};
}

void StatusNotifierItemAdaptor::Activate(int x, int y)
{
    emit m_item->activated(QPoint(x, y));
}

// A right click opens the drop-down too: it holds every command.
void StatusNotifierItemAdaptor::ContextMenu(int x, int y)
{
    emit m_item->activated(QPoint(x, y));
}

void StatusNotifierItemAdaptor::SecondaryActivate(int, int) {}

void StatusNotifierItemAdaptor::Scroll(int, const QString &) {}
