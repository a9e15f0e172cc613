// The language files shipped with the program must load and fit the texts'
// format arguments, or labels would go blank in that language.
#include "core/BrimMultiLangs.h"
#include "core/IniFile.h"
#include "core/OVDefaultTexts.h"
#include "core/TextFormat.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QString langsDir()
{
    return QStringLiteral(ORVANE_SOURCE_DIR "/data/Langs");
}

// The conversion letters of a format text, in order ("%%" is not one).
QString conversions(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("%(?:%|(?:\\d+:)?-?(?:\\d+|\\*)?(?:\\.(?:\\d+|\\*))?([A-Za-z]))"));
    QString letters;
    for (const QRegularExpressionMatch &m : re.globalMatch(text))
        if (m.hasCaptured(1))
            letters += m.captured(1).toLower();
    return letters;
}

QVariantList argumentsFor(const QString &letters)
{
    QVariantList args;
    for (QChar c : letters)
        args << (c == u's' ? QVariant(QStringLiteral("x")) : c == u'd' ? QVariant(1) : QVariant(1.0));
    return args;
}

} // namespace

TEST(LangShippedFiles, LoadAndMatchTheDefaultsConversions)
{
    QHash<QString, QString> defaults;
    for (const OVDefaultText &t : OVDefaultTexts())
        defaults.insert(QString::fromUtf16(t.key), QString::fromUtf16(t.text));

    const QStringList lcids = QDir(langsDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_FALSE(lcids.isEmpty()) << langsDir().toStdString();
    for (const QString &lcid : lcids) {
        const QString file = langsDir() + u'/' + lcid + QStringLiteral("/Orvane.ini");
        const IniFile ini(file);
        ASSERT_TRUE(ini.exists()) << file.toStdString();
        EXPECT_EQ(ini.readString("HEAD", "LCID"), lcid);
        EXPECT_EQ(ini.readString("HEAD", "Selected"), "0") << "shipped files are not marked";

        for (const auto &[key, value] : ini.entries(TBrimMultiLangs::SectionLangItems)) {
            SCOPED_TRACE((lcid + u' ' + key).toStdString());
            ASSERT_TRUE(defaults.contains(key)) << "unknown key";
            const QString text = TBrimMultiLangs::DecodeEscapes(value);
            const QString expected = conversions(defaults.value(key));
            EXPECT_EQ(conversions(text).toStdString(), expected.toStdString());
            bool ok = false;
            DelphiFormat(text, argumentsFor(expected), QLocale::c(), &ok);
            EXPECT_TRUE(ok);
        }
        for (const auto &[number, description] : ini.entries(TBrimMultiLangs::SectionFontRes))
            EXPECT_TRUE(ParseFontDescription(description)) << number.toStdString();
    }
}
