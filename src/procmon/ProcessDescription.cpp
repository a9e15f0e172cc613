#include "procmon/ProcessDescription.h"

#include "core/BrimMultiLangs.h"
#include "procmon/FileProp.h"
#include "procmon/OVProcDB.h"

QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             procmon::OVProcDB *KnowledgeBase)
{
    const TBrimMultiLangs *langs = OVMultiLangs();
    const auto language = langs ? langs->CurrentLanguage() : std::nullopt;
    procmon::ProcessDescRequest request;
    request.LCID = language ? language->LCID.trimmed() : QString();
    request.ProcessName = ProcessName;
    request.ImagePath = ImagePath;
    return procmon::ChooseProcessDescription(
        request, KnowledgeBase ? *KnowledgeBase : procmon::ProcDB(),
        [](const QString &key) { return OVGetText(key); },
        [&FileProps](const QString &path) {
            if (!FileProps.Open(path))
                return QString();
            const QString description = FileProps.VersionInfo().FileDescription;
            FileProps.Close();
            return description;
        });
}
