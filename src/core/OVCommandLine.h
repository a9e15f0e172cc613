#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

// The program's command line: the switch "-popup <code>" and what a code
// does, and the program's own options.

inline constexpr int PopupTopX = 77937; // tab 0, recommendations
inline constexpr int PopupRunning = 77938; // tab 1, running processes
inline constexpr int PopupUninstall = 77939; // tab 2, installed software

// The first valid popup code in args (args[0] is the program), 0 if none.
// Scanning stops at the first empty argument; an argument after "-popup"
// that is no number is examined in turn as an ordinary argument.
int GetPopupCode(const QStringList &args);
// The same over this process's command line.
int GetPopupCode();

// Tab index a popup code selects, or -1 for any other code.
int PopupCodeTab(int code);

// Selects the tab the code names through the handler the main window
// registered; nothing without a handler (no main window yet) or for other codes.
void ApplyPopupCode(int code);
// The main window registers its tab selection here; an empty function removes it.
void SetPopupTabSelector(std::function<void(int tabIndex)> selectTab);

// The program's own options besides "-popup".
struct OVCommandLineOptions
{
    bool version = false; // --version
    int quitAfterMs = -1; // --quit-after MS: smoke starts end the loop after this long and report
    int broadcastLanguage = -1; // --broadcast-language LCID: send the broadcast and end
    bool broadcastBad = false; // an LCID that is missing or outside 0 to 65535
    bool listInstalled = false; // --list-installed: print the installed software and end
    bool listAll = false; // --all with it: the system components too
    // Debugging and screenshots: tasks added at start, a tab to show, a dialog
    // to open and a picture to take (of the window, or of the open dialog).
    std::vector<std::pair<QString, QString>> addTasks; // --add-task TITLE URL
    int selectTab = -1; // --select-tab N
    int selectRow = -1; // --select-row N: that row of the shown tab's list
    QString openDialog; // --open settings|about|history|leftovers|question
    QString screenshot; // --screenshot FILE
};

// Reads the options from args (args[0] is the program); unknown arguments and
// options without their values are ignored.
OVCommandLineOptions ParseCommandLineOptions(const QStringList &args);
