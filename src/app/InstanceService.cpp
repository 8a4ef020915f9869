#include "app/InstanceService.h"
#include "base/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QThread>

namespace {
constexpr int kPollMs = 50;
}

InstanceService::InstanceService(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus)) {}

InstanceService::~InstanceService()
{
    if (!m_published)
        return;
    m_bus.unregisterObject(QString::fromLatin1(kObjectPath));
    m_bus.unregisterService(QString::fromLatin1(kServiceName));
}

bool InstanceService::publish()
{
    if (!m_bus.isConnected())
        return false;
    if (!m_bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportScriptableSlots))
        return false;
    if (!m_bus.registerService(QString::fromLatin1(kServiceName))) {
        m_bus.unregisterObject(QString::fromLatin1(kObjectPath));
        Log::f("Another Rivulet holds %@ on this session bus; rivulet --toggle goes to that one", kServiceName);
        return false;
    }
    m_published = true;
    return true;
}

void InstanceService::Toggle()
{
    Log::f("Toggle requested over the session bus");
    emit toggleRequested();
}

void InstanceService::Open()
{
    Log::f("A second start asked to open the drop-down");
    emit openRequested();
}

bool InstanceService::IsOpen()
{
    return m_isOpen && m_isOpen();
}

InstanceService::HandOver InstanceService::handOver(QDBusConnection bus, Request request, pid_t holderPid, int waitMs)
{
    if (!bus.isConnected() || !bus.interface())
        return HandOver::NoBus;
    const QString name = QString::fromLatin1(kServiceName);
    QElapsedTimer waited;
    waited.start();
    // The holder takes the lock before it takes the name: give it a moment.
    while (!bus.interface()->isServiceRegistered(name).value()) {
        if (waited.elapsed() >= waitMs)
            return HandOver::NoInstance;
        QThread::msleep(kPollMs);
    }
    if (holderPid > 0) {
        const QDBusReply<uint> owner = bus.interface()->servicePid(name);
        if (owner.isValid() && pid_t(owner.value()) != holderPid)
            return HandOver::OtherInstance;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(name, QString::fromLatin1(kObjectPath), QString::fromLatin1(kInterface),
                                                       request == Request::Toggle ? QStringLiteral("Toggle") : QStringLiteral("Open"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage ? HandOver::Delivered : HandOver::Failed;
}
