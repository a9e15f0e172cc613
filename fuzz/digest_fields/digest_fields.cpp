// The two places a SHA-256 digest is read from outside: the "sha256" entry of
// a web API answer item and the "Sha256" key of the task list. The first byte
// picks one; the rest is the entry's JSON value or the key's text.
#include "core/OVSettings.h"
#include "core/Sha256Digest.h"
#include "online/OnlineError.h"
#include "online/SoftwareTop3.h"
#include "tasks/BrimTaskManager.h"
#include "tasks/OVTaskItem.h"
#include "tasks/OVTaskList.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

bool storedForm(const QString &digest)
{
    return digest.isEmpty() || core::NormalisedSha256(digest) == digest;
}

void answerEntry(const QByteArray &value)
{
    const QString answer
        = QString::fromUtf8(R"({"top3_pay":{"count":1,"items":[{"download_url":"u","sha256":)" + value
                            + R"(}]},"top3_free":{"count":1,"items":[{"sha256":)" + value + "}]}}");
    TSoftwareTop3 top3;
    try {
        ReadSoftwareTop3(answer, top3);
    } catch (const EOnlineError &) {
        return;
    }
    for (const auto *items : {&top3.PayItems, &top3.FreeItems})
        for (const TSoftwareItem &item : *items)
            if (!storedForm(item.Sha256))
                __builtin_trap();
}

void listKey(const QByteArray &value)
{
    static QTemporaryDir dir;
    const QString first = dir.filePath("OVTasks.ini"), second = dir.filePath("Again.ini");
    // Only the digest's own line comes from the input: no line may name a file
    // that the clean-up rules would delete.
    QByteArray text = "[COUNT]\nN=1\n[0]\nName=x\nHttpUrl=http://example.invalid/a.exe\nSha256=";
    for (const char c : value)
        if (c != '\n' && c != '\r')
            text += c;
    text += '\n';
    QFile f(first);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return;
    f.close();
    OVSettings::FileKeepDays = -1;
    TBrimTaskManager mgr;
    LoadTaskList(mgr, first);
    const auto *task = dynamic_cast<const TOVTaskItem *>(mgr.Items(0));
    if (!task)
        __builtin_trap();
    // A digest in its stored form, or a damaged value kept (it never matches);
    // never a value turned into "no digest".
    const QString normal = core::NormalisedSha256(task->Sha256);
    if (!normal.isEmpty() && normal != task->Sha256)
        __builtin_trap();
    if (task->Sha256.size() > 128)
        __builtin_trap();
    SaveTaskList(mgr, second);
    TBrimTaskManager again;
    LoadTaskList(again, second);
    const auto *back = dynamic_cast<const TOVTaskItem *>(again.Items(0));
    if (!back || back->Sha256 != task->Sha256)
        __builtin_trap();
    OVSettings::FileKeepDays = OVSettings::DefaultFileKeepDays;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray value(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] & 1)
        listKey(value);
    else
        answerEntry(value);
    return 0;
}
