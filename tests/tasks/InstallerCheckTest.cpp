// What runs after a download: an installer with the vendor's digest runs only
// when its bytes match; one without a digest that came over plain HTTP from
// another machine waits for the user. Real loopback servers (plain, TLS and a
// proxy that alters what passes through it) and real installer scripts.
#include "core/BrimMultiLangs.h"
#include "core/OVDefaultTexts.h"
#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "online/HttpSetup.h"
#include "support/ScratchCa.h"
#include "tasks/DownloadParsing.h"
#include "tasks/OVTaskItem.h"
#include "tasks/TaskTestSupport.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tasktest;

namespace {

namespace St = OVTaskState;

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

class InstallerCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        coreApp();
        langs.SetOnMakeDefault(MultiLangsMakeDefault);
        SetOVMultiLangs(&langs);
        OVSettings::FileKeepDays = 7;
        ASSERT_TRUE(server.started());
        realMarker = dir.filePath("real-installer-ran");
        otherMarker = dir.filePath("altered-installer-ran");
        // Both scripts are the same length: the proxy's change shows in the bytes alone.
        server.script = script(realMarker);
        // Everything passes through unchanged except the installer's text.
        proxy.server.Get("/script", [this](const httplib::Request &, httplib::Response &res) {
            httplib::Client upstream("127.0.0.1", server.port());
            const auto got = upstream.Get("/script");
            if (!got) {
                res.status = 502;
                return;
            }
            std::string body = got->body;
            const std::string from = realMarker.toStdString(), to = otherMarker.toStdString();
            for (size_t at = body.find(from); at != std::string::npos; at = body.find(from, at + to.size()))
                body.replace(at, from.size(), to);
            res.set_content(body, "application/octet-stream");
        });
        proxy.server.Get("/to-tls", [this](const httplib::Request &, httplib::Response &res) {
            std::lock_guard<std::mutex> lock(redirectMutex);
            res.set_redirect(redirectTarget, 302);
        });
        ASSERT_TRUE(proxy.start());
    }
    void TearDown() override
    {
        SetOVMultiLangs(nullptr);
        tasks::SetLoopbackCountsAsRemote(false);
        online::setTrustedCaFile({});
    }

    std::string script(const QString &marker) const
    {
        return QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 0\n").arg(marker).toStdString();
    }

    TOVTaskItem *startTask(const QString &url, const QString &sha256)
    {
        auto *t = mgr.Add<TOVTaskItem>();
        t->HttpUrl = url;
        t->LocalFile = dir.filePath(QStringLiteral("setup-%1.exe").arg(mgr.Count()));
        t->Sha256 = sha256;
        t->AutoInstall = true;
        t->ResumeBroken = true;
        t->Start();
        return t;
    }

    // Until the task has ended its download and whatever install followed it.
    bool settled(TOVTaskItem *t)
    {
        return waitUntil([&] {
                   return (t->State == St::DownloadCompleted && !t->InstallRunning())
                       || t->State == St::InstallCompleted || t->State == St::Failed;
               })
            && flushQueuedCalls() && !t->InstallRunning();
    }

    TBrimMultiLangs langs; // the failure texts name what went wrong
    QTemporaryDir dir;
    TestHttpServer server;
    testsupport::LoopbackServer proxy;
    TBrimTaskManager mgr;
    QString realMarker, otherMarker;
    std::mutex redirectMutex;
    std::string redirectTarget;
};

// Through the altering proxy with the real installer's digest: nothing runs,
// the task fails naming both digests, and the file is kept aside as it came.
TEST_F(InstallerCheckTest, AnAlteredInstallerIsRefusedAndKeptAside)
{
    const QString real = sha256Of(QByteArray::fromStdString(server.script));
    const QString altered = sha256Of(QByteArray::fromStdString(script(otherMarker)));
    TOVTaskItem *t = startTask(proxy.qurl("/script"), real);
    ASSERT_TRUE(settled(t));
    EXPECT_EQ(t->State, St::Failed);
    EXPECT_FALSE(QFile::exists(realMarker));
    EXPECT_FALSE(QFile::exists(otherMarker));
    EXPECT_FALSE(t->Installed); // no installer ran
    EXPECT_FALSE(QFile::exists(t->LocalFile));
    EXPECT_EQ(t->RejectedFile, t->LocalFile + ".mismatch");
    EXPECT_EQ(readFile(t->RejectedFile), QByteArray::fromStdString(script(otherMarker)));
    EXPECT_FALSE(QFileInfo(t->RejectedFile).permissions() & (QFile::ExeOwner | QFile::ExeUser));
    EXPECT_TRUE(t->InstallError.contains(real)) << t->InstallError.toStdString();
    EXPECT_TRUE(t->InstallError.contains(altered)) << t->InstallError.toStdString();
    EXPECT_TRUE(t->InstallError.contains(t->RejectedFile));

    // Installing it again by command finds no file to run; a second rejected
    // download does not take the first one's place.
    t->Install();
    ASSERT_TRUE(settled(t));
    EXPECT_FALSE(QFile::exists(otherMarker));
    t->Start();
    ASSERT_TRUE(waitUntil([&] { return t->RejectedFile == t->LocalFile + ".mismatch-2"; }));
    ASSERT_TRUE(settled(t));
    EXPECT_TRUE(QFile::exists(t->LocalFile + ".mismatch"));
    EXPECT_FALSE(QFile::exists(otherMarker));
}

// Which downloads install by themselves. With loopback counted as another
// machine, only a matching digest or TLS lets an installer run unasked; the
// same rule lets loopback downloads run as they always did.
TEST_F(InstallerCheckTest, OnlyCheckedOrAuthenticatedDownloadsInstallUnasked)
{
    testsupport::ScratchDir scratch;
    const testsupport::ScratchCa ca(scratch.path());
    ASSERT_TRUE(ca.ok()) << ca.error.toStdString();
    httplib::SSLServer tls(ca.certFile.toLocal8Bit().constData(), ca.keyFile.toLocal8Bit().constData());
    ASSERT_TRUE(tls.is_valid());
    tls.Get("/script", [this](const httplib::Request &, httplib::Response &res) {
        res.set_content(server.script, "application/octet-stream");
    });
    const int tlsPort = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(tlsPort, 0);
    std::thread tlsThread([&] { tls.listen_after_bind(); });
    ASSERT_TRUE(testsupport::pollUntil([&] { return tls.is_running(); }));
    online::setTrustedCaFile(ca.caFile);
    const QString tlsUrl = QStringLiteral("https://127.0.0.1:%1/script").arg(tlsPort);
    {
        std::lock_guard<std::mutex> lock(redirectMutex);
        redirectTarget = tlsUrl.toStdString();
    }
    const QString real = sha256Of(QByteArray::fromStdString(server.script));

    const struct
    {
        const char *what;
        QString url;
        QString digest;
        bool loopbackIsRemote;
        bool runs;
    } cases[] = {
        {"plain, this machine, no digest", server.url("/script"), {}, false, true},
        {"plain, another machine, no digest", server.url("/script"), {}, true, false},
        {"plain, another machine, matching digest", server.url("/script"), real, true, true},
        {"TLS, another machine, no digest", tlsUrl, {}, true, true},
        // The plain answer chose where the bytes came from.
        {"plain redirect to TLS, another machine", proxy.qurl("/to-tls"), {}, true, false},
        {"plain redirect to TLS, this machine", proxy.qurl("/to-tls"), {}, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(realMarker);
        tasks::SetLoopbackCountsAsRemote(c.loopbackIsRemote);
        TOVTaskItem *t = startTask(c.url, c.digest);
        ASSERT_TRUE(settled(t));
        EXPECT_EQ(QFile::exists(realMarker), c.runs);
        EXPECT_EQ(t->State, c.runs ? St::InstallCompleted : St::DownloadCompleted);
        EXPECT_EQ(t->NeedsConsent(), !c.runs);
        EXPECT_EQ(t->PlainHttpHost, c.loopbackIsRemote && c.url != tlsUrl ? "127.0.0.1" : "");
        if (c.runs)
            continue;
        // Waiting: installing does nothing until the user has said yes.
        t->Install();
        EXPECT_EQ(t->State, St::DownloadCompleted);
        t->AcceptUnverified();
        t->Install();
        ASSERT_TRUE(waitUntil([&] { return t->State == St::InstallCompleted; }));
        EXPECT_TRUE(QFile::exists(realMarker));
        // A new download of the file needs a new yes.
        t->Download();
        ASSERT_TRUE(settled(t));
        EXPECT_TRUE(t->NeedsConsent());
    }
    tasks::SetLoopbackCountsAsRemote(false);
    online::setTrustedCaFile({});
    tls.stop();
    tlsThread.join();
}

// What was checked is what runs: no download may rewrite the file meanwhile.
TEST_F(InstallerCheckTest, NoDownloadRewritesAFileBeingInstalled)
{
    const QString release = dir.filePath("release");
    server.script = QStringLiteral("#!/bin/sh\nwhile [ ! -e '%1' ]; do sleep 0.05; done\ntouch '%2'\n")
                        .arg(release, realMarker)
                        .toStdString();
    TOVTaskItem *t = startTask(server.url("/script"), sha256Of(QByteArray::fromStdString(server.script)));
    ASSERT_TRUE(waitUntil([&] { return t->State == St::Installing; }));
    EXPECT_FALSE(t->Download());
    t->Start();
    EXPECT_EQ(t->State, St::Installing);
    ASSERT_TRUE(writeFile(release, ""));
    ASSERT_TRUE(waitUntil([&] { return t->State == St::InstallCompleted; }));
    EXPECT_TRUE(QFile::exists(realMarker));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(DownloadOrigin, WhatCountsAsThisMachine)
{
    const struct
    {
        const char *host, *peer;
        bool local;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", true},
        {"localhost", "127.0.0.1", true},
        {"LOCALHOST", "::1", true},
        {"127.8.9.10", "127.8.9.10", true},
        {"::1", "::1", true},
        {"[::1]", "::ffff:127.0.0.1", true},
        {"localhost", "10.0.0.7", false}, // through a proxy elsewhere
        {"127.0.0.1", "", false}, // peer unknown
        {"example.org", "127.0.0.1", false}, // through a local proxy to the network
        {"127.0.0.1.example.org", "127.0.0.1", false},
        {"127.1", "127.0.0.1", false},
        {"128.0.0.1", "128.0.0.1", false},
        {"0127.0.0.1", "127.0.0.1", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(tasks::FromThisMachine(c.host, c.peer), c.local) << c.host << " via " << c.peer;
    tasks::SetLoopbackCountsAsRemote(true);
    EXPECT_FALSE(tasks::FromThisMachine("127.0.0.1", "127.0.0.1"));
    tasks::SetLoopbackCountsAsRemote(false);

    EXPECT_EQ(tasks::plainHttpHostOf("http://example.org/a.exe"), "example.org");
    EXPECT_EQ(tasks::plainHttpHostOf("example.org/a.exe"), "example.org");
    EXPECT_EQ(tasks::plainHttpHostOf("HTTPS://example.org/a.exe"), "");
    EXPECT_EQ(tasks::plainHttpHostOf("http://127.0.0.1:8770/a.exe"), "");
    EXPECT_EQ(tasks::plainHttpHostOf("http://localhost/a.exe"), "");
}

} // namespace
