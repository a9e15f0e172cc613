#include "platform/DesktopNotifier.h"

#include "support/Files.h"
#include "support/Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// A dbus-daemon of the test's own, with no services to start: only what the
// test registers answers.
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
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
              "send_destination=\"*\"/><allow receive_sender=\"*\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n";
        if (!testsupport::writeFile(m_dir.filePath("bus.conf"), config))
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

// The desktop's notification service as far as a program sees it: it states
// its capabilities and records every Notify. A hung one never answers.
class FakeNotifications : public QDBusVirtualObject
{
public:
    QStringList capabilities {QStringLiteral("body")};
    bool hung = false;
    std::vector<NotifyCall> calls;
    int capabilityQueries = 0;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.Notifications"))
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
};

class DesktopNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::coreApp();
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    }
    void TearDown() override
    {
        if (serviceUp) {
            QDBusConnection service(kServiceConnection);
            service.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
            service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        }
        QDBusConnection::disconnectFromBus(kServiceConnection);
    }

    void startService()
    {
        QDBusConnection service = QDBusConnection::connectToBus(bus.address(), kServiceConnection);
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        serviceUp = true;
    }

    static constexpr const char *kServiceConnection = "fake-notifications";
    PrivateBus bus;
    FakeNotifications fake;
    bool serviceUp = false;
};

DesktopNotice notice(const QString &body)
{
    return {QStringLiteral("Orvane"), QStringLiteral("orvane"), QStringLiteral("Installation completed"),
            body};
}

} // namespace

// The service gets the notice as sent; a body from a web page is escaped
// where the service would read it as markup, and left alone where it would not.
TEST_F(DesktopNotifierTest, ServiceReceivesTheNoticeWithABodyItCannotMisread)
{
    startService();
    struct Case
    {
        QStringList capabilities;
        QString body;
        QString received;
    } cases[] = {
        {{"body", "body-markup", "body-hyperlinks"},
         "<a href=\"http://127.0.0.1:9/\">Tom & Jerry</a> was installed.",
         "&lt;a href=&quot;http://127.0.0.1:9/&quot;&gt;Tom &amp; Jerry&lt;/a&gt; was installed."},
        {{"body"}, "Tom & <Jerry> was installed.", "Tom & <Jerry> was installed."},
    };
    for (const Case &c : cases) {
        fake.calls.clear();
        fake.capabilities = c.capabilities;
        // A fresh notifier asks the service afresh.
        const std::unique_ptr<IDesktopNotifier> notifier = makeDbusNotifier(bus.address());
        ASSERT_TRUE(notifier->notify(notice(c.body)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return !fake.calls.empty(); }));
        const NotifyCall &call = fake.calls.front();
        EXPECT_EQ(call.appName, "Orvane");
        EXPECT_EQ(call.replacesId, 0u);
        EXPECT_EQ(call.appIcon, "orvane");
        EXPECT_EQ(call.summary, "Installation completed");
        EXPECT_EQ(call.body, c.received);
        EXPECT_EQ(call.expireTimeout, -1);
    }
}

// The caller never waits: not for a service that does not answer, not for a
// bus without the service, not when there is no bus at all.
TEST_F(DesktopNotifierTest, NeverWaitsForTheServiceOrTheBus)
{
    startService();
    fake.hung = true;
    const std::unique_ptr<IDesktopNotifier> notifier = makeDbusNotifier(bus.address());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(notifier->notify(notice("A")));
    // The service is served by this very thread: a notifier that waited for its
    // answer would sit here for the whole D-Bus time-out (25 s).
    EXPECT_LT(clock.elapsed(), 2000);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fake.capabilityQueries == 1; }));
    EXPECT_TRUE(fake.calls.empty());

    // The bus without a service: the notice is dropped quietly.
    QDBusConnection(kServiceConnection).unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    clock.restart();
    const std::unique_ptr<IDesktopNotifier> alone = makeDbusNotifier(bus.address());
    EXPECT_TRUE(alone->notify(notice("B")));
    EXPECT_LT(clock.elapsed(), 2000);

    // No bus behind the address.
    clock.restart();
    const std::unique_ptr<IDesktopNotifier> nowhere
        = makeDbusNotifier(QStringLiteral("unix:path=/nonexistent/orvane-test-bus"));
    EXPECT_FALSE(nowhere->notify(notice("C")));
    EXPECT_FALSE(nowhere->notify(notice("D")));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(fake.calls.empty());
}

// The program's own notifier uses the session bus; without one it gives up at once.
TEST(DesktopNotifierSession, WithoutASessionBusNothingIsSentAndNothingWaits)
{
    testsupport::coreApp();
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-session-bus");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(desktopNotifier().notify(notice("E")));
    EXPECT_LT(clock.elapsed(), 2000);
}
