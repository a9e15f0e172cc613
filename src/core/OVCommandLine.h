#pragma once

#include <QStringList>
#include <functional>

// The one command-line switch, "-popup <code>", and what a code does.

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
