#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

// Shell and system functions used across the program. None raises errors;
// each reports through its result, or not at all where noted. Every program
// start and desktop hand-off goes through platform::launcher().

// Show commands accepted where a window's first appearance can be chosen.
enum ShowCmd : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3 };

inline constexpr quint32 INFINITE_WAIT = 0xFFFFFFFFu;

// Directory of the executable with a trailing '/'.
QString GetAppPath();

// Splits a command line into words the way a POSIX shell does (quotes and
// backslashes), without expanding anything and without running a shell.
QStringList SplitCommandLine(const QString &commandLine);

// Starts a program without waiting. The command line is split into words
// (SplitCommandLine); a failure is not reported.
void RunCommandLine(const QString &commandLine, int showCmd = SW_SHOWNORMAL);
void RunCommandLine(const QStringList &argv, int showCmd = SW_SHOWNORMAL);

// Starts the program and waits until it and every process it started have
// ended (a process that starts a session of its own breaks away). 0 when the
// whole job ended; a non-zero platform::JobError code otherwise (start
// failure, time-out, cancelled). *exitStatus, when given, receives the
// program's own exit status once it has ended (-1 after a signal).
quint32 RunAndWait(const QString &commandLine, quint32 timeoutMs, int showCmd = SW_SHOWNORMAL);
quint32 RunAndWait(const QStringList &argv, quint32 timeoutMs, int showCmd = SW_SHOWNORMAL,
                   const std::atomic<bool> *cancel = nullptr, int *exitStatus = nullptr);

// Opens a URL, document or folder with the desktop's handler; an executable
// file is started. False for a blank target or when nothing could be started.
bool ShellOpen(const QString &target);
// Runs file with parameters (split into words) when it is an executable, or
// opens it with the desktop's handler otherwise.
bool ShellExecuteOpen(const QString &file, const QString &parameters, int showCmd = SW_SHOWNORMAL);
// Opens dir in the file manager, or shows dir/fileName selected when that file
// exists. False when dir does not exist.
bool OpenFolder(const QString &dir, const QString &fileName = {});
// Shows the file selected in its folder; false when it does not exist.
bool SelectInExplorer(const QString &fileName);
// The file manager's properties of the file; false when it does not exist.
bool ShowFileProperties(const QString &fileName);

// Deletes dir with everything in it, then creates it again. True only if
// both succeeded; a missing directory gives false and is not created.
bool ClearDirectory(const QString &dir);

// True when name, name with its environment variables expanded ($VAR,
// ${VAR}, %VAR%), name in one of the PATH directories, or name cut at a
// space (a program followed by its arguments) is an existing file.
bool FindFileEx(const QString &name);
// Environment variables expanded; unknown variables stay as written.
QString ExpandEnvironmentText(const QString &text);

// "major.minor.release.build" of a file's version resource (Windows PE
// files) or version note (our own executables); a blank name means this
// program. Empty text when the file has no version.
QString GetFileVersionText(const QString &fileName = {});

// Enables a privilege by its Windows name for a process (0 = this one);
// 0 on success, 1300 when not held (see platform::enablePrivilege).
quint32 EnablePrivilege(const QString &name, qint64 pid = 0);

// Case-insensitive for ASCII letters, ordinal otherwise; negated when not ascending.
int CompareTextOrder(const QString &a, const QString &b, bool ascending);
// 1, 0 or -1 by value, negated when not ascending. NaN sorts below every
// number and equal to itself, so a sort stays consistent.
int CompareFloatOrder(bool ascending, double a, double b);
