#pragma once

// Loopback HTTP server with switchable faults, plus helpers for tests that need
// the main-thread event loop.

#include "support/Files.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tasktest {

using testsupport::readFile;
using testsupport::writeFile;

using testsupport::coreApp;
using testsupport::flushQueuedCalls;
using testsupport::settle;
using testsupport::waitUntil;

// Deterministic file content: byte i of a download.
inline QByteArray content(qint64 size, qint64 from = 0)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[i] = char(((from + i) * 131 + 7) % 251);
    return b;
}

struct RequestLog
{
    std::string path;
    std::string range; // "" when no Range header
    std::string agent;
};

// Serves GET /file (and friends) on 127.0.0.1 from a thread of its own.
// /file          the content of `size` bytes, with the switches below
// /missing       404
// /redirect      302 to /file
// /script        `script` as body (for installers)
class TestHttpServer
{
public:
    // Switches; set them before the request.
    std::atomic<bool> rangeSupport {true}; // false: a ranged request gets the whole file with 200
    std::atomic<bool> sendLength {true}; // false: chunked, no Content-Length
    std::atomic<qint64> cutAfter {-1}; // close the connection after this many body bytes
    std::atomic<int> chunkDelayMs {0}; // pause between chunks (slow body)
    std::atomic<int> chunkSize {64 * 1024}; // bytes per chunk handed to the connection
    std::atomic<qint64> size {3000}; // length of /file
    std::atomic<qint64> announcedSize {-1}; // Content-Length to claim instead of `size` (>= 0)
    std::string script;

    TestHttpServer()
    {
        auto &m_server = m_loopback.server;
        m_server.Get("/file",
                     [this](const httplib::Request &req, httplib::Response &res) { serveFile(req, res); });
        m_server.Get("/missing", [this](const httplib::Request &req, httplib::Response &res) {
            log(req);
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        m_server.Get("/redirect", [this](const httplib::Request &req, httplib::Response &res) {
            log(req);
            res.set_redirect("/file", 302);
        });
        m_server.Get("/script", [this](const httplib::Request &req, httplib::Response &res) {
            log(req);
            res.set_content(script, "application/octet-stream");
        });
        m_started = m_loopback.start();
    }

    ~TestHttpServer()
    {
        m_closing = true;
        m_loopback.stop();
    }

    bool started() const { return m_started; }
    int port() const { return m_loopback.port; }
    QString url(const char *path = "/file") const { return m_loopback.qurl(path); }

    std::vector<RequestLog> requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

private:
    void log(const httplib::Request &req)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_log.push_back({req.path, req.get_header_value("Range"), req.get_header_value("User-Agent")});
    }

    void serveFile(const httplib::Request &req, httplib::Response &res)
    {
        log(req);
        qint64 start = 0;
        const std::string range = req.get_header_value("Range");
        // The server's own range handling is kept out of the way so the faults are ours.
        const_cast<httplib::Request &>(req).ranges.clear();
        const qint64 total = size;
        if (rangeSupport && range.rfind("bytes=", 0) == 0) {
            start = std::stoll(range.substr(6));
            if (start > total) {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(total));
                return;
            }
            res.status = 206;
            res.set_header("Content-Range",
                           "bytes " + std::to_string(start) + "-" + std::to_string(total - 1) + "/"
                               + std::to_string(total));
        } else {
            res.status = 200;
        }
        const qint64 length = total - start;
        const qint64 cut = cutAfter;
        auto provide = [this, start, length, cut](size_t offset, httplib::DataSink &sink) {
            if (m_closing)
                return false;
            const qint64 limit = cut >= 0 ? std::min(cut, length) : length;
            if (qint64(offset) >= limit)
                return false; // cut off, or more was announced than there is
            const qint64 n = std::min<qint64>(chunkSize, limit - qint64(offset));
            const int delay = chunkDelayMs;
            if (delay > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            const QByteArray data = content(n, start + qint64(offset));
            return sink.write(data.constData(), size_t(data.size()));
        };
        if (sendLength) {
            const qint64 announced = announcedSize >= 0 ? qint64(announcedSize) : length;
            res.set_content_provider(
                size_t(announced), "application/octet-stream",
                [provide](size_t offset, size_t, httplib::DataSink &sink) { return provide(offset, sink); });
        } else {
            auto sent = std::make_shared<size_t>(0);
            res.set_chunked_content_provider(
                "application/octet-stream", [this, provide, sent, length](size_t, httplib::DataSink &sink) {
                    if (qint64(*sent) >= length) {
                        sink.done();
                        return true;
                    }
                    const size_t before = *sent;
                    const bool ok = provide(before, sink);
                    *sent = before + std::min<size_t>(size_t(int(chunkSize)), length - before);
                    return ok;
                });
        }
    }

    testsupport::LoopbackServer m_loopback;
    bool m_started = false;
    std::atomic<bool> m_closing {false};
    std::mutex m_mutex;
    std::vector<RequestLog> m_log;
};

} // namespace tasktest
