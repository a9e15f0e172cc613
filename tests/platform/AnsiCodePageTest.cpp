// Legacy byte strings (database fields, names sorted by their GBK bytes) pass
// through one converter pair per thread that must follow the code page in use.
#include "platform/AnsiCodePage.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace platform;

namespace {

struct CodePageScope
{
    explicit CodePageScope(const QByteArray &name) { setAnsiCodePageOverride(name); }
    ~CodePageScope() { setAnsiCodePageOverride({}); }
};

} // namespace

TEST(AnsiCodePage, RoundTripsFollowTheCodePageInUse)
{
    const QString chinese = QString::fromUtf8("中国软件");
    {
        CodePageScope gbk("GBK");
        const QByteArray bytes = toAnsiCodePage(chinese);
        EXPECT_EQ(bytes.toHex(), QByteArray("d6d0b9fac8edbcfe"));
        EXPECT_EQ(fromAnsiCodePage(bytes), chinese);
    }
    {
        // The same thread switches: its converters must be reopened, not reused.
        CodePageScope latin("WINDOWS-1252");
        EXPECT_EQ(toAnsiCodePage(QString::fromUtf8("Café €")).toHex(), QByteArray("436166e92080"));
        EXPECT_EQ(fromAnsiCodePage(QByteArray("Caf\xe9 \x80")), QString::fromUtf8("Café €"));
        EXPECT_EQ(toAnsiCodePage(chinese), QByteArray("????"));
    }
}

TEST(AnsiCodePage, WhatCannotBeConvertedBecomesOneQuestionMarkEach)
{
    CodePageScope gbk("GBK");
    struct Case
    {
        QByteArray bytes;
        QString text;
    } decode[] = {
        {QByteArray("ab\xd6", 3), "ab?"}, // a double byte cut off at the end
        {QByteArray("\xff", 1), "?"},
        {QByteArray(), QString()},
    };
    for (const Case &c : decode)
        EXPECT_EQ(fromAnsiCodePage(c.bytes), c.text) << c.bytes.toHex().constData();

    // A character outside the code page, also one written as a surrogate pair.
    EXPECT_EQ(toAnsiCodePage(QString::fromUtf8("a\U0001F600b")), QByteArray("a?b"));
}

TEST(AnsiCodePage, EachThreadConvertsOnItsOwn)
{
    CodePageScope gbk("GBK");
    const QString chinese = QString::fromUtf8("进程描述");
    bool ok[4] = {};
    QList<QThread *> threads;
    for (bool &result : ok)
        threads << QThread::create([&result, chinese] {
            result = true;
            for (int i = 0; i < 2000; ++i)
                result = result && fromAnsiCodePage(toAnsiCodePage(chinese)) == chinese;
        });
    for (QThread *t : threads)
        t->start();
    for (QThread *t : threads) {
        EXPECT_TRUE(t->wait(30000));
        delete t;
    }
    for (bool result : ok)
        EXPECT_TRUE(result);
}
