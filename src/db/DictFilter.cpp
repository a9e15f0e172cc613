#include "db/DictFilter.h"

#include "db/DictDBCommon.h"

#include <QDateTime>
#include <QRegularExpression>
#include <vector>

namespace dictdb {

namespace {

[[noreturn]] void fail(const char *message)
{
    throw EDictDBError(QString::fromLatin1(message));
}
[[noreturn]] void mismatch()
{
    fail("Type mismatch in expression");
}

enum class Tok { End, Ident, Number, String, Op, LParen, RParen, Comma };

struct Token
{
    Tok kind = Tok::End;
    QString text;
    double number = 0;
};

std::vector<Token> tokenize(const QString &s)
{
    std::vector<Token> out;
    int i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('\'')) {
            QString text;
            ++i;
            for (;;) {
                if (i >= s.size())
                    fail("Unterminated string constant");
                if (s[i] == QLatin1Char('\'')) {
                    if (i + 1 < s.size() && s[i + 1] == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += s[i++];
            }
            out.push_back({Tok::String, text, 0});
        } else if (c == QLatin1Char('[')) {
            const int end = s.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                fail("Filter expression incorrectly terminated");
            out.push_back({Tok::Ident, s.mid(i + 1, end - i - 1), 0});
            i = end + 1;
        } else if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < s.size() && s[i + 1].isDigit())) {
            int j = i;
            while (j < s.size() && (s[j].isDigit() || s[j] == QLatin1Char('.')))
                ++j;
            bool ok = false;
            const double v = s.mid(i, j - i).toDouble(&ok);
            if (!ok)
                mismatch();
            out.push_back({Tok::Number, s.mid(i, j - i), v});
            i = j;
        } else if (c.isLetter() || c == QLatin1Char('_')) {
            int j = i;
            while (j < s.size() && (s[j].isLetterOrNumber() || s[j] == QLatin1Char('_')))
                ++j;
            out.push_back({Tok::Ident, s.mid(i, j - i), 0});
            i = j;
        } else if (c == QLatin1Char('(')) {
            out.push_back({Tok::LParen, QStringLiteral("("), 0});
            ++i;
        } else if (c == QLatin1Char(')')) {
            out.push_back({Tok::RParen, QStringLiteral(")"), 0});
            ++i;
        } else if (c == QLatin1Char(',')) {
            out.push_back({Tok::Comma, QStringLiteral(","), 0});
            ++i;
        } else {
            static const char *ops[] = {"<>", "<=", ">=", "!=", "=", "<", ">", "+", "-", "*", "/"};
            bool matched = false;
            for (const char *op : ops) {
                const QLatin1String o(op);
                if (s.mid(i, o.size()) == o) {
                    out.push_back({Tok::Op, QString(o), 0});
                    i += int(o.size());
                    matched = true;
                    break;
                }
            }
            if (!matched)
                fail("Filter expression incorrectly terminated");
        }
    }
    out.push_back({Tok::End, QString(), 0});
    return out;
}

bool isNumeric(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}
bool isDate(const QVariant &v)
{
    return v.typeId() == QMetaType::QDate || v.typeId() == QMetaType::QDateTime
        || v.typeId() == QMetaType::QTime;
}
QDateTime toDateTime(const QVariant &v)
{
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    if (v.typeId() == QMetaType::QTime)
        return QDateTime(QDate(1, 1, 1), v.toTime());
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    for (const char *fmt : {"yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd", "hh:mm:ss"}) {
        const QDateTime dt = QDateTime::fromString(v.toString().trimmed(), QLatin1String(fmt));
        if (dt.isValid())
            return dt;
    }
    mismatch();
}
double toNumber(const QVariant &v)
{
    if (isNumeric(v))
        return v.toDouble();
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok)
        mismatch();
    return d;
}
bool toBool(const QVariant &v)
{
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isNumeric(v))
        return v.toDouble() != 0;
    mismatch();
}

int compareValues(const QVariant &a, const QVariant &b)
{
    if (isNumeric(a) || isNumeric(b)) {
        const double x = toNumber(a), y = toNumber(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (isDate(a) || isDate(b)) {
        const QDateTime x = toDateTime(a), y = toDateTime(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const int r = QString::compare(a.toString(), b.toString());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

bool like(const QString &text, const QString &pattern)
{
    QString rx = QStringLiteral("^");
    for (QChar c : pattern) {
        if (c == QLatin1Char('%'))
            rx += QLatin1String(".*");
        else if (c == QLatin1Char('_'))
            rx += QLatin1Char('.');
        else
            rx += QRegularExpression::escape(QString(c));
    }
    rx += QLatin1Char('$');
    return QRegularExpression(rx, QRegularExpression::DotMatchesEverythingOption).match(text).hasMatch();
}

} // namespace

struct FilterNode
{
    enum Kind { Const, Field, Unary, Binary, Like, In, Call } kind = Const;
    QVariant value;
    int field = -1;
    QString op;
    bool negate = false;
    std::vector<std::unique_ptr<FilterNode>> args;

    QVariant eval(const std::function<QVariant(int)> &fieldValue) const
    {
        switch (kind) {
        case Const:
            return value;
        case Field:
            return fieldValue(field);
        case Unary: {
            const QVariant v = args[0]->eval(fieldValue);
            if (op == QLatin1String("NOT"))
                return !toBool(v);
            return -toNumber(v);
        }
        case Like: {
            const bool r = like(args[0]->eval(fieldValue).toString(), args[1]->eval(fieldValue).toString());
            return negate ? !r : r;
        }
        case In: {
            const QVariant v = args[0]->eval(fieldValue);
            bool found = false;
            for (size_t i = 1; i < args.size() && !found; ++i)
                found = compareValues(v, args[i]->eval(fieldValue)) == 0;
            return negate ? !found : found;
        }
        case Binary: {
            if (op == QLatin1String("AND"))
                return toBool(args[0]->eval(fieldValue)) && toBool(args[1]->eval(fieldValue));
            if (op == QLatin1String("OR"))
                return toBool(args[0]->eval(fieldValue)) || toBool(args[1]->eval(fieldValue));
            const QVariant a = args[0]->eval(fieldValue), b = args[1]->eval(fieldValue);
            if (op == QLatin1String("+")) {
                if (!isNumeric(a) && !isNumeric(b))
                    return a.toString() + b.toString();
                return toNumber(a) + toNumber(b);
            }
            if (op == QLatin1String("-"))
                return toNumber(a) - toNumber(b);
            if (op == QLatin1String("*"))
                return toNumber(a) * toNumber(b);
            if (op == QLatin1String("/")) {
                const double d = toNumber(b);
                if (d == 0)
                    mismatch();
                return toNumber(a) / d;
            }
            const int c = compareValues(a, b);
            if (op == QLatin1String("="))
                return c == 0;
            if (op == QLatin1String("<>") || op == QLatin1String("!="))
                return c != 0;
            if (op == QLatin1String("<"))
                return c < 0;
            if (op == QLatin1String(">"))
                return c > 0;
            if (op == QLatin1String("<="))
                return c <= 0;
            return c >= 0;
        }
        case Call:
            return call(fieldValue);
        }
        return {};
    }

    QVariant call(const std::function<QVariant(int)> &fieldValue) const
    {
        std::vector<QVariant> v;
        for (const auto &a : args)
            v.push_back(a->eval(fieldValue));
        if (op == QLatin1String("GETDATE"))
            return QDateTime::currentDateTime();
        if (op == QLatin1String("UPPER"))
            return v[0].toString().toUpper();
        if (op == QLatin1String("LOWER"))
            return v[0].toString().toLower();
        if (op == QLatin1String("TRIM"))
            return v[0].toString().trimmed();
        if (op == QLatin1String("TRIMLEFT")) {
            QString s = v[0].toString();
            int i = 0;
            while (i < s.size() && s[i].isSpace())
                ++i;
            return s.mid(i);
        }
        if (op == QLatin1String("TRIMRIGHT")) {
            QString s = v[0].toString();
            int n = int(s.size());
            while (n > 0 && s[n - 1].isSpace())
                --n;
            return s.left(n);
        }
        if (op == QLatin1String("SUBSTRING")) {
            const QString s = v[0].toString();
            const int start = int(toNumber(v[1]));
            const int len = v.size() > 2 ? int(toNumber(v[2])) : int(s.size());
            if (start < 1 || len < 0)
                return QString();
            return s.mid(start - 1, len);
        }
        const QDateTime dt = toDateTime(v[0]);
        if (op == QLatin1String("YEAR"))
            return dt.date().year();
        if (op == QLatin1String("MONTH"))
            return dt.date().month();
        if (op == QLatin1String("DAY"))
            return dt.date().day();
        if (op == QLatin1String("HOUR"))
            return dt.time().hour();
        if (op == QLatin1String("MINUTE"))
            return dt.time().minute();
        return dt.time().second();
    }
};

namespace {

class Parser
{
public:
    Parser(const QString &text, const std::function<int(const QString &)> &fieldIndex)
        : m_tokens(tokenize(text))
        , m_fieldIndex(fieldIndex)
    { }

    std::unique_ptr<FilterNode> parseAll()
    {
        auto root = parseOr();
        if (peek().kind != Tok::End)
            fail("Filter expression incorrectly terminated");
        return root;
    }

private:
    const Token &peek() const { return m_tokens[m_pos]; }
    Token take()
    {
        if (peek().kind == Tok::End)
            fail("Filter expression incorrectly terminated");
        return m_tokens[m_pos++];
    }
    bool keyword(const char *word) const
    {
        return peek().kind == Tok::Ident
            && peek().text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    void expect(Tok kind)
    {
        if (take().kind != kind)
            fail("Filter expression incorrectly terminated");
    }
    std::unique_ptr<FilterNode> node(FilterNode::Kind kind, const QString &op = QString())
    {
        // evaluation recurses through the tree; keep it to a size no real filter reaches
        if (++m_nodes > 2000)
            fail("Filter expression incorrectly terminated");
        auto n = std::make_unique<FilterNode>();
        n->kind = kind;
        n->op = op;
        return n;
    }

    std::unique_ptr<FilterNode> parseOr()
    {
        auto left = parseAnd();
        while (keyword("OR")) {
            take();
            auto n = node(FilterNode::Binary, QStringLiteral("OR"));
            n->args.push_back(std::move(left));
            n->args.push_back(parseAnd());
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<FilterNode> parseAnd()
    {
        auto left = parseNot();
        while (keyword("AND")) {
            take();
            auto n = node(FilterNode::Binary, QStringLiteral("AND"));
            n->args.push_back(std::move(left));
            n->args.push_back(parseNot());
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<FilterNode> parseNot()
    {
        if (++m_depth > 200)
            fail("Filter expression incorrectly terminated");
        struct Leave
        {
            int &d;
            ~Leave() { --d; }
        } leave {m_depth};
        if (keyword("NOT")) {
            take();
            auto n = node(FilterNode::Unary, QStringLiteral("NOT"));
            n->args.push_back(parseNot());
            return n;
        }
        return parseComparison();
    }
    std::unique_ptr<FilterNode> parseComparison()
    {
        auto left = parseAdditive();
        bool negate = false;
        if (keyword("NOT")) {
            take();
            negate = true;
            if (!keyword("LIKE") && !keyword("IN"))
                fail("Filter expression incorrectly terminated");
        }
        if (keyword("LIKE")) {
            take();
            auto n = node(FilterNode::Like);
            n->negate = negate;
            n->args.push_back(std::move(left));
            n->args.push_back(parseAdditive());
            return n;
        }
        if (keyword("IN")) {
            take();
            auto n = node(FilterNode::In);
            n->negate = negate;
            n->args.push_back(std::move(left));
            expect(Tok::LParen);
            if (peek().kind == Tok::RParen)
                fail("IN predicate list may not be empty");
            for (;;) {
                n->args.push_back(parseAdditive());
                if (peek().kind == Tok::Comma) {
                    take();
                    continue;
                }
                expect(Tok::RParen);
                break;
            }
            return n;
        }
        if (peek().kind == Tok::Op) {
            const QString op = peek().text;
            if (op == QLatin1String("=") || op == QLatin1String("<>") || op == QLatin1String("!=")
                || op == QLatin1String("<") || op == QLatin1String(">") || op == QLatin1String("<=")
                || op == QLatin1String(">=")) {
                take();
                auto n = node(FilterNode::Binary, op);
                n->args.push_back(std::move(left));
                n->args.push_back(parseAdditive());
                return n;
            }
        }
        return left;
    }
    std::unique_ptr<FilterNode> parseAdditive()
    {
        auto left = parseTerm();
        while (peek().kind == Tok::Op
               && (peek().text == QLatin1String("+") || peek().text == QLatin1String("-"))) {
            auto n = node(FilterNode::Binary, take().text);
            n->args.push_back(std::move(left));
            n->args.push_back(parseTerm());
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<FilterNode> parseTerm()
    {
        auto left = parsePrimary();
        while (peek().kind == Tok::Op
               && (peek().text == QLatin1String("*") || peek().text == QLatin1String("/"))) {
            auto n = node(FilterNode::Binary, take().text);
            n->args.push_back(std::move(left));
            n->args.push_back(parsePrimary());
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<FilterNode> parsePrimary()
    {
        if (++m_depth > 200)
            fail("Filter expression incorrectly terminated"); // nesting this deep is not a filter
        struct Leave
        {
            int &d;
            ~Leave() { --d; }
        } leave {m_depth};
        const Token t = take();
        switch (t.kind) {
        case Tok::Number: {
            auto n = node(FilterNode::Const);
            n->value = t.number;
            return n;
        }
        case Tok::String: {
            auto n = node(FilterNode::Const);
            n->value = t.text;
            return n;
        }
        case Tok::LParen: {
            auto inner = parseOr();
            expect(Tok::RParen);
            return inner;
        }
        case Tok::Op:
            if (t.text == QLatin1String("-")) {
                auto n = node(FilterNode::Unary, QStringLiteral("-"));
                n->args.push_back(parsePrimary());
                return n;
            }
            fail("Filter expression incorrectly terminated");
        case Tok::Ident: {
            static const struct
            {
                const char *name;
                int minArgs, maxArgs;
            } functions[] = {{"UPPER", 1, 1},    {"LOWER", 1, 1},     {"SUBSTRING", 2, 3}, {"TRIM", 1, 1},
                             {"TRIMLEFT", 1, 1}, {"TRIMRIGHT", 1, 1}, {"YEAR", 1, 1},      {"MONTH", 1, 1},
                             {"DAY", 1, 1},      {"HOUR", 1, 1},      {"MINUTE", 1, 1},    {"SECOND", 1, 1},
                             {"GETDATE", 0, 0}};
            if (peek().kind == Tok::LParen) {
                for (const auto &f : functions) {
                    if (t.text.compare(QLatin1String(f.name), Qt::CaseInsensitive) != 0)
                        continue;
                    take();
                    auto n = node(FilterNode::Call, QLatin1String(f.name));
                    if (peek().kind != Tok::RParen)
                        for (;;) {
                            n->args.push_back(parseOr());
                            if (peek().kind != Tok::Comma)
                                break;
                            take();
                        }
                    expect(Tok::RParen);
                    if (int(n->args.size()) < f.minArgs || int(n->args.size()) > f.maxArgs)
                        mismatch();
                    return n;
                }
            }
            if (t.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0
                || t.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
                auto n = node(FilterNode::Const);
                n->value = t.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
                return n;
            }
            const int field = m_fieldIndex(t.text);
            if (field < 0)
                throw EDictDBError(QStringLiteral("Field '%1' not found").arg(t.text));
            auto n = node(FilterNode::Field);
            n->field = field;
            return n;
        }
        default:
            fail("Filter expression incorrectly terminated");
        }
    }

    std::vector<Token> m_tokens;
    size_t m_pos = 0;
    int m_depth = 0;
    int m_nodes = 0;
    std::function<int(const QString &)> m_fieldIndex;
};

} // namespace

TDictFilterExpr::TDictFilterExpr(const QString &text, const std::function<int(const QString &)> &fieldIndex)
    : m_root(Parser(text, fieldIndex).parseAll())
{ }

TDictFilterExpr::~TDictFilterExpr() = default;
TDictFilterExpr::TDictFilterExpr(TDictFilterExpr &&) noexcept = default;
TDictFilterExpr &TDictFilterExpr::operator=(TDictFilterExpr &&) noexcept = default;

bool TDictFilterExpr::Matches(const std::function<QVariant(int field)> &fieldValue) const
{
    return toBool(m_root->eval(fieldValue));
}

} // namespace dictdb
