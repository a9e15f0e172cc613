// The reference site over HTTPS, reached through the program's own HTTP
// set-up with a scratch certificate authority: downloads (fresh and resumed),
// the web API and the pages work and name every installer's digest; a
// certificate from an authority nobody trusts fails every one of them and
// leaves nothing behind as a good copy.
#include "SiteFixture.h"
#include "core/Sha256Digest.h"
#include "online/HttpSetup.h"
#include "online/PageCollect.h"
#include "online/WebAPIClient.h"
#include "support/Files.h"
#include "support/ScratchCa.h"
#include "support/Wait.h"
#include "tasks/BrimHttpDownload.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

QString sha256Of(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

struct Outcome
{
    bool completed = false;
    bool failed = false;
    quint32 error = 0;
};

class SiteTlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::coreApp();
        ASSERT_TRUE(ca.ok()) << ca.error.toStdString();
        ASSERT_TRUE(stranger.ok()) << stranger.error.toStdString();
        site = std::make_unique<RunningSite>(QStringLiteral(SITE_STAGE_ROOT), ca.certFile, ca.keyFile);
        ASSERT_TRUE(site->Ok()) << site->Error;
        ASSERT_EQ(site->Base.rfind("https://127.0.0.1:", 0), 0u) << site->Base;
        base = QString::fromStdString(site->Base);
        online::setTrustedCaFile(ca.caFile);
    }
    void TearDown() override { online::setTrustedCaFile({}); }

    Outcome download(const QString &url, const QString &file, bool resume)
    {
        Outcome o;
        TBrimHttpDownload d;
        d.ResumeBroken = resume;
        d.OnFileCompleted = [&](TBrimHttpDownload *, int, int, const QString &, const QString &, quint32) {
            o.completed = true;
        };
        d.OnError
            = [&](TBrimHttpDownload *, int, int, const QString &, const QString &, quint32 code, bool &) {
                  o.failed = true;
                  o.error = code;
              };
        EXPECT_TRUE(d.Download(url, file));
        EXPECT_TRUE(testsupport::waitUntil([&] { return o.completed || o.failed; }, 30000));
        return o;
    }

    testsupport::ScratchDir dir;
    testsupport::ScratchCa ca {dir.path(), QStringLiteral("vendor")};
    testsupport::ScratchCa stranger {dir.path(), QStringLiteral("stranger")};
    std::unique_ptr<RunningSite> site;
    QString base;
};

TEST_F(SiteTlsTest, DownloadsResumesAndTheWebApiWorkAndNameTheDigests)
{
    TWebAPIClient api;
    api.APIUrl = base + "/index.php/halvex_api";
    TSoftwareTop3 top3;
    ASSERT_TRUE(api.GetSoftwareTop3(QStringLiteral("notes"), top3)) << api.LastResponse.toStdString();
    ASSERT_FALSE(top3.FreeItems.isEmpty());
    const TSoftwareItem item = top3.FreeItems.first();
    ASSERT_TRUE(item.DownloadURL.startsWith(base + "/files/")) << item.DownloadURL.toStdString();
    ASSERT_EQ(item.Sha256.size(), 64);

    // Fresh: the bytes are the ones the answer vouched for.
    const QString whole = dir.path("whole.exe");
    const Outcome fresh = download(item.DownloadURL, whole, true);
    ASSERT_TRUE(fresh.completed) << fresh.error;
    EXPECT_EQ(core::FileSha256(whole), item.Sha256);

    // Resumed from byte 1000 of an earlier run: the server must answer the range.
    const QByteArray bytes = readFile(whole);
    const QString part = dir.path("part.exe");
    ASSERT_TRUE(writeFile(part, bytes.left(1000)));
    ASSERT_TRUE(
        writeFile(TBrimHttpDownload::PartialStateFileName(part), QByteArray("\xe8\x03\0\0\0\0\0\0", 8)));
    const Outcome resumed = download(item.DownloadURL, part, true);
    ASSERT_TRUE(resumed.completed) << resumed.error;
    EXPECT_EQ(readFile(part), bytes);

    // The store page's buttons and the purchase pages carry the same digests.
    const online::HttpResponse page = online::HttpGet(base + "/index.php/soft_api");
    ASSERT_TRUE(page.ok) << page.error.toStdString();
    for (const orvane::site::Program &P : site->Site.Programs()) {
        const auto served = site->Site.InstallerAt(P, site->Base);
        if (!served)
            continue;
        const online::HttpResponse got = online::HttpGet(base + "/files/" + P.Installer);
        ASSERT_TRUE(got.ok && got.status == 200) << P.Id.toStdString();
        EXPECT_EQ(sha256Of(got.body), served->Sha256) << P.Id.toStdString();
        EXPECT_TRUE(page.body.contains(
            ("data-url=\"" + base + "/files/" + P.Installer + "\" data-sha256=\"" + served->Sha256 + "\"")
                .toUtf8()))
            << P.Id.toStdString();
        if (!P.Freeware) {
            const online::HttpResponse buy = online::HttpGet(base + "/index.php/buy?id=" + P.Id);
            ASSERT_TRUE(buy.ok) << buy.error.toStdString();
            EXPECT_TRUE(buy.body.contains(("data-sha256=\"" + served->Sha256 + "\"").toUtf8()))
                << P.Id.toStdString();
        }
        if (!P.WindowsInstaller.isEmpty()) {
            const online::HttpResponse exe = online::HttpGet(base + "/files/windows/" + P.WindowsInstaller);
            ASSERT_TRUE(exe.ok) << exe.error.toStdString();
            EXPECT_EQ(sha256Of(exe.body), P.WindowsSha256);
        }
    }
}

TEST_F(SiteTlsTest, AnUnknownAuthorityFailsEverythingAndKeepsNothing)
{
    const QString copy = dir.path("TopX.mht");
    ASSERT_TRUE(writeFile(copy, "the copy of an earlier run"));
    const QString target = dir.path("setup.exe");
    const QString expected = QString::fromUtf8(curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION));
    // Trusting another authority, and trusting none but the system's: the
    // scratch authority is in no system store.
    for (const QString &trusted : {stranger.caFile, QString()}) {
        SCOPED_TRACE(trusted.toStdString());
        online::setTrustedCaFile(trusted);
        const online::HttpResponse r = online::HttpGet(base + "/");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, expected);

        TWebAPIClient api;
        api.APIUrl = base + "/index.php/halvex_api";
        TSoftwareTop3 top3;
        EXPECT_FALSE(api.GetSoftwareTop3(QStringLiteral("notes"), top3));
        EXPECT_TRUE(top3.FreeItems.isEmpty());

        const Outcome o = download(base + "/files/" + site->Site.Programs().first().Installer, target, false);
        EXPECT_TRUE(o.failed);
        EXPECT_FALSE(o.completed);
        EXPECT_FALSE(QFile::exists(target));

        const TArchiveSaveResult saved = SavePageArchive(base + "/index.php/soft_api", copy);
        EXPECT_FALSE(saved.Ok);
        EXPECT_EQ(readFile(copy), "the copy of an earlier run");
    }
}

// orvane-site serves HTTPS with the certificate and key on its command line,
// and refuses a key that does not belong to the certificate.
TEST_F(SiteTlsTest, TheProgramServesTlsFromItsCommandLine)
{
    QProcess served;
    served.start(
        SITE_EXE,
        {"--port", "0", "--root", SITE_STAGE_ROOT, "--tls-cert", ca.certFile, "--tls-key", ca.keyFile});
    ASSERT_TRUE(served.waitForStarted(5000));
    ASSERT_TRUE(testsupport::pollUntil([&] {
        served.waitForReadyRead(100);
        return served.canReadLine() || served.state() != QProcess::Running;
    }));
    // "orvane-site: serving <root> on https://127.0.0.1:<port>/"
    const QString line = QString::fromLocal8Bit(served.readLine()).trimmed();
    const qsizetype at = line.indexOf("https://127.0.0.1:");
    ASSERT_GE(at, 0) << line.toStdString();
    const QString url = line.mid(at);
    const online::HttpResponse home = online::HttpGet(url);
    EXPECT_TRUE(home.ok && home.status == 200) << home.error.toStdString();
    served.terminate();
    ASSERT_TRUE(served.waitForFinished(5000));
    EXPECT_EQ(served.exitCode(), 0);

    for (const QStringList &args : {QStringList {"--tls-cert", ca.certFile, "--tls-key", stranger.keyFile},
                                    QStringList {"--tls-cert", ca.certFile}}) {
        QProcess refused;
        refused.start(SITE_EXE, QStringList {"--port", "0", "--root", SITE_STAGE_ROOT} + args);
        ASSERT_TRUE(refused.waitForFinished(10000));
        EXPECT_NE(refused.exitCode(), 0) << args.join(' ').toStdString();
        EXPECT_TRUE(refused.readAllStandardError().toLower().contains("tls")) << args.join(' ').toStdString();
    }
}

} // namespace
