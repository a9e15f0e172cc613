#include "online/WebAPIClient.h"

#include "online/HttpSetup.h"
#include "online/JSONValues.h"
#include "platform/TextHelpers.h"

#include <cstring>

namespace {

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
            const int hi = textutil::hexDigit(in.at(i + 1));
            const int lo = textutil::hexDigit(in.at(i + 2));
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
    // The API answers at the address it was asked; it is reached directly and
    // a redirect is an answer, not a detour.
    online::HttpOptions o;
    o.agent = "Mozilla/3.0 (compatible; Indy Library)";
    o.useProxy = false;
    o.redirects = online::Redirects::None;
    o.connectTimeoutMs = ConnectTimeoutMs;
    o.totalTimeoutMs = TotalTimeoutMs;
    o.stallTimeoutMs = 0; // the whole exchange is bounded already
    o.maxBytes = MaxBodyBytes;
    o.headers = {"Accept: text/html, */*", "Expect:"};
    o.cancel = Cancel;
    const online::HttpResponse r = online::HttpPost(URL + QLatin1Char('?') + Query(), QByteArray(),
                                                    "application/x-www-form-urlencoded", o);
    if (!r.ok || r.status < 200 || r.status >= 300)
        return QString();
    return DecodeBody(r.body, r.contentType);
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
        http.Cancel = Cancel;
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
