#include "procmon/ProcessDescription.h"

#include "core/BrimMultiLangs.h"
#include "platform/AppMetadata.h"
#include "platform/DesktopIcons.h"
#include "procmon/FileProp.h"
#include "procmon/OVProcDB.h"
#include "procmon/Processes.h"

namespace {

QString currentLCID()
{
    const TBrimMultiLangs *langs = OVMultiLangs();
    const auto language = langs ? langs->CurrentLanguage() : std::nullopt;
    return language ? language->LCID.trimmed() : QString();
}

QString describe(const procmon::ProcessDescRequest &request, TFileProp &FileProps,
                 procmon::OVProcDB *KnowledgeBase)
{
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

// Comment, else GenericName, else Name of a desktop entry, in the interface's language.
QString desktopEntryDescription(const QString &file, const QString &lcid)
{
    if (file.isEmpty())
        return {};
    const QHash<QString, QString> entry = platform::readDesktopEntry(file);
    const QString locale = lcid == QLatin1String("2052") ? QStringLiteral("zh_CN") : QStringLiteral("C");
    for (const char *key : {"Comment", "GenericName", "Name"}) {
        const QString value = platform::desktopEntryValue(entry, QLatin1String(key), locale);
        if (!value.trimmed().isEmpty())
            return value;
    }
    return {};
}

} // namespace

QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             procmon::OVProcDB *KnowledgeBase)
{
    procmon::ProcessDescRequest request;
    request.LCID = currentLCID();
    request.ProcessName = ProcessName;
    request.ImagePath = ImagePath;
    return describe(request, FileProps, KnowledgeBase);
}

QString OVProcessDescription(const TProcessItem &Item, TFileProp &FileProps, procmon::OVProcDB *KnowledgeBase,
                             const QString &ApplicationDescription)
{
    procmon::ProcessDescRequest request;
    request.LCID = currentLCID();
    request.ProcessName = Item.Name;
    if (Item.IsOwnProgram()) {
        // Its helpers are library programs of other packages: the user knows them as this program.
        request.OtherDescription = [] { return OVGetText(QStringLiteral("FormOVMain.Caption")); };
        return describe(request, FileProps, KnowledgeBase);
    }
    request.ImagePath = Item.ImagePath;
    request.OtherDescription = [&Item, &ApplicationDescription, lcid = request.LCID] {
        if (!ApplicationDescription.trimmed().isEmpty())
            return ApplicationDescription;
        QString entry = platform::desktopEntryFileOfId(Item.FlatpakId);
        if (entry.isEmpty())
            entry = platform::desktopEntryFileFor(Item.ImagePath);
        return desktopEntryDescription(entry, lcid);
    };
    return describe(request, FileProps, KnowledgeBase);
}
