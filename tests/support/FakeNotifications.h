#pragma once

// A private D-Bus daemon of the test's own and a stand-in for the desktop's
// notification service on it. Header only: tests that use it link Qt6::DBus.

#include "support/Files.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace testsupport {

// A dbus-daemon that starts no services: only what a test registers answers.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QByteArray config
            = "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path="
            + QFile::encodeName(m_dir.filePath("bus"))
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
              "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        if (!writeFile(m_dir.filePath("bus.conf"), config))
            return;
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + m_dir.filePath("bus.conf"),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        // The address is printed once the daemon listens.
        if (m_daemon.waitForStarted() && m_daemon.waitForReadyRead(10000))
            m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Empty when the daemon did not start.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

struct NotifyCall
{
    QString appName;
    uint replacesId = 99;
    QString appIcon;
    QString summary;
    QString body;
    int expireTimeout = 0;
};

// The desktop's notification service as far as a program sees it: it states its
// capabilities and records every Notify. A hung one never answers.
class FakeNotifications : public QDBusVirtualObject
{
public:
    QStringList capabilities {QStringLiteral("body")};
    bool hung = false;
    std::vector<NotifyCall> calls;
    int capabilityQueries = 0;

    ~FakeNotifications() override { stop(); }

    // Registers the service on the bus at address under its own connection.
    bool start(const QString &address)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, QString::fromLatin1(kConnection));
        m_started = bus.isConnected() && bus.registerVirtualObject(QString::fromLatin1(kPath), this)
            && bus.registerService(QString::fromLatin1(kService));
        return m_started;
    }
    // Leaves the bus: later calls find no service.
    void stop()
    {
        if (!m_started)
            return;
        m_started = false;
        QDBusConnection bus(QString::fromLatin1(kConnection));
        bus.unregisterService(QString::fromLatin1(kService));
        bus.unregisterObject(QString::fromLatin1(kPath));
        QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnection));
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != QLatin1String(kService))
            return false;
        if (message.member() == QLatin1String("GetCapabilities")) {
            ++capabilityQueries;
            if (hung)
                message.setDelayedReply(true); // and never answered
            else
                connection.send(message.createReply(capabilities));
            return true;
        }
        if (message.member() == QLatin1String("Notify")) {
            const QList<QVariant> a = message.arguments();
            if (a.size() == 8)
                calls.push_back({a[0].toString(), a[1].toUInt(), a[2].toString(), a[3].toString(),
                                 a[4].toString(), a[7].toInt()});
            connection.send(message.createReply(uint(calls.size())));
            return true;
        }
        return false;
    }

private:
    static constexpr const char *kConnection = "fake-notifications";
    static constexpr const char *kService = "org.freedesktop.Notifications";
    static constexpr const char *kPath = "/org/freedesktop/Notifications";
    bool m_started = false;
};

} // namespace testsupport
