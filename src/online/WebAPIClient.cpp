#include "online/WebAPIClient.h"

#include "online/JSONValues.h"

#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isBlankText(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() > ' ')
            return false;
    return true;
}

// Letter case ignored for A-Z only (no Unicode folding: "\u017Fuccess" is not "success").
bool equalsAsciiIgnoreCase(const QString &a, const char *b)
{
    const qsizetype n = qsizetype(qstrlen(b));
    if (a.size() != n)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = a.at(i).unicode();
        if (c >= 'A' && c <= 'Z')
            c = char16_t(c + 32);
        char16_t d = char16_t(static_cast<unsigned char>(b[i]));
        if (d >= 'A' && d <= 'Z')
            d = char16_t(d + 32);
        if (c != d)
            return false;
    }
    return true;
}

bool sameAscii(const QByteArray &a, const char *b)
{
    return a.compare(QByteArray(b), Qt::CaseInsensitive) == 0;
}

// Whether a Content-Type header names the UTF-8 charset.
bool declaresUtf8(const QByteArray &contentType)
{
    for (QByteArray param : contentType.split(';')) {
        param = param.trimmed();
        const int eq = param.indexOf('=');
        if (eq < 0 || !sameAscii(param.left(eq).trimmed(), "charset"))
            continue;
        QByteArray value = param.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return sameAscii(value, "UTF-8") || sameAscii(value, "UTF8");
    }
    return false;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "+" is a space, "%XX" a byte, "%%" a percent sign; false for any other "%".
bool urlDecode(const QByteArray &in, QByteArray &out)
{
    out.clear();
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 1 < in.size() && in.at(i + 1) == '%') {
                out += '%';
                i += 1;
                continue;
            }
            if (i + 2 >= in.size())
                return false;
            const int hi = hexValue(in.at(i + 1));
            const int lo = hexValue(in.at(i + 2));
            if (hi < 0 || lo < 0)
                return false;
            out += char((hi << 4) | lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

struct Sink
{
    QByteArray body;
    qint64 limit = 0;
};

size_t writeBody(char *data, size_t size, size_t count, void *user)
{
    auto *sink = static_cast<Sink *>(user);
    const size_t n = size * count;
    if (qint64(sink->body.size()) + qint64(n) > sink->limit)
        return 0; // too large: abort the transfer
    sink->body.append(data, qsizetype(n));
    return n;
}

struct CurlDeleter
{
    void operator()(CURL *c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter
{
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};

} // namespace

// ---- THttpClient --------------------------------------------------------

QByteArray THttpClient::FormEncode(const QByteArray &Bytes)
{
    static const char safe[] = "*@._-$!'()";
    QByteArray out;
    out.reserve(Bytes.size() * 3);
    for (char ch : Bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || (c != 0 && std::strchr(safe, char(c)))) {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            static const char hex[] = "0123456789abcdef";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

QByteArray THttpClient::Base64Lines(const QByteArray &Bytes)
{
    const QByteArray flat = Bytes.toBase64();
    QByteArray out;
    out.reserve(flat.size() + flat.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < flat.size(); i += 76) {
        const QByteArray line = flat.mid(i, 76);
        out += line;
        if (line.size() == 76)
            out += "\r\n";
    }
    return out;
}

QString THttpClient::Obscure(const QByteArray &Text)
{
    QString out;
    out.reserve(Text.size() * 2);
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const auto v = static_cast<unsigned char>(Text.at(i) ^ ObscureKey[i % 8]);
        out += QString::asprintf("%02X", unsigned(v));
    }
    return out;
}

QString THttpClient::EncodeValue(const QString &Value) const
{
    const QByteArray encoded = FormEncode(Value.toUtf8());
    if (Encrypt)
        return Obscure(Base64Lines(encoded));
    return QString::fromLatin1(encoded);
}

void THttpClient::AddParam(const QString &Name, const QString &Value)
{
    SetParam(Name, EncodeValue(Value));
}

void THttpClient::SetParam(const QString &Name, const QString &EncodedValue)
{
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        if (it->first == Name) {
            if (EncodedValue.isEmpty())
                m_params.erase(it);
            else
                it->second = EncodedValue;
            return;
        }
    }
    if (!EncodedValue.isEmpty())
        m_params.emplace_back(Name, EncodedValue);
}

QString THttpClient::Query() const
{
    QStringList parts;
    for (const auto &p : m_params)
        parts << p.first + QLatin1Char('=') + p.second;
    return parts.join(QLatin1Char('&'));
}

QString THttpClient::DecodeBody(const QByteArray &Body, const QByteArray &ContentType)
{
    const bool utf8 = declaresUtf8(ContentType);
    QString text = utf8 ? QString::fromUtf8(Body) : QString::fromLatin1(Body);
    if (isBlankText(text))
        return text;
    // Byte-order marks: read one byte per character, or already decoded as UTF-8.
    for (;;) {
        if (text.size() >= 3 && text.at(0).unicode() == 0xEF && text.at(1).unicode() == 0xBB
            && text.at(2).unicode() == 0xBF)
            text.remove(0, 3);
        else if (!text.isEmpty() && text.at(0).unicode() == 0xFEFF)
            text.remove(0, 1);
        else
            break;
    }
    QByteArray decoded;
    if (!urlDecode(utf8 ? text.toUtf8() : text.toLatin1(), decoded))
        return text;
    return QString::fromUtf8(decoded);
}

QString THttpClient::Execute()
{
    if (URL.trimmed().isEmpty())
        return QString();
    ensureCurlInitialised();
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return QString();
    CURL *c = curl.get();

    const QByteArray url = URL.toUtf8() + '?' + Query().toUtf8();
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const char *h :
         {"Content-Type: application/x-www-form-urlencoded", "Accept: text/html, */*", "Expect:"})
        headers.reset(curl_slist_append(headers.release(), h));

    Sink sink;
    sink.limit = MaxBodyBytes;
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, 0L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Indy Library)");
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, TotalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);

    if (curl_easy_perform(c) != CURLE_OK)
        return QString();
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return QString();
    const char *contentType = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &contentType);
    return DecodeBody(sink.body, QByteArray(contentType ? contentType : ""));
}

// ---- TWebAPIClient ------------------------------------------------------

bool TWebAPIClient::IsSuccessAnswer(const QString &Answer)
{
    if (isBlankText(Answer))
        return false;
    try {
        const TJSONObject answer(Answer);
        const TZAbstractObject *result = answer.Find(QStringLiteral("result"));
        return result && equalsAsciiIgnoreCase(result->ToString(), "success");
    } catch (const EOnlineError &) {
        return false;
    }
}

bool TWebAPIClient::GetSoftwareTop3(const QString &Keywords, TSoftwareTop3 &Top3)
{
    Top3.Clear();
    try {
        THttpClient http;
        http.URL = APIUrl;
        http.Encrypt = Encrypt;
        http.ConnectTimeoutMs = ConnectTimeoutMs;
        http.TotalTimeoutMs = TotalTimeoutMs;
        http.AddParam(QStringLiteral("lng"), QString::number(LanguageID));
        http.AddParam(QStringLiteral("method"), QStringLiteral("software_top3"));
        http.AddParam(QStringLiteral("keywords"), Keywords);
        LastResponse = http.Execute();
        if (!IsSuccess())
            return false;
        ReadSoftwareTop3(LastResponse, Top3);
        return true;
    } catch (...) {
        Top3.Clear();
        return false;
    }
}
