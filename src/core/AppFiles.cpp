#include "core/AppFiles.h"

#include "core/BrimSystem.h"

namespace appfiles {

QString ConfigDir()
{
    return GetAppPath() + QStringLiteral("Config/");
}

QString ConfigFile()
{
    return ConfigDir() + QStringLiteral("Config.ini");
}

QString TaskListFile()
{
    return ConfigDir() + QStringLiteral("OVTasks.ini");
}

QString DownloadsDir()
{
    return GetAppPath() + QStringLiteral("Downloads/");
}

QString FilesDir()
{
    return GetAppPath() + QStringLiteral("Files/");
}

QString TopXArchiveFile()
{
    return FilesDir() + QStringLiteral("TopX.mht");
}

QString RegistryDir()
{
    return GetAppPath() + QStringLiteral("Registry/");
}

QString ProcDBFile()
{
    return GetAppPath() + QStringLiteral("ProcDB.db");
}

QString LanguagesDir()
{
    return GetAppPath() + QStringLiteral("Langs/");
}

QString LanguageSubdir(quint16 lcid)
{
    return QString::number(lcid) + u'/';
}

QString LanguageFile(quint16 lcid)
{
    return LanguagesDir() + LanguageSubdir(lcid) + QStringLiteral("Orvane.ini");
}

QString HelpFile(quint16 lcid)
{
    return LanguagesDir() + LanguageSubdir(lcid) + QStringLiteral("Help.chm");
}

QString MessageBoxLibrary()
{
    return GetAppPath() + QStringLiteral("CMBLib.so");
}

QString SiblingProgram(const QString &name)
{
    return GetAppPath() + name;
}

} // namespace appfiles
