#include "SiteServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>

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

QString HtmlEscape(const QString &Text)
{
    return Text.toHtmlEscaped();
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

const QRegularExpression &SafeName()
{
    static const QRegularExpression Re(QStringLiteral("^[A-Za-z0-9_-]+(\\.[A-Za-z0-9]+)?$"));
    return Re;
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

bool SiteServer::Load(const QString &Root, QString &Error)
{
    const QString Dir = Root.endsWith('/') ? Root : Root + '/';
    QByteArray Catalogue;
    if (!ReadFile(Dir + "catalogue.json", Catalogue)) {
        Error = "cannot read " + Dir + "catalogue.json";
        return false;
    }
    QJsonParseError ParseError;
    const QJsonDocument Doc = QJsonDocument::fromJson(Catalogue, &ParseError);
    if (!Doc.isObject() || !Doc.object().value("programs").isArray()) {
        Error = "catalogue.json: no \"programs\" array (" + ParseError.errorString() + ")";
        return false;
    }
    m_programs.clear();
    m_icons.clear();
    m_installers.clear();
    for (const QJsonValue &V : Doc.object().value("programs").toArray()) {
        const QJsonObject O = V.toObject();
        Program P;
        P.Id = O.value("id").toString();
        P.Title = O.value("title").toString();
        P.Description = O.value("description").toString();
        P.Freeware = O.value("freeware").toBool();
        P.Downloadable = O.value("download").toBool(true);
        P.Icon = O.value("icon").toString();
        P.Installer = O.value("installer").toString();
        for (const QJsonValue &K : O.value("keywords").toArray())
            P.Keywords << K.toString();
        if (P.Title.isEmpty() || !SafeName().match(P.Id).hasMatch() || !SafeName().match(P.Icon).hasMatch()
            || !P.Icon.endsWith(".png") || !SafeName().match(P.Installer).hasMatch()
            || !P.Installer.endsWith(".exe")) {
            Error = "catalogue.json: incomplete or unsafe entry \"" + P.Id + "\"";
            return false;
        }
        QByteArray Icon;
        if (!m_icons.count(P.Icon.toStdString())) {
            if (!ReadFile(Dir + "icons/" + P.Icon, Icon)) {
                Error = "missing icon " + P.Icon;
                return false;
            }
            m_icons[P.Icon.toStdString()] = Icon.toStdString();
        }
        m_installers[P.Installer.toStdString()] = MakeInstaller(P, int(m_programs.size())).toStdString();
        m_programs.append(P);
    }
    if (m_programs.isEmpty()) {
        Error = "catalogue.json lists no programs";
        return false;
    }
    if (!ReadFile(Dir + "index.html", m_home) || !ReadFile(Dir + "help.html", m_help)
        || !ReadFile(Dir + "soft_api.html", m_softTemplate)) {
        Error = "missing page in " + Dir;
        return false;
    }
    Routes();
    return true;
}

QByteArray SiteServer::MakeInstaller(const Program &P, int Index)
{
    QString Title = P.Title;
    Title.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9 .-]")));
    QByteArray Script = "#!/bin/sh\n"
                        "# Demonstration installer served by the Halvex reference site.\n"
                        "echo 'Installing "
        + Title.toUtf8()
        + "...'\n"
          "sleep 1\n"
          "echo 'Done.'\n"
          "exit 0\n";
    // Padding so that a download takes long enough to be watched.
    const qsizetype Size = 256 * 1024 + qsizetype(Index) * 32 * 1024;
    const QByteArray Line = "# " + QByteArray(61, '.') + '\n';
    while (Script.size() + Line.size() <= Size)
        Script += Line;
    Script += QByteArray(Size - Script.size() - 1, '#') + '\n';
    return Script;
}

int SiteServer::Bind(const std::string &Address, int Port)
{
    m_bindAddress = Address;
    if (Port == 0)
        m_port = m_server.bind_to_any_port(Address.c_str());
    else
        m_port = m_server.bind_to_port(Address.c_str(), Port) ? Port : -1;
    return m_port;
}

bool SiteServer::Listen()
{
    return m_port > 0 && m_server.listen_after_bind();
}

void SiteServer::Stop()
{
    m_server.stop();
}

std::string SiteServer::BaseFor(const httplib::Request &Req) const
{
    std::string Host = m_bindAddress;
    if (Host == "0.0.0.0" || Host == "::" || Host.empty()) {
        // Listening on every address: name the one the client reached us by.
        static const QRegularExpression Valid(QStringLiteral("^[A-Za-z0-9.\\-]+$|^\\[[0-9A-Fa-f:.]+\\]$"));
        std::string Header = Req.get_header_value("Host");
        const auto Colon = Header.rfind(':');
        if (Colon != std::string::npos && Header.find(']', Colon) == std::string::npos)
            Header.resize(Colon);
        Host = Valid.match(QString::fromStdString(Header)).hasMatch() ? Header : "127.0.0.1";
    } else if (Host.find(':') != std::string::npos) {
        Host = "[" + Host + "]";
    }
    return "http://" + Host + ":" + std::to_string(m_port);
}

QVector<const Program *> SiteServer::Choose(const QString &Keywords, bool Free) const
{
    const QSet<QString> Wanted = Words(Keywords);
    QVector<std::pair<int, const Program *>> Scored;
    for (const Program &P : m_programs) {
        if (P.Freeware != Free)
            continue;
        const QSet<QString> Have = Words(P.Title + ' ' + P.Keywords.join(' '));
        Scored.append({int(QSet<QString>(Wanted).intersect(Have).size()), &P});
    }
    // Best matches first; the catalogue's own order (its ranking) breaks ties
    // and fills up when nothing matches.
    std::stable_sort(Scored.begin(), Scored.end(),
                     [](const auto &A, const auto &B) { return A.first > B.first; });
    QVector<const Program *> Result;
    for (int I = 0; I < Scored.size() && I < 3; ++I)
        Result.append(Scored[I].second);
    return Result;
}

QByteArray SiteServer::Top3Json(const QString &Keywords, const std::string &BaseText) const
{
    const QString Base = QString::fromStdString(BaseText);
    auto Side = [&](bool Free) {
        QJsonArray Items;
        for (const Program *P : Choose(Keywords, Free)) {
            QJsonObject Item {{"title", P->Title},
                              {"description", P->Description},
                              {"icon_url", Base + "/icons/" + P->Icon},
                              {"details_url", Base + "/index.php/soft_api#" + P->Id},
                              {"freeware", P->Freeware}};
            if (P->Downloadable)
                Item["download_url"] = Base + "/files/" + P->Installer;
            if (!P->Freeware)
                Item["purchase_url"] = Base + "/index.php/soft_api?buy=" + P->Id + "#" + P->Id;
            Items.append(Item);
        }
        return QJsonObject {{"count", Items.size()},
                            {"more_url", Base + "/index.php/soft_api?kind=" + (Free ? "free" : "pay")},
                            {"items", Items}};
    };
    const QJsonObject Answer {{"result", "success"}, {"top3_pay", Side(false)}, {"top3_free", Side(true)}};
    return QJsonDocument(Answer).toJson(QJsonDocument::Compact);
}

std::string SiteServer::RecommendationPage(const std::string &BaseText) const
{
    return RecommendationPageFor(BaseText, QString());
}

std::string SiteServer::RecommendationPageFor(const std::string &BaseText, const QString &Kind) const
{
    const QString Base = QString::fromStdString(BaseText);
    QString Items;
    for (const Program &P : m_programs) {
        if ((Kind == "free" && !P.Freeware) || (Kind == "pay" && P.Freeware))
            continue;
        const QString Url = Base + "/files/" + P.Installer;
        Items
            += QStringLiteral(
                   "<div class=\"prog\" id=\"%1\">\n  <img src=\"%2\" width=\"32\" height=\"32\" alt=\"\">\n"
                   "  <div class=\"text\"><b>%3</b> <span class=\"kind\">%4</span><br>%5</div>\n")
                   .arg(HtmlEscape(P.Id), HtmlEscape(Base + "/icons/" + P.Icon), HtmlEscape(P.Title),
                        P.Freeware ? "free" : "paid", HtmlEscape(P.Description));
        if (P.Downloadable)
            Items += QStringLiteral("  <button data-title=\"%1\" data-url=\"%2\" "
                                    "onclick=\"install(this)\">Download</button>\n")
                         .arg(HtmlEscape(P.Title), HtmlEscape(Url));
        if (!P.Freeware)
            Items += QStringLiteral("  <a class=\"buy\" href=\"%1\">Buy</a>\n")
                         .arg(HtmlEscape(Base + "/index.php/soft_api?buy=" + P.Id + "#" + P.Id));
        Items += "</div>\n";
    }
    QByteArray Page = m_softTemplate;
    Page.replace("<!--ITEMS-->", Items.toUtf8());
    Page.replace("{{BASE}}", Base.toUtf8());
    return Page.toStdString();
}

void SiteServer::Routes()
{
    auto Html = [](httplib::Response &Res, const std::string &Body) {
        Res.set_content(Body, "text/html; charset=UTF-8");
    };
    m_server.Get("/", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        QByteArray Page = m_home;
        Page.replace("{{BASE}}", QByteArray::fromStdString(BaseFor(Req)));
        Html(Res, Page.toStdString());
    });
    m_server.Get("/help.html", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        QByteArray Page = m_help;
        Page.replace("{{BASE}}", QByteArray::fromStdString(BaseFor(Req)));
        Html(Res, Page.toStdString());
    });
    m_server.Get("/index.php/soft_api", [this, Html](const httplib::Request &Req, httplib::Response &Res) {
        Html(Res, RecommendationPageFor(BaseFor(Req), QString::fromStdString(Req.get_param_value("kind"))));
    });
    auto Api = [this](const httplib::Request &Req, httplib::Response &Res) {
        const QString Method = ParamValue(Req.get_param_value("method"));
        QByteArray Json;
        if (Method == "software_top3") {
            Json = Top3Json(ParamValue(Req.get_param_value("keywords")), BaseFor(Req));
        } else {
            Json = QJsonDocument(QJsonObject {{"result", "error"}, {"message", "unknown method"}})
                       .toJson(QJsonDocument::Compact);
        }
        Res.set_content(AnswerEncode(Json).toStdString(), "application/json; charset=UTF-8");
    };
    m_server.Post("/index.php/halvex_api", Api);
    m_server.Get("/index.php/halvex_api", Api);
    m_server.Get(R"(/icons/([A-Za-z0-9_-]+\.png))",
                 [this](const httplib::Request &Req, httplib::Response &Res) {
                     const auto It = m_icons.find(Req.matches[1].str());
                     if (It == m_icons.end()) {
                         Res.status = 404;
                         return;
                     }
                     Res.set_content(It->second, "image/png");
                 });
    m_server.Get(R"(/files/([A-Za-z0-9_-]+\.exe))",
                 [this](const httplib::Request &Req, httplib::Response &Res) {
                     const auto It = m_installers.find(Req.matches[1].str());
                     if (It == m_installers.end()) {
                         Res.status = 404;
                         return;
                     }
                     const auto Size = static_cast<ssize_t>(It->second.size());
                     for (const auto &[First, Last] : Req.ranges) {
                         if (First >= Size || (First < 0 && Last == 0)) {
                             Res.status = 416;
                             Res.set_header("Content-Range", "bytes */" + std::to_string(Size));
                             return;
                         }
                     }
                     Res.set_header("Accept-Ranges", "bytes");
                     Res.set_content(It->second, "application/octet-stream");
                 });
}

} // namespace orvane::site
