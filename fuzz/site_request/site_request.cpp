// What a client sends the reference site: a web API query (plain or obscured
// values) through the answer, or an If-Range validator through the resume
// decision. The first byte picks which.
#include "SiteServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const orvane::site::SiteServer &Site()
{
    static orvane::site::SiteServer *Server = [] {
        auto *S = new orvane::site::SiteServer;
        QString Error;
        if (!S->Load(QStringLiteral(SITE_ROOT), Error))
            std::abort();
        return S;
    }();
    return *Server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    const std::string Text(reinterpret_cast<const char *>(Data + 1), Size - 1);
    if (Data[0] & 1) {
        const QDateTime Modified = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
        const QString ETag = QStringLiteral("\"0123456789abcdef\"");
        const QString Validator = QString::fromUtf8(Text.data(), qsizetype(Text.size()));
        // Exactly the strong tag or exactly the Last-Modified text allows a part,
        // and nothing else does.
        std::string Value = Text;
        Value.erase(0, Value.find_first_not_of(" \t"));
        Value.erase(Value.find_last_not_of(" \t") + 1);
        const QString Exact = QString::fromUtf8(Value.data(), qsizetype(Value.size()));
        const bool Allowed = Exact == ETag || Exact == orvane::site::HttpDate(Modified);
        if (orvane::site::IfRangeMatches(Validator, ETag, Modified) != Allowed)
            std::abort();
        return 0;
    }
    httplib::Params Params;
    httplib::detail::parse_query_text(Text, Params);
    const QByteArray Json = Site().ApiAnswer(Params, "http://127.0.0.1:8770");
    const QJsonObject Answer = QJsonDocument::fromJson(Json).object();
    const QString Result = Answer.value("result").toString();
    if (Result != "success" && !(Result == "error" && !Answer.value("message").toString().isEmpty()))
        std::abort();
    // The encoded answer is plain ASCII that URL-decodes back to the JSON.
    const QByteArray Encoded = orvane::site::AnswerEncode(Json);
    for (const char C : Encoded)
        if (C < 0x20 || C >= 0x7f || C == '+')
            std::abort();
    if (QByteArray::fromPercentEncoding(Encoded) != Json)
        std::abort();
    return 0;
}
