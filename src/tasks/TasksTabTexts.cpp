#include "tasks/TasksTabTexts.h"

#include "core/BrimMultiLangs.h"

namespace tasks {

QString TabText(const QString &key)
{
    return OVGetText(key);
}

QString TabFormat(const QString &key, const QVariantList &args)
{
    return OVFormatText(key, args);
}

quint16 TabLanguageId()
{
    const TBrimMultiLangs *langs = OVMultiLangs();
    if (!langs)
        return 0;
    const auto lang = langs->CurrentLanguage();
    if (!lang)
        return 0;
    bool ok = false;
    const uint id = lang->LCID.trimmed().toUInt(&ok, 0);
    return ok && id <= 0xFFFF ? quint16(id) : 0;
}

} // namespace tasks
