#include "platform/DesktopNotifier.h"

#include "support/FakeNotifications.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::FakeNotifications;
using testsupport::NotifyCall;
using testsupport::PrivateBus;

namespace {

class DesktopNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::coreApp();
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    }
    void startService() { ASSERT_TRUE(fake.start(bus.address())); }

    PrivateBus bus;
    FakeNotifications fake;
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
    fake.stop();
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
