#pragma once

// The vendor's web site: home and help pages, the store's recommendation and
// purchase pages, the web API ("software_top3"), program icons and installers,
// all on one host. Every address it hands out names the host and port it
// listens on.

#include "Catalogue.h"
#include "StorePage.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace orvane::site {

// Reverses the client's parameter obscuring (hex, key XOR, Base64 with line
// breaks, form encoding). False when Value is not an obscured value.
bool Unobscure(const QByteArray &Value, QString &Plain);
// A parameter as the client sent it: obscured or plain.
QString ParamValue(const std::string &Value);
// Makes a text survive the client's URL-decoding of the answer unchanged.
QByteArray AnswerEncode(const QByteArray &Utf8);
// Whether an If-Range validator names this very version of a file: its strong
// entity tag, or exactly the Last-Modified text sent for it. Weak tags never do.
bool IfRangeMatches(const QString &Validator, const QString &ETag, const QDateTime &Modified);
// A time as HTTP headers write it ("Sun, 06 Nov 1994 08:49:37 GMT").
QString HttpDate(const QDateTime &Time);

class SiteServer
{
public:
    // An installer as one client address gets it.
    struct ServedInstaller
    {
        QByteArray Bytes;
        QString Sha256; // lower-case hexadecimal
        std::string ETag;
    };

    SiteServer();
    ~SiteServer();
    SiteServer(const SiteServer &) = delete;
    SiteServer &operator=(const SiteServer &) = delete;

    // Serves HTTPS with the certificate (chain) and private key of these PEM
    // files instead of plain HTTP; call before Load. False with Error set when
    // they cannot be used.
    bool UseTls(const QString &CertFile, const QString &KeyFile, QString &Error);
    bool Secure() const { return m_tls; }
    // Loads the catalogue, pages and icons from Root; false with Error set when
    // something needed is missing or malformed.
    bool Load(const QString &Root, QString &Error);
    // Binds to Address:Port (0 picks a free port) without sharing the port
    // with another listener; returns the port, or -1 with BindError() set.
    int Bind(const std::string &Address, int Port);
    int BindError() const { return m_bindError; }
    // Serves until Stop(); call after Bind.
    bool Listen();
    void Stop();
    bool IsRunning() const { return m_server->is_running(); }

    // The recommendations for Keywords as the JSON envelope (not encoded), with
    // texts and page addresses in Lang.
    QByteArray Top3Json(const QString &Keywords, const std::string &Base,
                        Language Lang = Language::English) const;
    // The answer to a web API call with these (decoded) parameters; a failure
    // envelope for anything the API does not understand.
    QByteArray ApiAnswer(const httplib::Params &Params, const std::string &Base) const;

    const QVector<Program> &Programs() const { return m_programs; }
    // The recommendation page as served to a client that reached Base.
    std::string RecommendationPage(const std::string &Base, Language Lang = Language::English) const;
    // The value of Last-Modified for every installer of this run.
    QString InstallersModified() const;

    // P's installer as served to a client that reached the site at Base, with
    // its digest; null when P has none. The installers name the address they
    // came from, so each address has its own bytes and digest: the digests of
    // the address the site listens on are computed when it binds, others when
    // first asked for.
    std::shared_ptr<const ServedInstaller> InstallerAt(const Program &P, const std::string &Base) const;
    // Just the digest of that installer; empty when P has none.
    QString DigestAt(const Program &P, const std::string &Base) const;
    // The digest of every installer as served at Base, by program id.
    InstallerDigests DigestsAt(const std::string &Base) const;
    // "http://host:port" (or https) as a client reaching the site at Host sees it.
    std::string BaseWithHost(const std::string &Host) const;

private:
    std::string BaseFor(const httplib::Request &Req) const;
    QVector<const Program *> Choose(const QString &Keywords, bool Free) const;
    const Program *FindProgram(const std::string &Id) const;
    void Routes();

    std::unique_ptr<httplib::Server> m_server;
    bool m_tls = false;
    mutable std::mutex m_installersMutex;
    struct Validators
    {
        QString Sha256;
        std::string ETag;
    };
    // By program id and client address.
    mutable std::map<std::pair<QString, std::string>, Validators> m_installers;
    std::string m_bindAddress = "127.0.0.1";
    int m_port = -1;
    int m_bindError = 0;
    QVector<Program> m_programs; // in rank order
    QByteArray m_home, m_help, m_storeTemplate, m_buyTemplate;
    // Installers derive from the catalogue read at this time, so it is their
    // Last-Modified: an If-Range date from an earlier run never matches.
    QDateTime m_loaded;
};

} // namespace orvane::site
