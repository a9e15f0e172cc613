// The language files shipped with the program: complete, loadable, and
// fitting the texts' format arguments.
#include "core/BrimMultiLangs.h"
#include "core/IniFile.h"
#include "core/OVDefaultTexts.h"
#include "core/TextFormat.h"

#include <QDir>
#include <QFile>
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

QHash<QString, QString> defaultTexts()
{
    QHash<QString, QString> defaults;
    for (const OVDefaultText &t : OVDefaultTexts())
        defaults.insert(QString::fromUtf16(t.key), QString::fromUtf16(t.text));
    return defaults;
}

// The font a font key names in a file: [FONT_SET] number, then [FONT_RES].
std::optional<TBrimFont> fileFont(const IniFile &ini, const QString &fontKey)
{
    bool ok = false;
    const int number = ini.readString(TBrimMultiLangs::SectionFontSet, fontKey).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return ParseFontDescription(ini.readString(TBrimMultiLangs::SectionFontRes, QString::number(number)));
}

const QStringList fontKeys {
    "FormOVMain.SkinMgr.Title.Font",     "FormOVMain.btnTabTopX.Font",     "FormOVMain.btnTabRunning.Font",
    "FormOVMain.btnTabUninst.Font",      "FormOVAbout.SkinMgr.Title.Font", "FormOVAbout.lblTitle.Font",
    "FormOVSettings.SkinMgr.Title.Font",
};

} // namespace

// Every shipped language is complete: a key it lacks would show English in
// the middle of that language, a wrong conversion would blank a label.
TEST(LangShippedFiles, DefineEveryKeyAndMatchTheDefaultsConversions)
{
    const QHash<QString, QString> defaults = defaultTexts();
    const QStringList lcids = QDir(langsDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_TRUE(lcids.contains("1033") && lcids.contains("2052")) << langsDir().toStdString();
    for (const QString &lcid : lcids) {
        const QString file = langsDir() + u'/' + lcid + QStringLiteral("/Orvane.ini");
        const IniFile ini(file);
        ASSERT_TRUE(ini.exists()) << file.toStdString();
        EXPECT_EQ(ini.readString("HEAD", "LCID"), lcid);
        EXPECT_FALSE(ini.readString("HEAD", "Code").isEmpty()) << "the toolkit's language follows it";
        EXPECT_EQ(ini.readString("HEAD", "Selected"), "0") << "shipped files are not marked";
        // One line ending throughout: the mark's rewrite would otherwise turn a
        // lone line feed into the file's own ending, changing the shipped file.
        QFile raw(file);
        ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << file.toStdString() << ": a line without CR LF";

        QSet<QString> missing(defaults.keyBegin(), defaults.keyEnd());
        for (const auto &[key, value] : ini.entries(TBrimMultiLangs::SectionLangItems)) {
            SCOPED_TRACE((lcid + u' ' + key).toStdString());
            ASSERT_TRUE(defaults.contains(key)) << "unknown key";
            missing.remove(key);
            const QString text = TBrimMultiLangs::DecodeEscapes(value);
            const QString expected = conversions(defaults.value(key));
            EXPECT_EQ(conversions(text).toStdString(), expected.toStdString());
            bool ok = false;
            DelphiFormat(text, argumentsFor(expected), QLocale::c(), &ok);
            EXPECT_TRUE(ok);
        }
        QStringList missingKeys = missing.values();
        missingKeys.sort();
        EXPECT_TRUE(missingKeys.isEmpty())
            << lcid.toStdString() << " lacks " << missingKeys.join(", ").toStdString();

        for (const auto &[number, description] : ini.entries(TBrimMultiLangs::SectionFontRes))
            EXPECT_TRUE(ParseFontDescription(description)) << number.toStdString();
        for (const QString &fontKey : fontKeys)
            EXPECT_TRUE(fileFont(ini, fontKey)) << lcid.toStdString() << ' ' << fontKey.toStdString();
    }
}

// The English file restates the built-in texts; it must not drift from them.
// Its fonts differ only in the family (the built-in one is not on Debian).
TEST(LangShippedFiles, EnglishFileEqualsTheDefaults)
{
    const IniFile ini(langsDir() + QStringLiteral("/1033/Orvane.ini"));
    ASSERT_TRUE(ini.exists());
    EXPECT_EQ(ini.readString("HEAD", "Code"), "en-US");
    EXPECT_EQ(ini.readString("HEAD", "Name"), "English");

    const QHash<QString, QString> defaults = defaultTexts();
    for (const auto &[key, value] : ini.entries(TBrimMultiLangs::SectionLangItems))
        EXPECT_EQ(TBrimMultiLangs::DecodeEscapes(value).toStdString(),
                  TBrimMultiLangs::DecodeEscapes(defaults.value(key)).toStdString())
            << key.toStdString();

    TBrimMultiLangs builtIn;
    MultiLangsMakeDefault(&builtIn);
    for (const QString &fontKey : fontKeys) {
        SCOPED_TRACE(fontKey.toStdString());
        const std::optional<TBrimFont> expected = builtIn.GetFont(fontKey);
        const std::optional<TBrimFont> font = fileFont(ini, fontKey);
        ASSERT_TRUE(expected && font);
        EXPECT_FALSE(font->Name.isEmpty());
        EXPECT_EQ(font->Color, expected->Color);
        EXPECT_EQ(font->Size, expected->Size);
        EXPECT_EQ(int(font->Style), int(expected->Style));
    }
}
