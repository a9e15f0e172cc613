// Feeds arbitrary task list files to LoadTaskList, then writes and reads the result again.
#include "core/OVSettings.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskList.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

// Clean-up deletes the files a list names; never let a fuzzed list name real ones.
QByteArray withoutLocalFiles(const QByteArray &data)
{
    QByteArray out;
    for (const QByteArray &line : data.split('\n'))
        if (!line.toLower().contains("localfile"))
            out += line + '\n';
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString first = dir.filePath("OVTasks.ini");
    const QString second = dir.filePath("Again.ini");
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    TBrimTaskManager mgr;
    OVSettings::FileKeepDays = -1;
    writeFile(first, input);
    LoadTaskList(mgr, first);
    SaveTaskList(mgr, second);
    TBrimTaskManager again;
    LoadTaskList(again, second);
    if (again.Count() != mgr.Count())
        __builtin_trap();

    // The clean-up rules, on a list that names no files.
    for (int keepDays : {0, 7}) {
        OVSettings::FileKeepDays = keepDays;
        writeFile(first, withoutLocalFiles(input));
        TBrimTaskManager cleaned;
        LoadTaskList(cleaned, first);
    }
    OVSettings::FileKeepDays = OVSettings::DefaultFileKeepDays;
    return 0;
}
