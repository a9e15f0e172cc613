#include "SiteServer.h"

#include "Installer.h"
#include "StorePage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <regex>
#include <sys/socket.h>

namespace orvane::site {

namespace {

constexpr char ObscureKey[] = "qunvelto";

int HexDigit(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1; // the client writes upper case only
}

bool ReadFile(const QString &Path, QByteArray &Bytes)
{
    QFile F(Path);
    if (!F.open(QIODevice::ReadOnly))
        return false;
    Bytes = F.readAll();
    return true;
}

// Words of a text for matching, lower case.
QSet<QString> Words(const QString &Text)
{
    static const QRegularExpression Split(QStringLiteral("[^\\p{L}\\p{N}]+"));
    QSet<QString> Result;
    for (const QString &W : Text.toLower().split(Split, Qt::SkipEmptyParts))
        if (W.size() >= 2)
            Result.insert(W);
    return Result;
}

} // namespace

bool Unobscure(const QByteArray &Value, QString &Plain)
{
    if (Value.isEmpty() || Value.size() % 2 != 0)
        return false;
    QByteArray Base64;
    Base64.reserve(Value.size() / 2);
    for (qsizetype I = 0; I < Value.size(); I += 2) {
        const int Hi = HexDigit(Value[I]), Lo = HexDigit(Value[I + 1]);
        if (Hi < 0 || Lo < 0)
            return false;
        const qsizetype Index = I / 2;
        Base64.append(char((Hi * 16 + Lo) ^ ObscureKey[Index % 8]));
    }
    // Line breaks stand exactly after every 76 characters; anything else means
    // this was never an obscured value.
    QByteArray Joined;
    for (qsizetype Pos = 0; Pos < Base64.size();) {
        const QByteArray Line = Base64.mid(Pos, 76);
        Joined += Line;
        Pos += Line.size();
        if (Line.size() == 76 && Pos < Base64.size()) {
            if (Base64.mid(Pos, 2) != "\r\n")
                return false;
            Pos += 2;
        }
    }
    if (Joined.isEmpty() || Joined.size() % 4 != 0)
        return false;
    static const QRegularExpression Alphabet(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    if (!Alphabet.match(QString::fromLatin1(Joined)).hasMatch())
        return false;
    const auto Decoded = QByteArray::fromBase64Encoding(Joined, QByteArray::AbortOnBase64DecodingErrors);
    if (!Decoded)
        return false;
    QByteArray Form = *Decoded;
    Form.replace('+', ' ');
    const QByteArray Bytes = QByteArray::fromPercentEncoding(Form);
    QStringDecoder Utf8(QStringDecoder::Utf8);
    Plain = Utf8(Bytes);
    return !Utf8.hasError();
}

QString ParamValue(const std::string &Value)
{
    const QByteArray Raw = QByteArray::fromStdString(Value);
    QString Plain;
    if (Unobscure(Raw, Plain))
        return Plain;
    return QString::fromUtf8(Raw);
}

QByteArray AnswerEncode(const QByteArray &Utf8)
{
    QByteArray Out;
    Out.reserve(Utf8.size());
    static const char Hex[] = "0123456789abcdef";
    for (const char C : Utf8) {
        const auto B = static_cast<unsigned char>(C);
        if (B == '%' || B == '+' || B < 0x20 || B >= 0x7f) {
            Out += '%';
            Out += Hex[B >> 4];
            Out += Hex[B & 15];
        } else {
            Out += C;
        }
    }
    return Out;
}

namespace {

constexpr char HttpDateFormat[] = "ddd, dd MMM yyyy hh:mm:ss 'GMT'";
constexpr int MaxKeywords = 1000; // characters; names of installed programs are far shorter

QByteArray Envelope(const QString &Message)
{
    return QJsonDocument(QJsonObject {{"result", "error"}, {"message", Message}})
        .toJson(QJsonDocument::Compact);
}

// Which methods each path of the site answers; anything else is 404.
struct Route
{
    std::regex Path;
    std::vector<std::string> Methods;
};

const std::vector<Route> &RouteTable()
{
    static const std::vector<std::string> Read {"GET", "HEAD"};
    static const std::vector<Route> Table {
        {std::regex(R"(/)"), Read},
        {std::regex(R"(/help\.html)"), Read},
        {std::regex(R"(/index\.php/soft_api)"), Read},
        {std::regex(R"(/index\.php/buy)"), Read},
        {std::regex(R"(/index\.php/halvex_api)"), {"GET", "HEAD", "POST"}},
        {std::regex(R"(/icons/[^/]+)"), Read},
        {std::regex(R"(/files/[^/]+)"), Read},
        {std::regex(R"(/files/windows/[^/]+)"), Read},
    };
    return Table;
}

// The language a page request asks for with its "lang" parameter.
Language PageLanguage(const httplib::Request &Req)
{
    return LanguageForParam(QString::fromStdString(Req.get_param_value("lang")));
}

std::string ErrorPage(int Status, const std::string &Base)
{
    const std::string Title = Status == 405 ? "Method not allowed" : "Page not found";
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"UTF-8\"><title>" + Title
        + "</title></head>\n<body style=\"font-family:sans-serif;margin:2em;color:#333\"><h1 "
          "style=\"font-size:18px\">"
        + Title + "</h1>\n<p><a href=\"" + Base + "/\">Halvex Software</a> &middot; <a href=\"" + Base
        + "/index.php/soft_api\">Recommended software</a></p></body></html>\n";
}

} // namespace

SiteServer::SiteServer()
    : m_server(std::make_unique<httplib::Server>())
{ }

SiteServer::~SiteServer() = default;

bool SiteServer::UseTls(const QString &CertFile, const QString &KeyFile, QString &Error)
{
    const QByteArray Cert = QFile::encodeName(CertFile), Key = QFile::encodeName(KeyFile);
    auto Server = std::make_unique<httplib::SSLServer>(Cert.constData(), Key.constData());
    if (!Server->is_valid()) {
        Error = "cannot serve TLS with the certificate " + CertFile + " and the key " + KeyFile
            + " (both PEM files, the key matching the certificate)";
        return false;
    }
    m_server = std::move(Server);
    m_tls = true;
    return true;
}

bool SiteServer::Load(const QString &Root, QString &Error)
{
    const QString Dir = Root.endsWith('/') ? Root : Root + '/';
    QVector<Program> Programs;
    if (!LoadCatalogue(Dir, Programs, Error))
        return false;
    if (!ReadFile(Dir + "index.html", m_home) || !ReadFile(Dir + "help.html", m_help)
        || !ReadFile(Dir + "soft_api.html", m_storeTemplate) || !ReadFile(Dir + "buy.html", m_buyTemplate)) {
        Error = "missing page in " + Dir;
        return false;
    }
    // Every client gets an installer of the same size whatever address it used,
    // also the longest a Host header may give.
    const QString LongestBase = "http://" + QString(255, 'h') + ":65535";
    for (int I = 0; I < Programs.size(); ++I) {
        Program &P = Programs[I];
        if (!P.Downloadable)
            continue;
        QFile Windows(Dir + "windows/" + P.Id + "-setup.exe");
        if (Windows.open(QIODevice::ReadOnly)) {
            P.WindowsInstaller = P.Id + "-setup.exe";
            P.WindowsInstallerBytes = Windows.readAll();
            P.WindowsSha256 = QString::fromLatin1(
                QCryptographicHash::hash(P.WindowsInstallerBytes, QCryptographicHash::Sha256).toHex());
        }
        P.InstallerSize = 0; // measures the script alone
        P.InstallerSize = std::max(InstallerSizeFor(I), qint64(MakeInstaller(P, LongestBase).size()) + 1024);
    }
    m_programs = Programs;
    m_loaded = QDateTime::currentDateTimeUtc();
    m_loaded.setTime(QTime(m_loaded.time().hour(), m_loaded.time().minute(), m_loaded.time().second()));
    Routes();
    return true;
}

int SiteServer::Bind(const std::string &Address, int Port)
{
    m_bindAddress = Address;
    // Only SO_REUSEADDR: it lets a restart bind over connections in TIME_WAIT,
    // but unlike SO_REUSEPORT it never lets a second server share the port.
    m_server->set_socket_options([](socket_t Socket) {
        const int Yes = 1;
        setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &Yes, sizeof Yes);
    });
    errno = 0;
    if (Port == 0)
        m_port = m_server->bind_to_any_port(Address.c_str());
    else
        m_port = m_server->bind_to_port(Address.c_str(), Port) ? Port : -1;
    m_bindError = m_port > 0 ? 0 : errno;
    if (m_port > 0 && Address != "0.0.0.0" && Address != "::" && !Address.empty())
        DigestsAt(BaseWithHost(Address)); // every listed installer's digest, before the first client
    return m_port;
}

bool SiteServer::Listen()
{
    return m_port > 0 && m_server->listen_after_bind();
}

void SiteServer::Stop()
{
    m_server->stop();
}

QString HttpDate(const QDateTime &Time)
{
    return QLocale::c().toString(Time.toUTC(), QString::fromLatin1(HttpDateFormat));
}

namespace {

QString WithoutOws(const QString &Value)
{
    // Only spaces and tabs surround a header value; anything else is part of it.
    qsizetype First = 0, End = Value.size();
    while (First < End && (Value[First] == u' ' || Value[First] == u'\t'))
        ++First;
    while (End > First && (Value[End - 1] == u' ' || Value[End - 1] == u'\t'))
        --End;
    return Value.mid(First, End - First);
}

} // namespace

bool IfRangeMatches(const QString &Validator, const QString &ETag, const QDateTime &Modified)
{
    const QString Value = WithoutOws(Validator);
    if (Value.startsWith('"'))
        return Value == ETag;
    // A date vouches for the bytes only when it is exactly the Last-Modified value
    // sent: a date parsed leniently (another case, another day name, another
    // form) may come from another copy, and a weak tag never vouches for them.
    return Modified.isValid() && !Value.isEmpty() && Value == HttpDate(Modified);
}

QString SiteServer::InstallersModified() const
{
    return HttpDate(m_loaded);
}

std::string SiteServer::BaseWithHost(const std::string &Address) const
{
    std::string Host = Address;
    if (Host.find(':') != std::string::npos && Host.front() != '[')
        Host = "[" + Host + "]";
    return (m_tls ? "https://" : "http://") + Host + ":" + std::to_string(m_port);
}

std::shared_ptr<const SiteServer::ServedInstaller> SiteServer::InstallerAt(const Program &P,
                                                                           const std::string &Base) const
{
    if (!P.Downloadable)
        return nullptr;
    // The bytes are made for every request, as they always were; only their
    // digest and tag are kept, a few bytes per address.
    auto Made = std::make_shared<ServedInstaller>();
    Made->Bytes = MakeInstaller(P, QString::fromStdString(Base));
    const auto Key = std::make_pair(P.Id, Base);
    {
        std::lock_guard<std::mutex> Lock(m_installersMutex);
        if (const auto It = m_installers.find(Key); It != m_installers.end()) {
            Made->Sha256 = It->second.Sha256;
            Made->ETag = It->second.ETag;
            return Made;
        }
    }
    const QByteArray Hash = QCryptographicHash::hash(Made->Bytes, QCryptographicHash::Sha256);
    Made->Sha256 = QString::fromLatin1(Hash.toHex());
    Made->ETag = '"' + Hash.toHex().left(32).toStdString() + '"';
    // Clients may name the site by any address when it listens on all of
    // them: only so many are kept, the rest are hashed again when asked for.
    constexpr size_t MaxKept = 64 * 64;
    std::lock_guard<std::mutex> Lock(m_installersMutex);
    if (m_installers.size() < MaxKept)
        m_installers.emplace(Key, Validators {Made->Sha256, Made->ETag});
    return Made;
}

QString SiteServer::DigestAt(const Program &P, const std::string &Base) const
{
    if (!P.Downloadable)
        return {};
    {
        std::lock_guard<std::mutex> Lock(m_installersMutex);
        if (const auto It = m_installers.find(std::make_pair(P.Id, Base)); It != m_installers.end())
            return It->second.Sha256;
    }
    return InstallerAt(P, Base)->Sha256;
}

InstallerDigests SiteServer::DigestsAt(const std::string &Base) const
{
    InstallerDigests Digests;
    for (const Program &P : m_programs)
        if (P.Downloadable)
            Digests.insert(P.Id, DigestAt(P, Base));
    return Digests;
}

std::string SiteServer::BaseFor(const httplib::Request &Req) const
{
    std::string Host = m_bindAddress;
    if (Host == "0.0.0.0" || Host == "::" || Host.empty()) {
        // Listening on every address: name the one the client reached us by.
        static const QRegularExpression Valid(
            QStringLiteral("^[A-Za-z0-9.\\-]{1,255}$|^\\[[0-9A-Fa-f:.]{2,60}\\]$"));
        std::string Header = Req.get_header_value("Host");
        const auto Colon = Header.rfind(':');
        if (Colon != std::string::npos && Header.find(']', Colon) == std::string::npos)
            Header.resize(Colon);
        Host = Valid.match(QString::fromStdString(Header)).hasMatch() ? Header : "127.0.0.1";
    }
    return BaseWithHost(Host);
}

QVector<const Program *> SiteServer::Choose(const QString &Keywords, bool Free) const
{
    const QSet<QString> Wanted = Words(Keywords);
    QVector<std::pair<int, const Program *>> Scored;
    for (const Program &P : m_programs) {
        if (P.Freeware != Free)
            continue;
        const QSet<QString> Have
            = Words(P.Title + ' ' + P.TitleZh + ' ' + P.Category + ' ' + P.Keywords.join(' '));
        Scored.append({int(QSet<QString>(Wanted).intersect(Have).size()), &P});
    }
    // Best matches first; the ranking breaks ties and fills up when nothing matches.
    std::stable_sort(Scored.begin(), Scored.end(),
                     [](const auto &A, const auto &B) { return A.first > B.first; });
    QVector<const Program *> Result;
    for (int I = 0; I < Scored.size() && I < 3; ++I)
        Result.append(Scored[I].second);
    return Result;
}

const Program *SiteServer::FindProgram(const std::string &Id) const
{
    const QString Key = QString::fromStdString(Id);
    for (const Program &P : m_programs)
        if (P.Id == Key)
            return &P;
    return nullptr;
}

QByteArray SiteServer::Top3Json(const QString &Keywords, const std::string &BaseText, Language Lang) const
{
    const QString Base = QString::fromStdString(BaseText);
    auto Side = [&](bool Free) {
        QJsonArray Items;
        for (const Program *P : Choose(Keywords, Free)) {
            QJsonObject Item {{"title", P->TitleIn(Lang)},
                              {"description", P->DescriptionIn(Lang)},
                              {"icon_url", Base + "/icons/" + P->Icon},
                              {"details_url", WithLanguage(Base + "/index.php/soft_api#" + P->Id, Lang)},
                              {"freeware", P->Freeware}};
            if (P->Downloadable) {
                Item["download_url"] = Base + "/files/" + P->Installer;
                Item["sha256"] = DigestAt(*P, BaseText);
            }
            if (!P->WindowsInstaller.isEmpty()) {
                Item["windows_download_url"] = Base + "/files/windows/" + P->WindowsInstaller;
                Item["windows_sha256"] = P->WindowsSha256;
            }
            if (!P->Freeware)
                Item["purchase_url"] = WithLanguage(Base + P->PurchasePath, Lang);
            Items.append(Item);
        }
        return QJsonObject {
            {"count", Items.size()},
            {"more_url", WithLanguage(Base + "/index.php/soft_api?kind=" + (Free ? "free" : "pay"), Lang)},
            {"items", Items}};
    };
    const QJsonObject Answer {{"result", "success"}, {"top3_pay", Side(false)}, {"top3_free", Side(true)}};
    return QJsonDocument(Answer).toJson(QJsonDocument::Compact);
}

QByteArray SiteServer::ApiAnswer(const httplib::Params &Params, const std::string &Base) const
{
    auto Value = [&](const char *Name, bool &Present) {
        const auto It = Params.find(Name);
        Present = It != Params.end();
        return Present ? ParamValue(It->second) : QString();
    };
    bool HasMethod = false, HasLanguage = false, HasKeywords = false;
    const QString Method = Value("method", HasMethod);
    const QString LanguageText = Value("lng", HasLanguage);
    const QString Keywords = Value("keywords", HasKeywords);
    if (!HasMethod || Method.isEmpty())
        return Envelope("no method given");
    uint Lcid = 0;
    if (HasLanguage) {
        bool Ok = false;
        Lcid = LanguageText.toUInt(&Ok);
        if (!Ok || Lcid > 0xFFFF)
            return Envelope("lng must be a language identifier from 0 to 65535");
    }
    if (Keywords.size() > MaxKeywords)
        return Envelope(QStringLiteral("keywords longer than %1 characters").arg(MaxKeywords));
    if (Method != "software_top3")
        return Envelope("unknown method");
    return Top3Json(Keywords, Base, LanguageForLcid(Lcid));
}

std::string SiteServer::RecommendationPage(const std::string &Base, Language Lang) const
{
    return StorePage(m_storeTemplate, m_programs, QString::fromStdString(Base), {}, {}, Lang, DigestsAt(Base))
        .toStdString();
}

void SiteServer::Routes()
{
    httplib::Server &Server = *m_server;
    Server.set_payload_max_length(64 * 1024);
    Server.set_pre_routing_handler([](const httplib::Request &Req, httplib::Response &Res) {
        for (const Route &R : RouteTable()) {
            if (!std::regex_match(Req.path, R.Path))
                continue;
            if (std::find(R.Methods.begin(), R.Methods.end(), Req.method) != R.Methods.end())
                return httplib::Server::HandlerResponse::Unhandled;
            std::string Allow;
            for (const std::string &M : R.Methods)
                Allow += (Allow.empty() ? "" : ", ") + M;
            Res.status = 405;
            Res.set_header("Allow", Allow);
            return httplib::Server::HandlerResponse::Handled;
        }
        Res.status = 404;
        return httplib::Server::HandlerResponse::Handled;
    });
    Server.set_error_handler([this](const httplib::Request &Req, httplib::Response &Res) {
        // A short page for people who mistype an address; range requests get
        // no body, which a byte range could cut into.
        if ((Res.status == 404 || Res.status == 405) && Res.body.empty() && Req.ranges.empty())
            Res.set_content(ErrorPage(Res.status, BaseFor(Req)), "text/html; charset=UTF-8");
    });

    auto Html = [](httplib::Response &Res, const std::string &Body) {
        Res.set_content(Body, "text/html; charset=UTF-8");
    };
    Server.Get("/", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        QByteArray Page = m_home;
        Page.replace("{{BASE}}", QByteArray::fromStdString(BaseFor(Req)));
        Html(Res, Page.toStdString());
    });
    Server.Get("/help.html", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        QByteArray Page = m_help;
        Page.replace("{{BASE}}", QByteArray::fromStdString(BaseFor(Req)));
        Html(Res, Page.toStdString());
    });
    Server.Get("/index.php/soft_api", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        const std::string Base = BaseFor(Req);
        Html(Res,
             StorePage(m_storeTemplate, m_programs, QString::fromStdString(Base),
                       QString::fromStdString(Req.get_param_value("kind")),
                       QString::fromStdString(Req.get_param_value("cat")), PageLanguage(Req), DigestsAt(Base))
                 .toStdString());
    });
    Server.Get("/index.php/buy", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        const Program *P = FindProgram(Req.get_param_value("id"));
        if (!P || P->Freeware) {
            Res.status = 404;
            return;
        }
        const std::string Base = BaseFor(Req);
        Html(Res,
             PurchasePage(m_buyTemplate, *P, QString::fromStdString(Base), PageLanguage(Req),
                          DigestAt(*P, Base))
                 .toStdString());
    });
    auto Api = [this](const httplib::Request &Req, httplib::Response &Res) {
        Res.set_content(AnswerEncode(ApiAnswer(Req.params, BaseFor(Req))).toStdString(),
                        "application/json; charset=UTF-8");
    };
    Server.Post("/index.php/halvex_api", Api);
    Server.Get("/index.php/halvex_api", Api);
    Server.Get(R"(/icons/([^/]+))", [this](const httplib::Request &Req, httplib::Response &Res) {
        const QString Name = QString::fromStdString(Req.matches[1].str());
        for (const Program &P : m_programs) {
            if (P.Icon == Name) {
                Res.set_header("Cache-Control", "max-age=86400");
                Res.set_content(P.IconBytes.toStdString(), P.IconType.toStdString());
                return;
            }
        }
        Res.status = 404;
    });
    Server.Get(R"(/files/windows/([^/]+))", [this](const httplib::Request &Req, httplib::Response &Res) {
        const QString Name = QString::fromStdString(Req.matches[1].str());
        const auto It = std::find_if(m_programs.begin(), m_programs.end(), [&](const Program &P) {
            return !P.WindowsInstaller.isEmpty() && P.WindowsInstaller == Name;
        });
        if (It == m_programs.end()) {
            Res.status = 404;
            return;
        }
        Res.set_header("Content-Disposition", "attachment; filename=\"" + Name.toStdString() + "\"");
        Res.set_content(It->WindowsInstallerBytes.toStdString(),
                        "application/vnd.microsoft.portable-executable");
    });
    Server.Get(R"(/files/([^/]+))", [this](const httplib::Request &Req, httplib::Response &Res) {
        const QString Name = QString::fromStdString(Req.matches[1].str());
        const auto It = std::find_if(m_programs.begin(), m_programs.end(),
                                     [&](const Program &P) { return P.Downloadable && P.Installer == Name; });
        if (It == m_programs.end()) {
            Res.status = 404;
            return;
        }
        const auto Served = InstallerAt(*It, BaseFor(Req));
        const std::string Body = Served->Bytes.toStdString();
        const std::string &ETag = Served->ETag;
        Res.set_header("ETag", ETag);
        Res.set_header("Last-Modified", InstallersModified().toStdString());
        Res.set_header("Accept-Ranges", "bytes");
        Res.set_header("Content-Disposition", "attachment; filename=\"" + Name.toStdString() + "\"");
        if (!Req.ranges.empty() && Req.has_header("If-Range")
            && !IfRangeMatches(QString::fromStdString(Req.get_header_value("If-Range")),
                               QString::fromStdString(ETag), m_loaded)) {
            // The client holds part of another version: send the whole current
            // file so that a resume never splices two versions together. The
            // server applies ranges after this handler, from this request.
            const_cast<httplib::Request &>(Req).ranges.clear();
        }
        const auto Size = static_cast<ssize_t>(Body.size());
        for (const auto &[First, Last] : Req.ranges) {
            if (First >= Size || (First < 0 && Last == 0)) {
                Res.status = 416;
                Res.set_header("Content-Range", "bytes */" + std::to_string(Size));
                return;
            }
        }
        Res.set_content(Body, "application/octet-stream");
    });
}

} // namespace orvane::site
