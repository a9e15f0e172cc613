#include "tasks/BrimHttpDownload.h"
#include "tasks/Clock.h"
#include "tasks/DownloadParsing.h"
#include "tasks/TaskTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>

using namespace tasktest;

namespace {

struct Recorder
{
    std::vector<std::string> events;
    std::vector<quint32> sizes;
    std::vector<quint32> speeds;
    quint32 total = 0;
    quint32 errorCode = 0;
    quint32 fileSize = 0;
    bool indexesZero = true;
    bool partialOk = true; // the partial-state file always matched the reported size
    bool onMainThread = true;
    bool ended = false;

    void attach(TBrimHttpDownload &d, bool checkPartial = false)
    {
        auto idx = [this](int index, int count) {
            if (index != 0 || count != 0)
                indexesZero = false;
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                onMainThread = false;
        };
        d.OnStart = [this, idx](TBrimHttpDownload *, int i, int c, const QString &, const QString &) {
            idx(i, c);
            events.push_back("start");
        };
        d.OnProcess
            = [this, idx, checkPartial](TBrimHttpDownload *, int i, int c, const QString &,
                                        const QString &file, quint32 cur, quint32 tot, quint32 speed) {
                  idx(i, c);
                  events.push_back("process");
                  sizes.push_back(cur);
                  speeds.push_back(speed);
                  total = tot;
                  if (checkPartial) {
                      const QByteArray rb = readFile(TBrimHttpDownload::PartialStateFileName(file));
                      if (rb.size() != 8 || *reinterpret_cast<const quint32 *>(rb.constData()) < cur
                          || *reinterpret_cast<const quint32 *>(rb.constData() + 4) != tot)
                          partialOk = false;
                  }
              };
        d.OnFileCompleted
            = [this, idx](TBrimHttpDownload *, int i, int c, const QString &, const QString &, quint32 size) {
                  idx(i, c);
                  events.push_back("completed");
                  fileSize = size;
                  ended = true;
              };
        d.OnError = [this, idx](TBrimHttpDownload *, int i, int c, const QString &, const QString &,
                                quint32 code, bool &) {
            idx(i, c);
            events.push_back("error");
            errorCode = code;
            ended = true;
        };
        d.OnStopped = [this](TBrimHttpDownload *) { events.push_back("stopped"); };
        d.OnPaused = [this](TBrimHttpDownload *) { events.push_back("paused"); };
        d.OnResumed = [this](TBrimHttpDownload *) { events.push_back("resumed"); };
    }

    int count(const std::string &name) const { return int(std::count(events.begin(), events.end(), name)); }
    std::string last() const { return events.empty() ? std::string() : events.back(); }
};

quint32 partialOffset(const QString &file)
{
    const QByteArray rb = readFile(TBrimHttpDownload::PartialStateFileName(file));
    return rb.size() >= 4 ? *reinterpret_cast<const quint32 *>(rb.constData()) : 0xDEADBEEF;
}

void writePartial(const QString &file, quint32 offset, quint32 total)
{
    QByteArray rb(8, 0);
    memcpy(rb.data(), &offset, 4);
    memcpy(rb.data() + 4, &total, 4);
    ASSERT_TRUE(writeFile(TBrimHttpDownload::PartialStateFileName(file), rb));
}

class DownloaderTest : public ::testing::Test
{
protected:
    void SetUp() override { coreApp(); }
    QTemporaryDir dir;
    TestHttpServer server;
    QString target() const { return dir.filePath("sub/dir/file.exe"); }
};

// How a run starts from what lies on disk: a fresh download, a resume that cuts a
// stale tail, a server that refuses ranges, a partial state whose file is gone or
// holds 0, and a run without resuming that leaves the partial state alone.
TEST_F(DownloaderTest, ResumingFollowsThePartialState)
{
    constexpr qint64 None = -1;
    struct Case
    {
        const char *name;
        bool resumeBroken;
        std::optional<QByteArray> fileBefore;
        qint64 stateBefore; // written count in the partial-state file; None: no file
        qint64 serverSize;
        bool rangeSupport;
        const char *path;
        std::string range; // Range header of the request that reached the file
        quint32 errorCode; // 0: completes
        QByteArray fileAfter;
        qint64 stateAfter; // written count left; None: the file is gone (or never was)
    };
    const std::vector<Case> cases = {
        {"fresh", true, std::nullopt, None, 3000, true, "/file", "", 0, content(3000), None},
        // The first 5000 bytes are good; what follows them is stale and must go.
        {"resumed", true, content(5000) + QByteArray(3000, 'x'), 5000, 12000, true, "/file", "bytes=5000-", 0,
         content(12000), None},
        {"range refused", true, content(1000), 1000, 3000, false, "/file", "bytes=1000-", 200, content(1000),
         1000},
        // Resuming into a missing file would leave a hole at its start.
        {"state without file", true, std::nullopt, 2000, 3000, true, "/file", "", 0, content(3000), None},
        // An attempt that never connected leaves 0: a fresh request, which a server without ranges serves.
        {"state holding 0", true, QByteArray("old"), 0, 3000, false, "/file", "", 0, content(3000), None},
        // Not ours to touch when not resuming; redirects are followed.
        {"not resuming", false, QByteArray(10000, 'x'), 5000, 3000, true, "/redirect", "", 0, content(3000),
         5000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server;
        server.size = c.serverSize;
        server.rangeSupport = c.rangeSupport;
        const QString file = dir.filePath(QStringLiteral("sub/%1/file.exe").arg(QLatin1String(c.name)));
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (c.fileBefore) {
            ASSERT_TRUE(writeFile(file, *c.fileBefore));
        }
        if (c.stateBefore != None) {
            writePartial(file, quint32(c.stateBefore), quint32(c.serverSize));
        }
        const quint32 offset = c.range.empty() ? 0 : quint32(c.stateBefore);

        TBrimHttpDownload d;
        d.ResumeBroken = c.resumeBroken;
        Recorder r;
        r.attach(d, c.resumeBroken);
        ASSERT_TRUE(d.Download(server.url(c.path), file));
        EXPECT_TRUE(d.Busy());
        EXPECT_FALSE(d.Download(server.url(c.path), file)); // busy: ignored
        ASSERT_TRUE(waitUntil([&] { return r.ended; }));
        EXPECT_FALSE(d.Busy());

        EXPECT_EQ(r.events.front(), "start");
        if (c.errorCode != 0) {
            EXPECT_EQ(r.events, (std::vector<std::string> {"start", "error"}));
            EXPECT_EQ(r.errorCode, c.errorCode);
        } else {
            EXPECT_EQ(r.last(), "completed");
            EXPECT_EQ(r.fileSize, quint32(c.serverSize));
            EXPECT_EQ(r.total, quint32(c.serverSize));
            // One event per 512-byte block, counted from where the run started.
            std::vector<quint32> blocks;
            for (quint32 at = offset + 512; at < quint32(c.serverSize); at += 512)
                blocks.push_back(at);
            blocks.push_back(quint32(c.serverSize));
            EXPECT_EQ(r.sizes, blocks);
        }
        EXPECT_TRUE(r.indexesZero);
        EXPECT_TRUE(r.onMainThread);
        EXPECT_TRUE(r.partialOk);
        EXPECT_EQ(readFile(file), c.fileAfter);
        EXPECT_EQ(partialOffset(file), c.stateAfter == None ? 0xDEADBEEF : quint32(c.stateAfter));

        const auto reqs = server.requests();
        ASSERT_EQ(reqs.size(), std::string_view(c.path) == "/redirect" ? 2u : 1u);
        EXPECT_EQ(reqs.back().range, c.range);
        EXPECT_TRUE(QRegularExpression("^BrimHttpDownload_-?\\d+_Agent$")
                        .match(QString::fromStdString(reqs.back().agent))
                        .hasMatch())
            << reqs.back().agent;
    }
}

// The readings of answer headers and partial-state files the runs above rely on.
TEST(DownloadParsing, ContentRangeAndPartialState)
{
    struct RangeCase
    {
        const char *line;
        bool header; // a Content-Range header with the bytes unit
        qint64 first;
        bool valid;
    } ranges[] = {
        {"Content-Range: bytes 5000-11999/12000\r\n", true, 5000, true},
        {"content-range:BYTES 0-0/*", true, 0, true},
        {"Content-Range: bytes */3000", true, -1, false}, // an unsatisfied range names no offset
        {"Content-Range: bytes 7000-10/20", true, 7000, false}, // backwards: still names its offset
        {"Content-Range: bytes 5-9/9", true, 5, false},
        {"Content-Range: bytes 99999999999999999999-1/2", true, -1, false},
        {"Content-Range: bytes +5-9/10", true, -1, false},
        {"Content-Range: items 1-2/3", false, -1, false},
        {"Content-Range: bytesX 1-2/3", false, -1, false},
        {"Content-Length: 5000", false, -1, false},
        {"Content-Range:", false, -1, false},
    };
    for (const RangeCase &c : ranges) {
        SCOPED_TRACE(c.line);
        const std::optional<tasks::ContentRange> r = tasks::ParseContentRangeLine(c.line);
        ASSERT_EQ(r.has_value(), c.header);
        if (r) {
            EXPECT_EQ(r->First, c.first);
            EXPECT_EQ(r->Valid, c.valid);
        }
    }

    EXPECT_FALSE(tasks::ParsePartialState(QByteArray("\x01\x02\x03", 3)));
    const auto four = tasks::ParsePartialState(QByteArray("\x88\x13\x00\x00", 4));
    ASSERT_TRUE(four);
    EXPECT_EQ(four->Written, 5000u);
    EXPECT_EQ(four->Total, 0u);
    const auto eight = tasks::ParsePartialState(QByteArray("\xff\xff\xff\xff\xe0\x2e\x00\x00", 8));
    ASSERT_TRUE(eight);
    EXPECT_EQ(eight->Written, 0xFFFFFFFFu);
    EXPECT_EQ(eight->Total, 12000u);

    EXPECT_EQ(tasks::ResumeOffset(5000, 8000), 5000u);
    EXPECT_EQ(tasks::ResumeOffset(5000, 5000), 5000u);
    EXPECT_EQ(tasks::ResumeOffset(5000, 4999), 0u);
    EXPECT_EQ(tasks::ResumeOffset(5000, -1), 0u);
    EXPECT_EQ(tasks::ResumeOffset(0, -1), 0u);
}

TEST_F(DownloaderTest, FailuresReportTheirCodes)
{
    struct Case
    {
        const char *name;
        std::function<void(TestHttpServer &)> setup;
        QString url;
        quint32 code;
        qint64 bytesKept; // partial-state offset afterwards
    };
    int closedPort = 0;
    {
        TestHttpServer closed; // take a port, then free it
        closedPort = closed.port();
    }
    const std::vector<Case> cases = {
        {"404", [](TestHttpServer &) {}, server.url("/missing"), 404, 0},
        {"no length", [](TestHttpServer &s) { s.sendLength = false; }, server.url(), 0xFFFFFFFF, 3000},
        {"cut off",
         [](TestHttpServer &s) {
             s.size = 200000;
             s.cutAfter = 70000;
             s.chunkSize = 10000;
         },
         server.url(), 0xFFFFFFFF, 70000},
        {"refused", [](TestHttpServer &) {}, QStringLiteral("http://127.0.0.1:%1/file").arg(closedPort),
         quint32(ECONNREFUSED), 0},
        {"no path", [](TestHttpServer &) {}, QStringLiteral("http://127.0.0.1"), 0xFFFFFFFF, -1},
        // Over TLS, never silently as plain HTTP: the plain server sees no request.
        {"https", [](TestHttpServer &) {}, QStringLiteral("https://127.0.0.1:%1/file").arg(server.port()),
         0xFFFFFFFF, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.sendLength = true;
        server.cutAfter = -1;
        server.size = 3000;
        c.setup(server);
        const QString file = dir.filePath(QString::fromLatin1(c.name) + ".exe");
        TBrimHttpDownload d;
        d.ResumeBroken = true;
        Recorder r;
        r.attach(d);
        ASSERT_TRUE(d.Download(c.url, file));
        ASSERT_TRUE(waitUntil([&] { return r.ended; }));
        EXPECT_EQ(r.last(), "error");
        EXPECT_EQ(r.count("completed"), 0);
        EXPECT_EQ(r.errorCode, c.code);
        EXPECT_FALSE(d.Busy());
        EXPECT_EQ(partialOffset(file), c.bytesKept < 0 ? 0xDEADBEEF : quint32(c.bytesKept));
    }
    EXPECT_EQ(server.requests().size(), 3u); // 404, no length, cut off; nothing from the TLS attempt
}

TEST_F(DownloaderTest, SizesBeyond32BitsFailBeforeWriting)
{
    server.size = 100;
    server.announcedSize = 5000000000LL;
    TBrimHttpDownload d;
    d.ResumeBroken = true;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(server.url(), target()));
    ASSERT_TRUE(waitUntil([&] { return r.ended; }));
    EXPECT_EQ(r.events, (std::vector<std::string> {"start", "error"}));
    EXPECT_EQ(r.errorCode, 0xFFFFFFFFu);
    EXPECT_EQ(QFileInfo(target()).size(), 0);
}

TEST_F(DownloaderTest, StopDuringTransferFiresOnlyStopped)
{
    server.size = 1 << 20;
    server.chunkSize = 2048;
    server.chunkDelayMs = 20;
    TBrimHttpDownload d;
    d.ResumeBroken = true;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(server.url(), target()));
    ASSERT_TRUE(waitUntil([&] { return r.count("process") >= 3; }));
    QElapsedTimer t;
    t.start();
    d.Stop();
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_FALSE(d.Busy());
    EXPECT_EQ(r.last(), "stopped");
    const size_t seen = r.events.size();
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(r.events.size(), seen);
    EXPECT_EQ(r.count("error") + r.count("completed"), 0);
    // The partial state outlives the stop and matches the bytes on disk.
    EXPECT_EQ(qint64(partialOffset(target())), QFileInfo(target()).size());
    d.Stop(); // not busy: nothing
    EXPECT_EQ(r.count("stopped"), 1);
}

TEST_F(DownloaderTest, StopFromInsideAnEventHandlerDoesNotDeadlock)
{
    server.size = 1 << 20;
    server.chunkSize = 4096;
    server.chunkDelayMs = 5;
    TBrimHttpDownload d;
    Recorder r;
    r.attach(d);
    d.OnProcess = [&](TBrimHttpDownload *sender, int, int, const QString &, const QString &, quint32, quint32,
                      quint32) {
        r.events.push_back("process");
        if (r.count("process") == 2)
            sender->Stop();
    };
    ASSERT_TRUE(d.Download(server.url(), target()));
    ASSERT_TRUE(waitUntil([&] { return r.last() == "stopped"; }));
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(r.count("process"), 2);
    EXPECT_EQ(r.last(), "stopped");
}

TEST_F(DownloaderTest, PauseHoldsTheTransferAndResumeFinishesIt)
{
    server.size = 300000;
    server.chunkSize = 4096;
    server.chunkDelayMs = 5;
    TBrimHttpDownload d;
    d.ResumeBroken = true;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(server.url(), target()));
    ASSERT_TRUE(waitUntil([&] { return r.count("process") >= 2; }));
    d.Pause();
    EXPECT_TRUE(d.Paused());
    EXPECT_EQ(r.last(), "paused");
    d.Pause(); // already paused: nothing
    EXPECT_EQ(r.count("paused"), 1);
    ASSERT_TRUE(flushQueuedCalls());
    const qint64 held = QFileInfo(target()).size();
    settle(300); // holding is a matter of time: nothing may arrive in this window
    EXPECT_EQ(r.last(), "paused"); // no progress reported while paused
    EXPECT_EQ(QFileInfo(target()).size(), held);
    d.Resume();
    EXPECT_EQ(r.last(), "resumed");
    ASSERT_TRUE(waitUntil([&] { return r.ended; }));
    EXPECT_EQ(r.last(), "completed");
    EXPECT_EQ(readFile(target()), content(300000));
}

TEST_F(DownloaderTest, SpeedIsZeroInTheFirstSecondThenMeasured)
{
    server.size = 60000;
    server.chunkSize = 2000;
    server.chunkDelayMs = 40; // about 50 KB/s
    TBrimHttpDownload d;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(server.url(), target()));
    ASSERT_TRUE(waitUntil([&] { return r.ended; }));
    ASSERT_EQ(r.last(), "completed");
    EXPECT_EQ(r.speeds.front(), 0u);
    const quint32 last = r.speeds.back();
    EXPECT_GT(last, 20000u);
    EXPECT_LT(last, 100000u);
}

TEST_F(DownloaderTest, DestroyingARunningDownloaderFiresNothing)
{
    server.size = 1 << 20;
    server.chunkSize = 2048;
    server.chunkDelayMs = 20;
    Recorder r;
    {
        TBrimHttpDownload d;
        r.attach(d);
        ASSERT_TRUE(d.Download(server.url(), target()));
        ASSERT_TRUE(waitUntil([&] { return r.count("process") >= 1; }));
        d.Pause();
    }
    const size_t seen = r.events.size();
    ASSERT_TRUE(flushQueuedCalls());
    EXPECT_EQ(r.events.size(), seen);
    EXPECT_EQ(r.count("stopped"), 0);
}

TEST_F(DownloaderTest, BatchRunCountsCompletedFiles)
{
    TBrimHttpDownload d;
    Recorder r;
    r.attach(d);
    quint32 success = 0, total = 0;
    bool done = false;
    std::vector<std::pair<int, int>> starts;
    d.OnStart = [&](TBrimHttpDownload *, int i, int c, const QString &, const QString &) {
        starts.push_back({i, c});
    };
    d.OnFilesCompleted = [&](TBrimHttpDownload *sender, quint32 s, quint32 t) {
        success = s;
        total = t;
        done = !sender->Busy();
    };
    d.HttpUrls = {server.url(), server.url("/missing"), server.url()};
    d.LocalFiles
        = {dir.filePath("a.exe"), dir.filePath("b.exe"), dir.filePath("c.exe"), dir.filePath("extra")};
    ASSERT_TRUE(d.DownloadList());
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_EQ(success, 2u);
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(starts, (std::vector<std::pair<int, int>> {{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_EQ(readFile(dir.filePath("c.exe")), content(3000));
}

TEST(TaskClock, DivisionRoundsHalfToEven)
{
    struct Case
    {
        quint64 n, d;
        quint32 expected;
    } cases[] = {{5, 2, 2},
                 {7, 2, 4},
                 {1, 3, 0},
                 {2, 3, 1},
                 {3000000ull * 1000, 1000, 3000000},
                 {0xFFFFFFFFull * 1000 * 4, 1000, 0xFFFFFFFFu},
                 {2500, 1000, 2},
                 {3500, 1000, 4}};
    for (const Case &c : cases)
        EXPECT_EQ(tasks::divRoundHalfEven(c.n, c.d), c.expected) << c.n << "/" << c.d;
}

} // namespace

namespace {

TEST_F(DownloaderTest, SystemProxyVariablesAreHonoured)
{
    // The loopback server plays the proxy: a host that does not resolve still gets an answer.
    const QByteArray oldProxy = qgetenv("http_proxy"), oldNoProxy = qgetenv("no_proxy");
    qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(server.port()).toUtf8());
    qunsetenv("no_proxy");
    TBrimHttpDownload d;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(QStringLiteral("http://unresolvable.invalid/missing"), target()));
    const bool ended = waitUntil([&] { return r.ended; });
    oldProxy.isNull() ? qunsetenv("http_proxy") : qputenv("http_proxy", oldProxy);
    if (!oldNoProxy.isNull())
        qputenv("no_proxy", oldNoProxy);
    ASSERT_TRUE(ended);
    EXPECT_EQ(r.last(), "error");
    EXPECT_EQ(r.errorCode, 404u); // the proxy's answer; without it the name would not resolve
}

} // namespace

namespace {

TEST_F(DownloaderTest, HttpsVerifiesTheServerCertificate)
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        GTEST_SKIP() << "openssl command not available";
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    QProcess gen;
    gen.start(openssl,
              {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "1",
               "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    ASSERT_TRUE(gen.waitForFinished(30000));
    ASSERT_EQ(gen.exitCode(), 0);

    // A self-signed server: the handshake must be refused, so no request ever arrives.
    httplib::SSLServer tls(cert.toUtf8().constData(), key.toUtf8().constData());
    std::atomic<int> served {0};
    tls.Get("/file", [&](const httplib::Request &, httplib::Response &res) {
        ++served;
        res.set_content("payload", "application/octet-stream");
    });
    const int port = tls.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { tls.listen_after_bind(); });
    EXPECT_TRUE(testsupport::waitUntil([&] { return tls.is_running(); }));

    TBrimHttpDownload d;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(QStringLiteral("HTTPS://127.0.0.1:%1/file").arg(port), target()));
    const bool ended = waitUntil([&] { return r.ended; });
    tls.stop();
    serving.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(r.last(), "error");
    EXPECT_EQ(r.errorCode, 0xFFFFFFFFu);
    EXPECT_EQ(served, 0);
}

} // namespace

namespace {

TEST_F(DownloaderTest, WriteFailureReportsThePlatformError)
{
    // A file size limit makes the write fail part-way with EFBIG instead of a signal.
    server.size = 200000;
    server.chunkSize = 20000;
    struct rlimit old
    {
    };
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 50000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    TBrimHttpDownload d;
    d.ResumeBroken = true;
    Recorder r;
    r.attach(d);
    ASSERT_TRUE(d.Download(server.url(), target()));
    const bool ended = waitUntil([&] { return r.ended; });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(ended);
    EXPECT_EQ(r.last(), "error");
    EXPECT_EQ(r.errorCode, quint32(EFBIG));
    // Whatever the partial state claims is really in the file.
    EXPECT_LE(qint64(partialOffset(target())), QFileInfo(target()).size());
    EXPECT_EQ(readFile(target()).left(int(partialOffset(target()))), content(partialOffset(target())));
}

} // namespace
