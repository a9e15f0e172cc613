#include "core/OVStartup.h"

#include "core/BrimSystem.h"
#include "core/IniFile.h"

#include <QDir>

QString ConfigFileName()
{
    return GetAppPath() + QStringLiteral("Config/Config.ini");
}

LanguageSelection LoadLanguageSelection(const QString &configFile)
{
    const IniFile ini(configFile.isEmpty() ? ConfigFileName() : configFile);
    LanguageSelection s;
    s.LanguageId
        = quint16(uint(ini.readInteger(QStringLiteral("LANGUAGE"), QStringLiteral("Language"), 0)) & 0xFFFFu);
    s.LanguageDir = QString::number(s.LanguageId) + u'/';
    s.LanguageFile = GetAppPath() + QStringLiteral("Langs/") + s.LanguageDir + QStringLiteral("Orvane.ini");
    return s;
}

bool ForceAppDirs()
{
    bool ok = true;
    for (const char *dir : {"Config", "Downloads", "Files"})
        ok = QDir().mkpath(GetAppPath() + QLatin1String(dir)) && ok;
    return ok;
}
