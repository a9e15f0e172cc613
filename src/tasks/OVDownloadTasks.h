#pragma once

#include <QString>

class TBrimTaskManager;
class TOVTaskItem;

// Path for a new task's file: the title made file-safe, "_", the tick count in
// hexadecimal and ".exe", in Dir (or <app>Downloads/ when Dir is blank).
QString MakeLocalFileName(const QString &Dir, const QString &Title);

// "512 B", "1.50 KB", "5.00 MB" with the locale's separators.
QString FormatFileSize(quint32 Bytes, int Decimals);

// Creates a task from the current settings, announces it as a list change and
// starts it. Sha256 is the vendor's digest of the file, empty when none was
// given; its file is checked against it before it is installed.
TOVTaskItem *AddDownloadTask(TBrimTaskManager &TaskMgr, const QString &Title, const QString &Url,
                             const QString &Sha256 = {});
