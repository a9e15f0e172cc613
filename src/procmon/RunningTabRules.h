#pragma once

#include <QString>

class TProcessItem;

// The rules the Running tab shows, kept apart from the widgets.
namespace procmon {

// Columns of the process list.
enum RunningColumn { ColName = 0, ColCPU = 1, ColMemory = 2, ColPath = 3, ColDescription = 4, ColCount = 5 };

// The CPU column: at least two digits ("05", "100").
QString CpuText(quint32 Usage);
// The memory column: the working set in KB with the locale's thousands
// separators, no decimals, at least three characters wide.
QString MemoryText(quint64 WorkingSetBytes);
// The status line: process rows, whether system processes are hidden, the
// machine's CPU usage and its memory load.
QString StatusLineText(int Rows, bool HidingSystem, qint32 CpuUsage, int MemoryLoad);
// The language key of the hide-system link's text: it names what a click does.
QString HideSystemLinkKey(bool HidingSystem);

// Menu tags 1 to 6 of the priority sub-menu and their classes; 0 for no tag.
quint32 PriorityClassOfTag(int Tag);
int TagOfPriorityClass(quint32 PriorityClass);

// Ascending order of two rows in a column: the texts for name, path and
// description; CPU share and working set from the model for the figures,
// where two rows compare equal unless both processes are in the model.
// Negative, 0 or positive.
int CompareRows(int Column, const QString &TextA, const QString &TextB, const TProcessItem *A,
                const TProcessItem *B);

// Text a process chose, fit for one line: control characters become U+FFFD.
QString OneLine(const QString &Text);

} // namespace procmon
