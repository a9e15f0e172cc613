#include "support/FakeNotifications.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

using namespace testsupport;

// The real program on a session bus of the test's own: a task added at start
// downloads an installer from loopback, runs it, and the desktop's
// notification service hears about it once, with the program's title.
TEST(InstallNoticeProcess, FinishedInstallReachesTheDesktopsNotificationService)
{
    coreApp();
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FakeNotifications service;
    ASSERT_TRUE(service.start(bus.address()));

    LoopbackServer site;
    site.server.Get("/setup.sh", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("#!/bin/sh\nexit 0\n", "application/octet-stream");
    });
    ASSERT_TRUE(site.start());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath("orvane");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORVANE_EXE), exe));
    // Every vendor address fails at once on loopback.
    ASSERT_TRUE(writeFile(dir.filePath("Config/Config.ini"),
                          "[ORVANE]\r\nAutoInstall=1\r\n[LANGUAGE]\r\nLanguage=1033\r\n"));
    ASSERT_TRUE(writeFile(dir.filePath("Langs/1033/Orvane.ini"),
                          "[HEAD]\r\nLCID=1033\r\n[LANG_ITEMS]\r\nString.URL.Home=http://127.0.0.1:9/\r\n"
                          "String.URL.Help=http://127.0.0.1:9/help.html\r\n"
                          "String.URL.TopX=http://127.0.0.1:9/soft_api\r\n"
                          "String.URL.WAPI=http://127.0.0.1:9/halvex_api\r\n"));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVANE_INSTANCE_TAG", QStringLiteral("-notice-test-%1").arg(getpid()));
    env.insert("ORVANE_PROBE_URLS", "http://127.0.0.1:9/");
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    p.setProcessEnvironment(env);
    p.start(exe, {"--add-task", "Tom & Jerry <Deluxe>", site.qurl("/setup.sh"), "--select-tab", "3"});
    ASSERT_TRUE(p.waitForStarted());

    const bool heard = waitUntil([&] { return !service.calls.empty(); }, 30000);
    ::kill(pid_t(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(20000));
    ASSERT_TRUE(heard) << p.readAllStandardError().constData();
    ASSERT_EQ(service.calls.size(), 1u);
    const NotifyCall &call = service.calls.front();
    EXPECT_EQ(call.appName, "Orvane");
    EXPECT_EQ(call.appIcon, "orvane");
    EXPECT_EQ(call.summary, "Installation completed");
    // The service reads no markup: the title arrives as it is.
    EXPECT_EQ(call.body, "Tom & Jerry <Deluxe> was installed.");
}
