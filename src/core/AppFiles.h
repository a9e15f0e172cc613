#pragma once

#include <QString>

// Every folder and file of the program, in one place. Paths are absolute;
// folders end with '/'.
//
// Two layouts. Portable: everything lives in the application folder beside
// the executable. Installed (a package): the application folder is read-only
// and holds only what ships; what the program writes (Config/, Downloads/,
// Files/, Registry/) lives in a folder of the user's, $XDG_DATA_HOME/orvane/
// (~/.local/share/orvane/ by default). The package marks its application
// folder with InstalledMarkerName(); an application folder the user cannot
// write to is treated the same way.
namespace appfiles {

enum class Layout { Portable, Installed };

// The marker file's name inside the application folder.
QString InstalledMarkerName();

// Decides the layout from the application folder and the environment as they
// are now. Start-up decides once; the paths below follow the decision (it is
// also made on first use, and again when the application folder changes).
Layout DecideLayout();
Layout CurrentLayout();

QString AppDir(); // <app>: the shipped files
QString UserDir(); // where the program writes: <app> or $XDG_DATA_HOME/orvane/

// The interface language a new user gets: 2052 for a Chinese locale
// ("zh", "zh_CN.UTF-8", "zh_TW"...), else 1033.
quint16 InterfaceLanguageFor(const QString &locale);
// The locale that decides the user's message language (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG, as the C library looks them up).
QString UserInterfaceLocale();

// In the installed layout, when the user folder does not exist yet: creates
// it with copies of the writable folders the application folder ships
// (Config/, Downloads/, Files/, Registry/, where present) and records the
// interface language for locale in Config/Config.ini. The folder appears
// whole or not at all; an existing folder is never touched. Nothing to do in
// the portable layout. False when the folder could not be created.
bool PrepareUserFolder(const QString &locale = UserInterfaceLocale());

// Start of the program and of the registry tool: decides the layout,
// prepares the user folder and points the registry hives at RegistryDir().
bool Initialise();

QString ConfigDir(); // <user>Config/
QString ConfigFile(); // <user>Config/Config.ini
QString TaskListFile(); // <user>Config/OVTasks.ini
QString JournalFile(); // <user>Config/OVJournal.log: what the program did
QString DownloadsDir(); // <user>Downloads/
QString FilesDir(); // <user>Files/
QString TopXArchiveFile(); // <user>Files/TopX.mht
QString RegistryDir(); // <user>Registry/
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
