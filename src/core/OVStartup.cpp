#include "core/OVStartup.h"

#include "core/AppFiles.h"
#include "core/BrimSystem.h"
#include "core/IniFile.h"

#include <QDir>

QString ConfigFileName()
{
    return appfiles::ConfigFile();
}

LanguageSelection LoadLanguageSelection(const QString &configFile)
{
    const IniFile ini(configFile.isEmpty() ? ConfigFileName() : configFile);
    LanguageSelection s;
    s.LanguageId
        = quint16(uint(ini.readInteger(QStringLiteral("LANGUAGE"), QStringLiteral("Language"), 0)) & 0xFFFFu);
    s.LanguageDir = appfiles::LanguageSubdir(s.LanguageId);
    s.LanguageFile = appfiles::LanguageFile(s.LanguageId);
    return s;
}

bool ForceAppDirs()
{
    bool ok = true;
    for (const QString &dir : {appfiles::ConfigDir(), appfiles::DownloadsDir(), appfiles::FilesDir()})
        ok = QDir().mkpath(dir) && ok;
    return ok;
}
