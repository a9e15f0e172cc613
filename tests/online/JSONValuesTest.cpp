#include "online/JSONValues.h"

#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::string s(const QString &q)
{
    return q.toStdString();
}

// The message of the error the callable raises, or "(nothing raised)".
template<class E> QString messageOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const E &e) {
        return e.Message();
    }
    return QStringLiteral("(nothing raised)");
}

QString firstLine(const QString &message)
{
    const int at = message.indexOf(QStringLiteral(" at character "));
    return at < 0 ? message : message.left(at);
}

} // namespace

TEST(JSONValues, LenientFormsParseToTheExpectedValues)
{
    struct Case
    {
        const char *text;
        const char *written; // ToString of the parsed object
    } cases[] = {
        {"{'a':1; b=>true, \"c\":\"x\",}", R"({"a":1,"b":true,"c":"x"})"},
        {"{ /* block */ a = 2 // line\n , # hash\r b : 'q' }", R"({"a":2,"b":"q"})"},
        {"{name: hello world , n: NULL, t: TRUE, f: False}",
         R"({"name":"hello world","n":null,"t":true,"f":false})"},
        {"{h:0x1F, H:0XfF, neg:-1.5e3, half:.5, plus:+3, bare:0x, big:1e999, word:Oslo, ten:1.}",
         R"({"h":31,"H":31,"neg":-1500,"half":0.5,"plus":3,"bare":"0x","big":"1e999","word":"Oslo","ten":1})"},
        {"{arr:[1,,2], empty:[], trail:[1,], lone:[,], semi:[1;2]}",
         R"({"arr":[1,null,2],"empty":[],"trail":[1],"lone":[null],"semi":[1,2]})"},
        {R"({s:"a\tb\u0041\/\b\"\\\q", 'x':'it"s'})", "{\"s\":\"a\tbA/b\\\"\\\\q\",\"x\":\"it\\\"s\"}"},
        {"{1:one, 2.5:two, nested:{a:{b:[{}]}}}", R"({"1":"one","2.5":"two","nested":{"a":{"b":[{}]}}})"},
        {"{a:1}trailing ignored", R"({"a":1})"},
    };
    for (const Case &c : cases) {
        try {
            TJSONObject o(QString::fromUtf8(c.text));
            EXPECT_EQ(s(o.ToString()), c.written) << c.text;
        } catch (const EOnlineError &e) {
            ADD_FAILURE() << c.text << ": " << e.what();
        }
    }
}

TEST(JSONValues, NumberFormsHaveTheirTypesAndSharedConstants)
{
    TJSONObject o(
        QStringLiteral("{'a':1; b=>true, \"c\":\"x\", h:0x1F, d:7, big:0xFFFFFFFF, n:null, f:false}"));
    ASSERT_EQ(o.Count(), 8);
    EXPECT_STREQ(o.Get("a")->ClassName(), "_Double");
    EXPECT_EQ(o.Get("b"), JSONTrue());
    EXPECT_EQ(o.Get("f"), JSONFalse());
    EXPECT_EQ(o.Get("n"), JSONNullValue());
    EXPECT_STREQ(o.Get("c")->ClassName(), "_String");
    EXPECT_STREQ(o.Get("h")->ClassName(), "_Integer");
    EXPECT_EQ(o.GetInt("h"), 31);
    EXPECT_STREQ(o.Get("d")->ClassName(), "_Double");
    EXPECT_EQ(o.GetInt("big"), -1); // eight hexadecimal digits fill the 32-bit integer
    EXPECT_EQ(o.Keys(), QStringList({"a", "b", "c", "h", "d", "big", "n", "f"}));
}

TEST(JSONValues, SyntaxErrorsCarryTheirMessages)
{
    struct Case
    {
        const char *text;
        const char *message;
    } cases[] = {
        {"", "A TJSONObject must begin with \"{\""},
        {"[1]", "A TJSONObject must begin with \"{\""},
        {"{", "A TJSONObject must end with \"}\""},
        {"{\"a\":1,", "A TJSONObject must end with \"}\""},
        {"{\"a\" 1}", "Expected a \":\" after a key"},
        {"{a:1 b:2}", "Expected a \",\" or \"}\""},
        {"{a:}", "Missing value."},
        {"{a:\"abc", "Unterminated string"},
        {"{a:\"ab\ncd\"}", "Unterminated string"},
        {"{a:'ab\rcd'}", "Unterminated string"},
        {"{a:/* never closed", "Unclosed comment."},
        {"{a:\"\\u00", "Substring bounds error"},
        {"{a:\"\\u0041", "Substring bounds error"},
        {"{a:\"\\uZZZZ\"}", "Illegal escape."},
        {"{a:[1 {}]}", "Expected a \",\" or \"]\""},
        {"{a:[1", "Expected a \",\" or \"]\""},
        {"{a:[", "Missing value."},
    };
    for (const Case &c : cases) {
        const QString m = messageOf<ParseException>([&] { TJSONObject o(QString::fromUtf8(c.text)); });
        EXPECT_EQ(s(firstLine(m)), c.message) << c.text;
    }
    EXPECT_EQ(s(firstLine(messageOf<ParseException>([] { TJSONArray a(QStringLiteral("{")); }))),
              "A TJSONArray must start with \"[\"");
}

TEST(JSONValues, ParseErrorMessageNamesPositionSourceAndExcerpt)
{
    try {
        TJSONObject o(QStringLiteral("{\"a\" 1}"));
        FAIL() << "no error";
    } catch (const ParseException &e) {
        EXPECT_EQ(e.Position(), 7);
        EXPECT_EQ(s(e.Message()),
                  "Expected a \":\" after a key at character 7 of {\"a\" 1} próximo a : }\n\r"
                  " erro no caracter : 7");
    }
}

TEST(JSONValues, HostileInputIsRefusedWithoutCrashing)
{
    const QString deep = QString(100000, QLatin1Char('[')) + QString(100000, QLatin1Char(']'));
    EXPECT_EQ(s(firstLine(messageOf<ParseException>([&] { TJSONArray a(deep); }))), "Nesting too deep.");
    const QString deepObjects = QStringLiteral("{a:").repeated(600) + QStringLiteral("1") + QString(600, '}');
    EXPECT_EQ(s(firstLine(messageOf<ParseException>([&] { TJSONObject o(deepObjects); }))),
              "Nesting too deep.");

    // Within the limit nesting works and is written back the same way.
    const QString ok = QString(500, QLatin1Char('[')) + QString(500, QLatin1Char(']'));
    EXPECT_EQ(TJSONArray(ok).ToString(), ok);

    // Lone surrogates from escapes are kept as code units; writing and converting them is harmless.
    TJSONObject lone(QStringLiteral(R"({s:"\uD800x\uDFFF"})"));
    EXPECT_EQ(lone.GetString("s").size(), 3);
    EXPECT_FALSE(lone.ToString().toUtf8().isEmpty());

    // A number too large for a double stays a word; a large one that fits is a number.
    TJSONObject huge(QStringLiteral("{n:") + QString(300, '9') + QStringLiteral("}"));
    EXPECT_STREQ(huge.Get("n")->ClassName(), "_Double");
    TJSONObject over(QStringLiteral("{n:") + QString(400, '9') + QStringLiteral("e999}"));
    EXPECT_STREQ(over.Get("n")->ClassName(), "_String");
}

TEST(JSONValues, AccessorsConvertOrRaiseNamedErrors)
{
    const TJSONObject o(QStringLiteral("{n:\"12\", t:true, f:\"FALSE\", T:\"tRue\", d:2.9, nd:-2.9, i:0x10, "
                                       "h1:\"2.5\", h2:\"3.5\", h3:\"-2.5\","
                                       " o:{x:1}, a:[1,'b'], s:\"abc\", z:null, title:\"T\", dup:1, DUP:2}"));
    EXPECT_EQ(o.GetInt("n"), 12);
    EXPECT_DOUBLE_EQ(o.GetDouble("n"), 12.0);
    EXPECT_TRUE(o.GetBoolean("t"));
    EXPECT_FALSE(o.GetBoolean("f"));
    EXPECT_TRUE(o.GetBoolean("T")); // the first "t" wins: names ignore case
    EXPECT_EQ(o.GetInt("d"), 2);
    EXPECT_EQ(o.GetInt("nd"), -2);
    EXPECT_EQ(o.GetInt("i"), 16);
    EXPECT_EQ(o.GetInt("h1"), 2); // halves go to the even neighbour
    EXPECT_EQ(o.GetInt("h2"), 4);
    EXPECT_EQ(o.GetInt("h3"), -2);
    EXPECT_EQ(s(o.GetString("o")), "{\"x\":1}");
    EXPECT_EQ(s(o.GetString("a")), "[1,\"b\"]");
    EXPECT_EQ(s(o.GetString("d")), "2.9");
    EXPECT_EQ(s(o.GetString("z")), "null");
    EXPECT_EQ(o.GetObject("o")->GetInt("X"), 1);
    EXPECT_EQ(o.GetArray("A")->Count(), 2);
    EXPECT_TRUE(o.Has("TITLE"));
    EXPECT_FALSE(o.Has("nope"));
    EXPECT_TRUE(o.IsNull("z"));
    EXPECT_TRUE(o.IsNull("nope"));
    EXPECT_FALSE(o.IsNull("s"));
    EXPECT_EQ(o.GetInt("DUP"), 1);

    struct Case
    {
        std::function<void()> call;
        const char *message;
    } cases[] = {
        {[&] { o.GetDouble("t"); }, "TJSONObject[\"t\"] is not a number."},
        {[&] { o.GetInt("o"); }, "TJSONObject[\"o\"] is not a number."},
        {[&] { o.GetBoolean("s"); }, "TJSONObject[\"s\"] is not a Boolean."},
        {[&] { o.GetBoolean("d"); }, "TJSONObject[\"d\"] is not a Boolean."},
        {[&] { o.Get("missing"); }, "TJSONObject[\"missing\"] not found."},
        {[&] { o.GetString("missing"); }, "TJSONObject[\"missing\"] not found."},
        {[&] { o.GetObject("a"); }, "TJSONObject[\"a\"] is not a TJSONObject."},
        {[&] { o.GetArray("o"); }, "TJSONObject[\"o\"] is not a TJSONArray."},
        {[&] { o.GetArray("missing"); }, "TJSONObject[\"missing\"] is not a TJSONArray."},
        {[&] { o.Find(QString()); }, "Null key"},
        {[&] { o.GetDouble("s"); }, "'abc' is not a valid floating point value"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(s(messageOf<EOnlineError>(c.call)), c.message);
    EXPECT_THROW(o.GetDouble("t"), NumberFormatException);
    EXPECT_THROW(o.GetBoolean("s"), ClassCastException);
    EXPECT_THROW(o.Get("missing"), NoSuchElementException);
    EXPECT_THROW(o.GetArray("missing"), NoSuchElementException);
    EXPECT_THROW(o.Find(QString()), NullPointerException);
    EXPECT_THROW(o.GetDouble("s"), EConvertError);
}

TEST(JSONValues, ArrayAccessors)
{
    const TJSONArray a(QStringLiteral("[1,,2,{k:v}]"));
    ASSERT_EQ(a.Count(), 4);
    EXPECT_EQ(a.Find(1), nullptr);
    EXPECT_EQ(a.Find(-1), nullptr);
    EXPECT_EQ(a.Find(4), nullptr);
    EXPECT_EQ(s(a.GetObject(3)->GetString("K")), "v");
    EXPECT_EQ(s(a.Join(QStringLiteral(" | "))), "1 | null | 2 | {\"k\":\"v\"}");
    EXPECT_EQ(s(messageOf<NoSuchElementException>([&] { a.Get(1); })), "TJSONArray[1] not found.");
    EXPECT_EQ(s(messageOf<NoSuchElementException>([&] { a.Get(9); })), "TJSONArray[9] not found.");
    EXPECT_EQ(s(messageOf<NoSuchElementException>([&] { a.GetObject(0); })),
              "TJSONArray[0] is not a TJSONObject is _Double");
    EXPECT_EQ(s(messageOf<NotImplmentedFeature>([&] { a.Clone(); })), "JSON: Not Implmented!");
}

TEST(JSONValues, WriterEscapesAndFormatsNumbers)
{
    struct Quote
    {
        QString text;
        const char *quoted;
    } quotes[] = {
        {"", "\"\""},
        {"a/b</c", "\"a/b<\\/c\""},
        {"q\"b\\", "\"q\\\"b\\\\\""},
        {QString(QChar(1)) + QChar(0x1f), "\"\\u0001\\u001F\""},
        {QString("\b\t\f"), "\"\b\t\f\""},
        {"l1\nl2\r", "\"l1\\nl2\\r\""},
        {"é€", "\"é€\""},
    };
    for (const Quote &q : quotes)
        EXPECT_EQ(s(TJSONObject::QuoteString(q.text)), q.quoted);

    struct Number
    {
        double value;
        const char *text;
    } numbers[] = {
        {1, "1"},
        {-0.0, "0"},
        {0.5, "0.5"},
        {-1500, "-1500"},
        {0.1 + 0.2, "0.3"},
        {1e20, "1E20"},
        {1e15, "1E15"},
        {1e14, "100000000000000"},
        {1.5e-7, "1.5E-7"},
        {1e-5, "0.00001"},
        {123.456, "123.456"},
        {123456789012345678.0, "1.23456789012346E17"},
        {-2.5e-300, "-2.5E-300"},
    };
    for (const Number &n : numbers) {
        _Double d(n.value);
        EXPECT_EQ(s(TJSONObject::NumberToString(&d)), n.text) << n.value;
    }
    _Integer i(-42);
    EXPECT_EQ(s(TJSONObject::NumberToString(&i)), "-42");
    EXPECT_EQ(s(TJSONObject::ValueToString(nullptr)), "null");
    EXPECT_EQ(s(TJSONObject::ValueToString(JSONFalse())), "false");
    _String str(QStringLiteral("x\"y"));
    EXPECT_EQ(s(TJSONObject::ValueToString(&str)), "\"x\\\"y\"");
}

TEST(JSONValues, CloneEqualsAndOwnership)
{
    TJSONObject o;
    o.Put(QStringLiteral("text"), JSONValue(new _String(QStringLiteral("two\nlines </tag> \"q\""))));
    o.Put(QStringLiteral("int"), JSONValue(new _Integer(5)));
    o.Put(QStringLiteral("flag"), JSONValue(JSONTrue()));
    o.Put(QStringLiteral("none"), JSONValue(JSONNullValue()));
    o.Put(QStringLiteral("nil"), JSONValue());
    const JSONValue copy = o.Clone();
    auto *c = dynamic_cast<TJSONObject *>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->GetString("text"), o.GetString("text"));
    EXPECT_EQ(c->ToString(), o.ToString());
    EXPECT_EQ(c->Get("flag"), JSONTrue());

    _String a(QStringLiteral("x")), b(QStringLiteral("x")), other(QStringLiteral("y"));
    EXPECT_TRUE(a.Equals(&b));
    EXPECT_FALSE(a.Equals(&other));
    EXPECT_TRUE(JSONNullValue()->Equals(nullptr));
    EXPECT_FALSE(a.Equals(nullptr));
    _Integer one(1);
    EXPECT_TRUE(one.Equals(&one));
    EXPECT_FALSE(one.Equals(JSONValue(one.Clone()).get()));
    EXPECT_TRUE(JSONValue(JSONTrue()->Clone()).get() != JSONTrue());
    EXPECT_EQ(s(messageOf<NotImplmentedFeature>([] { JSONNullValue()->Clone(); })), "JSON: Not Implmented!");
    TZAbstractObject plain;
    EXPECT_TRUE(plain.ToString().startsWith(QStringLiteral("TZAbstractObject <")));

    // A boolean value that is not the shared constant still reads as a boolean.
    TJSONObject b2;
    b2.Put(QStringLiteral("f"), JSONFalse()->Clone());
    EXPECT_FALSE(b2.GetBoolean("f"));
}
