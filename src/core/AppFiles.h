#pragma once

#include <QString>

// Every folder and file of the application folder, in one place. Paths are
// absolute; folders end with '/'.
namespace appfiles {

QString ConfigDir(); // <app>Config/
QString ConfigFile(); // <app>Config/Config.ini
QString TaskListFile(); // <app>Config/OVTasks.ini
QString DownloadsDir(); // <app>Downloads/
QString FilesDir(); // <app>Files/
QString TopXArchiveFile(); // <app>Files/TopX.mht
QString RegistryDir(); // <app>Registry/
QString ProcDBFile(); // <app>ProcDB.db
QString LanguagesDir(); // <app>Langs/
// The folder name of a language inside Langs/: "<LCID>/".
QString LanguageSubdir(quint16 lcid);
QString LanguageFile(quint16 lcid); // <app>Langs/<LCID>/Orvane.ini
QString HelpFile(quint16 lcid); // <app>Langs/<LCID>/Help.chm
// The optional message-box library beside the executable.
QString MessageBoxLibrary(); // <app>CMBLib.so
// A program of the maker's beside the executable ("Tessaly", "Upwell").
QString SiblingProgram(const QString &name);

} // namespace appfiles
