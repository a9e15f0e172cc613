#include "procmon/ProcessDescription.h"

#include "core/BrimMultiLangs.h"
#include "procmon/FileProp.h"

QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             const TProcDBLookup &Lookup)
{
    const TBrimMultiLangs *langs = OVMultiLangs();
    const auto language = langs ? langs->CurrentLanguage() : std::nullopt;
    if (language && language->LCID.trimmed() == QLatin1String("2052")) {
        QString description;
        bool risk = false;
        if (!Lookup || !Lookup(ProcessName, &description, &risk))
            return OVGetText(QStringLiteral("String.ProcessDesc.Unknown"));
        return risk ? OVGetText(QStringLiteral("String.ProcessDesc.Risk")) + description : description;
    }
    if (!FileProps.Open(ImagePath))
        return {};
    const QString description = FileProps.VersionInfo().FileDescription;
    FileProps.Close();
    return description;
}
