#pragma once
// A private session bus (a real dbus-daemon) for one test, stopped with it.
#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <signal.h>

class PrivateBus {
public:
    PrivateBus()
    {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"), QStringLiteral("--session --fork --print-address=1 --print-pid=1").split(QLatin1Char(' ')));
        daemon.waitForFinished(5000);
        const QStringList out = QString::fromUtf8(daemon.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (out.size() >= 2) {
            address = out[0].trimmed();
            m_pid = out[1].trimmed().toInt();
        }
        m_name = QStringLiteral("private-bus-%1").arg(m_pid);
    }
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus(m_name);
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
    }
    bool ok() const { return !address.isEmpty(); }
    QDBusConnection connection() const { return QDBusConnection::connectToBus(address, m_name); }
    QString address;

private:
    int m_pid = 0;
    QString m_name;
};
