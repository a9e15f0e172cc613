#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

// Shell and system functions used across the program.

// Directory of the executable with a trailing '/'.
QString GetAppPath();

// Show commands accepted where a window's first appearance can be chosen.
enum ShowCmd : int { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3 };

inline constexpr quint32 INFINITE_WAIT = 0xFFFFFFFFu;

// Splits a command line into words the way a POSIX shell does (quotes and
// backslashes), without expanding anything and without running a shell.
QStringList SplitCommandLine(const QString &commandLine);

// Starts the program and waits until it and every process it started have
// ended (a process that starts a session of its own breaks away). 0 when the
// whole job ended; a non-zero platform::JobError code otherwise.
quint32 RunAndWait(const QString &commandLine, quint32 timeoutMs, int showCmd = SW_SHOWNORMAL);
quint32 RunAndWait(const QStringList &argv, quint32 timeoutMs, int showCmd = SW_SHOWNORMAL,
                   const std::atomic<bool> *cancel = nullptr);
