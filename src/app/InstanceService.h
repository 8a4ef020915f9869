#pragma once
// The running Rivulet on the session bus, under a well-known name of ours:
// `rivulet --toggle` and a second start hand their request to it here
// instead of running twice.
#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <sys/types.h>

class InstanceService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.rivulet.Rivulet")
public:
    static constexpr const char *kServiceName = "app.rivulet.Rivulet";
    static constexpr const char *kObjectPath = "/app/rivulet/Rivulet";
    static constexpr const char *kInterface = "app.rivulet.Rivulet";

    explicit InstanceService(QDBusConnection bus, QObject *parent = nullptr);
    ~InstanceService() override;
    // Takes the name; false when the bus is gone or another program holds it.
    bool publish();
    // Answers IsOpen.
    void setOpenState(std::function<bool()> isOpen) { m_isOpen = std::move(isOpen); }

    enum class HandOver { Delivered, NoBus, NoInstance, OtherInstance, Failed };
    enum class Request { Toggle, Open };
    // Sends the request to the instance holding the name. With holderPid
    // given, only an instance with that pid is asked (another data folder's
    // Rivulet may hold the name). Waits up to waitMs for the name to appear.
    static HandOver handOver(QDBusConnection bus, Request request, pid_t holderPid, int waitMs);

public slots:
    // What the hotkey does: opens with the search field focused, or closes.
    Q_SCRIPTABLE void Toggle();
    // What a second start does: opens the drop-down (an open one stays open).
    Q_SCRIPTABLE void Open();
    Q_SCRIPTABLE bool IsOpen();

signals:
    void toggleRequested();
    void openRequested();

private:
    QDBusConnection m_bus;
    std::function<bool()> m_isOpen;
    bool m_published = false;
};
