#pragma once

#include <QString>

// The program's own shell helpers.

// Search engine used by SearchOnline when no template is given.
inline constexpr char kDefaultSearchTemplate[] = "https://www.bing.com/search?&q=%s";

inline constexpr quint32 kTessalyMissing = 0x80001001u;
inline constexpr quint32 kTessalyStartFailed = 0x80001002u;
inline constexpr int kTessalyNetworkDiagnosis = 69682;

// Opens a help file with the desktop's viewer, else with a known viewer
// started directly; false for a blank path or when neither starts.
bool OpenHelpFile(const QString &path);
// Whether a viewer for the compiled help files is installed: a desktop handler
// for their type, or one of the usual viewers on PATH.
bool HelpViewerInstalled();

// Fills "%s" of urlTemplate (or of the default engine's when blank) with the
// text as typed and opens the result. Nothing happens for blank text.
void SearchOnline(const QString &text, const QString &urlTemplate = {});
// The URL SearchOnline hands to the opener. The text is put in unencoded,
// but characters a URL cannot hold (blanks, controls, quotes, non-ASCII,
// a '%' that starts no escape) are percent-encoded so the result is one
// valid URL.
QString MakeSearchUrl(const QString &text, const QString &urlTemplate = {});

// Starts the maker's program "Tessaly" beside the executable with
// "-popup <code>": 0 when started, kTessalyMissing when the file is absent,
// kTessalyStartFailed when it could not be started.
quint32 LaunchTessalyPopup(int code);
