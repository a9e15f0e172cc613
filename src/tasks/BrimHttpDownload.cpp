#include "tasks/BrimHttpDownload.h"

#include "online/HttpSetup.h"
#include "platform/FileIO.h"
#include "platform/MainThread.h"
#include "tasks/Clock.h"
#include "tasks/DownloadParsing.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <atomic>
#include <condition_variable>
#include <curl/curl.h>
#include <mutex>
#include <vector>

namespace brimhttp {

namespace {

constexpr quint64 kMaxSize = 0xFFFFFFFFull;
constexpr long kCurlBufferSize = 64 * 1024;

quint32 osError(int code)
{
    return code == 0 ? TBrimHttpDownload::UnknownError : quint32(code);
}

void putLe32(unsigned char *p, quint32 v)
{
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}

bool writeLe32(platform::RawFile &file, quint32 value, qint64 offset)
{
    unsigned char b[4];
    putLe32(b, value);
    return file.writeAt(offset, reinterpret_cast<const char *>(b), 4);
}

// Encodes characters that may not appear raw in a request target.
QByteArray encodeTarget(const QString &object)
{
    const QByteArray utf8 = object.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`'
            || c == '{' || c == '|' || c == '}') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

// The URL handed to the transfer: plain-HTTP URLs are split into host and
// object the classic way; https URLs go through untouched so they use TLS.
struct TargetUrl
{
    QByteArray url;
    bool secure = false;
    bool valid = false;
};

TargetUrl makeTargetUrl(const QString &httpUrl)
{
    TargetUrl t;
    QString rest = httpUrl;
    if (httpUrl.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        rest = httpUrl.mid(8);
        t.secure = true;
    } else if (httpUrl.toLower().contains(QLatin1String("http://"))) {
        rest = httpUrl.mid(7);
    }
    const qsizetype slash = rest.indexOf(u'/');
    if (slash <= 0)
        return t; // no host: the connection step fails
    QString host = rest.left(slash);
    const QString object = rest.mid(slash);
    if (host.isEmpty())
        return t;
    // Characters that would change the meaning of the URL cannot be part of a host name.
    for (QChar c : host) {
        if (c.unicode() <= 0x20 || c == u'@' || c == u'?' || c == u'#' || c == u'\\' || c.unicode() == 0x7F)
            return t;
    }
    t.url
        = (t.secure ? QByteArray("https://") : QByteArray("http://")) + host.toUtf8() + encodeTarget(object);
    t.valid = true;
    return t;
}

struct ProcessEvent
{
    quint32 current;
    quint32 total;
    quint32 speed;
};

// State shared by the component (main thread) and its worker. The worker
// never touches the component itself; only hand-offs that run on the main
// thread reach it, and those run only while the run's channel is open, that
// is, while the component exists and has not ended the run.
struct Run
{
    std::mutex m;
    std::condition_variable cv;
    std::atomic<bool> stop {false};
    std::atomic<bool> paused {false};
    CURLM *multi = nullptr; // guarded by m; the worker clears it before cleanup

    // Set before the worker starts; dereferenced only inside hand-offs.
    TBrimHttpDownload *owner = nullptr;
    std::shared_ptr<platform::HandOff> handOff;

    // Set before the worker starts; read-only afterwards.
    bool resumeBroken = false;
    bool batch = false;
    QStringList urls;
    QStringList files;

    // Written by the error handler on the main thread, read by the worker after the hand-off.
    bool continueNext = true;

    static void setIdle(TBrimHttpDownload *d) { d->m_busy = d->m_paused = false; }
    static void setOrigin(TBrimHttpDownload *d, const QString &plainHost, quint32 resumedAt)
    {
        d->m_lastPlainHost = plainHost;
        d->m_lastResumeOffset = resumedAt;
    }
    static bool isPaused(const TBrimHttpDownload *d) { return d->m_paused; }

    void requestStop()
    {
        std::lock_guard<std::mutex> lock(m);
        stop = true;
        paused = false;
        if (multi)
            curl_multi_wakeup(multi);
        cv.notify_all();
    }

    // Runs fn(owner) on the main thread and waits for it. False when the
    // hand-off was dropped, or the handler ended the run.
    bool deliver(std::function<void(TBrimHttpDownload *)> fn)
    {
        if (stop)
            return false;
        TBrimHttpDownload *const d = owner;
        return handOff->deliver([d, &fn] { fn(d); }) && !stop;
    }
};

namespace {

// One file's transfer on the worker thread.
class Transfer
{
public:
    Transfer(const std::shared_ptr<Run> &run, int index, int count, const QString &url, const QString &file)
        : m_run(run)
        , m_index(index)
        , m_count(count)
        , m_url(url)
        , m_file(file)
    { }

    ~Transfer() { closeFiles(); }

    // True when the file was received completely.
    bool execute();

private:
    // Whether and where the transfer resumes, from the partial-state file beside
    // the target (created for a fresh resumable transfer). range is the request
    // header when it resumes past 0. False when an error was reported.
    bool decideResume(QByteArray &range);
    // Runs the transfer on multi until it ends or the run stops; takes ownership
    // of multi. loopFailed when the loop ended with the transfer still running.
    CURLcode perform(CURLM *multi, bool &loopFailed);

    enum class Failure { None, Status, File, Overflow, Range };

    bool stopped() const { return m_run->stop; }
    bool reportError(quint32 code);
    bool finish(bool success);
    bool beginBody();
    size_t onData(const char *data, size_t size);
    void onHeader(const char *data, size_t size);
    bool flushProgress();
    void waitWhilePaused();
    void closeFiles();
    void noteAnswerOrigin();

    static size_t writeCallback(char *data, size_t size, size_t nmemb, void *user)
    {
        return static_cast<Transfer *>(user)->onData(data, size * nmemb);
    }
    static size_t headerCallback(char *data, size_t size, size_t nmemb, void *user)
    {
        static_cast<Transfer *>(user)->onHeader(data, size * nmemb);
        return size * nmemb;
    }

    std::shared_ptr<Run> m_run;
    const int m_index;
    const int m_count;
    const QString m_url;
    const QString m_file;

    CURL *m_easy = nullptr;
    platform::RawFile m_out;
    platform::RawFile m_rb;
    quint32 m_offset = 0;
    quint32 m_current = 0;
    quint32 m_total = 0;
    bool m_haveLength = false;
    long m_expectedStatus = 200;
    bool m_started = false;
    Failure m_failure = Failure::None;
    quint32 m_pendingError = 0;
    int m_osError = 0;
    qint64 m_rangeStart = -1; // from Content-Range of the final response
    // The first answer on the way that came over plain HTTP from another machine.
    QString m_plainHost;

    bool m_measuring = false;
    qint64 m_lastTick = 0;
    quint32 m_lastSize = 0;
    quint32 m_speed = 0;
    std::vector<ProcessEvent> m_progress;
};

void Transfer::noteAnswerOrigin()
{
    if (!m_plainHost.isEmpty())
        return;
    const char *effective = nullptr;
    const char *peer = nullptr;
    curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &effective);
    curl_easy_getinfo(m_easy, CURLINFO_PRIMARY_IP, &peer);
    const QUrl url(QString::fromUtf8(effective ? effective : ""));
    // libcurl checks the certificate of every TLS answer (the HTTP set-up
    // turns verification on), so only plain answers are in doubt.
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return;
    const QString host = url.host().isEmpty() ? QStringLiteral("?") : url.host();
    if (!tasks::FromThisMachine(host, QString::fromLatin1(peer ? peer : "")))
        m_plainHost = host;
}

void Transfer::closeFiles()
{
    m_out.close();
    m_rb.close();
}

bool Transfer::reportError(quint32 code)
{
    closeFiles();
    if (stopped())
        return false;
    const std::shared_ptr<Run> run = m_run;
    const bool batch = run->batch;
    const int index = m_index, count = m_count;
    const QString url = m_url, file = m_file;
    run->deliver([run, batch, index, count, url, file, code](TBrimHttpDownload *d) {
        if (!batch)
            Run::setIdle(d);
        bool cont = run->continueNext;
        if (d->OnError) {
            const auto handler = d->OnError;
            handler(d, index, count, url, file, code, cont);
        }
        run->continueNext = cont;
    });
    return false;
}

bool Transfer::finish(bool success)
{
    closeFiles();
    if (stopped())
        return false;
    if (success && m_run->resumeBroken)
        QFile::remove(TBrimHttpDownload::PartialStateFileName(m_file));
    if (!success)
        return reportError(TBrimHttpDownload::UnknownError);
    const std::shared_ptr<Run> run = m_run;
    const bool batch = run->batch;
    const int index = m_index, count = m_count;
    const QString url = m_url, file = m_file;
    const quint32 size = m_total;
    const QString plainHost = m_plainHost;
    const quint32 resumedAt = m_offset;
    run->deliver([batch, index, count, url, file, size, plainHost, resumedAt](TBrimHttpDownload *d) {
        if (!batch)
            Run::setIdle(d);
        Run::setOrigin(d, plainHost, resumedAt);
        if (d->OnFileCompleted) {
            const auto handler = d->OnFileCompleted;
            handler(d, index, count, url, file, size);
        }
    });
    return true;
}

void Transfer::onHeader(const char *data, size_t size)
{
    const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
    if (line.startsWith("HTTP/")) {
        m_rangeStart = -1; // a new response (redirects, interim answers) starts over
        noteAnswerOrigin();
        return;
    }
    if (const std::optional<tasks::ContentRange> range = tasks::ParseContentRangeLine(line))
        m_rangeStart = range->First;
}

// Status check, expected size and opening of the target, once the answer's headers are in.
bool Transfer::beginBody()
{
    long status = 0;
    if (curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0) {
        m_failure = Failure::File;
        m_osError = 0;
        return false;
    }
    if (status != m_expectedStatus) {
        m_failure = Failure::Status;
        m_pendingError = quint32(status);
        return false;
    }
    // A partial answer for another offset than asked for would splice the file wrongly.
    if (status == 206 && m_rangeStart >= 0 && m_rangeStart != qint64(m_offset)) {
        m_failure = Failure::Range;
        return false;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0) {
        if (quint64(m_offset) + quint64(length) > kMaxSize) {
            m_failure = Failure::Overflow;
            return false;
        }
        m_total = m_offset + quint32(length);
        m_haveLength = true;
        if (m_rb.isOpen() && !writeLe32(m_rb, m_total, 4)) {
            m_failure = Failure::File;
            m_osError = m_rb.error();
            return false;
        }
    }
    if (!m_out.open(m_file, platform::RawFile::Mode::WriteCreate) || !m_out.resizeAndSeek(m_offset)) {
        m_failure = Failure::File;
        m_osError = m_out.error();
        return false;
    }
    m_current = m_offset;
    m_started = true;
    return true;
}

void Transfer::waitWhilePaused()
{
    std::unique_lock<std::mutex> lock(m_run->m);
    m_run->cv.wait(lock, [&] { return !m_run->paused || m_run->stop; });
}

bool Transfer::flushProgress()
{
    if (m_progress.empty())
        return !stopped();
    std::vector<ProcessEvent> events;
    events.swap(m_progress);
    const std::shared_ptr<Run> run = m_run;
    const int index = m_index, count = m_count;
    const QString url = m_url, file = m_file;
    return run->deliver([run, index, count, url, file, events = std::move(events)](TBrimHttpDownload *d) {
        for (const ProcessEvent &e : events) {
            // The handler may stop, pause or even destroy the downloader.
            if (run->stop)
                return;
            if (Run::isPaused(d) || !d->OnProcess)
                continue;
            const auto handler = d->OnProcess;
            handler(d, index, count, url, file, e.current, e.total, e.speed);
        }
    });
}

size_t Transfer::onData(const char *data, size_t size)
{
    if (stopped())
        return 0;
    if (!m_started && (m_failure != Failure::None || !beginBody()))
        return 0;
    // The data arrives in 512-byte blocks, each counted and reported on its own. The
    // blocks of one received chunk reach the disk in one write, followed by one
    // partial-state rewrite, before any of their events: the partial state never
    // claims bytes the file does not hold, and the system calls per megabyte drop
    // a hundredfold.
    size_t pos = 0;
    size_t written = 0;
    auto commit = [&]() -> bool {
        if (pos == written)
            return true;
        if (!m_out.write(data + written, qint64(pos - written))) {
            m_failure = Failure::File;
            m_osError = m_out.error();
            return false;
        }
        if (m_rb.isOpen() && !writeLe32(m_rb, m_current, 0)) {
            m_failure = Failure::File;
            m_osError = m_rb.error();
            return false;
        }
        written = pos;
        return true;
    };
    while (pos < size) {
        if (m_run->paused) {
            if (!commit() || !flushProgress())
                return 0;
            waitWhilePaused();
        }
        if (stopped()) {
            commit();
            return 0;
        }
        const size_t len = std::min(size - pos, size_t(TBrimHttpDownload::BlockSize));
        if (quint64(m_current) + len > kMaxSize) {
            if (commit())
                m_failure = Failure::Overflow;
            return 0;
        }
        m_current += quint32(len);
        pos += len;
        const qint64 now = tasks::monotonicMs();
        if (!m_measuring) {
            m_measuring = true;
            m_lastTick = now;
            m_lastSize = m_offset;
            m_speed = 0;
        } else if (now - m_lastTick >= 1000) {
            m_speed
                = tasks::divRoundHalfEven(quint64(m_current - m_lastSize) * 1000, quint64(now - m_lastTick));
            m_lastTick = now;
            m_lastSize = m_current;
        }
        m_progress.push_back({m_current, m_total, m_speed});
    }
    if (!commit() || !flushProgress())
        return 0;
    return size;
}

bool Transfer::decideResume(QByteArray &range)
{
    const QString rbPath = TBrimHttpDownload::PartialStateFileName(m_file);
    m_expectedStatus = 200;
    m_offset = 0;
    if (m_run->resumeBroken) {
        if (QFileInfo::exists(rbPath)) {
            char b[4];
            const bool opened = m_rb.open(rbPath, platform::RawFile::Mode::ReadWrite);
            const qint64 n = opened ? m_rb.readAt(0, b, 4) : -1;
            const std::optional<tasks::PartialState> state
                = n >= 0 ? tasks::ParsePartialState(QByteArrayView(b, n)) : std::nullopt;
            if (!state)
                return reportError(osError(n < 0 ? m_rb.error() : 0));
            m_offset = state->Written;
            // Bytes the target no longer holds cannot be resumed into it: start over.
            const QFileInfo target(m_file);
            const qint64 have = target.exists() ? target.size() : -1;
            if (tasks::ResumeOffset(m_offset, have) != m_offset) {
                m_offset = 0;
                if (!writeLe32(m_rb, 0, 0) || !writeLe32(m_rb, 0, 4))
                    return reportError(osError(m_rb.error()));
            } else if (m_offset > 0) {
                // An offset of 0 (the last attempt received nothing, say it could not
                // connect) stays a fresh request, so servers without ranges still serve it.
                m_expectedStatus = 206;
                range = "RANGE: bytes=" + QByteArray::number(m_offset) + "-";
            }
        } else {
            if (!m_rb.open(rbPath, platform::RawFile::Mode::ReadWriteCreateTruncate))
                return reportError(osError(m_rb.error()));
            const char zeros[8] = {};
            if (!m_rb.write(zeros, sizeof zeros))
                return reportError(osError(m_rb.error()));
        }
    }
    return true;
}

CURLcode Transfer::perform(CURLM *multi, bool &loopFailed)
{
    curl_multi_add_handle(multi, m_easy);
    {
        std::lock_guard<std::mutex> lock(m_run->m);
        m_run->multi = multi;
    }
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running && !stopped()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (!running || stopped())
            break;
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    int queued = 0;
    while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE)
            result = msg->data.result;
    }
    {
        std::lock_guard<std::mutex> lock(m_run->m);
        m_run->multi = nullptr;
    }
    curl_multi_remove_handle(multi, m_easy);
    curl_multi_cleanup(multi);
    loopFailed = running != 0;
    return result;
}

bool Transfer::execute()
{
    // Directory of the target.
    const QString dir = QFileInfo(m_file).absolutePath();
    if (const int err = platform::makeDirectories(dir))
        return reportError(osError(err));
    if (stopped())
        return false;

    const TargetUrl target = makeTargetUrl(m_url);
    m_easy = curl_easy_init();
    if (!m_easy)
        return reportError(TBrimHttpDownload::UnknownError);
    struct EasyGuard
    {
        CURL *&h;
        curl_slist *headers = nullptr;
        ~EasyGuard()
        {
            if (h)
                curl_easy_cleanup(h);
            h = nullptr;
            curl_slist_free_all(headers);
        }
    } guard {m_easy};

    if (!target.valid)
        return reportError(TBrimHttpDownload::UnknownError);

    QByteArray range;
    if (!decideResume(range))
        return false;
    if (!range.isEmpty())
        guard.headers = curl_slist_append(nullptr, range.constData());
    if (stopped())
        return false;

    online::HttpOptions options;
    options.agent = "BrimHttpDownload_" + QByteArray::number(qint32(tasks::tickCount())) + "_Agent";
    // Once on TLS, a redirect may not fall back to plain HTTP.
    options.redirects = online::Redirects::FollowKeepTls;
    options.maxRedirects = 20;
    // A paused transfer holds the connection without reading: no stall limit.
    // The size limit is the partial-state format's own, checked while writing.
    options.stallTimeoutMs = 0;
    options.maxBytes = -1;
    if (!online::applyHttpSetup(m_easy, target.url, options))
        return reportError(TBrimHttpDownload::UnknownError);
    curl_easy_setopt(m_easy, CURLOPT_BUFFERSIZE, kCurlBufferSize);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::writeCallback);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &Transfer::headerCallback);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    if (guard.headers)
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, guard.headers);

    CURLM *multi = curl_multi_init();
    if (!multi)
        return reportError(TBrimHttpDownload::UnknownError);
    bool loopFailed = false;
    CURLcode result = perform(multi, loopFailed);

    if (stopped()) {
        closeFiles();
        return false;
    }
    if (loopFailed && m_failure == Failure::None)
        result = CURLE_RECV_ERROR;
    if (!m_started && m_failure == Failure::None) {
        if (result != CURLE_OK) {
            long err = 0;
            curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &err);
            return reportError(osError(int(err)));
        }
        beginBody(); // an empty body
    }
    switch (m_failure) {
    case Failure::Status:
        return reportError(m_pendingError);
    case Failure::File:
        return reportError(osError(m_osError));
    case Failure::Overflow:
    case Failure::Range:
        return finish(false);
    case Failure::None:
        break;
    }
    if (!flushProgress())
        return false;
    return finish(m_haveLength && m_current == m_total);
}

void workerMain(std::shared_ptr<Run> run)
{
    if (!run->batch) {
        const QString url = run->urls.value(0), file = run->files.value(0);
        if (run->deliver([url, file](TBrimHttpDownload *d) {
                if (d->OnStart) {
                    const auto handler = d->OnStart;
                    handler(d, 0, 0, url, file);
                }
            })) {
            Transfer(run, 0, 0, url, file).execute();
        }
        return;
    }
    const int total = int(std::min(run->urls.size(), run->files.size()));
    quint32 successNum = 0;
    run->continueNext = true;
    for (int i = 0; i < total && !run->stop; ++i) {
        const QString url = run->urls.at(i), file = run->files.at(i);
        if (!run->deliver([i, total, url, file](TBrimHttpDownload *d) {
                if (d->OnStart) {
                    const auto handler = d->OnStart;
                    handler(d, i, total, url, file);
                }
            }))
            return;
        if (Transfer(run, i, total, url, file).execute())
            ++successNum;
        else if (run->stop || !run->continueNext)
            break;
    }
    if (run->stop)
        return;
    run->deliver([successNum, total](TBrimHttpDownload *d) {
        Run::setIdle(d);
        if (d->OnFilesCompleted) {
            const auto handler = d->OnFilesCompleted;
            handler(d, successNum, quint32(total));
        }
    });
}

} // namespace
} // namespace brimhttp

TBrimHttpDownload::TBrimHttpDownload()
{
    online::ensureHttpReady();
}

TBrimHttpDownload::~TBrimHttpDownload()
{
    endWorker();
}

// Ends the previous worker: asks it to stop, then waits for it, unless we are
// inside one of its own hand-offs (a handler reached us); then it is left to
// finish alone, touching nothing but its shared state.
void TBrimHttpDownload::endWorker()
{
    const bool insideHandOff = m_channel && m_channel->delivering();
    if (m_run)
        m_run->requestStop();
    if (m_channel)
        m_channel->cancel(); // a worker waiting in a hand-off is released
    if (m_thread.joinable()) {
        if (insideHandOff)
            m_thread.detach();
        else
            m_thread.join();
    }
    m_channel.reset();
    m_run.reset();
}

bool TBrimHttpDownload::startRun(bool batch)
{
    if (m_busy)
        return false;
    endWorker(); // the previous run has ended; free its worker
    auto run = std::make_shared<brimhttp::Run>();
    m_channel = std::make_unique<platform::MainThreadChannel>();
    run->owner = this;
    run->handOff = m_channel->handOff();
    run->resumeBroken = ResumeBroken;
    run->batch = batch;
    if (batch) {
        run->urls = HttpUrls;
        run->files = LocalFiles;
    } else {
        run->urls = QStringList {HttpUrl};
        run->files = QStringList {LocalFile};
    }
    m_busy = true;
    m_paused = false;
    m_run = run;
    m_thread = std::thread(brimhttp::workerMain, run);
    return true;
}

bool TBrimHttpDownload::Download(const QString &httpUrl, const QString &localFile)
{
    if (m_busy)
        return false;
    HttpUrl = httpUrl;
    LocalFile = localFile;
    return startRun(false);
}

bool TBrimHttpDownload::DownloadList()
{
    return startRun(true);
}

void TBrimHttpDownload::Stop()
{
    if (!m_busy)
        return;
    endWorker();
    m_busy = false;
    m_paused = false;
    if (OnStopped) {
        const auto handler = OnStopped;
        handler(this);
    }
}

void TBrimHttpDownload::Pause()
{
    if (!m_busy || m_paused || !m_run)
        return;
    {
        std::lock_guard<std::mutex> lock(m_run->m);
        m_run->paused = true;
    }
    m_paused = true;
    if (OnPaused) {
        const auto handler = OnPaused;
        handler(this);
    }
}

void TBrimHttpDownload::Resume()
{
    if (!m_busy || !m_paused || !m_run)
        return;
    {
        std::lock_guard<std::mutex> lock(m_run->m);
        m_run->paused = false;
        m_run->cv.notify_all();
    }
    m_paused = false;
    if (OnResumed) {
        const auto handler = OnResumed;
        handler(this);
    }
}
