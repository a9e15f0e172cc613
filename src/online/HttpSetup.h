#pragma once

// The program's one HTTP client set-up. Every HTTP exchange (downloads,
// pictures, web API calls, page copies) goes through it, so proxies, TLS
// checks, time-outs, size caps and the accepted protocols are the same
// everywhere; each caller only states its own specifics.

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>

// libcurl's own handle type, so this header does not need libcurl's.
typedef void CURL;

namespace online {

enum class Redirects {
    None, // a redirect answer is the answer
    Follow, // followed, to http or https
    FollowKeepTls, // followed, but an https start never falls back to plain http
};

struct HttpOptions
{
    // User-Agent text; empty sends none.
    QByteArray agent;
    // Time allowed to set up the connection; 0 leaves libcurl's own default.
    long connectTimeoutMs = 30000;
    // A transfer that receives less than one byte per second for this long is
    // abandoned; 0 never abandons a slow transfer.
    long stallTimeoutMs = 60000;
    // Time allowed for the whole exchange; 0 is no limit.
    long totalTimeoutMs = 0;
    // Largest body accepted, in bytes; a larger one ends the transfer as a
    // failure rather than being held. Negative: no cap.
    qint64 maxBytes = 32 * 1024 * 1024;
    Redirects redirects = Redirects::Follow;
    long maxRedirects = 10;
    // Honour the proxy environment variables (http_proxy, https_proxy,
    // no_proxy, ...); false always connects directly.
    bool useProxy = true;
    // Extra request headers ("Name: value"; "Name:" removes a default one).
    QList<QByteArray> headers;
    // Set from another thread to abandon the exchange within about a second.
    const std::atomic<bool> *cancel = nullptr;
    // The certificate authorities TLS answers are checked against: a PEM file
    // that replaces the system's store for this exchange. Empty: the program's
    // choice (setTrustedCaFile), else the system's store.
    QString caFile;
};

// A PEM file of certificate authorities that replaces the system's store for
// every exchange that names none itself; empty returns to the system's store.
// For a vendor with a private authority, and for tests with a scratch one.
// Any thread; exchanges that start afterwards use it.
void setTrustedCaFile(const QString &pemFile);
QString trustedCaFile();

struct HttpResponse
{
    // True when a complete answer arrived, whatever its status.
    bool ok = false;
    long status = 0;
    // Empty when the body went to a sink.
    QByteArray body;
    QByteArray contentType;
    // Where the answer came from after redirects.
    QByteArray effectiveUrl;
    bool tooLarge = false;
    bool cancelled = false;
    // Why the exchange failed; empty when ok.
    QString error;
    // The operating system's error number of a failed connection, when known.
    int osError = 0;
};

// Receives the body in pieces; returning false abandons the transfer.
using HttpSink = std::function<bool(const char *data, qsizetype size)>;

// Prepares the HTTP library once per process. Call it on the main thread
// before the first worker starts an exchange; the calls below do it too.
void ensureHttpReady();

// Applies the common set-up to a fresh handle for url: accepted protocols
// (http and https only), HTTP/1.1, TLS verification, proxy, time-outs, redirect rule,
// agent, no signals. The caller owns the handle and sets its own callbacks;
// headers, cap and cancel flag of the options are left to the caller.
// False when the handle refused an option.
bool applyHttpSetup(CURL *curl, const QByteArray &url, const HttpOptions &options);

// A GET of url, body into memory.
HttpResponse HttpGet(const QString &url, const HttpOptions &options = {});
// A GET whose body goes piece by piece to sink (still under the size cap).
HttpResponse HttpGet(const QString &url, const HttpOptions &options, const HttpSink &sink);
// A POST of body with the given content type.
HttpResponse HttpPost(const QString &url, const QByteArray &body, const QByteArray &contentType,
                      const HttpOptions &options = {});

} // namespace online
