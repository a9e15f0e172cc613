// Feeds arbitrary bytes to the INI reader and, as a language file, through the
// language component: loading, selection (which writes the file back), font
// descriptions, escapes and formatting of every text it defines.
#include "core/BrimMultiLangs.h"
#include "core/IniFile.h"
#include "core/OVDefaultTexts.h"
#include "core/TextFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const QString &scratchFile()
{
    static QTemporaryDir dir;
    static const QString path = dir.path() + QStringLiteral("/Langs/2052/Orvane.ini");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    IniFile ini;
    ini.parse(bytes);
    (void)ini.serialize();
    for (const QString &section : ini.sections())
        for (const auto &[key, value] : ini.entries(section))
            check(ini.valueExists(section, key));

    // Writing a value and reading it back must agree, whatever the file held.
    ini.writeString(QStringLiteral("HEAD"), QStringLiteral("Selected"), QStringLiteral("1"));
    check(ini.readString(QStringLiteral("HEAD"), QStringLiteral("Selected")) == QStringLiteral("1"));

    const QString &path = scratchFile();
    {
        check(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(f.write(bytes) == bytes.size());
    }

    TBrimMultiLangs langs;
    int changes = 0;
    langs.SetOnMakeDefault(MultiLangsMakeDefault);
    langs.OnLanguageChanged = [&changes](TBrimMultiLangs *) { ++changes; };
    langs.LoadLanguageFile(path);
    check(changes == 2);
    check(langs.CurrentLanguage().has_value());
    langs.LoadLanguageList({path, path});
    langs.SelectLanguage(1);

    const QVariantList args = {QStringLiteral("text"), 42, 1234.5, -7};
    const IniFile loaded(path);
    for (const auto &[key, value] : loaded.entries(TBrimMultiLangs::SectionLangItems)) {
        const QString text = langs.GetText(key);
        check(text.size() <= TBrimMultiLangs::MaxValueLength);
        (void)DelphiFormat(text, args, QLocale::c());
        (void)langs.FormatText(key, {});
    }
    for (const auto &[key, value] : loaded.entries(TBrimMultiLangs::SectionFontSet))
        (void)langs.GetFont(key);
    (void)ParseFontDescription(QString::fromUtf8(bytes));
    (void)TBrimMultiLangs::DecodeEscapes(QString::fromUtf8(bytes));
    return 0;
}
